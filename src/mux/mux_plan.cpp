#include "mux/mux_plan.h"

#include <algorithm>
#include <cmath>

#include "mpeg_audio/audio_tables.h"

namespace calvex::mux {

namespace {

std::int64_t CeilToInt(double x) {
  return static_cast<std::int64_t>(std::ceil(x));
}

bool ParamsUsable(std::span<const std::uint32_t> index, const MuxParams& p,
                  std::int64_t audioBytes) {
  return p.outputFrameCount >= 1 &&
         index.size() == static_cast<std::size_t>(p.outputFrameCount) + 1 && p.targetRateNum > 0 &&
         p.targetRateDen > 0 && (p.audioLayer == 1 || p.audioLayer == 2) &&
         p.audioBitrateKbps > 0 && p.audioSampleRateHz > 0 && audioBytes >= 0;
}

}  // namespace

Status PlanMultiplex(std::span<const std::uint32_t> index, const MuxParams& p,
                     std::int64_t audioBytes, MuxPlan& plan) {
  if (!ParamsUsable(index, p, audioBytes)) return kMuxInternal;
  const int n = p.outputFrameCount;
  MuxPlan m;

  m.videoPeriod = static_cast<double>(p.targetRateDen) / p.targetRateNum * kClockHz;
  m.samplesPerAudioFrame = audio::SamplesPerFrame(p.audioLayer);
  m.audioPeriod = static_cast<double>(m.samplesPerAudioFrame) / p.audioSampleRateHz * kClockHz;
  m.audioFrameBytes = m.audioPeriod * p.audioBitrateKbps / 720.0;

  for (const std::uint32_t word : index) m.videoBytes += IndexWordSize(word);
  if (m.videoBytes <= 0) return kMuxInternal;
  m.audioBytes = audioBytes;
  m.averagePicture = static_cast<double>(m.videoBytes) / n;

  // The walk follows the video buffer when data arrives at the average picture size per period
  // and each picture leaves it whole: after period i it holds i x A less the bytes of pictures
  // 0..i-1 (word i ends picture i - 1).
  const double a = m.averagePicture;
  double b = a - static_cast<double>(IndexWordSize(index[1])) - IndexWordSize(index[0]);
  m.walkMin = m.walkMax = b;
  for (int i = 2; i <= n; ++i) {
    b = b - static_cast<double>(IndexWordSize(index[static_cast<std::size_t>(i)])) + a;
    m.walkMin = std::min(m.walkMin, b);
    m.walkMax = std::max(m.walkMax, b);
  }
  m.videoBufferBound = static_cast<std::int32_t>(CeilToInt((m.walkMax - m.walkMin) / 1024.0));
  // A walk that never goes below zero needs no delay (rather than a negative one).
  m.startDelay = static_cast<std::int32_t>(
      std::max<std::int64_t>(0, CeilToInt(-m.walkMin / a * m.videoPeriod)));
  m.audioBufferBound = static_cast<std::int32_t>(
      CeilToInt(m.startDelay / m.audioPeriod * m.audioFrameBytes / 128.0));

  m.duration = m.videoPeriod * n / kClockHz;
  m.videoPackets = (m.videoBytes + kPacketDataBytes - 1) / kPacketDataBytes;
  m.audioPackets = (audioBytes + kPacketDataBytes - 1) / kPacketDataBytes;
  m.sizeEstimate = 9 * (m.videoPackets + m.audioPackets) + 18 + 25 * CeilToInt(2.0 * m.duration) +
                   m.videoBytes + audioBytes;
  const std::int64_t rate = CeilToInt(static_cast<double>(m.sizeEstimate) / m.duration / 50.0);
  if (rate < 1 || rate > 0x3FFFFF) return kMuxInternal;
  m.muxRate = static_cast<std::int32_t>(rate);
  m.audioShare = static_cast<double>(m.audioPackets) / static_cast<double>(m.videoPackets);
  m.ticksPerBit = kClockHz / (static_cast<double>(m.muxRate) * 400.0);

  // Decoding runs in coding order one period apart and display in display order: the first
  // picture shown must wait until every picture is decoded no later than it is shown.
  m.reorderDelay = 1;
  for (int k = 0; k < n; ++k)
    m.reorderDelay = std::max(m.reorderDelay, -IndexWordStep(index[static_cast<std::size_t>(k)]));

  plan = m;
  return kOk;
}

}  // namespace calvex::mux
