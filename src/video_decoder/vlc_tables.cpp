#include "video_decoder/vlc_tables.h"

#include "mpeg_video/video_tables.h"

namespace calvex::video_decoder {

namespace {

namespace vt = calvex::video_tables;

// Enters `entry` at every index of a `bits`-bit table whose top bits are the code.
template <typename Entry, std::size_t N>
void Fill(std::array<Entry, N>& table, int bits, vt::Vlc code, Entry entry) {
  const int free = bits - code.length;
  const std::size_t first = static_cast<std::size_t>(code.bits) << free;
  for (std::size_t i = 0; i < (std::size_t{1} << free); ++i) table[first + i] = entry;
}

template <std::size_t N, std::size_t M>
void FillTypes(std::array<VlcEntry, N>& table, int bits,
               const std::array<vt::MacroblockTypeCode, M>& codes) {
  for (const auto& c : codes) {
    Fill(table, bits, c.code, VlcEntry{static_cast<std::int8_t>(c.flags), c.code.length});
  }
}

void FillCoefficient(VlcTables& t, vt::Vlc code, CoeffEntry entry) {
  if (code.length <= 8) {
    Fill(t.coeffShort, 8, code, entry);
  } else {
    // Drop the six leading zeros.
    Fill(t.coeffLong, 10, vt::Vlc{code.bits, static_cast<std::uint8_t>(code.length - 6)}, entry);
  }
}

VlcTables Build() {
  VlcTables t{};
  for (int i = 1; i <= 33; ++i) {
    const auto code = vt::kMacroblockAddressIncrement[i];
    Fill(t.addressIncrement, 11, code, VlcEntry{static_cast<std::int8_t>(i), code.length});
  }
  Fill(t.addressIncrement, 11, vt::kMacroblockEscape, VlcEntry{kAddressEscape, 11});
  Fill(t.addressIncrement, 11, vt::kMacroblockStuffing, VlcEntry{kAddressStuffing, 11});
  FillTypes(t.typeI, 2, vt::kMacroblockTypeI);
  FillTypes(t.typeP, 6, vt::kMacroblockTypeP);
  FillTypes(t.typeB, 6, vt::kMacroblockTypeB);
  for (int i = 0; i <= 16; ++i) {
    const auto code = vt::kMotionCode[i];
    Fill(t.motionCode, 11, code, VlcEntry{static_cast<std::int8_t>(i), code.length});
  }
  for (int i = 1; i < 64; ++i) {
    const auto code = vt::kCodedBlockPattern[i];
    Fill(t.codedBlockPattern, 9, code, VlcEntry{static_cast<std::int8_t>(i), code.length});
  }
  for (int i = 0; i <= 8; ++i) {
    const auto l = vt::kDctDcSizeLuminance[i];
    Fill(t.dcSizeLuminance, 7, l, VlcEntry{static_cast<std::int8_t>(i), l.length});
    const auto c = vt::kDctDcSizeChrominance[i];
    Fill(t.dcSizeChrominance, 8, c, VlcEntry{static_cast<std::int8_t>(i), c.length});
  }
  for (const auto& c : vt::kDctCoeff)
    FillCoefficient(t, c.code, CoeffEntry{c.run, c.level, c.code.length});
  FillCoefficient(t, vt::kEndOfBlock, CoeffEntry{kEndOfBlock, 0, vt::kEndOfBlock.length});
  FillCoefficient(t, vt::kDctEscape, CoeffEntry{kEscape, 0, vt::kDctEscape.length});
  return t;
}

}  // namespace

const VlcTables& DecodeTables() {
  // Built once from the shared code tables, read-only afterwards.
  static const VlcTables tables = Build();
  return tables;
}

}  // namespace calvex::video_decoder
