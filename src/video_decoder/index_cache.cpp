#include "video_decoder/index_cache.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include "core/data_directory.h"
#include "core/file_names.h"
#include "core/temp_file.h"

namespace calvex::video_decoder {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[] = "VX QRT INDEX 1";
constexpr std::size_t kMagicBytes = 16;
constexpr std::size_t kNameBytes = 48;
constexpr std::size_t kNameLimit = kNameBytes - 1;
constexpr std::size_t kHeaderBytes = 80;
constexpr std::size_t kEntryBytes = 16;
constexpr std::size_t kChecksumBytes = 2048;

// The key of a source: its name without directory, size and checksum.
struct SourceKey {
  std::string name;  // cut to 47 characters
  std::uint32_t size = 0;
  std::uint32_t checksum = 0;
  fs::file_time_type modified;
};

bool ReadSourceKey(const std::string& source, SourceKey& key) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(source, ec);
  if (ec || size > std::numeric_limits<std::uint32_t>::max()) return false;
  key.modified = fs::last_write_time(source, ec);
  if (ec || !SourceChecksum(source, key.checksum)) return false;
  key.size = static_cast<std::uint32_t>(size);
  key.name = FileNameOf(source).substr(0, kNameLimit);
  return true;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(GetU32(p));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::size_t limit) {
  std::vector<std::uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  std::array<std::uint8_t, 65536> block;
  std::size_t n;
  while (bytes.size() < limit && (n = std::fread(block.data(), 1, block.size(), f)) > 0) {
    bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::fclose(f);
  return bytes;
}

// Whether the entries can be trusted for a source of `sourceSize` bytes: none negative, frame
// numbers and picture counts never going back, every position inside the source.
bool EntriesSound(const std::vector<GopIndexEntry>& entries, std::int32_t frameCount,
                  std::uint32_t sourceSize) {
  if (frameCount < 0) return false;
  const GopIndexEntry* previous = nullptr;
  for (const GopIndexEntry& e : entries) {
    if (e.firstFrame < 0 || e.picturesBefore < 0 || e.offset < 0 || e.packetPosition < 0) {
      return false;
    }
    if (e.picturesBefore > frameCount) return false;
    if (static_cast<std::int64_t>(e.packetPosition) + e.offset >= sourceSize) return false;
    if (previous != nullptr &&
        (e.firstFrame < previous->firstFrame || e.picturesBefore < previous->picturesBefore)) {
      return false;
    }
    previous = &e;
  }
  return true;
}

enum class SlotResult { kMissing, kMismatch, kLoaded };

SlotResult TryLoadSlot(const std::string& cachePath, const SourceKey& key, GopIndex& index) {
  std::error_code ec;
  if (!fs::is_regular_file(cachePath, ec)) return SlotResult::kMissing;
  const std::uintmax_t cacheSize = fs::file_size(cachePath, ec);
  if (ec || cacheSize < kHeaderBytes) return SlotResult::kMismatch;
  const std::vector<std::uint8_t> header = ReadWholeFile(cachePath, kHeaderBytes);
  if (header.size() < kHeaderBytes) return SlotResult::kMismatch;
  if (strnlen(reinterpret_cast<const char*>(header.data()), kMagicBytes) != sizeof kMagic - 1 ||
      std::memcmp(header.data(), kMagic, sizeof kMagic - 1) != 0) {
    return SlotResult::kMismatch;
  }
  const char* storedName = reinterpret_cast<const char*>(header.data() + kMagicBytes);
  const std::string name(storedName, strnlen(storedName, kNameLimit));
  if (UpperAscii(name) != UpperAscii(key.name)) return SlotResult::kMismatch;
  // A cache written before the source last changed describes an older file.
  if (fs::last_write_time(cachePath, ec) < key.modified || ec) return SlotResult::kMismatch;
  if (GetU32(header.data() + 64) != key.size || GetU32(header.data() + 68) != key.checksum) {
    return SlotResult::kMismatch;
  }
  const std::int32_t frameCount = GetI32(header.data() + 72);
  const std::int32_t count = GetI32(header.data() + 76);
  if (count < 0 || kHeaderBytes + static_cast<std::uintmax_t>(count) * kEntryBytes > cacheSize) {
    return SlotResult::kMismatch;
  }
  const std::vector<std::uint8_t> bytes =
      ReadWholeFile(cachePath, kHeaderBytes + static_cast<std::size_t>(count) * kEntryBytes);
  if (bytes.size() < kHeaderBytes + static_cast<std::size_t>(count) * kEntryBytes) {
    return SlotResult::kMismatch;
  }
  std::vector<GopIndexEntry> entries(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint8_t* p = bytes.data() + kHeaderBytes + i * kEntryBytes;
    entries[i] = {GetI32(p), GetI32(p + 4), GetI32(p + 8), GetI32(p + 12)};
  }
  if (!EntriesSound(entries, frameCount, key.size)) return SlotResult::kMismatch;
  return index.Assign(entries, frameCount) ? SlotResult::kLoaded : SlotResult::kMismatch;
}

// The slot to write: the first without a file, else the one written longest ago.
int ChooseSlot(const std::string& directory) {
  int oldestSlot = 1;
  fs::file_time_type oldest = fs::file_time_type::max();
  for (int slot = 1; slot <= kIndexCacheSlots; ++slot) {
    std::error_code ec;
    const fs::file_time_type t = fs::last_write_time(IndexCachePath(directory, slot), ec);
    if (ec) return slot;
    if (t < oldest) {
      oldest = t;
      oldestSlot = slot;
    }
  }
  return oldestSlot;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

std::string IndexCachePath(const std::string& directory, int slot) {
  return WithTrailingSeparator(directory) + "mpcache" + std::to_string(slot) + ".idx";
}

bool SourceChecksum(const std::string& source, std::uint32_t& sum) {
  std::FILE* f = std::fopen(source.c_str(), "rb");
  if (f == nullptr) return false;
  std::array<std::uint8_t, kChecksumBytes> bytes{};
  std::fread(bytes.data(), 1, bytes.size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return false;
  sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 4) sum += GetU32(bytes.data() + i);
  return true;
}

bool LoadIndexCache(const std::string& source, GopIndex& index, const std::string& directory) {
  SourceKey key;
  if (!ReadSourceKey(source, key)) return false;
  for (int slot = 1; slot <= kIndexCacheSlots; ++slot) {
    if (TryLoadSlot(IndexCachePath(directory, slot), key, index) == SlotResult::kLoaded) {
      return true;
    }
  }
  return false;
}

bool LoadIndexCache(const std::string& source, GopIndex& index) {
  return LoadIndexCache(source, index, DataDirectory());
}

bool SaveIndexCache(const std::string& source, const GopIndex& index,
                    const std::string& directory) {
  SourceKey key;
  if (!ReadSourceKey(source, key)) return false;
  std::error_code ec;
  if (!directory.empty()) fs::create_directories(directory, ec);

  const auto entries = index.UsedEntries();
  std::vector<std::uint8_t> bytes(kMagicBytes + kNameBytes, 0);
  std::memcpy(bytes.data(), kMagic, sizeof kMagic - 1);
  std::memcpy(bytes.data() + kMagicBytes, key.name.data(), key.name.size());
  PutU32(bytes, key.size);
  PutU32(bytes, key.checksum);
  PutU32(bytes, static_cast<std::uint32_t>(index.frameCount()));
  PutU32(bytes, static_cast<std::uint32_t>(entries.size()));
  for (const GopIndexEntry& e : entries) {
    PutU32(bytes, static_cast<std::uint32_t>(e.firstFrame));
    PutU32(bytes, static_cast<std::uint32_t>(e.picturesBefore));
    PutU32(bytes, static_cast<std::uint32_t>(e.offset));
    PutU32(bytes, static_cast<std::uint32_t>(e.packetPosition));
  }

  // Written under a name of its own and then renamed, so that a reader never meets half a file.
  TemporaryFile staging;
  if (!staging.Create(directory, "mpcache")) return false;
  if (!WriteFile(staging.path(), bytes)) return false;
  fs::rename(staging.path(), IndexCachePath(directory, ChooseSlot(directory)), ec);
  return !ec;
}

bool SaveIndexCache(const std::string& source, const GopIndex& index) {
  return SaveIndexCache(source, index, DataDirectory());
}

Status OpenMpegIndex(const std::string& source, GopIndex& index, const ScanCallbacks& callbacks,
                     const std::string& directory) {
  if (LoadIndexCache(source, index, directory)) return kOk;
  if (ScanMpegFile(source, index, callbacks) == kCancelled) {
    index.Reset();
    return kCancelled;
  }
  if (index.UsedCount() > 0) SaveIndexCache(source, index, directory);
  return kOk;
}

Status OpenMpegIndex(const std::string& source, GopIndex& index, const ScanCallbacks& callbacks) {
  return OpenMpegIndex(source, index, callbacks, DataDirectory());
}

}  // namespace calvex::video_decoder
