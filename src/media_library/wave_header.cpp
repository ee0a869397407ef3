#include "media_library/wave_header.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace calvex::media::detail {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
};

bool ReadAt(std::FILE* f, std::uint64_t offset, void* out, std::size_t n) {
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

// The largest "fmt " chunk taken (real ones are 16 to a few dozen bytes).
constexpr std::uint32_t kMaxFormatChunk = 1024;

Status ParseFormat(const std::vector<std::uint8_t>& chunk, WaveHeader& h) {
  if (chunk.size() < 16) return kWavCorrupted;
  WaveFormat& f = h.format;
  f.formatTag = Le16(&chunk[0]);
  f.channels = Le16(&chunk[2]);
  f.samplesPerSec = Le32(&chunk[4]);
  f.avgBytesPerSec = Le32(&chunk[8]);
  f.blockAlign = Le16(&chunk[12]);
  f.bitsPerSample = Le16(&chunk[14]);
  if (chunk.size() >= 18) {
    const std::size_t extra = std::min<std::size_t>(Le16(&chunk[16]), chunk.size() - 18);
    h.extra.assign(chunk.begin() + 18, chunk.begin() + 18 + static_cast<std::ptrdiff_t>(extra));
    f.extraSize = static_cast<std::uint16_t>(extra);
  }
  h.effectiveTag = f.formatTag;
  if (f.formatTag == kWaveFormatExtensible) {
    // valid bits (2), channel mask (4), then the sub-format GUID whose first two bytes are a tag.
    if (h.extra.size() < 22) return kWavCorrupted;
    h.effectiveTag = Le16(&h.extra[6]);
  }
  if (f.channels == 0 || f.samplesPerSec == 0) return kWavCorrupted;
  if (h.IsPcm() && f.bitsPerSample == 0) return kWavCorrupted;
  return kOk;
}

}  // namespace

Status ReadWaveHeader(const std::string& path, WaveHeader& h) {
  h = WaveHeader{};
  File file{std::fopen(path.c_str(), "rb")};
  if (file.f == nullptr) return kOpenFailed;
  std::error_code error;
  h.fileSize = std::filesystem::file_size(path, error);
  if (error) return kOpenFailed;

  std::uint8_t riff[12];
  if (!ReadAt(file.f, 0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return kNotWav;
  // The RIFF size is not trusted: writers that stream leave it 0 or 0xFFFFFFFF.
  const std::uint64_t riffEnd = h.fileSize;

  bool haveFormat = false;
  bool haveData = false;
  std::uint64_t at = 12;
  while (at + 8 <= riffEnd && !(haveFormat && haveData)) {
    std::uint8_t head[8];
    if (!ReadAt(file.f, at, head, sizeof head)) break;
    const std::uint32_t size = Le32(head + 4);
    const std::uint64_t body = at + 8;
    if (std::memcmp(head, "fmt ", 4) == 0 && !haveFormat) {
      const std::uint32_t n = std::min(size, kMaxFormatChunk);
      std::vector<std::uint8_t> chunk(n);
      if (!ReadAt(file.f, body, chunk.data(), n)) return kWavCorrupted;
      if (const Status s = ParseFormat(chunk, h); s != kOk) return s;
      haveFormat = true;
    } else if (std::memcmp(head, "data", 4) == 0 && !haveData) {
      // A declared size beyond the end of the file (a copy that broke off, or a writer that
      // never came back to fill it in) means: as far as the file goes.
      h.declaredDataSize = size;
      h.dataOffset = body;
      h.dataSize = std::min<std::uint64_t>(size, h.fileSize - std::min(body, h.fileSize));
      haveData = true;
    } else if (std::memcmp(head, "fact", 4) == 0 && size >= 4) {
      std::uint8_t count[4];
      if (ReadAt(file.f, body, count, sizeof count)) h.factSamples = Le32(count);
    }
    at = body + size + (size & 1);
  }
  if (!haveFormat || !haveData) return kWavCorrupted;
  return kOk;
}

}  // namespace calvex::media::detail
