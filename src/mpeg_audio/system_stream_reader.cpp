#include "mpeg_audio/system_stream_reader.h"

#include <algorithm>

#include "mpeg_audio/bit_stream.h"

namespace calvex::audio {

SystemStreamReader::SystemStreamReader() = default;
SystemStreamReader::~SystemStreamReader() = default;

bool SystemStreamReader::IsOpen() const {
  return stream_ != nullptr && stream_->IsOpen();
}

std::int64_t SystemStreamReader::FileBytesRead() const {
  return stream_ != nullptr ? stream_->SourceBytesRead() : 0;
}

Status SystemStreamReader::OpenSystemStreamReader(const std::string& path, PacketKind kind) {
  CloseSystemStreamReader();
  stream_ = std::make_unique<BitStream>();
  if (Status s = stream_->OpenBitStreamRead(path, BitStream::kBufferSize); s != kOk) {
    stream_.reset();
    return s;
  }
  return Start(kind);
}

Status SystemStreamReader::OpenSystemStreamReaderBytes(std::vector<std::uint8_t> bytes,
                                                       PacketKind kind) {
  CloseSystemStreamReader();
  stream_ = std::make_unique<BitStream>();
  if (Status s = stream_->OpenBitStreamReadBytes(std::move(bytes)); s != kOk) {
    stream_.reset();
    return s;
  }
  return Start(kind);
}

Status SystemStreamReader::Start(PacketKind kind) {
  kind_ = kind;
  dataLeft_ = 0;
  streamId_ = 0;
  chosenId_ = 0;
  ended_ = false;
  // The stream must open with a pack; its start code prefix is consumed here.
  if (!stream_->SeekSync(kStartCodePrefix, 24) || stream_->LookBits(8) != kPackStartCode ||
      !NextWantedPacket(true)) {
    CloseSystemStreamReader();
    return kNotMpeg;
  }
  return kOk;
}

void SystemStreamReader::CloseSystemStreamReader() {
  if (stream_) stream_->CloseBitStreamRead();
  stream_.reset();
  dataLeft_ = 0;
  ended_ = true;
}

bool SystemStreamReader::NextWantedPacket(bool prefixConsumed) {
  for (;;) {
    if (!prefixConsumed && !stream_->SeekSync(kStartCodePrefix, 24)) return false;
    prefixConsumed = false;
    const std::uint32_t code = stream_->GetBits(8);
    if (stream_->EndOfStream()) return false;
    if (code == kPackStartCode) {
      stream_->SkipBits(64);
    } else if (code == kSystemHeaderStartCode) {
      stream_->SkipBits(64);
      // Stream entries: 24 bits each, recognised by their first bit. The first header lists the
      // streams: the lowest id of the kind is the one to read.
      std::uint32_t lowest = 0;
      while (stream_->LookBits(1) == 1 && !stream_->EndOfStream()) {
        const std::uint32_t id = stream_->GetBits(8);
        stream_->SkipBits(16);
        if (IsOfKind(id) && (lowest == 0 || id < lowest)) lowest = id;
      }
      if (chosenId_ == 0) chosenId_ = lowest;
    } else {
      // Without a listed stream, the first packet of the kind chooses.
      const bool wanted = IsOfKind(code) && (chosenId_ == 0 || code == chosenId_);
      const auto length = static_cast<std::int32_t>(stream_->GetBits(16));
      if (!wanted) {
        stream_->SkipBits(std::int64_t{length} * 8);
        continue;
      }
      chosenId_ = code;
      std::int32_t left = length;
      // Stuffing bytes (0xFF) while the next bit is 1, at most as many as the packet holds.
      while (left > 0 && stream_->LookBits(1) == 1) {
        stream_->SkipBits(8);
        --left;
      }
      if (stream_->LookBits(2) == 1) {  // '01': STD buffer scale and size
        stream_->SkipBits(16);
        left -= 2;
      }
      const std::uint32_t marker = stream_->LookBits(4);
      if (marker == 2) {  // '0010': PTS
        stream_->SkipBits(40);
        left -= 5;
      } else if (marker == 3) {  // '0011': PTS and DTS
        stream_->SkipBits(80);
        left -= 10;
      } else {  // '0000 1111': neither
        stream_->SkipBits(8);
        left -= 1;
      }
      if (stream_->EndOfStream()) return false;
      // A header that claims more than its packet holds leaves no data; the packet's bytes that
      // the header overran are already consumed and the parser resynchronises on the next prefix.
      dataLeft_ = std::max(left, 0);
      streamId_ = code;
      if (dataLeft_ > 0) return true;
    }
    if (stream_->EndOfStream()) return false;
  }
}

bool SystemStreamReader::IsOfKind(std::uint32_t id) const {
  return kind_ == PacketKind::kAudio ? IsAudioStreamId(id) : IsVideoStreamId(id);
}

std::size_t SystemStreamReader::ReadSystemStreamData(std::uint8_t* buffer, std::size_t count) {
  if (!IsOpen() || ended_) return 0;
  std::size_t copied = 0;
  while (copied < count) {
    if (dataLeft_ == 0 && !NextWantedPacket()) {
      ended_ = true;
      break;
    }
    const std::size_t take = std::min(count - copied, static_cast<std::size_t>(dataLeft_));
    const std::size_t real = stream_->GetBytes(buffer + copied, take);
    copied += real;
    dataLeft_ -= static_cast<std::int32_t>(take);
    if (real < take) {  // the file ended inside the packet
      ended_ = true;
      break;
    }
  }
  return copied;
}

namespace {

Status CheckSystemStreamStart(BitStream& in) {
  if (!in.SeekSync(kStartCodePrefix, 24) || in.GetBits(8) != kPackStartCode || in.EndOfStream())
    return kNotMpeg;
  if (in.GetBits(4) != 2) return kVideoDataError;
  in.SkipBits(60);
  if (in.GetBits(32) != 0x000001BBu || in.EndOfStream()) return kVideoDataError;
  return kOk;
}

}  // namespace

Status IsSystemStreamFile(const std::string& path) {
  BitStream in;
  if (Status s = in.OpenBitStreamRead(path, BitStream::kBufferSize); s != kOk) return s;
  return CheckSystemStreamStart(in);
}

Status IsSystemStreamBytes(std::vector<std::uint8_t> bytes) {
  BitStream in;
  if (Status s = in.OpenBitStreamReadBytes(std::move(bytes)); s != kOk) return s;
  return CheckSystemStreamStart(in);
}

}  // namespace calvex::audio
