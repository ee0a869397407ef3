#include "video_decoder/mpeg_scanner.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "video_decoder/decode_control.h"
#include "video_decoder/mpeg_file_reader.h"
#include "video_decoder/start_code_scanner.h"
#include "video_decoder/video_packets.h"

namespace calvex::video_decoder {
namespace {

constexpr std::uint8_t kPictureStartCode = 0x00;
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;
constexpr std::uint8_t kGroupStartCode = 0xB8;

constexpr std::size_t kMinimumFileBytes = 128;
constexpr std::size_t kElementaryBlockBytes = 10240;
constexpr std::size_t kEstimateBlockBytes = 4096;
constexpr std::int64_t kEstimateTailBytes = 200000;
constexpr std::int64_t kLargestOffset = std::numeric_limits<std::int32_t>::max();

bool StartsWithPack(const std::vector<std::uint8_t>& start) {
  return start.size() >= 4 && start[0] == 0 && start[1] == 0 && start[2] == 1 && start[3] == 0xBA;
}

// Feeds a file to `handler` through one start-code search: a video elementary stream from
// `from` to the end in blocks of `blockBytes`, or the data of the video packets of a system
// stream from the first start code at or after `from`. Stops early when `stop()` says so.
template <typename Handler, typename Stop>
void FeedFile(MpegFileReader& file, bool systemStream, std::int64_t from, std::size_t blockBytes,
              Handler& handler, Stop stop) {
  StartCodeScanner scanner;
  std::vector<std::uint8_t> buffer(systemStream ? 65536 : blockBytes);
  if (!systemStream) {
    if (!file.Seek(from)) return;
    while (!stop()) {
      const std::int64_t position = file.Position();
      const std::size_t n = file.Read(buffer.data(), buffer.size());
      if (n == 0) break;
      scanner.Feed(buffer.data(), n, ByteLocation{0, position}, handler);
    }
    return;
  }
  VideoPacketWalker walker(file);
  walker.Restart(from);
  VideoPacket packet;
  while (!stop() && walker.Next(packet)) {
    handler.EnterPacket(packet);
    const std::size_t n = file.Read(buffer.data(), static_cast<std::size_t>(packet.payloadLength));
    scanner.Feed(buffer.data(), n, ByteLocation{packet.position, 0}, handler);
  }
}

// Builds the picture index: an entry at every group start code, its first frame from the
// temporal_reference of the picture that follows.
class IndexBuilder {
 public:
  IndexBuilder(GopIndex& index, const ScanCallbacks& callbacks, std::int64_t fileSize,
               bool systemStream)
      : index_(index), callbacks_(callbacks), fileSize_(fileSize), systemStream_(systemStream) {}

  void EnterPacket(const VideoPacket& packet) {
    packetEnd_ = packet.position + packet.payloadLength;
  }

  int StartCode(std::uint8_t value, const ByteLocation& at) {
    if (Stop()) return 0;
    if (value == kPictureStartCode) {
      const std::int32_t before = pictures_;
      if (pictures_ < std::numeric_limits<std::int32_t>::max()) ++pictures_;
      if (callbacks_.cancelled && callbacks_.cancelled()) cancelled_ = true;
      if (!groupPending_) return 0;
      groupPending_ = false;
      pictureBase_ = before;
      return 2;  // temporal_reference: 10 bits
    }
    if (value == kGroupStartCode) AddGroup(at);
    return 0;
  }

  void Following(std::uint8_t value, const std::uint8_t* bytes) {
    if (value != kPictureStartCode) return;
    const int temporalReference = (bytes[0] << 2) | (bytes[1] >> 6);
    index_.SetFirstFrame(group_, temporalReference + pictureBase_);
  }

  bool Stop() const { return cancelled_ || full_; }
  bool cancelled() const { return cancelled_; }
  std::int32_t pictures() const { return pictures_; }

 private:
  void AddGroup(const ByteLocation& at) {
    groupPending_ = false;
    if (at.offset > kLargestOffset || at.packetPosition > kLargestOffset) return;  // not recorded
    ++group_;
    if (!index_.AddGroup(group_, pictures_, static_cast<std::int32_t>(at.offset),
                         static_cast<std::int32_t>(at.packetPosition))) {
      --group_;
      full_ = true;
      return;
    }
    groupPending_ = true;
    if (callbacks_.progress && fileSize_ > 0) {
      const std::int64_t position = systemStream_ ? packetEnd_ : at.offset;
      callbacks_.progress(
          static_cast<int>(std::min<std::int64_t>(position, fileSize_) * 1000 / fileSize_));
    }
  }

  GopIndex& index_;
  const ScanCallbacks& callbacks_;
  std::int64_t fileSize_;
  bool systemStream_;
  std::int64_t packetEnd_ = 0;
  std::int32_t pictures_ = 0;
  std::int32_t pictureBase_ = 0;
  std::int32_t group_ = -1;
  bool groupPending_ = false;
  bool cancelled_ = false;
  bool full_ = false;
};

// The picture rate code of the first sequence header and the time code of the first group.
class FirstGroupFinder {
 public:
  void EnterPacket(const VideoPacket&) {}
  int StartCode(std::uint8_t value, const ByteLocation&) {
    return value == kSequenceHeaderCode || value == kGroupStartCode ? 4 : 0;
  }
  void Following(std::uint8_t value, const std::uint8_t* bytes) {
    if (value == kSequenceHeaderCode && pictureRateCode == 0) pictureRateCode = bytes[3] & 0x0F;
    if (value == kGroupStartCode && !found) {
      found = true;
      frames = GroupTimeCodeFrames(bytes, pictureRateCode);
    }
  }
  int pictureRateCode = 0;
  bool found = false;
  std::int32_t frames = 0;
};

// The running frame value: a group sets it to the frames of its time code, a picture adds one.
class FrameCounter {
 public:
  explicit FrameCounter(int pictureRateCode) : pictureRateCode_(pictureRateCode) {}
  void EnterPacket(const VideoPacket&) {}
  int StartCode(std::uint8_t value, const ByteLocation&) {
    if (value == kPictureStartCode) ++running;
    if (value != kGroupStartCode) return 0;
    sawGroup = true;
    return 4;
  }
  void Following(std::uint8_t value, const std::uint8_t* bytes) {
    if (value == kGroupStartCode) running = GroupTimeCodeFrames(bytes, pictureRateCode_);
  }
  std::int64_t running = 0;
  bool sawGroup = false;

 private:
  int pictureRateCode_;
};

std::int32_t ClampFrames(std::int64_t frames) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(frames, 0, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::int32_t GroupTimeCodeFrames(const std::uint8_t* b, int pictureRateCode) {
  const int hours = (b[0] >> 2) & 0x1F;
  const int minutes = ((b[0] & 0x03) << 4) | (b[1] >> 4);
  const int seconds = ((b[1] & 0x07) << 3) | (b[2] >> 5);
  const int pictures = ((b[2] & 0x1F) << 1) | (b[3] >> 7);
  const FrameRate rate = FrameRateForCode(pictureRateCode);
  const double fps = static_cast<double>(rate.rate) / static_cast<double>(rate.scale);
  return static_cast<std::int32_t>(fps * ((hours * 60 + minutes) * 60 + seconds)) + pictures;
}

Status ScanMpegFile(const std::string& path, GopIndex& index, const ScanCallbacks& callbacks) {
  index.Reset();
  const std::vector<std::uint8_t> start = ReadFileStart(path, kMinimumFileBytes);
  if (start.size() < kMinimumFileBytes) return kOk;
  MpegFileReader file;
  if (file.Open(path) != kOk) return kOk;
  const bool systemStream = StartsWithPack(start);
  IndexBuilder builder(index, callbacks, file.Size(), systemStream);
  FeedFile(file, systemStream, 0, kElementaryBlockBytes, builder, [&] { return builder.Stop(); });
  index.setFrameCount(builder.pictures());
  return builder.cancelled() ? kCancelled : kOk;
}

int FirstPictureRateCode(const std::string& path) {
  const std::vector<std::uint8_t> start = ReadFileStart(path, 4);
  MpegFileReader file;
  if (file.Open(path) != kOk) return 0;
  FirstGroupFinder first;
  FeedFile(file, StartsWithPack(start), 0, kEstimateBlockBytes, first,
           [&] { return first.found || first.pictureRateCode != 0; });
  return first.pictureRateCode;
}

std::int32_t EstimateMpegFrameCount(const std::string& path) {
  const std::vector<std::uint8_t> start = ReadFileStart(path, kMinimumFileBytes);
  if (start.size() < kMinimumFileBytes) return 0;
  MpegFileReader file;
  if (file.Open(path) != kOk) return 0;
  const bool systemStream = StartsWithPack(start);

  FirstGroupFinder first;
  FeedFile(file, systemStream, 0, kEstimateBlockBytes, first, [&] { return first.found; });
  if (systemStream && !first.found) return 0;

  const std::int64_t tail = std::max<std::int64_t>(0, file.Size() - kEstimateTailBytes);
  FrameCounter counter(first.pictureRateCode);
  FeedFile(file, systemStream, tail, kEstimateBlockBytes, counter, [] { return false; });
  if (!counter.sawGroup && tail > 0) {
    counter = FrameCounter(first.pictureRateCode);
    FeedFile(file, systemStream, 0, kEstimateBlockBytes, counter, [] { return false; });
  }
  if (!systemStream) return ClampFrames(counter.running);
  const std::int64_t firstFrames = first.frames < 6 ? 0 : first.frames;
  return ClampFrames(counter.running - firstFrames);
}

}  // namespace calvex::video_decoder
