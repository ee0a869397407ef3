#include "media_library/avi_chunks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace calvex::media::detail {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The stream number of a data chunk id ("01wb" -> 1), or -1 for any other chunk.
int StreamOf(const std::uint8_t* id) {
  if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9') return -1;
  const bool data =
      (id[2] == 'd' && (id[3] == 'b' || id[3] == 'c')) || (id[2] == 'w' && id[3] == 'b');
  return data ? (id[0] - '0') * 10 + (id[1] - '0') : -1;
}

class Tally {
 public:
  Tally(const std::string& path, int streams) : counts_(static_cast<std::size_t>(streams)) {
    std::error_code error;
    size_ = std::filesystem::file_size(path, error);
    if (!error) file_.reset(std::fopen(path.c_str(), "rb"));
  }

  std::vector<StreamChunks> Run() {
    std::uint8_t head[12];
    if (!file_ || !Read(0, head, 12) || std::memcmp(head, "RIFF", 4) != 0) return counts_;
    std::uint64_t index = 0;
    std::uint64_t indexSize = 0;
    bool extended = false;  // further RIFF parts, which the idx1 index does not cover
    std::vector<std::pair<std::uint64_t, std::uint64_t>> moviLists;
    for (std::uint64_t at = 12; at + 8 <= size_;) {
      std::uint8_t chunk[12];
      if (!Read(at, chunk, 8)) break;
      const std::uint64_t body = at + 8;
      const std::uint64_t end = std::min(size_, body + Le32(chunk + 4));
      if (std::memcmp(chunk, "idx1", 4) == 0) {
        index = body;
        indexSize = end - body;
      } else if (std::memcmp(chunk, "RIFF", 4) == 0) {
        extended = true;
        moviLists.emplace_back(body + 4, end);  // its lists, walked the same way
      } else if (std::memcmp(chunk, "LIST", 4) == 0 && Read(body, chunk + 8, 4) &&
                 std::memcmp(chunk + 8, "movi", 4) == 0) {
        moviLists.emplace_back(body + 4, end);
      }
      at = end + (end & 1);
      if (end == size_) break;
    }
    if (index != 0 && !extended) {
      CountIndex(index, indexSize);
    } else {
      for (const auto& [from, to] : moviLists) Walk(from, to, 0);
    }
    return counts_;
  }

 private:
  bool Read(std::uint64_t at, std::uint8_t* out, std::size_t n) {
    return fseeko(file_.get(), static_cast<off_t>(at), SEEK_SET) == 0 &&
           std::fread(out, 1, n, file_.get()) == n;
  }

  void Add(int stream, std::uint64_t bytes) {
    if (stream < 0 || stream >= static_cast<int>(counts_.size())) return;
    StreamChunks& s = counts_[static_cast<std::size_t>(stream)];
    ++s.chunks;
    s.bytes = std::min<std::int64_t>(s.bytes + static_cast<std::int64_t>(bytes),
                                     static_cast<std::int64_t>(size_));
  }

  // idx1 entries: chunk id, flags, offset, size.
  void CountIndex(std::uint64_t at, std::uint64_t bytes) {
    std::vector<std::uint8_t> block(16 * 4096);
    for (std::uint64_t done = 0; done + 16 <= bytes;) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), (bytes - done) / 16 * 16));
      if (!Read(at + done, block.data(), n)) return;
      for (std::size_t e = 0; e < n; e += 16) Add(StreamOf(&block[e]), Le32(&block[e + 12]));
      done += n;
    }
  }

  // The chunks from `at` to `end`, into "rec " lists and the movi lists of further RIFF parts.
  void Walk(std::uint64_t at, std::uint64_t end, int depth) {
    while (at + 8 <= end) {
      std::uint8_t chunk[12];
      if (!Read(at, chunk, 8)) return;
      const std::uint64_t body = at + 8;
      const std::uint64_t stop = std::min(end, body + Le32(chunk + 4));
      if (std::memcmp(chunk, "LIST", 4) == 0) {
        if (depth < 4) Walk(body + 4, stop, depth + 1);
      } else {
        Add(StreamOf(chunk), stop - body);
      }
      at = stop + (stop & 1);
    }
  }

  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::uint64_t size_ = 0;
  std::vector<StreamChunks> counts_;
};

}  // namespace

std::vector<StreamChunks> TallyChunks(const std::string& path, int streams) {
  return Tally(path, std::clamp(streams, 0, 100)).Run();
}

}  // namespace calvex::media::detail
