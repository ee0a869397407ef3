// Sources, sinks and decoders shared by the video encoder's tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "video_encoder/kernels.h"
#include "video_encoder/video_encoder.h"

namespace calvex::video::testing {

// A moving synthetic picture: gradients, a sliding bar and a square, and some noise.
// Deterministic for (width, height, n).
void SyntheticFrame(int width, int height, int n, std::uint8_t* bitmap);

// Fast, uneven motion: bands of texture panning at different speeds (some beyond the search
// ranges), a fast object, a flat area, saturated colours and grain. Deterministic.
void HighMotionFrame(int width, int height, int n, std::uint8_t* bitmap);

class SyntheticSource : public PictureSource {
 public:
  enum class Kind { kGentle, kHighMotion };
  SyntheticSource(int width, int height, Kind kind = Kind::kGentle)
      : width_(width), height_(height), kind_(kind) {}
  Status FetchPicture(int displayNumber, std::uint8_t* bitmap) override {
    fetched.push_back(displayNumber);
    if (displayNumber == failAt) return 1001;
    // With repeats = 2 every frame is shown twice, as when 15 frames per second become 30.
    const int n = displayNumber / repeats;
    if (kind_ == Kind::kHighMotion)
      HighMotionFrame(width_, height_, n, bitmap);
    else
      SyntheticFrame(width_, height_, n, bitmap);
    return kOk;
  }
  std::vector<int> fetched;
  int failAt = -1;
  int repeats = 1;

 private:
  int width_, height_;
  Kind kind_;
};

// Frames of raw top-down bgr24 video (as ffmpeg writes them), delivered as bottom-up bitmaps.
class RawVideoSource : public PictureSource {
 public:
  RawVideoSource(int width, int height, std::vector<std::uint8_t> raw)
      : width_(width), height_(height), raw_(std::move(raw)) {}
  int frameCount() const {
    return static_cast<int>(raw_.size() / (static_cast<std::size_t>(width_) * height_ * 3));
  }
  Status FetchPicture(int displayNumber, std::uint8_t* bitmap) override;

 private:
  int width_, height_;
  std::vector<std::uint8_t> raw_;
};

// Generates `frames` frames of a lavfi source (a filter graph such as "testsrc2=...") as raw
// bgr24 with ffmpeg. Empty on failure.
std::vector<std::uint8_t> GenerateRawVideo(const std::string& lavfi, int width, int height,
                                           int frames);

class MemorySink : public ByteSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (failAfter >= 0 && bytes.size() + size > static_cast<std::size_t>(failAfter)) return false;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool Close() override {
    closed = true;
    return !failClose;
  }
  std::vector<std::uint8_t> bytes;
  long failAfter = -1;
  bool failClose = false;
  bool closed = false;
};

// The cropped 4:2:0 reconstruction of each picture, by display number.
struct Yuv420 {
  int width = 0, height = 0;
  std::vector<std::uint8_t> y, cb, cr;
};

class RecordingEvents : public EncoderEvents {
 public:
  bool PictureFetched(const FetchedPicture& p) override {
    fetchedOrder.push_back(p.displayNumber);
    return cancelAtFetch >= 0 && static_cast<int>(fetchedOrder.size()) > cancelAtFetch;
  }
  bool PollCancel() override { return ++polls > cancelAtPoll && cancelAtPoll >= 0; }
  bool WantsBPictures() const override { return keepPictures; }
  void PictureReconstructed(int displayNumber, int pictureType, const PictureBuffer& b) override;

  bool keepPictures = false;
  std::vector<int> fetchedOrder;
  std::vector<int> types;  // picture type by coding order
  std::map<int, Yuv420> pictures;
  int cancelAtFetch = -1;
  int cancelAtPoll = -1;
  int polls = 0;
};

VideoEncoderParams MakeParams(int width, int height, int pictures, int frameRateIndex = 0,
                              std::uint32_t bitRate = 1152000);

// Decodes an elementary stream with ffmpeg into yuv420p frames of width x height. `log` gets
// what ffmpeg printed.
std::vector<Yuv420> DecodeWithFfmpeg(const std::string& path, int width, int height,
                                     std::string* log);

// PSNR of two pictures over all three planes (99 for identical).
double Psnr(const Yuv420& a, const Yuv420& b);

std::string Md5Hex(const std::vector<std::uint8_t>& bytes);

// The SSE2 kernels, and the AVX2 and AVX-512 ones where the processor runs them (saying which it
// lacks).
std::vector<const Kernels*> VectorKernels();

}  // namespace calvex::video::testing
