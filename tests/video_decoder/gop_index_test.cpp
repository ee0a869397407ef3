// The picture index and the start-code search it is built with.
#include "video_decoder/gop_index.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "video_decoder/start_code_scanner.h"

namespace calvex::video_decoder {
namespace {

// ------------------------------------------------------------------------------------------------
// Start-code search

struct Event {
  int value;
  std::int64_t packetPosition;
  std::int64_t offset;
  std::vector<std::uint8_t> following;
  bool operator==(const Event&) const = default;
};

// Records every start code and asks for as many following bytes as the value's low two bits say.
struct Recorder {
  int StartCode(std::uint8_t value, const ByteLocation& at) {
    events.push_back({value, at.packetPosition, at.offset, {}});
    return value & 3;
  }
  void Following(std::uint8_t, const std::uint8_t* bytes) {
    events.back().following.assign(bytes, bytes + (events.back().value & 3));
  }
  std::vector<Event> events;
};

// The byte-wise search as the scanner must behave, over the whole stream at once.
std::vector<Event> ReferenceSearch(const std::vector<std::uint8_t>& data,
                                   const std::vector<ByteLocation>& where) {
  std::vector<Event> events;
  int state = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::uint8_t b = data[i];
    if (state == 3) {
      const std::size_t want = b & 3;
      Event e{b, where[i - 3].packetPosition, where[i - 3].offset, {}};
      if (i + want < data.size()) {
        e.following.assign(data.begin() + static_cast<std::ptrdiff_t>(i + 1),
                           data.begin() + static_cast<std::ptrdiff_t>(i + 1 + want));
      }
      events.push_back(e);
      state = 0;
    } else if (b == 0) {
      state = state < 2 ? state + 1 : 2;
    } else if (b == 1 && state == 2) {
      state = 3;
    } else {
      state = 0;
    }
  }
  return events;
}

TEST(StartCodeScanner, MatchesTheBytewiseSearchWhateverThePieces) {
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    // Mostly zeros and ones, so that prefixes, runs of zeros and value bytes 0 and 1 abound.
    std::vector<std::uint8_t> data(1 + random() % 400);
    for (auto& b : data) {
      const unsigned r = random() % 10;
      b = r < 5 ? 0 : (r < 8 ? 1 : static_cast<std::uint8_t>(random()));
    }
    // Pieces of 1..9 bytes, each its own "packet" at a made-up position.
    std::vector<ByteLocation> where(data.size());
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t n = std::min<std::size_t>(1 + random() % 9, data.size() - at);
      for (std::size_t k = 0; k < n; ++k)
        where[at + k] = {1000 + 7 * static_cast<int>(at), static_cast<std::int64_t>(k)};
      pieces.emplace_back(at, n);
      at += n;
    }
    Recorder whole;
    StartCodeScanner a;
    // The same stream fed at once (one location base per byte is not possible then, so compare
    // the values and following bytes only).
    a.Feed(data.data(), data.size(), ByteLocation{0, 0}, whole);
    Recorder split;
    StartCodeScanner b;
    for (auto [at, n] : pieces) b.Feed(data.data() + at, n, where[at], split);

    const std::vector<Event> expected = ReferenceSearch(data, where);
    ASSERT_EQ(split.events, expected) << "round " << round;
    ASSERT_EQ(whole.events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(whole.events[i].value, expected[i].value);
      EXPECT_EQ(whole.events[i].following, expected[i].following);
    }
  }
}

TEST(StartCodeScanner, ValueByteNeverStartsANewPrefix) {
  // 00 00 01 00 | 00 01: the picture code's value 0x00 does not count as a prefix zero.
  const std::vector<std::uint8_t> data{0, 0, 1, 0, 0, 1, 0xB8, 0, 0, 0, 1, 0xB3};
  Recorder r;
  StartCodeScanner s;
  s.Feed(data.data(), data.size(), ByteLocation{0, 100}, r);
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0].value, 0x00);
  EXPECT_EQ(r.events[0].offset, 100);
  EXPECT_EQ(r.events[1].value, 0xB3);
  EXPECT_EQ(r.events[1].offset, 100 + 8);  // the prefix's first byte is the last two zeros' first
}

// ------------------------------------------------------------------------------------------------
// GopIndex

TEST(GopIndex, StartsEmptyWithCapacity1024AndGrowsByThatStep) {
  GopIndex index;
  EXPECT_EQ(index.capacity(), 1024);
  EXPECT_EQ(index.UsedCount(), 0);
  EXPECT_EQ(index.EntryFor(50), -1);
  for (int g = 0; g < 1500; ++g) {
    ASSERT_TRUE(index.AddGroup(g, 12 * g, 1000 * g, 0));
    index.SetFirstFrame(g, 12 * g + (g == 0 ? 0 : 2));
  }
  EXPECT_EQ(index.capacity(), 2048);
  EXPECT_EQ(index.UsedCount(), 1500);
  EXPECT_TRUE(GopIndex::IsFree(index[1500]));
  EXPECT_EQ(index[1499].offset, 1499000);

  // A filled entry keeps its place when its group is met again.
  ASSERT_TRUE(index.AddGroup(3, 999, 999, 999));
  EXPECT_EQ(index[3].picturesBefore, 36);

  index.Reset();
  EXPECT_EQ(index.capacity(), 1024);
  EXPECT_EQ(index.UsedCount(), 0);
  EXPECT_EQ(index.frameCount(), 0);
}

TEST(GopIndex, EntryForTakesTheLastGroupStartingAtOrBeforeTheFrame) {
  GopIndex index;
  const std::vector<GopIndexEntry> entries{{0, 0, 10, 0}, {14, 12, 500, 0}, {26, 24, 900, 0}};
  ASSERT_TRUE(index.Assign(entries, 36));
  EXPECT_EQ(index.frameCount(), 36);
  EXPECT_EQ(index.UsedCount(), 3);
  EXPECT_EQ(index.EntryFor(0), 0);
  EXPECT_EQ(index.EntryFor(13), 0);
  EXPECT_EQ(index.EntryFor(14), 1);
  EXPECT_EQ(index.EntryFor(25), 1);
  EXPECT_EQ(index.EntryFor(26), 2);
  EXPECT_EQ(index.EntryFor(100000), 2);

  // Frames before the first group's first frame start at entry 0.
  ASSERT_TRUE(index.Assign(std::vector<GopIndexEntry>{{2, 0, 10, 0}, {14, 12, 500, 0}}, 24));
  EXPECT_EQ(index.EntryFor(0), 0);

  // A section's stored entry replaces entry 0.
  index.SetEntry0({26, 24, 900, 0});
  EXPECT_EQ(index[0].offset, 900);
}

TEST(GopIndex, AssignMoreThanTheCapacityMarksTheEntryAfterTheLastFree) {
  GopIndex index;
  std::vector<GopIndexEntry> entries(2048);
  for (int i = 0; i < 2048; ++i) entries[static_cast<std::size_t>(i)] = {12 * i, 12 * i, i, 0};
  ASSERT_TRUE(index.Assign(entries, 12 * 2048));
  EXPECT_EQ(index.capacity(), 3072);
  EXPECT_EQ(index.UsedCount(), 2048);
  EXPECT_EQ(index.EntryFor(12 * 2047 + 5), 2047);
}

}  // namespace
}  // namespace calvex::video_decoder
