#include "engine/list_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace calvex {
namespace {

static_assert(std::endian::native == std::endian::little,
              "list files store the records byte for byte in little-endian order");

constexpr std::size_t kPathField = 128;
constexpr std::size_t kDirectoryField = 256;
constexpr std::int32_t kSignature = -1;
constexpr std::int32_t kLongPathTag = 0x474E4F4C;  // "LONG"

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
  template <typename T>
  void Put(const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    out_.insert(out_.end(), p, p + sizeof(T));
  }
  void PutBytes(const std::string& text) { out_.insert(out_.end(), text.begin(), text.end()); }
  void PutText(const std::string& text, std::size_t field) {
    std::vector<std::uint8_t> bytes(field, 0);
    std::memcpy(bytes.data(), text.data(), std::min(text.size(), field - 1));
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }

 private:
  std::vector<std::uint8_t>& out_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
  template <typename T>
  bool Get(T& value) {
    if (in_.size() - pos_ < sizeof(T)) return false;
    std::memcpy(&value, in_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }
  bool GetText(std::string& text, std::size_t field) {
    if (in_.size() - pos_ < field) return false;
    const auto* p = reinterpret_cast<const char*>(in_.data() + pos_);
    // A field without its terminating zero is damage: such a text could not be saved back.
    const std::size_t length = strnlen(p, field);
    if (length == field) return false;
    text.assign(p, length);
    pos_ += field;
    return true;
  }
  bool GetBytes(std::string& text, std::size_t length) {
    if (in_.size() - pos_ < length) return false;
    text.assign(reinterpret_cast<const char*>(in_.data() + pos_), length);
    pos_ += length;
    return true;
  }
  bool AtEnd() const { return pos_ == in_.size(); }

 private:
  std::span<const std::uint8_t> in_;
  std::size_t pos_ = 0;
};

bool KnownKind(std::int32_t kind) {
  return kind >= 1 && kind <= 4;
}

void PutBlocks(Writer& w, const SourceEntry& e) {
  switch (e.kind) {
    case ConversionKind::kAviToMpeg:
      w.Put(e.aviInfo);
      w.Put(e.aviToMpeg);
      break;
    case ConversionKind::kWavToMp2:
      w.Put(e.wavInfo);
      w.Put(e.wavToMp2);
      break;
    case ConversionKind::kMpegToAvi:
      w.Put(e.mpegInfo);
      w.Put(e.mpegToAvi);
      break;
    case ConversionKind::kMp2ToWav:
      w.Put(e.mp2Info);
      w.Put(e.mp2ToWav);
      break;
    case ConversionKind::kNone:
      break;
  }
}

bool GetBlocks(Reader& r, SourceEntry& e) {
  switch (e.kind) {
    case ConversionKind::kAviToMpeg:
      return r.Get(e.aviInfo) && r.Get(e.aviToMpeg);
    case ConversionKind::kWavToMp2:
      return r.Get(e.wavInfo) && r.Get(e.wavToMp2);
    case ConversionKind::kMpegToAvi:
      return r.Get(e.mpegInfo) && r.Get(e.mpegToAvi);
    case ConversionKind::kMp2ToWav:
      return r.Get(e.mp2Info) && r.Get(e.mp2ToWav);
    case ConversionKind::kNone:
      break;
  }
  return false;
}

bool GetEntry(Reader& r, SourceEntry& e) {
  std::int32_t kind = 0;
  std::int32_t sectionCount = 0;
  if (!r.GetText(e.path, kPathField) || !r.Get(kind) || !r.Get(sectionCount)) return false;
  if (!KnownKind(kind) || sectionCount < 0 || sectionCount > kMaxSections) return false;
  e.kind = static_cast<ConversionKind>(kind);
  e.sections.resize(static_cast<std::size_t>(sectionCount));
  for (Section& s : e.sections)
    if (!r.Get(s.first) || !r.Get(s.last) || !r.Get(s.seek)) return false;
  std::int32_t reserved = 0;
  return r.Get(reserved) && GetBlocks(r, e);
}

// The long-path record: every path the entries' fields cut, whole.
void PutLongPaths(Writer& w, const std::vector<SourceEntry>& entries) {
  std::vector<std::int32_t> longOnes;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].path.size() > kListPathMax) longOnes.push_back(static_cast<std::int32_t>(i));
  if (longOnes.empty()) return;
  w.Put(kLongPathTag);
  w.Put(static_cast<std::int32_t>(longOnes.size()));
  for (const std::int32_t i : longOnes) {
    const std::string& path = entries[static_cast<std::size_t>(i)].path;
    w.Put(i);
    w.Put(static_cast<std::int32_t>(path.size()));
    w.PutBytes(path);
  }
}

// Reads the long-path record into the entries whose fields hold the cut paths. Each path must be
// longer than a field, begin with what its entry's field holds, and come after the one before.
bool GetLongPaths(Reader& r, std::vector<SourceEntry>& entries) {
  std::int32_t tag = 0, count = 0;
  if (!r.Get(tag) || tag != kLongPathTag || !r.Get(count) || count <= 0 ||
      count > static_cast<std::int32_t>(entries.size()))
    return false;
  std::int32_t previous = -1;
  for (std::int32_t n = 0; n < count; ++n) {
    std::int32_t index = 0, length = 0;
    std::string path;
    if (!r.Get(index) || !r.Get(length) || index <= previous ||
        index >= static_cast<std::int32_t>(entries.size()) ||
        length <= static_cast<std::int32_t>(kListPathMax) ||
        length > static_cast<std::int32_t>(kListLongPathMax) ||
        !r.GetBytes(path, static_cast<std::size_t>(length)))
      return false;
    SourceEntry& e = entries[static_cast<std::size_t>(index)];
    if (e.path.size() != kListPathMax || path.compare(0, kListPathMax, e.path) != 0) return false;
    e.path = std::move(path);
    previous = index;
  }
  return true;
}

}  // namespace

Status EncodeList(const SourceList& list, std::vector<std::uint8_t>& bytes) {
  for (const SourceEntry& e : list.entries) {
    if (e.path.size() > kListLongPathMax || !KnownKind(static_cast<std::int32_t>(e.kind)) ||
        e.sections.size() > static_cast<std::size_t>(kMaxSections))
      return kNotSupported;
  }
  const bool another = list.destinationMode == DestinationMode::kAnotherDirectory;
  if (another && list.destinationDirectory.size() > kListDirectoryMax) return kNotSupported;

  bytes.clear();
  Writer w(bytes);
  w.Put(kSignature);
  w.Put(static_cast<std::int32_t>(list.entries.size()));
  for (const SourceEntry& e : list.entries) {
    w.PutText(e.path, kPathField);
    w.Put(static_cast<std::int32_t>(e.kind));
    w.Put(static_cast<std::int32_t>(e.sections.size()));
    for (const Section& s : e.sections) {
      w.Put(s.first);
      w.Put(s.last);
      w.Put(s.seek);
    }
    w.Put(std::int32_t{0});  // reserved
    PutBlocks(w, e);
  }
  w.Put(static_cast<std::int32_t>(list.destinationMode));
  if (another) w.PutText(list.destinationDirectory, kDirectoryField);
  PutLongPaths(w, list.entries);
  return kOk;
}

Status DecodeList(std::span<const std::uint8_t> bytes, SourceList& list) {
  Reader r(bytes);
  std::int32_t signature = 0;
  std::int32_t count = 0;
  if (!r.Get(signature) || signature != kSignature || !r.Get(count) || count < 0)
    return kListFileCorrupted;

  SourceList loaded;
  // No reservation from the count: a damaged count must not allocate before the data runs out.
  for (std::int32_t i = 0; i < count; ++i) {
    SourceEntry e;
    if (!GetEntry(r, e)) return kListFileCorrupted;
    loaded.entries.push_back(std::move(e));
  }
  std::int32_t mode = 0;
  if (!r.Get(mode)) return kListFileCorrupted;
  if (mode == static_cast<std::int32_t>(DestinationMode::kSameDirectory)) {
    loaded.destinationMode = DestinationMode::kSameDirectory;
  } else {
    // Any other mode carries the directory.
    loaded.destinationMode = DestinationMode::kAnotherDirectory;
    if (!r.GetText(loaded.destinationDirectory, kDirectoryField)) return kListFileCorrupted;
  }
  if (!r.AtEnd() && (!GetLongPaths(r, loaded.entries) || !r.AtEnd())) return kListFileCorrupted;
  list = std::move(loaded);
  return kOk;
}

Status SaveListFile(const std::string& path, const SourceList& list) {
  std::vector<std::uint8_t> bytes;
  if (const Status s = EncodeList(list, bytes); s != kOk) return s;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return kCreateFailed;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !written) {
    // A cut list would only load as damaged. Devices and the like are never removed.
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
    return kCreateFailed;
  }
  return kOk;
}

Status LoadListFile(const std::string& path, SourceList& list) {
  // Far above any real list (about 1 KB per entry); stops a device or a stray huge file early.
  constexpr std::size_t kLimit = 64u << 20;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return kListFileCorrupted;
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  std::size_t n;
  while (bytes.size() <= kLimit && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  const bool failed = std::ferror(f) != 0 || bytes.size() > kLimit;
  std::fclose(f);
  if (failed) return kListFileCorrupted;
  return DecodeList(bytes, list);
}

}  // namespace calvex
