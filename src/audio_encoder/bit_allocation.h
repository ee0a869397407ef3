// Frame parameters, scale factors, scale-factor selection, the joint-stereo decision, bit
// allocation and quantisation of the Layer I and Layer II encoders (ISO/IEC 11172-3 Annex C), with
// the tie rules and arithmetic the encoder's output depends on.
#pragma once

#include <array>
#include <cstdint>

#include "mpeg_audio/audio_tables.h"
#include "mpeg_audio/frame_header.h"

namespace calvex::audio {

// What the frame loop knows about the frames it codes. DeriveFrameParams fills stereo, sblimit,
// jsbound and the Layer II table from the header; the joint-stereo decision rewrites the header's
// mode and mode_ext and jsbound per frame.
struct FrameParams {
  FrameHeader header;
  int actualMode = kModeStereo;  // the mode requested for every frame
  const AllocationTable* alloc = nullptr;
  int tableNumber = -1;
  int stereo = 2;
  int jsbound = 32;
  int sblimit = 32;
};

template <typename T>
using PerSubband = std::array<T, 32>;
// [part 0..2][block 0..11][subband] of one channel (Layer I uses part 0).
using ChannelSamples = std::array<std::array<PerSubband<double>, 12>, 3>;
using SubbandSamples = std::array<ChannelSamples, 2>;
// Scale factor indices [part][subband] of one channel.
using ChannelScaleFactors = std::array<PerSubband<int>, 3>;
using ScaleFactorIndices = std::array<ChannelScaleFactors, 2>;
// Allocation, or scale-factor selection, per channel and subband.
using ChannelSubbandValues = std::array<PerSubband<int>, 2>;
using SignalToMask = std::array<PerSubband<double>, 2>;
using QuantisedSamples = std::array<std::array<std::array<PerSubband<std::uint32_t>, 12>, 3>, 2>;

// The bitrate index coded for a request of `kbps` (mode: the header mode, 3 = single channel).
int BitrateIndexFor(int layer, int mode, int kbps);

// Fills stereo, actualMode, sblimit, jsbound and (Layer II) the allocation table from the header.
void DeriveFrameParams(FrameParams& fp);

// Scale factor indices of `parts` parts below `sblimit`: the largest j from 62 down with
// multiple[j] >= the largest magnitude of the 12 samples (0 when none). With `fillAbove`, subbands
// from sblimit up get 63 (Layer II).
void ScaleFactors(const ChannelSamples& samples, ChannelScaleFactors& result, int parts,
                  int sblimit, bool fillAbove);

// The (L + R) / 2 signal of joint-stereo frames.
void CombineJointStereo(const SubbandSamples& samples, ChannelSamples& joint, int parts,
                        int sblimit);

// Layer II scale-factor selection: per channel and subband below sblimit, the selection value
// 0..3 chosen from the differences of the three parts' indices, and the indices rewritten to what
// is transmitted.
void TransmissionPattern(ScaleFactorIndices& scale, ChannelSubbandValues& selection,
                         const FrameParams& fp);

// Bits a frame needs so that every subband's noise stays below its mask.
int BitsForNoNoiseLayer1(const SignalToMask& smr, const FrameParams& fp);
int BitsForNoNoiseLayer2(const SignalToMask& smr, const ChannelSubbandValues& selection,
                         const FrameParams& fp);

// For frames coded in joint-stereo mode: plain stereo when its need fits `availableBits`, else
// joint stereo with the highest bound that fits (bound 4 when none does). Sets the header's mode,
// mode_ext and fp.jsbound.
void ChooseJointStereoBound(const SignalToMask& smr, const ChannelSubbandValues& selection,
                            int availableBits, FrameParams& fp);

// Distributes the frame's bits, raising the subband with the smallest mask-to-noise ratio while
// bits remain. `availableBits` is reduced by the header, the allocation fields and what is spent.
void AllocateBitsLayer1(const SignalToMask& smr, ChannelSubbandValues& allocation,
                        int& availableBits, const FrameParams& fp);
void AllocateBitsLayer2(const SignalToMask& smr, const ChannelSubbandValues& selection,
                        ChannelSubbandValues& allocation, int& availableBits,
                        const FrameParams& fp);

// Quantises every allocated sample (joint subbands of two-channel frames from the joint signal,
// into channel 0). Values never exceed the quantiser's largest code.
void QuantiseLayer1(const ScaleFactorIndices& scale, const SubbandSamples& samples,
                    const ChannelScaleFactors& jointScale, const ChannelSamples& joint,
                    const ChannelSubbandValues& allocation, QuantisedSamples& result,
                    const FrameParams& fp);
void QuantiseLayer2(const ScaleFactorIndices& scale, const SubbandSamples& samples,
                    const ChannelScaleFactors& jointScale, const ChannelSamples& joint,
                    const ChannelSubbandValues& allocation, QuantisedSamples& result,
                    const FrameParams& fp);

// One sample: d = sample / scale factor, then d x a + b, the sign flag, and the value truncated
// to n bits with bit n carrying the sign flag, held below `steps`.
std::uint32_t QuantiseSample(double sample, double scaleFactor, double a, double b, int n,
                             std::uint32_t steps);

}  // namespace calvex::audio
