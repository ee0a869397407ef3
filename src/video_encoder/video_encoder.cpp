#include "video_encoder/video_encoder.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

#include "video_encoder/coding_order.h"
#include "video_encoder/colour_conversion.h"
#include "video_encoder/macroblock_coding.h"
#include "video_encoder/motion_estimation.h"
#include "video_encoder/rate_control.h"
#include "video_encoder/stream_headers.h"
#include "video_encoder/transform.h"
#include "video_encoder/worker_pool.h"

namespace calvex::video {
namespace {

// Full-pel search ranges of P pictures and of the first and second B pictures after a reference.
constexpr int kRangeP = 11;
constexpr int kRangeNear = 3;
constexpr int kRangeFar = 7;

// The source of one picture: fetched bitmap and converted planes.
struct SourceSlot {
  std::vector<std::uint8_t> bitmap;
  PictureBuffer planes;
  Status status = kOk;
};

class SequenceEncoder {
 public:
  SequenceEncoder(const VideoEncoderParams& p, PictureSource& source, EncoderEvents& events,
                  ByteSink& sink)
      : p_(p),
        k_(p.kernels ? *p.kernels : KernelsForCpu()),
        g_(PictureGeometry::For(p.width, p.height)),
        source_(source),
        events_(events),
        writer_(sink),
        pool_(p.threads),
        header_(MakeBitmapHeader24(p.width, p.height)) {}

  Status Run(std::vector<std::uint32_t>* index);

 private:
  void Allocate();
  // Fetches and converts picture `displayNumber` into `slot` (any thread).
  void Fill(SourceSlot& slot, int displayNumber);
  void StartPrefetch(const CodedPicture& pic);
  SourceSlot& TakeSource(const CodedPicture& pic);
  void AnalyseRow(const MotionInputs& in, int mby);
  void ReconstructRow(PictureBuffer& recon, int mby);
  // Analyses, codes and reconstructs every macroblock row of a picture. Rows are analysed and
  // reconstructed on any thread; coding goes row after row in order, as soon as a row is ready.
  void CodeRows(const MotionInputs& in, PictureCoder& coder, PictureBuffer* recon);

  const VideoEncoderParams& p_;
  const Kernels& k_;
  PictureGeometry g_;
  PictureSource& source_;
  EncoderEvents& events_;
  BitWriter writer_;
  WorkerPool pool_;
  BitmapInfoHeader header_;
  std::unique_ptr<ColourConverter> converter_;  // used by whichever thread fetches

  // Source pictures by role (new reference, old reference, B picture) and two spare slots that
  // the next pictures are fetched into.
  std::array<std::unique_ptr<SourceSlot>, 5> slots_;
  int newSource_ = 0, oldSource_ = 1, auxSource_ = 2;
  std::array<ReferencePicture, 2> refs_;  // new and old reconstructed references
  int newRef_ = 0, oldRef_ = 1;
  PictureBuffer auxRecon_;  // B pictures, rebuilt only for an observer
  PictureBuffer prediction_;
  std::vector<MacroblockInfo> mbs_;
  std::vector<MacroblockBlocks> blocks_;

  // The picture fetched ahead (threads > 1): its slot index and the job filling it.
  int prefetchSlot_ = -1;
  int prefetchDisplay_ = -1;
  std::future<void> prefetch_;
  int nextSpare_ = 3;
};

void SequenceEncoder::Allocate() {
  const std::size_t bitmapSize = header_.sizeImage;
  for (auto& s : slots_) {
    s = std::make_unique<SourceSlot>();
    s->bitmap.assign(bitmapSize, 0);
    s->planes.Allocate(g_);
  }
  for (auto& r : refs_) r.Allocate(g_);
  auxRecon_.Allocate(g_);
  prediction_.Allocate(g_);
  mbs_.assign(static_cast<std::size_t>(g_.mbCount()), MacroblockInfo{});
  blocks_.assign(static_cast<std::size_t>(g_.mbCount()), MacroblockBlocks{});
  converter_ = std::make_unique<ColourConverter>(k_, g_);
}

void SequenceEncoder::Fill(SourceSlot& slot, int displayNumber) {
  slot.status = source_.FetchPicture(displayNumber, slot.bitmap.data());
  if (slot.status == kOk) converter_->Convert(slot.bitmap.data(), slot.planes);
}

void SequenceEncoder::StartPrefetch(const CodedPicture& pic) {
  prefetchSlot_ = nextSpare_;
  prefetchDisplay_ = pic.displayNumber;
  SourceSlot* slot = slots_[static_cast<std::size_t>(prefetchSlot_)].get();
  const int displayNumber = pic.displayNumber;
  if (pool_.threads() > 1)
    prefetch_ =
        std::async(std::launch::async, [this, slot, displayNumber] { Fill(*slot, displayNumber); });
  else
    Fill(*slot, displayNumber);
}

SourceSlot& SequenceEncoder::TakeSource(const CodedPicture& pic) {
  if (prefetchDisplay_ != pic.displayNumber) StartPrefetch(pic);
  if (prefetch_.valid()) prefetch_.get();
  prefetchDisplay_ = -1;
  // The two spares alternate, so the bitmap of this picture stays valid while the next one is
  // being fetched.
  nextSpare_ = nextSpare_ == 3 ? 4 : 3;
  return *slots_[static_cast<std::size_t>(prefetchSlot_)];
}

void SequenceEncoder::AnalyseRow(const MotionInputs& in, int mby) {
  for (int mbx = 0; mbx < g_.mbWidth; ++mbx) {
    const std::size_t k = static_cast<std::size_t>(mby * g_.mbWidth + mbx);
    MacroblockInfo& mb = mbs_[k];
    EstimateMacroblock(in, mbx, mby, mb);
    PredictMacroblock(in, mbx, mby, mb, prediction_);
    const PictureBuffer& src = *in.current;
    for (int b = 0; b < 6; ++b) {
      const int c = b < 4 ? 0 : b - 3;
      const int size = c == 0 ? 16 : 8;
      const int x0 = size * mbx + (c == 0 ? 8 * (b & 1) : 0);
      const int y0 = size * mby + (c == 0 ? 8 * (b >> 1) : 0);
      const Plane& s = src.Component(c);
      const Plane& pr = prediction_.Component(c);
      std::int16_t* block = blocks_[k][static_cast<std::size_t>(b)].data();
      k_.subtractBlock(s.Row(y0) + x0, pr.Row(y0) + x0, s.width, block);
      k_.forwardDct(block);
    }
  }
}

void SequenceEncoder::ReconstructRow(PictureBuffer& recon, int mby) {
  for (int mbx = 0; mbx < g_.mbWidth; ++mbx) {
    const std::size_t k = static_cast<std::size_t>(mby * g_.mbWidth + mbx);
    const MacroblockInfo& mb = mbs_[k];
    const bool intra = mb.mbType & kMbIntra;
    for (int b = 0; b < 6; ++b) {
      const int c = b < 4 ? 0 : b - 3;
      const int size = c == 0 ? 16 : 8;
      const int x0 = size * mbx + (c == 0 ? 8 * (b & 1) : 0);
      const int y0 = size * mby + (c == 0 ? 8 * (b >> 1) : 0);
      const Plane& pr = prediction_.Component(c);
      Plane& out = recon.Component(c);
      const std::uint8_t* pred = pr.Row(y0) + x0;
      std::uint8_t* dst = out.Row(y0) + x0;
      const bool coded = !mb.skipped && (mb.cbp & (32 >> b));
      if (!coded) {
        for (int y = 0; y < 8; ++y) std::memcpy(dst + y * out.width, pred + y * pr.width, 8);
        continue;
      }
      std::int16_t* block = blocks_[k][static_cast<std::size_t>(b)].data();
      const std::uint64_t nonZero = mb.nonZero[static_cast<std::size_t>(b)];
      if (intra)
        DequantiseIntra(block, mb.mquant, nonZero);
      else
        DequantiseNonIntra(block, mb.mquant, nonZero);
      if (nonZero > 1) {
        k_.inverseDct(block);
      } else {  // at most the first coefficient: a flat block
        const auto flat = static_cast<std::int16_t>(InverseDctOfDc(block[0]));
        std::fill_n(block, 64, flat);
      }
      k_.addBlock(pred, block, out.width, dst);
    }
  }
}

void SequenceEncoder::CodeRows(const MotionInputs& in, PictureCoder& coder, PictureBuffer* recon) {
  const int rows = g_.mbHeight;
  if (pool_.threads() == 1) {
    for (int r = 0; r < rows; ++r) AnalyseRow(in, r);
    for (int r = 0; r < rows; ++r) coder.CodeRow(r, mbs_, blocks_);
    if (recon)
      for (int r = 0; r < rows; ++r) ReconstructRow(*recon, r);
    return;
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> analysed(static_cast<std::size_t>(rows), 0);
  // Without a reconstruction the rows count as rebuilt once coded.
  int nextAnalyse = 0, nextCode = 0, nextRecon = 0, reconstructed = 0;
  bool coding = false;
  pool_.ParallelFor(pool_.threads(), [&](int) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (reconstructed == rows) return;
      if (!coding && nextCode < rows && analysed[static_cast<std::size_t>(nextCode)]) {
        // Coding is the critical path: the rate control needs the rows in order.
        coding = true;
        const int r = nextCode;
        lock.unlock();
        coder.CodeRow(r, mbs_, blocks_);
        lock.lock();
        coding = false;
        ++nextCode;
        if (!recon) ++reconstructed, ++nextRecon;
        changed.notify_all();
      } else if (nextAnalyse < rows) {
        const int r = nextAnalyse++;
        lock.unlock();
        AnalyseRow(in, r);
        lock.lock();
        analysed[static_cast<std::size_t>(r)] = 1;
        changed.notify_all();
      } else if (nextRecon < nextCode) {
        const int r = nextRecon++;
        lock.unlock();
        ReconstructRow(*recon, r);
        lock.lock();
        ++reconstructed;
        changed.notify_all();
      } else {
        changed.wait(lock);
      }
    }
  });
}

Status SequenceEncoder::Run(std::vector<std::uint32_t>* index) {
  try {
    Allocate();
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  const int n = p_.pictureCount;
  if (index) index->assign(static_cast<std::size_t>(n) + 1, 0);
  const double frameRate = p_.milliFps * 0.001;
  RateControl rc(static_cast<double>(p_.bitRate), frameRate, g_.mbCount());

  SequenceHeaderFields seq;
  seq.width = p_.width;
  seq.height = p_.height;
  seq.pictureRateCode = p_.pictureRateCode;
  seq.bitRate = p_.bitRate;
  seq.constrainedParameters =
      MeetsConstrainedParameters(p_.width, p_.height, p_.rateNum, p_.rateDen, p_.bitRate);
  WriteSequenceHeader(writer_, seq);

  const int roundedFps = static_cast<int>(frameRate + 0.5);
  const bool dropFrame = p_.milliFps == 29970;
  const std::vector<CodedPicture> order = CodingOrder(n);
  std::uint32_t lastCount = 0;
  int lastDisplay = 0;

  for (int i = 0; i < n; ++i) {
    const CodedPicture& pic = order[static_cast<std::size_t>(i)];
    if (events_.PollCancel()) return kCancelled;
    writer_.Flush();
    if (writer_.WriteFailed()) return kDiskFull;

    const bool reference = pic.pictureType != kPictureB;
    if (reference) {
      std::swap(newSource_, oldSource_);
      std::swap(newRef_, oldRef_);
    }
    if (pic.startsGroup) {
      rc.StartGroup(pic.groupP, pic.groupB);
      WriteGroupHeader(writer_, TimeCode(pic.groupFirst, roundedFps, dropFrame), i == 0);
    }

    // Source picture: fetched ahead when there are worker threads.
    SourceSlot& fetched = TakeSource(pic);
    if (fetched.status != kOk) return kAviDecodeFailed;
    const int fetchedSlot = prefetchSlot_;
    int& role = reference ? newSource_ : auxSource_;
    std::swap(slots_[static_cast<std::size_t>(role)],
              slots_[static_cast<std::size_t>(fetchedSlot)]);
    FetchedPicture info{pic.displayNumber, pic.pictureType, &header_,
                        slots_[static_cast<std::size_t>(role)]->bitmap.data()};
    if (events_.PictureFetched(info)) return kCancelled;
    if (i + 1 < n && pool_.threads() > 1) StartPrefetch(order[static_cast<std::size_t>(i + 1)]);

    MotionInputs in;
    in.kernels = &k_;
    in.geometry = g_;
    in.pictureType = pic.pictureType;
    in.current = &slots_[static_cast<std::size_t>(role)]->planes;
    in.oldSource = &slots_[static_cast<std::size_t>(oldSource_)]->planes;
    in.oldRef = &refs_[static_cast<std::size_t>(oldRef_)];
    in.newSource = &slots_[static_cast<std::size_t>(newSource_)]->planes;
    in.newRef = &refs_[static_cast<std::size_t>(newRef_)];
    if (pic.pictureType == kPictureP) {
      in.forwardRange = kRangeP;
    } else if (pic.pictureType == kPictureB) {
      in.forwardRange = pic.firstB ? kRangeNear : kRangeFar;
      in.backwardRange = pic.firstB ? kRangeFar : kRangeNear;
    }
    const std::uint32_t bytes = writer_.BytesWritten();
    if (index)
      (*index)[static_cast<std::size_t>(i)] =
          (static_cast<std::uint32_t>(pic.displayNumber - i) << 26) |
          ((bytes - lastCount) & 0x3FFFFFFu);
    lastCount = bytes;

    PictureCoder coder(writer_, rc, g_, pic.pictureType, k_);
    coder.Start(pic.temporalReference());
    ReferencePicture& newRef = refs_[static_cast<std::size_t>(newRef_)];
    PictureBuffer& recon = reference ? newRef.recon : auxRecon_;
    const bool rebuild = reference || events_.WantsBPictures();
    CodeRows(in, coder, rebuild ? &recon : nullptr);
    coder.Finish();
    if (reference) newRef.BuildHalfPel(k_, 0, g_.height16);
    if (rebuild) events_.PictureReconstructed(pic.displayNumber, pic.pictureType, recon);
    lastDisplay = pic.displayNumber;
  }

  WriteSequenceEnd(writer_);
  if (index) {
    const std::uint32_t bytes = writer_.BytesWritten();
    (*index)[static_cast<std::size_t>(n)] =
        (static_cast<std::uint32_t>(lastDisplay - n) << 26) | ((bytes - lastCount) & 0x3FFFFFFu);
  }
  writer_.Flush();
  return writer_.WriteFailed() ? kDiskFull : kOk;
}

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
