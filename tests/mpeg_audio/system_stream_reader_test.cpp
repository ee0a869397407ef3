#include "mpeg_audio/system_stream_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mpeg_audio/bit_stream.h"
#include "support/test_support.h"

namespace calvex::audio {
namespace {

using calvex::testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, std::initializer_list<int> v) {
  out.insert(out.end(), v.begin(), v.end());
}

void PackHeader(Bytes& s) {
  Append(s, {0, 0, 1, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x83});
}

// A system header listing the streams `ids`.
void SystemHeader(Bytes& s, std::initializer_list<int> ids = {0xC0, 0xE0}) {
  const int length = 6 + 3 * static_cast<int>(ids.size());
  Append(s, {0, 0, 1, 0xBB, 0x00, length, 0x80, 0x1B, 0x83, 0x04, 0xE1, 0xFF});
  for (int id : ids) Append(s, {id, 0xE0, 0x2E});
}

// A packet of `id` whose header is `header` (stuffing, STD buffer, time stamps) and whose data is
// `data`; the length field counts both.
void Packet(Bytes& s, int id, const Bytes& header, const Bytes& data) {
  const std::size_t length = header.size() + data.size();
  Append(s, {0, 0, 1, id, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)});
  s.insert(s.end(), header.begin(), header.end());
  s.insert(s.end(), data.begin(), data.end());
}

Bytes Data(int first, int count) {
  Bytes d;
  for (int i = 0; i < count; ++i) d.push_back(static_cast<std::uint8_t>(first + i));
  return d;
}

const Bytes kPts = {0x21, 0x00, 0x01, 0x00, 0x01};
const Bytes kPtsDts = {0x31, 0x00, 0x01, 0x00, 0x01, 0x11, 0x00, 0x01, 0x00, 0x01};

struct Stream {
  Bytes bytes;
  Bytes audio;
  Bytes video;
};

// Every kind of packet and packet header the reader has to tell apart. Video data holds start
// codes of its own, which the reader must not mistake for packets.
Stream MakeStream() {
  Stream st;
  Bytes& s = st.bytes;
  PackHeader(s);
  SystemHeader(s);
  Bytes video1 = {0, 0, 1, 0xB3, 0x14, 0x00, 0xF0, 0x13, 0, 0, 1, 0xC0, 0x55};
  Packet(s, 0xE0, Bytes{0x60, 0x2E, 0x31, 0, 1, 0, 1, 0x11, 0, 1, 0, 1}, video1);  // STD + PTS/DTS
  Bytes audio1 = Data(0x10, 40);
  Packet(s, 0xC0, Bytes{0xFF, 0xFF, 0x40, 0x20, 0x21, 0, 1, 0, 1}, audio1);  // stuffing, STD, PTS
  Packet(s, 0xBE, Bytes{}, Bytes(30, 0xFF));                                 // padding
  Packet(s, 0xBD, Bytes{0x0F}, Data(0x90, 12));                              // private stream 1
  PackHeader(s);
  Packet(s, 0xC1, Bytes{0x0F}, Data(0x40, 25));  // a second audio stream, passed over
  Bytes video2 = Data(0x70, 9);
  Packet(s, 0xE0, kPtsDts, video2);
  Bytes audio3 = Data(0xA0, 7);
  Packet(s, 0xC0, kPts, audio3);
  Append(s, {0, 0, 1, 0xB9});
  for (const Bytes* b : {&audio1, &audio3}) st.audio.insert(st.audio.end(), b->begin(), b->end());
  for (const Bytes* b : {&video1, &video2}) st.video.insert(st.video.end(), b->begin(), b->end());
  return st;
}

Bytes ReadAll(SystemStreamReader& r, std::size_t chunk) {
  Bytes out;
  Bytes buf(chunk);
  for (;;) {
    const std::size_t n = r.ReadSystemStreamData(buf.data(), chunk);
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(n));
    if (n < chunk) return out;
  }
}

TEST(SystemStreamReader, HandsOverTheWantedKindOnly) {
  const Stream st = MakeStream();
  for (std::size_t chunk : {1u, 7u, 1000u}) {
    SystemStreamReader audio;
    ASSERT_EQ(audio.OpenSystemStreamReaderBytes(st.bytes, PacketKind::kAudio), kOk);
    EXPECT_EQ(ReadAll(audio, chunk), st.audio) << chunk;
    SystemStreamReader video;
    ASSERT_EQ(video.OpenSystemStreamReaderBytes(st.bytes, PacketKind::kVideo), kOk);
    EXPECT_EQ(ReadAll(video, chunk), st.video) << chunk;
  }
}

// Of several streams of a kind, the lowest listed in the system header; without one listed, the
// stream of the first packet.
TEST(SystemStreamReader, ReadsOneStreamOfTheKind) {
  struct Case {
    std::initializer_list<int> listed;
    std::initializer_list<int> packets;  // each packet's data is its own id
    Bytes wanted;
  };
  const Case cases[] = {
      {{0xE0, 0xC1, 0xC0}, {0xC1, 0xC0, 0xE0, 0xC1, 0xC0}, {0xC0, 0xC0}},
      {{0xE0}, {0xC3, 0xC1, 0xC3}, {0xC3, 0xC3}},
      {{0xB8, 0xC2}, {0xC0, 0xC2}, {0xC2}},
  };
  for (const Case& c : cases) {
    Bytes s;
    PackHeader(s);
    SystemHeader(s, c.listed);
    for (int id : c.packets) Packet(s, id, Bytes{0x0F}, Bytes{static_cast<std::uint8_t>(id)});
    SystemStreamReader r;
    ASSERT_EQ(r.OpenSystemStreamReaderBytes(s, PacketKind::kAudio), kOk);
    EXPECT_EQ(ReadAll(r, 16), c.wanted);
  }
}

TEST(SystemStreamReader, RefusesStreamsThatDoNotStartWithAPackOrLackTheKind) {
  Bytes elementary = {0, 0, 1, 0xB3, 0x14, 0x00, 0xF0, 0x13, 0, 0, 1, 0xB8};
  SystemStreamReader r;
  EXPECT_EQ(r.OpenSystemStreamReaderBytes(elementary, PacketKind::kVideo), kNotMpeg);
  EXPECT_EQ(r.OpenSystemStreamReaderBytes(Bytes{}, PacketKind::kAudio), kNotMpeg);

  Bytes videoOnly;
  PackHeader(videoOnly);
  SystemHeader(videoOnly);
  Packet(videoOnly, 0xE0, Bytes{0x0F}, Data(1, 10));
  EXPECT_EQ(r.OpenSystemStreamReaderBytes(videoOnly, PacketKind::kAudio), kNotMpeg);
  EXPECT_EQ(r.OpenSystemStreamReaderBytes(videoOnly, PacketKind::kVideo), kOk);
  EXPECT_EQ(r.OpenSystemStreamReader("/nonexistent-dir/a.mpg", PacketKind::kVideo), kOpenFailed);
}

TEST(SystemStreamReader, TruncatedAndDamagedStreamsGiveAPrefixOfTheData) {
  const Stream st = MakeStream();
  for (std::size_t cut = 0; cut <= st.bytes.size(); ++cut) {
    Bytes part(st.bytes.begin(), st.bytes.begin() + static_cast<long>(cut));
    SystemStreamReader r;
    if (r.OpenSystemStreamReaderBytes(part, PacketKind::kAudio) != kOk) continue;
    const Bytes got = ReadAll(r, 16);
    ASSERT_LE(got.size(), st.audio.size()) << cut;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), st.audio.begin())) << cut;
  }
  // Packet headers that claim more than the packet holds, and lengths running past the end.
  Bytes bad;
  PackHeader(bad);
  Packet(bad, 0xC0, Bytes{0xFF, 0xFF, 0xFF}, Bytes{});   // stuffing only
  Append(bad, {0, 0, 1, 0xC0, 0x00, 0x02, 0x31, 0x00});  // PTS and DTS in a 2-byte packet
  Packet(bad, 0xC0, Bytes{0x0F}, Data(0x50, 5));
  Append(bad, {0, 0, 1, 0xC0, 0xFF, 0xFF, 0x0F, 0x01, 0x02});  // 65535 bytes announced, 2 there
  SystemStreamReader r;
  ASSERT_EQ(r.OpenSystemStreamReaderBytes(bad, PacketKind::kAudio), kOk);
  const Bytes got = ReadAll(r, 100);
  ASSERT_GE(got.size(), 5u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 5), Data(0x50, 5));
  EXPECT_LE(got.size(), 7u);
}

TEST(SystemStreamReader, BitStreamReadsAudioPacketsWithANegativeBufferSize) {
  TempDir dir;
  const Stream st = MakeStream();
  calvex::testing::WriteFileBytes(dir.File("s.mpg"), st.bytes);
  BitStream in;
  ASSERT_EQ(in.OpenBitStreamRead(dir.File("s.mpg"), -BitStream::kBufferSize), kOk);
  for (std::uint8_t expected : st.audio) ASSERT_EQ(in.GetBits(8), expected);
  EXPECT_FALSE(in.EndOfStream());
  in.GetBits(1);
  EXPECT_TRUE(in.EndOfStream());

  calvex::testing::WriteFileBytes(dir.File("e.m1v"), Bytes{0, 0, 1, 0xB3, 1, 2, 3, 4});
  EXPECT_EQ(in.OpenBitStreamRead(dir.File("e.m1v"), -BitStream::kBufferSize), kNotMpeg);
}

TEST(IsSystemStream, ChecksPackAndSystemHeader) {
  const Stream st = MakeStream();
  EXPECT_EQ(IsSystemStreamBytes(st.bytes), kOk);
  Bytes leading = {0x00, 0x12, 0x00};  // junk before the first start code is skipped
  leading.insert(leading.end(), st.bytes.begin(), st.bytes.end());
  EXPECT_EQ(IsSystemStreamBytes(leading), kOk);
  EXPECT_EQ(IsSystemStreamBytes(Bytes{0, 0, 1, 0xB3, 0x14, 0x00}), kNotMpeg);
  EXPECT_EQ(IsSystemStreamBytes(Bytes{}), kNotMpeg);
  Bytes mpeg2 = st.bytes;
  mpeg2[4] = 0x44;  // '01' marks an MPEG-2 pack
  EXPECT_EQ(IsSystemStreamBytes(mpeg2), kVideoDataError);
  Bytes noSystemHeader;
  PackHeader(noSystemHeader);
  Packet(noSystemHeader, 0xC0, Bytes{0x0F}, Data(0, 4));
  EXPECT_EQ(IsSystemStreamBytes(noSystemHeader), kVideoDataError);
  EXPECT_EQ(IsSystemStreamFile("/nonexistent-dir/a.mpg"), kOpenFailed);
}

// Our reader against a peer's multiplexer: the audio it extracts from an MPEG-1 system stream is
// the elementary stream the peer extracts.
TEST(SystemStreamReader, ExtractsThePeersAudioStream) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string mpg = dir.File("p.mpg");
  const std::string mp2 = dir.File("p.mp2");
  auto r = calvex::testing::RunCommand(
      "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25:duration=2 -f lavfi -i "
      "sine=frequency=440:duration=2 -c:v mpeg1video -c:a mp2 -b:a 128k -f mpeg " +
      calvex::testing::ShellQuote(mpg));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  r = calvex::testing::RunCommand("ffmpeg -v error -i " + calvex::testing::ShellQuote(mpg) +
                                  " -map 0:a -c copy -f mp2 " + calvex::testing::ShellQuote(mp2));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(IsSystemStreamFile(mpg), kOk);
  SystemStreamReader reader;
  ASSERT_EQ(reader.OpenSystemStreamReader(mpg, PacketKind::kAudio), kOk);
  const Bytes expected = calvex::testing::ReadFileBytes(mp2);
  const Bytes got = ReadAll(reader, 4096);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace calvex::audio
