// Lookup tables that decode the MPEG-1 video variable-length codes from peeked bits, built from the
// code tables shared with the encoder (mpeg_video/video_tables.h).
#pragma once

#include <array>
#include <cstdint>

namespace calvex::video_decoder {

// A decoded code: its value and its length in bits; length 0 marks bits that start no code.
struct VlcEntry {
  std::int8_t value;
  std::uint8_t length;
};

// dct_coeff_first / dct_coeff_next: run (0..31), level (1..40) and the code length without the
// sign bit. Runs kEndOfBlock and kEscape mark those codes.
struct CoeffEntry {
  std::uint8_t run;
  std::uint8_t level;
  std::uint8_t length;
};

inline constexpr int kAddressEscape = 34;    // adds 33
inline constexpr int kAddressStuffing = 35;  // skipped
inline constexpr std::uint8_t kEndOfBlock = 62;
inline constexpr std::uint8_t kEscape = 61;

struct VlcTables {
  std::array<VlcEntry, 2048> addressIncrement;  // 11 bits
  std::array<VlcEntry, 4> typeI;                // 2 bits; value = macroblock_type flags
  std::array<VlcEntry, 64> typeP;               // 6 bits
  std::array<VlcEntry, 64> typeB;               // 6 bits
  std::array<VlcEntry, 2048> motionCode;        // 11 bits; magnitude, the sign bit follows
  std::array<VlcEntry, 512> codedBlockPattern;  // 9 bits
  std::array<VlcEntry, 128> dcSizeLuminance;    // 7 bits
  std::array<VlcEntry, 256> dcSizeChrominance;  // 8 bits
  // Coefficient codes whose first byte is 4 or more (at most 8 bits, and the escape), by that byte.
  std::array<CoeffEntry, 256> coeffShort;
  // Codes that begin with six zero bits (10 to 16 bits), by the 10 bits after those zeros.
  std::array<CoeffEntry, 1024> coeffLong;
};

const VlcTables& DecodeTables();

}  // namespace calvex::video_decoder
