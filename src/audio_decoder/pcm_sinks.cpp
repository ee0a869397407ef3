#include "audio_decoder/pcm_sinks.h"

#include <filesystem>

namespace calvex::audio_decoder {
namespace {

constexpr std::size_t kWriteBlock = 65536;

}  // namespace

void RemoveRegularFile(const std::string& path) {
  std::error_code ec;
  if (!path.empty() && std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)))
    std::filesystem::remove(path, ec);
}

// ---------------------------------------------------------------------------------------------
// WAV file

Status WavFileSink::Begin(const AudioDescription& stream, const WaveFormat&) {
  return writer_.myWAVOutputBegin(path_, format_, stream.sampleRate, 16, stream.channels);
}

Status WavFileSink::Write(const std::int16_t* samples, std::int32_t count) {
  return writer_.myWAVOutput(samples, count) == kOk ? kOk : kDiskFull;
}

Status WavFileSink::End() {
  const Status s = writer_.myWAVOutputEnd();
  return s == kWavWriteFailed ? kDiskFull : s;
}

void WavFileSink::Discard() {
  RemoveRegularFile(path_);
}

// ---------------------------------------------------------------------------------------------
// Temporary PCM file

TemporaryFileSink::TemporaryFileSink(std::string path, const AudioOutputOptions& options)
    : path_(std::move(path)),
      divisor_(options.rateDivisor > 0 ? options.rateDivisor : 1),
      eightBit_(options.bitsPerSample <= 8) {
  bytes_.reserve(kWriteBlock + 8);
}

TemporaryFileSink::~TemporaryFileSink() {
  if (file_ != nullptr) std::fclose(file_);
}

Status TemporaryFileSink::Begin(const AudioDescription& stream, const WaveFormat&) {
  channels_ = stream.channels == 1 ? 1 : 2;
  file_ = std::fopen(path_.c_str(), "wb");
  return file_ != nullptr ? kOk : kTempCreateFailed;
}

bool TemporaryFileSink::FlushBytes() {
  if (bytes_.empty() || failed_) return !failed_;
  if (std::fwrite(bytes_.data(), 1, bytes_.size(), file_) != bytes_.size()) failed_ = true;
  written_ += static_cast<std::int64_t>(bytes_.size());
  bytes_.clear();
  return !failed_;
}

Status TemporaryFileSink::Write(const std::int16_t* samples, std::int32_t count) {
  if (file_ == nullptr || failed_) return kDiskFull;
  for (std::int32_t i = 0; i < count; ++i) {
    sums_[partial_] += samples[i];
    if (++partial_ < channels_) continue;
    partial_ = 0;
    if (++grouped_ < divisor_) continue;
    grouped_ = 0;
    for (int ch = 0; ch < channels_; ++ch) {
      // Integer division truncates toward zero.
      const auto v = static_cast<std::int32_t>(sums_[ch] / divisor_);
      sums_[ch] = 0;
      if (eightBit_) {
        bytes_.push_back(static_cast<std::uint8_t>((v >> 8) + 128));
      } else {
        bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes_.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
      }
    }
    if (bytes_.size() >= kWriteBlock && !FlushBytes()) return kDiskFull;
  }
  return kOk;
}

Status TemporaryFileSink::End() {
  if (file_ == nullptr) return kDiskFull;
  const bool flushed = FlushBytes();
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed ? kOk : kDiskFull;
}

void TemporaryFileSink::Discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  RemoveRegularFile(path_);
}

}  // namespace calvex::audio_decoder
