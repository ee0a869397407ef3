// A strict reader of ISO/IEC 11172-1 system streams for the multiplexer's tests: every byte must
// belong to a pack header, a system header, a packet or the end code (a zero byte may follow the
// end code). It reassembles the elementary streams and keeps every header field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace calvex::mux::testing {

struct ParsedSystemHeader {
  std::int32_t rateBound = 0;
  int audioBound = 0;
  bool fixed = false;
  bool constrained = false;
  bool audioLock = false;
  bool videoLock = false;
  int videoBound = 0;
  struct Entry {
    int streamId;
    int scale;
    int size;
  };
  std::vector<Entry> entries;
};

struct ParsedPack {
  std::size_t offset = 0;
  std::int64_t scr = 0;
  std::int32_t muxRate = 0;
  bool hasSystemHeader = false;
  ParsedSystemHeader systemHeader;
};

struct ParsedPacket {
  std::size_t offset = 0;  // of its start code
  int streamId = 0;
  int packetLength = 0;
  int bufferScale = -1;  // -1: no STD buffer fields
  int bufferSize = 0;
  std::int64_t pts = -1;
  std::int64_t dts = -1;
  std::size_t dataOffset = 0;  // in the file
  std::size_t dataBytes = 0;
  std::size_t streamOffset = 0;  // of its first data byte within its elementary stream
  int pack = -1;                 // index of the pack it belongs to
};

struct ParsedSystemStream {
  std::string error;  // empty when the whole file parsed
  std::vector<ParsedPack> packs;
  std::vector<ParsedPacket> packets;
  std::vector<std::uint8_t> video;  // stream 0xE0
  std::vector<std::uint8_t> audio;  // stream 0xC0
  bool endCode = false;

  std::vector<const ParsedPacket*> PacketsOf(int streamId) const;
};

ParsedSystemStream ParseSystemStream(const std::vector<std::uint8_t>& bytes);

}  // namespace calvex::mux::testing
