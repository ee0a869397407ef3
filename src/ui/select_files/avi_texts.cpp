#include "ui/select_files/avi_texts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace calvex::ui {
namespace {

constexpr std::uint32_t kMaxText = 1024;
constexpr std::uint32_t kDisplayText = 1;  // CF_TEXT

std::uint32_t Le32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

class RiffFile {
 public:
  explicit RiffFile(const std::string& path) : in_(path, std::ios::binary) {
    in_.seekg(0, std::ios::end);
    size_ = in_ ? static_cast<std::uint64_t>(in_.tellg()) : 0;
  }
  std::uint64_t size() const { return size_; }
  bool Read(std::uint64_t at, char* out, std::size_t n) {
    if (at + n > size_) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(at));
    return static_cast<bool>(in_.read(out, static_cast<std::streamsize>(n)));
  }
  // The text of a chunk's data at `at` (`n` bytes, cut to the file and to 1024), up to its first
  // zero byte.
  std::string Text(std::uint64_t at, std::uint64_t n) {
    n = std::min<std::uint64_t>({n, kMaxText, at < size_ ? size_ - at : 0});
    std::vector<char> bytes(static_cast<std::size_t>(n));
    if (n == 0 || !Read(at, bytes.data(), bytes.size())) return {};
    return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
  }

 private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
};

// Calls `visit(id, dataStart, dataSize)` for each chunk between `from` and `to`.
template <typename Visit>
void ForEachChunk(RiffFile& file, std::uint64_t from, std::uint64_t to, Visit visit) {
  char header[8];
  for (std::uint64_t at = from; at + 8 <= to && file.Read(at, header, 8);) {
    const std::uint32_t size = Le32(header + 4);
    if (!visit(std::string(header, 4), at + 8, std::uint64_t{size})) return;
    at += 8 + std::uint64_t{size} + (size & 1);
  }
}

}  // namespace

AviTexts ReadAviTexts(const std::string& path) {
  AviTexts texts;
  RiffFile file(path);
  char form[12];
  if (!file.Read(0, form, 12) || std::memcmp(form, "RIFF", 4) != 0 ||
      std::memcmp(form + 8, "AVI ", 4) != 0)
    return texts;
  const std::uint64_t end = std::min<std::uint64_t>(file.size(), 8 + std::uint64_t{Le32(form + 4)});
  ForEachChunk(file, 12, end, [&](const std::string& id, std::uint64_t data, std::uint64_t size) {
    char type[4];
    if (id == "LIST" && !texts.subject && size >= 4 && file.Read(data, type, 4) &&
        std::memcmp(type, "INFO", 4) == 0) {
      ForEachChunk(file, data + 4, std::min(data + size, end),
                   [&](const std::string& item, std::uint64_t at, std::uint64_t n) {
                     if (item != "ISBJ") return true;
                     texts.subject = file.Text(at, n);
                     return false;
                   });
    } else if (id == "DISP" && !texts.description && size >= 4 && file.Read(data, type, 4) &&
               Le32(type) == kDisplayText) {
      texts.description = file.Text(data + 4, size - 4);
    }
    return !(texts.subject && texts.description);
  });
  return texts;
}

}  // namespace calvex::ui
