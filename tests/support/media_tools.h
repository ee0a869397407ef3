// Helpers of the tests that make media with ffmpeg and compare pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace calvex::testing {

// Runs `ffmpeg -nostdin -y -v error <args>`; adds a test failure (with ffmpeg's message) when it
// fails.
bool Ffmpeg(const std::string& args);

inline constexpr const char* kFlashAviCodecs = "-c:v mjpeg -q:v 2 -c:a pcm_s16le";

// An AVI of `frames` frames at 160 x 120 and rate num/den (Motion JPEG unless `codecs` say
// otherwise): black, with a white frame every `every` frames from frame `first` on, and sound
// (16-bit PCM unless `codecs` say otherwise) at `hz` in `channels` that is silent but for a 20 ms
// beep starting exactly when each white frame starts. False (with ffmpeg's message as a test
// failure) when ffmpeg fails.
bool MakeFlashAvi(const std::string& path, int num, int den, int frames, int first, int every,
                  int hz = 44100, int channels = 2, const std::string& codecs = kFlashAviCodecs);

// Peak signal-to-noise ratio of two equal-size sets of 8-bit samples (pictures or planes), in dB:
// 1000 when they are equal, 0 when their sizes differ or they are empty.
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace calvex::testing
