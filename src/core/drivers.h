// The four conversion drivers as the dispatcher calls them, the media-layer step it needs before
// an AVI with unusual audio, and the frame count it checks sections against. Each driver lands in
// its own subsystem; the front ends wire the real ones (engine/default_drivers.h), tests wire
// doubles.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "core/conversion_context.h"
#include "core/settings.h"
#include "core/status.h"

namespace calvex {

// AVI to MPEG (one whole file or one section). The settings hold the entry's record, its AVI
// information, the section and (when the audio was converted first) the PCM temporary file; the
// driver derives the frame values itself once the AVI is open.
struct AviToMpegJob {
  std::string source;
  std::string destination;
  ConversionSettings* settings = nullptr;
  AudioEncodeParams* audio = nullptr;  // coded bitrate and sampling rate come back here
};

// WAV to MP2.
struct WavToMp2Job {
  std::string source;
  std::string destination;
  AudioEncodeParams* audio = nullptr;
};

// MPEG to AVI (one whole file or one section).
struct MpegToAviJob {
  std::string source;
  std::string destination;
  // Words 1 and 2 go into the AVI stream information, word 3 is kept, word 4 is halveFrames.
  std::array<std::int32_t, 4> decodingOptions{1, 6500, 1, 1};
  // Word 1 is 1; word 2 the bits per sample of the MPEG file's audio information.
  std::array<std::int32_t, 2> outputOptions{1, 16};
  std::int32_t firstFrame = 0;
  std::int32_t lastFrame = -1;  // -1: to the end
  ConversionSettings* settings = nullptr;
};

// MP2 to WAV.
struct Mp2ToWavJob {
  std::string source;
  std::string destination;
  std::int32_t rateDivisor = 1;  // source sampling rate / output sampling rate
  std::int32_t bitsPerSample = 16;
  WaveFormat format{};  // the output format of the entry's record
  ConversionSettings* settings = nullptr;
};

// Converts an AVI's audio into a raw PCM file; `format` receives the PCM format written. Returns 0,
// 1 when cancelled, or a failure code.
struct PcmConversionJob {
  std::string source;
  std::string pcmPath;
  WaveFormat format{};
  // Resampled to this rate and mixed to this many channels (16-bit); 0: as the source has them.
  std::int32_t sampleRateHz = 0;
  std::int32_t channels = 0;
};

// The number of frames of an AVI or MPEG source, against which the dispatcher checks the entry's
// sections. Returns 0, 1 when cancelled, or a failure code (the sections then go unchecked and
// the driver meets the trouble itself).
struct FrameCountJob {
  std::string source;
  ConversionKind kind = ConversionKind::kNone;
  std::int32_t frames = 0;  // 0: not known
};

struct DriverSet {
  std::function<Status(AviToMpegJob&, ConversionContext&)> aviToMpeg;
  std::function<Status(WavToMp2Job&, ConversionContext&)> wavToMp2;
  std::function<Status(MpegToAviJob&, ConversionContext&)> mpegToAvi;
  std::function<Status(Mp2ToWavJob&, ConversionContext&)> mp2ToWav;
  std::function<Status(PcmConversionJob&, ConversionContext&)> convertToPcm;
  std::function<Status(FrameCountJob&, ConversionContext&)> countFrames;  // none: no check
};

// A set whose every driver answers 142 "Not supported.".
DriverSet UnsupportedDrivers();

}  // namespace calvex
