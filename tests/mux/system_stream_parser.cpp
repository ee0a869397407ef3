#include "mux/system_stream_parser.h"

#include <cstdio>

namespace calvex::mux::testing {

namespace {

class Reader {
 public:
  Reader(const std::vector<std::uint8_t>& b, std::size_t pos) : b_(b), pos_(pos * 8) {}
  std::uint64_t Get(int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i, ++pos_) {
      const std::size_t byte = pos_ / 8;
      const int bit = byte < b_.size() ? (b_[byte] >> (7 - pos_ % 8)) & 1 : 0;
      if (byte >= b_.size()) overrun_ = true;
      v = (v << 1) | static_cast<std::uint64_t>(bit);
    }
    return v;
  }
  bool Marker() { return Get(1) == 1; }
  std::size_t byte() const { return pos_ / 8; }
  bool overrun() const { return overrun_; }

 private:
  const std::vector<std::uint8_t>& b_;
  std::size_t pos_;
  bool overrun_ = false;
};

// 33-bit clock after its prefix, with its three marker bits.
bool ReadClock(Reader& r, std::int64_t& t) {
  const std::uint64_t high = r.Get(3);
  bool ok = r.Marker();
  const std::uint64_t mid = r.Get(15);
  ok = r.Marker() && ok;
  const std::uint64_t low = r.Get(15);
  ok = r.Marker() && ok;
  t = static_cast<std::int64_t>((high << 30) | (mid << 15) | low);
  return ok;
}

std::string At(const char* what, std::size_t offset) {
  char text[128];
  std::snprintf(text, sizeof text, "%s at byte %zu", what, offset);
  return text;
}

}  // namespace

std::vector<const ParsedPacket*> ParsedSystemStream::PacketsOf(int streamId) const {
  std::vector<const ParsedPacket*> out;
  for (const ParsedPacket& p : packets)
    if (p.streamId == streamId) out.push_back(&p);
  return out;
}

ParsedSystemStream ParseSystemStream(const std::vector<std::uint8_t>& b) {
  ParsedSystemStream s;
  std::size_t pos = 0;
  while (pos < b.size()) {
    if (pos + 4 > b.size() || b[pos] != 0 || b[pos + 1] != 0 || b[pos + 2] != 1) {
      s.error = At("no start code", pos);
      return s;
    }
    const int code = b[pos + 3];
    Reader r(b, pos + 4);
    if (code == 0xB9) {
      s.endCode = true;
      pos += 4;
      for (; pos < b.size(); ++pos)
        if (b[pos] != 0) s.error = At("data after the end code", pos);
      return s;
    }
    if (code == 0xBA) {
      ParsedPack pack;
      pack.offset = pos;
      if (r.Get(4) != 0x2) s.error = At("pack header prefix", pos);
      if (!ReadClock(r, pack.scr) || !r.Marker()) s.error = At("pack marker", pos);
      pack.muxRate = static_cast<std::int32_t>(r.Get(22));
      if (!r.Marker()) s.error = At("pack marker", pos);
      s.packs.push_back(pack);
      pos = r.byte();
    } else if (code == 0xBB) {
      if (s.packs.empty() || s.packs.back().hasSystemHeader) {
        s.error = At("system header out of place", pos);
        return s;
      }
      ParsedSystemHeader& h = s.packs.back().systemHeader;
      s.packs.back().hasSystemHeader = true;
      const auto length = static_cast<std::size_t>(r.Get(16));
      const std::size_t end = pos + 6 + length;
      if (!r.Marker()) s.error = At("system header marker", pos);
      h.rateBound = static_cast<std::int32_t>(r.Get(22));
      if (!r.Marker()) s.error = At("system header marker", pos);
      h.audioBound = static_cast<int>(r.Get(6));
      h.fixed = r.Get(1) != 0;
      h.constrained = r.Get(1) != 0;
      h.audioLock = r.Get(1) != 0;
      h.videoLock = r.Get(1) != 0;
      if (!r.Marker()) s.error = At("system header marker", pos);
      h.videoBound = static_cast<int>(r.Get(5));
      if (r.Get(8) != 0xFF) s.error = At("system header reserved byte", pos);
      while (r.byte() < end) {
        ParsedSystemHeader::Entry e;
        e.streamId = static_cast<int>(r.Get(8));
        if (r.Get(2) != 0x3) s.error = At("stream entry", pos);
        e.scale = static_cast<int>(r.Get(1));
        e.size = static_cast<int>(r.Get(13));
        h.entries.push_back(e);
      }
      pos = end;
    } else if (code >= 0xBC) {
      if (s.packs.empty()) {
        s.error = At("packet before the first pack", pos);
        return s;
      }
      ParsedPacket p;
      p.offset = pos;
      p.pack = static_cast<int>(s.packs.size()) - 1;
      p.streamId = code;
      p.packetLength = static_cast<int>(r.Get(16));
      const std::size_t end = pos + 6 + static_cast<std::size_t>(p.packetLength);
      if (end > b.size()) {
        s.error = At("packet beyond the end of the file", pos);
        return s;
      }
      while (r.byte() < end && b[r.byte()] == 0xFF) r.Get(8);  // stuffing
      Reader peek = r;
      if (peek.Get(2) == 0x1) {
        r.Get(2);
        p.bufferScale = static_cast<int>(r.Get(1));
        p.bufferSize = static_cast<int>(r.Get(13));
      }
      const auto prefix = static_cast<int>(Reader(r).Get(4));
      if (prefix == 0x2) {
        r.Get(4);
        if (!ReadClock(r, p.pts)) s.error = At("PTS marker", pos);
      } else if (prefix == 0x3) {
        r.Get(4);
        if (!ReadClock(r, p.pts)) s.error = At("PTS marker", pos);
        if (r.Get(4) != 0x1 || !ReadClock(r, p.dts)) s.error = At("DTS", pos);
      } else if (r.Get(8) != 0x0F) {
        s.error = At("packet header", pos);
      }
      p.dataOffset = r.byte();
      if (p.dataOffset > end) {
        s.error = At("packet header longer than the packet", pos);
        return s;
      }
      p.dataBytes = end - p.dataOffset;
      std::vector<std::uint8_t>* stream = p.streamId == 0xE0   ? &s.video
                                          : p.streamId == 0xC0 ? &s.audio
                                                               : nullptr;
      if (stream) {
        p.streamOffset = stream->size();
        stream->insert(stream->end(), b.begin() + static_cast<std::ptrdiff_t>(p.dataOffset),
                       b.begin() + static_cast<std::ptrdiff_t>(end));
      }
      s.packets.push_back(p);
      pos = end;
    } else {
      s.error = At("unexpected start code", pos);
      return s;
    }
    if (!s.error.empty()) return s;
  }
  s.error = "no end code";
  return s;
}

}  // namespace calvex::mux::testing
