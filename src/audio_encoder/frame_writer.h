// Writes one Layer I or Layer II frame body after its header, in the order of the ISO/IEC 11172-3
// frame syntax (no CRC: the encoder codes without error protection).
#pragma once

#include "audio_encoder/bit_allocation.h"
#include "mpeg_audio/bit_stream.h"

namespace calvex::audio {

// Allocation, scale factors and samples of a Layer I frame.
void WriteLayer1Body(BitStream& out, const ChannelSubbandValues& allocation,
                     const ScaleFactorIndices& scale, const QuantisedSamples& samples,
                     const FrameParams& fp);

// Allocation, scale-factor selection, scale factors and samples (grouped in threes where the
// quantiser says so) of a Layer II frame.
void WriteLayer2Body(BitStream& out, const ChannelSubbandValues& allocation,
                     const ChannelSubbandValues& selection, const ScaleFactorIndices& scale,
                     const QuantisedSamples& samples, const FrameParams& fp);

}  // namespace calvex::audio
