// The index cache: the file layout, the key (name, size, checksum; not the directory), the nine
// slots with the oldest replaced, stale and damaged cache files passed over, the data directory.
#include "video_decoder/index_cache.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "support/test_support.h"
#include "video_decoder/mpeg_test_media.h"

namespace calvex::video_decoder {
namespace {

namespace fs = std::filesystem;
using calvex::testing::ReadFileBytes;
using calvex::testing::TempDir;
using calvex::testing::WriteFileBytes;

const std::vector<GopIndexEntry> kEntries{{0, 0, 12, 0}, {14, 12, 2100, 0}, {26, 24, 3900, 0}};

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void SetU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

class IndexCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cacheDir_ = dir_.File("cache") + "/";
    source_ = MakeSource("Movie.mpg", 5000, 1);
    index_.Assign(kEntries, 36);
  }

  std::string MakeSource(const std::string& name, std::size_t size, unsigned seed) {
    const std::string path = dir_.File(name);
    WriteFileBytes(path, RandomBytes(size, seed));
    // Sources older than any cache written by the test.
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    return path;
  }

  std::string Slot(int n) const { return IndexCachePath(cacheDir_, n); }

  bool Loads(const std::string& source) {
    GopIndex loaded;
    return LoadIndexCache(source, loaded, cacheDir_);
  }

  TempDir dir_;
  std::string cacheDir_;
  std::string source_;
  GopIndex index_;
};

TEST_F(IndexCacheTest, SavesTheLayoutAndLoadsItBack) {
  ASSERT_TRUE(SaveIndexCache(source_, index_, cacheDir_));
  const auto bytes = ReadFileBytes(Slot(1));
  ASSERT_EQ(bytes.size(), 80u + 16u * kEntries.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data())), "VX QRT INDEX 1");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 16), "Movie.mpg");
  EXPECT_EQ(U32(bytes, 64), 5000u);
  const auto source = ReadFileBytes(source_);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 2048; i += 4) sum += U32(source, i);
  EXPECT_EQ(U32(bytes, 68), sum);
  EXPECT_EQ(U32(bytes, 72), 36u);
  EXPECT_EQ(U32(bytes, 76), 3u);
  EXPECT_EQ(U32(bytes, 80 + 16 + 8), 2100u);  // second entry's offset

  GopIndex loaded;
  ASSERT_TRUE(LoadIndexCache(source_, loaded, cacheDir_));
  EXPECT_EQ(loaded.frameCount(), 36);
  ASSERT_EQ(loaded.UsedCount(), 3);
  EXPECT_EQ(loaded[2].firstFrame, 26);
  EXPECT_EQ(loaded[2].picturesBefore, 24);
  EXPECT_TRUE(GopIndex::IsFree(loaded[3]));
}

TEST_F(IndexCacheTest, TheKeyIsNameSizeAndChecksumNotTheDirectory) {
  ASSERT_TRUE(SaveIndexCache(source_, index_, cacheDir_));
  // The same file elsewhere, its name in other case.
  fs::create_directories(dir_.File("other"));
  const std::string copy = dir_.File("other/MOVIE.MPG");
  fs::copy_file(source_, copy);
  fs::last_write_time(copy, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_TRUE(Loads(copy));

  // Another name, another size, other first 2048 bytes: no.
  const std::string renamed = dir_.File("other/film.mpg");
  fs::copy_file(source_, renamed);
  fs::last_write_time(renamed, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_FALSE(Loads(renamed));
  auto bytes = ReadFileBytes(source_);
  bytes.push_back(0);
  WriteFileBytes(copy, bytes);
  fs::last_write_time(copy, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_FALSE(Loads(copy));
  bytes.pop_back();
  bytes[2047] ^= 1;
  WriteFileBytes(copy, bytes);
  fs::last_write_time(copy, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_FALSE(Loads(copy));
  // A change after the first 2048 bytes is not seen (the key does not cover it).
  bytes[2047] ^= 1;
  bytes[3000] ^= 1;
  WriteFileBytes(copy, bytes);
  fs::last_write_time(copy, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_TRUE(Loads(copy));
}

TEST_F(IndexCacheTest, LongNamesAreCutTo47Characters) {
  const std::string name = std::string(60, 'n') + ".mpg";
  const std::string source = MakeSource(name, 5000, 2);
  ASSERT_TRUE(SaveIndexCache(source, index_, cacheDir_));
  const auto bytes = ReadFileBytes(Slot(1));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 16), std::string(47, 'n'));
  EXPECT_TRUE(Loads(source));
}

TEST_F(IndexCacheTest, NineSlotsThenTheOldestIsReplaced) {
  std::vector<std::string> sources;
  for (int i = 0; i < 10; ++i) {
    sources.push_back(MakeSource("clip" + std::to_string(i) + ".mpg", 4000 + i, 10 + i));
  }
  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(SaveIndexCache(sources[static_cast<std::size_t>(i)], index_, cacheDir_));
    EXPECT_TRUE(fs::exists(Slot(i + 1)));
  }
  // Slot 4 was written longest ago.
  const auto now = fs::file_time_type::clock::now();
  for (int slot = 1; slot <= 9; ++slot) {
    fs::last_write_time(Slot(slot), now - std::chrono::minutes(slot == 4 ? 50 : 10 - slot));
  }
  ASSERT_TRUE(SaveIndexCache(sources[9], index_, cacheDir_));
  EXPECT_FALSE(fs::exists(Slot(10)));
  EXPECT_FALSE(Loads(sources[3]));
  for (int i : {0, 1, 2, 4, 5, 6, 7, 8, 9})
    EXPECT_TRUE(Loads(sources[static_cast<std::size_t>(i)])) << i;
  const auto bytes = ReadFileBytes(Slot(4));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 16), "clip9.mpg");
}

TEST_F(IndexCacheTest, AStaleCacheIsPassedOverAndANewOneUsed) {
  ASSERT_TRUE(SaveIndexCache(source_, index_, cacheDir_));
  // The source changes after its index was cached (same size and first bytes).
  fs::last_write_time(source_, fs::file_time_type::clock::now() + std::chrono::minutes(1));
  fs::last_write_time(Slot(1), fs::file_time_type::clock::now() - std::chrono::minutes(1));
  EXPECT_FALSE(Loads(source_));

  // Scanned again and cached in the next slot: that one is found behind the stale one.
  GopIndex rescanned;
  rescanned.Assign(std::vector<GopIndexEntry>{{0, 0, 12, 0}}, 7);
  fs::last_write_time(source_, fs::file_time_type::clock::now() - std::chrono::seconds(30));
  ASSERT_TRUE(SaveIndexCache(source_, rescanned, cacheDir_));
  EXPECT_TRUE(fs::exists(Slot(2)));
  GopIndex loaded;
  ASSERT_TRUE(LoadIndexCache(source_, loaded, cacheDir_));
  EXPECT_EQ(loaded.frameCount(), 7);
}

TEST_F(IndexCacheTest, DamagedCachesAreIgnoredAndNeverMisdirect) {
  ASSERT_TRUE(SaveIndexCache(source_, index_, cacheDir_));
  const auto good = ReadFileBytes(Slot(1));
  const std::vector<std::pair<const char*, std::function<void(std::vector<std::uint8_t>&)>>>
      damages{
          {"truncated entries", [](auto& b) { b.resize(b.size() - 8); }},
          {"truncated header", [](auto& b) { b.resize(70); }},
          {"huge count", [](auto& b) { SetU32(b, 76, 0x7FFFFFFF); }},
          {"negative count", [](auto& b) { SetU32(b, 76, 0xFFFFFFFF); }},
          {"negative frame count", [](auto& b) { SetU32(b, 72, 0x80000000); }},
          {"negative first frame", [](auto& b) { SetU32(b, 80 + 16, 0xFFFFFFF0); }},
          {"frames going back", [](auto& b) { SetU32(b, 80 + 32, 10); }},
          {"pictures going back", [](auto& b) { SetU32(b, 80 + 32 + 4, 1); }},
          {"offset beyond the file", [](auto& b) { SetU32(b, 80 + 32 + 8, 5000); }},
          {"packet beyond the file", [](auto& b) { SetU32(b, 80 + 32 + 12, 4999); }},
          {"negative offset", [](auto& b) { SetU32(b, 80 + 8, 0xFFFFFFFF); }},
          {"wrong magic", [](auto& b) { b[3] = 'Z'; }},
      };
  for (const auto& [what, damage] : damages) {
    SCOPED_TRACE(what);
    auto bytes = good;
    damage(bytes);
    WriteFileBytes(Slot(1), bytes);
    GopIndex loaded;
    loaded.Assign(std::vector<GopIndexEntry>{{5, 5, 5, 0}}, 99);
    EXPECT_FALSE(LoadIndexCache(source_, loaded, cacheDir_));
    EXPECT_EQ(loaded.frameCount(), 99);  // untouched
    EXPECT_EQ(loaded[0].offset, 5);
  }
  // A damaged slot does not hide a sound one behind it.
  WriteFileBytes(Slot(2), good);
  EXPECT_TRUE(Loads(source_));
  // Random junk in every slot.
  for (int slot = 1; slot <= 9; ++slot) {
    auto junk = RandomBytes(80 + 16 * static_cast<std::size_t>(slot), 100 + slot);
    std::memcpy(junk.data(), good.data(), 80);  // a header that matches, entries of noise
    SetU32(junk, 76, static_cast<std::uint32_t>(slot));
    WriteFileBytes(Slot(slot), junk);
  }
  GopIndex loaded;
  if (LoadIndexCache(source_, loaded, cacheDir_)) {
    for (std::int32_t i = 0; i < loaded.UsedCount(); ++i) {
      EXPECT_GE(loaded[i].offset, 0);
      EXPECT_LT(loaded[i].packetPosition + loaded[i].offset, 5000);
    }
  }
}

TEST_F(IndexCacheTest, NothingIsCachedWhenTheSourceOrDirectoryFails) {
  EXPECT_FALSE(SaveIndexCache(dir_.File("missing.mpg"), index_, cacheDir_));
  EXPECT_FALSE(Loads(dir_.File("missing.mpg")));
  // The "directory" is a file.
  WriteFileBytes(dir_.File("plain"), {1, 2, 3});
  EXPECT_FALSE(SaveIndexCache(source_, index_, dir_.File("plain") + "/"));
  EXPECT_FALSE(fs::exists(cacheDir_));
}

TEST_F(IndexCacheTest, TheDataDirectoryIsTheDefaultAndIsCreated) {
  const std::string home = dir_.File("xdg");
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  const bool saved_ok = SaveIndexCache(source_, index_);
  GopIndex loaded;
  const bool loaded_ok = LoadIndexCache(source_, loaded);
  if (old != nullptr) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
  EXPECT_TRUE(saved_ok);
  EXPECT_TRUE(loaded_ok);
  EXPECT_TRUE(fs::exists(home + "/vorla.dat/mpcache1.idx"));
}

TEST_F(IndexCacheTest, OpenMpegIndexScansOnceAndThenLoads) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const std::string path = dir_.File("movie.mpg");
  ASSERT_TRUE(testing::MakeFfmpegStream(path, "mpeg", 40));
  int pictures = 0;
  ScanCallbacks callbacks;
  callbacks.cancelled = [&] {
    ++pictures;
    return false;
  };
  GopIndex first;
  ASSERT_EQ(OpenMpegIndex(path, first, callbacks, cacheDir_), kOk);
  EXPECT_EQ(pictures, 40);
  EXPECT_TRUE(fs::exists(Slot(1)));
  GopIndex second;
  ASSERT_EQ(OpenMpegIndex(path, second, callbacks, cacheDir_), kOk);
  EXPECT_EQ(pictures, 40);  // no second scan
  ASSERT_EQ(second.UsedCount(), first.UsedCount());
  EXPECT_EQ(second.frameCount(), 40);
  for (std::int32_t i = 0; i < first.UsedCount(); ++i) {
    EXPECT_EQ(second[i].packetPosition, first[i].packetPosition);
    EXPECT_EQ(second[i].offset, first[i].offset);
  }
  // A cancelled scan leaves no index and no cache.
  fs::remove(Slot(1));
  callbacks.cancelled = [] { return true; };
  EXPECT_EQ(OpenMpegIndex(path, first, callbacks, cacheDir_), kCancelled);
  EXPECT_EQ(first.UsedCount(), 0);
  EXPECT_FALSE(fs::exists(Slot(1)));
}

}  // namespace
}  // namespace calvex::video_decoder
