#include "ui/select_files/first_picture.h"

#include <vector>

#include "core/conversion_context.h"
#include "core/settings.h"
#include "media_library/media_library.h"
#include "ui/frame_view.h"
#include "video_decoder/mpeg_decoder_session.h"

namespace calvex::ui {
namespace {

QImage AviFirstPicture(const std::string& path, Status& status) {
  media::AviReader reader;
  BitmapInfoHeader format{};
  media::AviOpenInfo info;
  if ((status = reader.RAVIOpen(path, format, info)) != kOk) return {};
  std::vector<std::uint8_t> bits(format.sizeImage);
  if ((status = reader.RAVIGetFrame(0, bits.data())) != kOk) return {};
  return ImageFromBitmap(format, bits.data());
}

QImage MpegFirstPicture(const std::string& path, Status& status) {
  StandaloneContext context;
  video_decoder::MpegDecoderSession session(context.get());
  video_decoder::MpegDecodeRequest request;
  request.source = path;
  request.lastFrame = 0;
  QImage picture;
  status =
      session.ConvertMpegToAvi(request, [&](const video_decoder::DecodedFrameInfo& info, int, int) {
        if (info.bitmapHeader == nullptr || info.bitmapBits == nullptr)
          return video_decoder::kFrameGoOn;
        picture = ImageFromBitmap(*info.bitmapHeader, info.bitmapBits);
        return video_decoder::kFrameStop;
      });
  if (!IsFailure(status) && picture.isNull()) status = kMpegCorrupted;
  if (!IsFailure(status)) status = kOk;
  return picture;
}

}  // namespace

QImage FirstPicture(const std::string& path, QSize within, Status* status) {
  Status s = kNotSupported;
  QImage picture;
  switch (KindByExtension(path)) {
    case ConversionKind::kAviToMpeg:
      picture = AviFirstPicture(path, s);
      break;
    case ConversionKind::kMpegToAvi:
      picture = MpegFirstPicture(path, s);
      break;
    default:
      break;
  }
  if (status != nullptr) *status = s;
  if (picture.isNull() || !within.isValid()) return picture;
  return picture.scaled(within, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace calvex::ui
