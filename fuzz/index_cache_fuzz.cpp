// The index cache loader over a cache file of any content. The source it belongs to is a fixed
// file of 64 MiB of zeros; unless the control byte says otherwise, the input's key fields (name,
// size, checksum) are made to match it, so that the fuzzer reaches the entries. An index that
// loads saves back and loads again to the same index.
//
// Input: one control byte (bit 0: keep the key fields as they are; bits 1-4: the slot), then the
// cache file.
#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "video_decoder/index_cache.h"

using namespace calvex;
using namespace calvex::video_decoder;

namespace {

constexpr std::uint32_t kSourceSize = 64u << 20;

const std::string& SourcePath() {
  static const std::string path = [] {
    const std::string p = fuzz::WriteScratchFile("source.mpg", {});
    std::filesystem::resize_file(p, kSourceSize);
    const timeval old[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001: older than any cache
    ::utimes(p.c_str(), old);
    return p;
  }();
  return path;
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

CALVEX_FUZZ_TARGET(index_cache_fuzz) {
  const std::string& source = SourcePath();
  fuzz::InputBytes input(data, size);
  const std::uint8_t control = input.TakeByte();
  std::vector<std::uint8_t> cache(input.Rest().begin(), input.Rest().end());
  if ((control & 1) == 0 && cache.size() >= 80) {
    std::fill(cache.begin() + 16, cache.begin() + 64, 0);
    std::memcpy(cache.data() + 16, "SOURCE.MPG", 10);
    PutU32(cache, 64, kSourceSize);
    PutU32(cache, 68, 0);  // the sum of 2048 zero bytes
  }
  const std::string directory = fuzz::ScratchDirectory() + "cache/";
  const std::string again = fuzz::ScratchDirectory() + "again/";
  std::error_code ec;
  std::filesystem::remove_all(directory, ec);
  std::filesystem::remove_all(again, ec);
  std::filesystem::create_directories(directory, ec);
  const int slot = 1 + ((control >> 1) & 15) % kIndexCacheSlots;
  fuzz::WriteScratchFile("cache/mpcache" + std::to_string(slot) + ".idx", cache);

  GopIndex index;
  if (!LoadIndexCache(source, index, directory)) {
    // A refused cache leaves the index untouched.
    CALVEX_FUZZ_CHECK(index.UsedCount() == 0);
    return 0;
  }
  for (const GopIndexEntry& e : index.UsedEntries()) {
    CALVEX_FUZZ_CHECK(e.offset >= 0 && e.packetPosition >= 0 &&
                      std::int64_t{e.offset} + e.packetPosition < kSourceSize);
  }
  CALVEX_FUZZ_CHECK(SaveIndexCache(source, index, again));
  GopIndex reloaded;
  CALVEX_FUZZ_CHECK(LoadIndexCache(source, reloaded, again));
  const auto a = index.UsedEntries();
  const auto b = reloaded.UsedEntries();
  CALVEX_FUZZ_CHECK(a.size() == b.size() && reloaded.frameCount() == index.frameCount());
  CALVEX_FUZZ_CHECK(a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
  return 0;
}
