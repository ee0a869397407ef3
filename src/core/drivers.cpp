#include "core/drivers.h"

namespace calvex {

DriverSet UnsupportedDrivers() {
  DriverSet d;
  d.aviToMpeg = [](AviToMpegJob&, ConversionContext&) -> Status { return kNotSupported; };
  d.wavToMp2 = [](WavToMp2Job&, ConversionContext&) -> Status { return kNotSupported; };
  d.mpegToAvi = [](MpegToAviJob&, ConversionContext&) -> Status { return kNotSupported; };
  d.mp2ToWav = [](Mp2ToWavJob&, ConversionContext&) -> Status { return kNotSupported; };
  d.convertToPcm = [](PcmConversionJob&, ConversionContext&) -> Status { return kNotSupported; };
  d.countFrames = [](FrameCountJob&, ConversionContext&) -> Status { return kNotSupported; };
  return d;
}

}  // namespace calvex
