#include "engine/source_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace calvex {
namespace {

template <std::size_t N>
void CopyPath(char (&field)[N], const std::string& path) {
  std::memset(field, 0, N);
  std::memcpy(field, path.data(), std::min(path.size(), N - 1));
}

template <typename Info>
Status ReadInfo(const std::function<Status(const std::string&, Info&)>& reader,
                const std::string& path, std::uint32_t size, Info& info) {
  info = Info{};
  CopyPath(info.path, path);
  info.fileSize = size;
  return reader ? reader(path, info) : kNotSupported;
}

}  // namespace

InfoReaders UnsupportedInfoReaders() {
  InfoReaders r;
  r.avi = [](const std::string&, AviInfo&) -> Status { return kNotSupported; };
  r.wav = [](const std::string&, WavInfo&) -> Status { return kNotSupported; };
  r.mpeg = [](const std::string&, MpegInfo&) -> Status { return kNotSupported; };
  r.mp2 = [](const std::string&, Mp2Info&) -> Status { return kNotSupported; };
  r.mpegAndPicture = [](const std::string&, MpegInfo&, const BitmapSink&) -> Status {
    return kNotSupported;
  };
  return r;
}

Status MakeSourceEntry(const std::string& path, const InfoReaders& readers, SourceEntry& entry) {
  const ConversionKind kind = KindByExtension(path);
  if (kind == ConversionKind::kNone) return kNotSupported;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !std::ifstream(path))
    return kOpenFailed;
  // The information blocks keep 32 bits of the size.
  const auto size = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), 0xFFFFFFFFu));

  SourceEntry e;
  e.path = path;
  e.kind = kind;
  Status status = kOk;
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      status = ReadInfo(readers.avi, path, size, e.aviInfo);
      if (status == kAviNoAudio) status = kOk;  // a silent movie is fine
      break;
    case ConversionKind::kWavToMp2:
      ReadInfo(readers.wav, path, size, e.wavInfo);
      break;
    case ConversionKind::kMpegToAvi:
      status = ReadInfo(readers.mpeg, path, size, e.mpegInfo);
      break;
    case ConversionKind::kMp2ToWav:
      ReadInfo(readers.mp2, path, size, e.mp2Info);
      break;
    case ConversionKind::kNone:
      break;
  }
  if (!IsSuccess(status)) return status;
  ApplyDefaultParams(e);
  entry = std::move(e);
  return kOk;
}

}  // namespace calvex
