// What the sources of each kind of file share, and how each kind is opened.
#pragma once

#include <functional>
#include <vector>

#include "core/wave_format.h"
#include "ui/playback/media_sources.h"

namespace calvex::ui::playback {

Status OpenAvi(const std::string& path, OpenedMedia& media);
Status OpenWav(const std::string& path, OpenedMedia& media);
Status OpenMpeg(const std::string& path, const video_decoder::ScanCallbacks& scan,
                OpenedMedia& media);

// The channels played of a file's channels: mono and stereo as they are, the first two of more.
int PlayableChannels(int channels);

// `frames` sample frames of PCM in `format` (8-bit unsigned, 16-, 24- or 32-bit signed, 32-bit
// float) as 16-bit samples in the playable channels.
void ToPlayablePcm(const std::uint8_t* bytes, std::size_t frames, const WaveFormat& format,
                   std::vector<std::int16_t>& out);

// Reads blocks of PCM in `format` with `read` (buffer, sample frames wanted in, delivered out;
// 0 at the end) and writes them to the sink as playable 16-bit PCM until the end or a refusal.
Status DeliverPcm(const WaveFormat& format, SoundSink& sink,
                  const std::function<Status(std::uint8_t*, std::int32_t&)>& read);

}  // namespace calvex::ui::playback
