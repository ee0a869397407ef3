#include "video_decoder/dsp.h"

#include "video_decoder/colour_conversion.h"
#include "video_decoder/idct.h"
#include "video_decoder/motion_compensation.h"

namespace calvex::video_decoder {

namespace {

template <typename Table>
constexpr void CopyPredict(PredictFn (&to)[2][2][4], const Table& from) {
  for (int a = 0; a < 2; ++a) {
    for (int s = 0; s < 2; ++s) {
      for (int m = 0; m < 4; ++m) to[a][s][m] = from[a][s][m];
    }
  }
}

DecoderDsp MakeReference() {
  DecoderDsp d{};
  d.name = "reference";
  d.idct = InverseDctReference;
  d.idctPut = IdctPutReference;
  d.idctAdd = IdctAddReference;
  d.singlePut = SinglePutReference;
  d.singleAdd = SingleAddReference;
  CopyPredict(d.predict, kPredictReference);
  d.convertRowPair = ConvertRowPairReference;
  return d;
}

DecoderDsp MakeSse2() {
  DecoderDsp d{};
  d.name = "sse2";
  d.idct = InverseDctSse2;
  d.idctPut = IdctPutSse2;
  d.idctAdd = IdctAddSse2;
  d.singlePut = SinglePutSse2;
  d.singleAdd = SingleAddSse2;
  CopyPredict(d.predict, kPredictSse2);
  d.convertRowPair = ConvertRowPairSse2;
  return d;
}

DecoderDsp MakeAvx2() {
  DecoderDsp d = MakeSse2();
  d.name = "avx2";
  d.convertRowPair = ConvertRowPairAvx2;
  return d;
}

}  // namespace

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

const DecoderDsp& ReferenceDsp() {
  static const DecoderDsp dsp = MakeReference();
  return dsp;
}

const DecoderDsp& Sse2Dsp() {
  static const DecoderDsp dsp = MakeSse2();
  return dsp;
}

const DecoderDsp& Avx2Dsp() {
  static const DecoderDsp dsp = MakeAvx2();
  return dsp;
}

const DecoderDsp& SelectDsp(DspLevel level) {
  switch (level) {
    case DspLevel::kReference:
      return ReferenceDsp();
    case DspLevel::kSse2:
      return Sse2Dsp();
    case DspLevel::kAvx2:
    case DspLevel::kBest:
      return CpuHasAvx2() ? Avx2Dsp() : Sse2Dsp();
  }
  return Sse2Dsp();
}

}  // namespace calvex::video_decoder
