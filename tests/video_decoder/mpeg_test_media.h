// MPEG files for the index and MPEG to AVI tests: streams made by ffmpeg, mpeg2enc/mplex and our
// own encoder and multiplexer, hand-made system streams with chosen packet boundaries, and an
// independent reading of an elementary stream's start codes to check the index against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/info_blocks.h"

namespace calvex::video_decoder::testing {

// ffmpeg's mpeg1video (groups of 12 with two B pictures, open groups) from a lavfi test picture:
// `container` "mpeg1video" for an elementary stream, "mpeg" or "vcd" for a system stream (with
// mp2 sound when `withAudio`). `extra` is added to the output options. False on failure.
bool MakeFfmpegStream(const std::string& path, const std::string& container, int frames,
                      bool withAudio = true, const std::string& size = "96x64", int rate = 25,
                      const std::string& extra = "");

// mpeg2enc's MPEG-1 video multiplexed by mplex (`format` 1: VCD) with mp2 sound.
bool MakeMplexStream(const std::string& dir, const std::string& path, int frames, int format = 1);

// Our own encoder's elementary stream of a moving synthetic picture.
bool MakeOwnElementaryStream(const std::string& path, int frames, int width = 96, int height = 64,
                             int pictureRateCode = 3);
// Our own encoder's video with ffmpeg's mp2 sound, interleaved by our multiplexer; with `videoCd`
// in Video CD sectors, the sound stereo at 224 kbit/s.
bool MakeOwnSystemStream(const std::string& dir, const std::string& path, int frames,
                         bool videoCd = false);

// The start codes of a video elementary stream, read naively from the whole buffer.
struct ElementaryLayout {
  struct Picture {
    std::size_t offset;
    int temporalReference;
    int type;  // 1 I, 2 P, 3 B
  };
  std::vector<Picture> pictures;
  std::vector<std::size_t> groups;  // offsets of the group start codes
};
ElementaryLayout ReadElementaryLayout(const std::vector<std::uint8_t>& es);

// The index a scan of the elementary stream should give: per group its offset (packetPosition 0),
// the pictures before it and the frame of its first picture.
std::vector<GopIndexEntry> ExpectedEntries(const ElementaryLayout& layout);

// Pictures as top-down BGR bytes, one vector each.
using Frames = std::vector<std::vector<std::uint8_t>>;
// Raw yuv420p pictures of `width` x `height` (ffmpeg's decode) turned into top-down BGR by our
// decoder's own colour conversion, so that only the decoding itself differs.
Frames RgbFromYuv(const std::vector<std::uint8_t>& yuv, int width, int height);

// The video elementary stream of a system stream, as ffmpeg's demultiplexer extracts it.
std::vector<std::uint8_t> FfmpegVideoOf(const std::string& path);

// What ffprobe decodes: the picture types in display order ('I', 'P', 'B').
std::string FfprobePictureTypes(const std::string& path);

// A system stream around `es` whose video packets hold the given numbers of bytes in turn (the
// last size repeats), with a padding packet and an audio packet of junk between every two video
// packets and a variety of packet headers (stuffing, buffer field, time stamps). `positions`
// receives the file offset of each video packet and `esStarts` the elementary-stream offset of
// its first byte.
std::vector<std::uint8_t> HandMadeSystemStream(const std::vector<std::uint8_t>& es,
                                               const std::vector<int>& packetBytes,
                                               std::vector<std::int64_t>* positions = nullptr,
                                               std::vector<std::int64_t>* esStarts = nullptr);

}  // namespace calvex::video_decoder::testing
