// Helpers of the tests that make media with ffmpeg and compare pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace calvex::testing {

// Runs `ffmpeg -nostdin -y -v error <args>`; adds a test failure (with ffmpeg's message) when it
// fails.
bool Ffmpeg(const std::string& args);

// Peak signal-to-noise ratio of two equal-size sets of 8-bit samples (pictures or planes), in dB:
// 1000 when they are equal, 0 when their sizes differ or they are empty.
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace calvex::testing
