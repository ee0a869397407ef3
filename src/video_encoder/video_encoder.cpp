#include "video_encoder/video_encoder.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "video_encoder/sequence_encoder.h"

namespace calvex::video {
namespace {

class FileSink : public ByteSink {
 public:
  explicit FileSink(std::FILE* f) : f_(f) {}
  ~FileSink() override {
    if (f_) std::fclose(f_);
  }
  bool Write(const std::uint8_t* data, std::size_t size) override {
    return f_ && std::fwrite(data, 1, size, f_) == size && std::fflush(f_) == 0;
  }
  bool Close() override {
    if (!f_) return false;
    const bool ok = std::fclose(f_) == 0;
    f_ = nullptr;
    return ok;
  }

 private:
  std::FILE* f_;
};

}  // namespace

Status ValidateParams(const VideoEncoderParams& p) {
  const bool ok = p.width >= 16 && p.width <= 4094 && p.height >= 16 && p.height <= 4094 &&
                  p.width % 2 == 0 && p.height % 2 == 0 && p.pictureRateCode >= 1 &&
                  p.pictureRateCode <= 8 && p.rateNum > 0 && p.rateDen > 0 && p.milliFps >= 1000 &&
                  p.bitRate >= 400 && p.pictureCount >= 1 && p.threads >= 1;
  return ok ? kOk : kNotSupported;
}

Status EncodeVideo(const VideoEncoderParams& params, PictureSource& source, EncoderEvents& events,
                   ByteSink& sink, std::vector<std::uint32_t>* index) {
  Status status = ValidateParams(params);
  if (status == kOk) {
    try {
      SequenceEncoder encoder(params, source, events, sink);
      status = encoder.Run(index);
    } catch (const std::bad_alloc&) {
      status = kNoMemory;
    } catch (const std::system_error&) {
      status = kNoMemory;  // no thread could be started
    }
  }
  const bool closed = sink.Close();
  if (status == kOk && !closed) status = kDiskFull;
  return status;
}

Status EncodeVideoFile(const VideoEncoderParams& params, PictureSource& source,
                       EncoderEvents& events, const std::string& path,
                       std::vector<std::uint32_t>* index) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return kOpenFailed;
  FileSink sink(f);
  const Status status = EncodeVideo(params, source, events, sink, index);
  // A failed output is removed; only a regular file, never a device such as /dev/full.
  std::error_code ec;
  if (status != kOk && std::filesystem::is_regular_file(path, ec))
    std::filesystem::remove(path, ec);
  return status;
}

}  // namespace calvex::video
