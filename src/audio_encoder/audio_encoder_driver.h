// The audio encoder's conversion driver: WAV files, the audio track of an AVI (or the raw PCM file
// the dispatcher converted it into) to an MPEG-1 Layer I/II file. It reads through the media layer,
// reports progress (kind 1, audio) and takes cancels through the ConversionContext, raises the
// run's disk-full flag when the destination cannot be written, and leaves no destination file
// behind when it fails or is cancelled.
//
// Link target: calvex_audio_encoder_driver.
#pragma once

#include <string>

#include "core/conversion_context.h"
#include "core/drivers.h"
#include "core/settings.h"
#include "core/status.h"

namespace calvex {

// Source kinds of EncodeMpegAudio.
inline constexpr int kAudioSourceAvi = 1;
inline constexpr int kAudioSourceWave = 2;
// Stereo silence at 44.1 kHz lasting the settings' pictures (a Video CD of a silent movie).
inline constexpr int kAudioSourceSilence = 3;

// Encodes `source` into `destination`. Kind 2: a WAV file. Any other kind: the audio of the AVI
// `source` (the marked section of `settings` when it has one), or, when settings->pcmTempPath is
// set, that raw PCM file in the format of settings->aviInfo (107 when it cannot be opened).
// `params` holds the request on entry and the coded bitrate and sampling rate on return.
// Returns 0, 1 (cancelled), the source's own failure code, 118, 119, 120, 102, 100 or 147.
Status EncodeMpegAudio(const std::string& source, const std::string& destination,
                       AudioEncodeParams& params, int sourceKind,
                       const ConversionSettings* settings, ConversionContext& context);

// WAV to MP2: EncodeMpegAudio with kind 2.
Status EncodeWaveToMpegAudio(const std::string& source, const std::string& destination,
                             AudioEncodeParams& params, ConversionContext& context);

// The WAV to MP2 driver of the DriverSet.
Status ConvertWavToMp2(WavToMp2Job& job, ConversionContext& context);

}  // namespace calvex
