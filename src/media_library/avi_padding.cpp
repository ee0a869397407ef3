#include "media_library/avi_padding.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

namespace calvex::media::detail {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool ReadAt(std::FILE* f, std::uint64_t at, void* out, std::size_t n) {
  return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

bool IsAudioChunk(const std::uint8_t* id) {
  return id[2] == 'w' && id[3] == 'b';
}

bool IsVideoChunk(const std::uint8_t* id) {
  return id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
}

// Where the pieces of a one-part AVI are.
struct Layout {
  std::uint64_t movi = 0;     // offset of the movi LIST
  std::uint64_t moviEnd = 0;  // end of its data
  std::uint64_t idx1 = 0;     // offset of the idx1 chunk, 0 when absent
  std::uint32_t idx1Size = 0;
  std::uint64_t avih = 0;  // offset of the avih chunk's data
  std::uint64_t end = 0;   // end of the RIFF chunk
};

bool FindLayout(std::FILE* f, std::uint64_t fileSize, Layout& l) {
  std::uint8_t head[12];
  if (!ReadAt(f, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "AVI ", 4) != 0)
    return false;
  l.end = 8 + static_cast<std::uint64_t>(Le32(head + 4));
  if (l.end != fileSize) return false;  // a second RIFF part follows, or the file is damaged
  for (std::uint64_t at = 12; at + 8 <= l.end;) {
    std::uint8_t c[12];
    if (!ReadAt(f, at, c, 12)) return false;
    const std::uint32_t size = Le32(c + 4);
    if (std::memcmp(c, "LIST", 4) == 0 && std::memcmp(c + 8, "hdrl", 4) == 0) {
      std::uint8_t a[4];
      if (ReadAt(f, at + 12, a, 4) && std::memcmp(a, "avih", 4) == 0) l.avih = at + 20;
    } else if (std::memcmp(c, "LIST", 4) == 0 && std::memcmp(c + 8, "movi", 4) == 0) {
      l.movi = at;
      l.moviEnd = at + 8 + size;
    } else if (std::memcmp(c, "idx1", 4) == 0) {
      l.idx1 = at;
      l.idx1Size = size;
    }
    at += 8 + size + (size & 1);
  }
  return l.movi != 0 && l.avih != 0 && l.moviEnd <= l.end;
}

// Appends a JUNK chunk that brings `position` (where the next chunk would start) to a sector
// boundary.
bool WritePadding(std::FILE* out, std::uint64_t& position) {
  std::uint64_t gap = (kCdRomSector - position % kCdRomSector) % kCdRomSector;
  if (gap == 0) return true;
  if (gap < 8) gap += kCdRomSector;
  std::vector<std::uint8_t> junk(gap, 0);
  std::memcpy(junk.data(), "JUNK", 4);
  PutLe32(&junk[4], static_cast<std::uint32_t>(gap - 8));
  position += gap;
  return std::fwrite(junk.data(), 1, junk.size(), out) == junk.size();
}

bool Rewrite(std::FILE* in, const Layout& l, std::FILE* out) {
  // The headers up to the movi LIST, with the padding granularity set.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(l.movi + 12));
  if (!ReadAt(in, 0, buffer.data(), buffer.size())) return false;
  PutLe32(&buffer[l.avih + 8], kCdRomSector);
  if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) return false;
  std::uint64_t position = buffer.size();

  // The chunks, each record moved to a sector boundary.
  std::map<std::uint64_t, std::uint64_t> moved;  // old chunk offset -> new
  bool afterAudio = false;
  for (std::uint64_t at = l.movi + 12; at + 8 <= l.moviEnd;) {
    std::uint8_t head[8];
    if (!ReadAt(in, at, head, 8)) return false;
    const std::uint32_t size = Le32(head + 4);
    const std::uint64_t total = 8 + static_cast<std::uint64_t>(size) + (size & 1);
    if (at + total > l.moviEnd) return false;
    const bool video = IsVideoChunk(head);
    const bool audio = IsAudioChunk(head);
    if ((audio || (video && !afterAudio)) && !WritePadding(out, position)) return false;
    afterAudio = audio;
    moved[at] = position;
    buffer.resize(total);
    if (!ReadAt(in, at, buffer.data(), buffer.size()) ||
        std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size())
      return false;
    position += total;
    at += total;
  }
  const std::uint64_t moviEnd = position;

  // The index, its offsets moved with their chunks. They count from the movi list's type field
  // or, in some files, from the start of the file.
  if (l.idx1 != 0) {
    buffer.resize(8 + static_cast<std::size_t>(l.idx1Size));
    if (!ReadAt(in, l.idx1, buffer.data(), buffer.size())) return false;
    const std::uint64_t base = l.movi + 8;
    bool relative = true;
    if (l.idx1Size >= 16) relative = moved.count(base + Le32(&buffer[8 + 8])) != 0;
    for (std::size_t e = 8; e + 16 <= buffer.size(); e += 16) {
      const std::uint64_t old = Le32(&buffer[e + 8]) + (relative ? base : 0);
      const auto it = moved.find(old);
      if (it == moved.end()) return false;
      PutLe32(&buffer[e + 8], static_cast<std::uint32_t>(it->second - (relative ? base : 0)));
    }
    if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) return false;
    position += buffer.size();
  }
  if (position > 0xFFFFFFF0u) return false;

  // The sizes of the movi LIST and of the RIFF chunk.
  std::uint8_t size[4];
  PutLe32(size, static_cast<std::uint32_t>(moviEnd - (l.movi + 8)));
  if (fseeko(out, static_cast<off_t>(l.movi + 4), SEEK_SET) != 0 ||
      std::fwrite(size, 1, 4, out) != 4)
    return false;
  PutLe32(size, static_cast<std::uint32_t>(position - 8));
  return fseeko(out, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, out) == 4;
}

}  // namespace

bool PadChunksForCdRom(const std::string& path) {
  std::error_code error;
  const std::uint64_t fileSize = std::filesystem::file_size(path, error);
  if (error) return false;
  FilePtr in(std::fopen(path.c_str(), "rb"));
  if (!in) return false;
  Layout layout;
  if (!FindLayout(in.get(), fileSize, layout)) return true;  // not a one-part AVI: left alone
  if (layout.idx1 != 0 && layout.idx1 < layout.moviEnd) return true;

  const std::string padded = path + ".pad";
  FilePtr out(std::fopen(padded.c_str(), "wb"));
  bool ok = out && Rewrite(in.get(), layout, out.get());
  if (out) ok = std::fclose(out.release()) == 0 && ok;
  in.reset();
  if (ok) {
    std::filesystem::rename(padded, path, error);
    ok = !error;
  }
  if (!ok) std::filesystem::remove(padded, error);
  return ok;
}

}  // namespace calvex::media::detail
