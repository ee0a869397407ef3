#include "video_encoder/sequence_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "video_encoder/high_picture_coder.h"
#include "video_encoder/stream_headers.h"
#include "video_encoder/transform.h"

namespace calvex::video {

namespace {

// Full-pel search ranges of P pictures and of the first and second B pictures after a reference.
constexpr int kRangeP = 11;
constexpr int kRangeNear = 3;
constexpr int kRangeFar = 7;

// Rows of a reference picture below an analysed row that its search and prediction may read:
// the ranges stay under 16 pels, so the row below is the last one reached; the high-quality
// preset's vectors reach 64 pels down.
constexpr int kReferenceRowsBelow = 1;
constexpr int kHighReferenceRowsBelow = 5;

}  // namespace

// The source of one picture: its bitmap and converted planes. A reference's source is also searched
// by the pictures that predict from it, so a slot is free only when nobody holds it.
struct SequenceEncoder::SourceSlot {
  std::vector<std::uint8_t> bitmap;
  PictureBuffer planes;
  ReducedPicture reduced;  // the high-quality preset's global motion search
  int holds = 0;
};

// How far a reference picture has been rebuilt: the rows, and the luminance lines whose half-pel
// phases are built (which the pictures predicted from it wait for).
struct SequenceEncoder::ReferenceProgress {
  std::vector<char> rebuilt;  // per macroblock row
  int rows = 0;               // leading rows rebuilt
  int halfPelLines = 0;       // leading lines with their phases built
  bool building = false;      // a thread is building phases
};

// One picture on its way through the encoder.
struct SequenceEncoder::Job {
  int index = -1;  // coding number
  CodedPicture pic;
  int slot = -1;                       // source slot, once the fetch has begun
  int pastSlot = -1, futureSlot = -1;  // source slots of the references searched
  int past = -1, future = -1;          // reference numbers predicted from; -1 for none
  int reference = -1;                  // reference number of this picture; -1 for B
  bool rebuild = false;                // references, and B pictures for an observer
  std::vector<MacroblockInfo> mbs;
  std::vector<MacroblockBlocks> blocks;
  PictureBuffer prediction;
  MotionInputs in;
  // The high-quality preset: each macroblock's candidates and the vectors its search found.
  HighInputs high;
  std::vector<MacroblockCandidates> candidates;
  std::vector<std::array<std::array<int, 2>, 2>> field;

  enum class Fetch { kWaiting, kRunning, kDone, kFailed } fetch = Fetch::kWaiting;
  int nextAnalysis = 0;  // next row to hand out
  int analysedRows = 0;
  std::vector<char> analysed;
  bool started = false;  // the coder has begun the picture
  int codedRows = 0;
  int nextReconstruction = 0;
  int rebuiltRows = 0;  // all rows, in any order
};

SequenceEncoder::SequenceEncoder(const VideoEncoderParams& p, PictureSource& source,
                                 EncoderEvents& events, ByteSink& sink)
    : p_(p),
      high_(p.preset == EncoderPreset::kHigh),
      k_(p.kernels ? *p.kernels : KernelsForCpu()),
      g_(PictureGeometry::For(p.width, p.height)),
      source_(source),
      events_(events),
      writer_(sink),
      pool_(p.threads),
      header_(MakeBitmapHeader24(p.width, p.height)),
      order_(CodingOrder(p.pictureCount)),
      observeB_(events.WantsBPictures()),
      // One picture at a time on one thread; with more, a few ahead (fewer for huge pictures).
      window_(p.threads == 1 ? 1 : (g_.mbCount() <= 8192 ? 4 : 2)),
      rc_(static_cast<double>(p.bitRate), p.milliFps * 0.001, g_.mbCount(),
          high_ ? RateControl::Mode::kHigh : RateControl::Mode::kTestModel5) {}

SequenceEncoder::~SequenceEncoder() = default;

void SequenceEncoder::Allocate() {
  // Each picture in flight holds its own source; the two references in their roles may hold two
  // more.
  slots_.resize(static_cast<std::size_t>(window_ + 2));
  for (auto& s : slots_) {
    s = std::make_unique<SourceSlot>();
    s->bitmap.assign(header_.sizeImage, 0);
    s->planes.Allocate(g_);
  }
  jobs_.resize(static_cast<std::size_t>(window_));
  for (auto& j : jobs_) {
    j = std::make_unique<Job>();
    j->mbs.assign(static_cast<std::size_t>(g_.mbCount()), MacroblockInfo{});
    j->blocks.assign(static_cast<std::size_t>(g_.mbCount()), MacroblockBlocks{});
    j->prediction.Allocate(g_);
    j->analysed.assign(static_cast<std::size_t>(g_.mbHeight), 0);
    if (high_) {
      j->candidates.resize(static_cast<std::size_t>(g_.mbCount()));
      j->field.resize(static_cast<std::size_t>(g_.mbCount()));
      j->high.field = &j->field;
      j->high.scratch = &j->prediction;
    }
  }
  int references = 0;
  for (const CodedPicture& pic : order_) references += pic.pictureType != kPictureB;
  refs_.resize(static_cast<std::size_t>(references));
  for (auto& r : refs_) r.rebuilt.assign(static_cast<std::size_t>(g_.mbHeight), 0);
  for (auto& r : refPictures_) r.Allocate(g_);
  if (observeB_) auxRecon_.Allocate(g_);
  converter_ = std::make_unique<ColourConverter>(k_, g_);
}

void SequenceEncoder::CreateJobs() {
  if (created_ < p_.pictureCount && created_ - retired_ < window_) changed_.notify_all();
  while (created_ < p_.pictureCount && created_ - retired_ < window_) {
    Job& job = JobAt(created_);
    job.index = created_;
    job.pic = order_[static_cast<std::size_t>(created_)];
    job.fetch = Job::Fetch::kWaiting;
    job.slot = job.pastSlot = job.futureSlot = -1;
    job.nextAnalysis = job.analysedRows = 0;
    std::fill(job.analysed.begin(), job.analysed.end(), 0);
    job.started = false;
    job.codedRows = job.nextReconstruction = job.rebuiltRows = 0;
    job.past = job.future = job.reference = -1;
    if (job.pic.pictureType != kPictureB) {
      prevRef_ = lastRef_;
      lastRef_ = job.reference = references_++;
      if (job.pic.pictureType == kPictureP) job.past = prevRef_;
      job.rebuild = true;
    } else {
      job.past = prevRef_;
      job.future = lastRef_;
      job.rebuild = observeB_;
    }
    ++created_;
  }
}

bool SequenceEncoder::TakeFetch(int& job) {
  if (fetching_ || nextFetch_ >= created_) return false;
  auto free =
      std::find_if(slots_.begin(), slots_.end(), [](const auto& s) { return s->holds == 0; });
  if (free == slots_.end()) return false;
  Job& j = JobAt(nextFetch_);
  j.slot = static_cast<int>(free - slots_.begin());
  // The picture's analysis and its PictureFetched event each hold the slot.
  (*free)->holds = 2;
  if (j.reference >= 0) {
    // A reference keeps its source while it is one of the two newest references.
    if (prevRefSlot_ >= 0) --slots_[static_cast<std::size_t>(prevRefSlot_)]->holds;
    prevRefSlot_ = lastRefSlot_;
    lastRefSlot_ = j.slot;
    ++(*free)->holds;
  }
  // The references this picture searches are held until its analysis is done.
  if (j.past >= 0) {
    j.pastSlot = prevRefSlot_;
    ++slots_[static_cast<std::size_t>(j.pastSlot)]->holds;
  }
  if (j.future >= 0) {
    j.futureSlot = lastRefSlot_;
    ++slots_[static_cast<std::size_t>(j.futureSlot)]->holds;
  }
  j.fetch = Job::Fetch::kRunning;
  fetching_ = true;
  job = nextFetch_++;
  return true;
}

void SequenceEncoder::Fetch(int index) {
  Job& job = JobAt(index);
  SourceSlot& slot = *slots_[static_cast<std::size_t>(job.slot)];
  Status status;
  try {
    status = source_.FetchPicture(job.pic.displayNumber, slot.bitmap.data());
  } catch (const std::bad_alloc&) {
    status = kNoMemory;
  }
  if (status == kOk) converter_->Convert(slot.bitmap.data(), slot.planes);

  MotionInputs& in = job.in;
  in = MotionInputs{};
  in.kernels = &k_;
  in.geometry = g_;
  in.pictureType = job.pic.pictureType;
  in.current = &slot.planes;
  if (job.past >= 0) {
    in.oldSource = &slots_[static_cast<std::size_t>(job.pastSlot)]->planes;
    in.oldRef = &refPictures_[static_cast<std::size_t>(job.past % 2)];
  }
  if (job.future >= 0) {
    in.newSource = &slots_[static_cast<std::size_t>(job.futureSlot)]->planes;
    in.newRef = &refPictures_[static_cast<std::size_t>(job.future % 2)];
  }
  if (high_) {
    slot.reduced.Build(slot.planes.y);
    if (job.past >= 0)
      job.high.global[0] =
          GlobalMotion(slot.reduced, slots_[static_cast<std::size_t>(job.pastSlot)]->reduced);
    if (job.future >= 0)
      job.high.global[1] =
          GlobalMotion(slot.reduced, slots_[static_cast<std::size_t>(job.futureSlot)]->reduced);
  }
  if (job.pic.pictureType == kPictureP) {
    in.forwardRange = kRangeP;
  } else if (job.pic.pictureType == kPictureB) {
    in.forwardRange = job.pic.firstB ? kRangeNear : kRangeFar;
    in.backwardRange = job.pic.firstB ? kRangeFar : kRangeNear;
  }

  std::lock_guard<std::mutex> lock(mutex_);
  fetching_ = false;
  job.fetch = status == kOk ? Job::Fetch::kDone : Job::Fetch::kFailed;
  // After a failure nothing later is fetched.
  if (status != kOk) nextFetch_ = p_.pictureCount;
  changed_.notify_all();
}

bool SequenceEncoder::AnalysisReady(const Job& job, int row) const {
  // The high-quality preset's search starts from the vectors of the row above.
  if (high_ && row > 0 && !job.analysed[static_cast<std::size_t>(row - 1)]) return false;
  // The references' rows the search and the prediction reach must be rebuilt with their phases.
  const int below = high_ ? kHighReferenceRowsBelow : kReferenceRowsBelow;
  const int lines = std::min(16 * (row + below + 1) - 1, g_.height16);
  for (int r : {job.past, job.future})
    if (r >= 0 && refs_[static_cast<std::size_t>(r)].halfPelLines < lines) return false;
  return true;
}

bool SequenceEncoder::TakeAnalysis(int& index, int& row) {
  for (int i = retired_; i < created_; ++i) {
    Job& job = JobAt(i);
    if (job.fetch != Job::Fetch::kDone) return false;  // later pictures are not fetched either
    if (job.nextAnalysis < g_.mbHeight && AnalysisReady(job, job.nextAnalysis)) {
      index = i;
      row = job.nextAnalysis++;
      return true;
    }
  }
  return false;
}

bool SequenceEncoder::TakeReconstruction(int& index, int& row) {
  for (int i = retired_; i < created_; ++i) {
    Job& job = JobAt(i);
    if (job.rebuild && job.nextReconstruction < job.codedRows) {
      index = i;
      row = job.nextReconstruction++;
      return true;
    }
  }
  return false;
}

void SequenceEncoder::AnalyseRow(Job& job, int mby) {
  const MotionInputs& in = job.in;
  const PictureBuffer& src = *in.current;
  if (high_) {
    for (int mbx = 0; mbx < g_.mbWidth; ++mbx) {
      const std::size_t k = static_cast<std::size_t>(mby * g_.mbWidth + mbx);
      AnalyseMacroblockHigh(in, job.high, mbx, mby, job.mbs[k], job.candidates[k]);
    }
    return;
  }
  for (int mbx = 0; mbx < g_.mbWidth; ++mbx) {
    const std::size_t k = static_cast<std::size_t>(mby * g_.mbWidth + mbx);
    MacroblockInfo& mb = job.mbs[k];
    EstimateMacroblock(in, mbx, mby, mb);
    PredictMacroblock(in, mbx, mby, mb, job.prediction);
    for (int b = 0; b < 6; ++b) {
      const int c = b < 4 ? 0 : b - 3;
      const int size = c == 0 ? 16 : 8;
      const int x0 = size * mbx + (c == 0 ? 8 * (b & 1) : 0);
      const int y0 = size * mby + (c == 0 ? 8 * (b >> 1) : 0);
      const Plane& s = src.Component(c);
      const Plane& pr = job.prediction.Component(c);
      std::int16_t* block = job.blocks[k][static_cast<std::size_t>(b)].data();
      k_.subtractBlock(s.Row(y0) + x0, pr.Row(y0) + x0, s.width, block);
      k_.forwardDct(block);
    }
  }
}

void SequenceEncoder::ReconstructRow(Job& job, int mby) {
  PictureBuffer& recon = job.reference >= 0
                             ? refPictures_[static_cast<std::size_t>(job.reference % 2)].recon
                             : auxRecon_;
  for (int mbx = 0; mbx < g_.mbWidth; ++mbx) {
    const std::size_t k = static_cast<std::size_t>(mby * g_.mbWidth + mbx);
    const MacroblockInfo& mb = job.mbs[k];
    const bool intra = mb.mbType & kMbIntra;
    for (int b = 0; b < 6; ++b) {
      const int c = b < 4 ? 0 : b - 3;
      const int size = c == 0 ? 16 : 8;
      const int x0 = size * mbx + (c == 0 ? 8 * (b & 1) : 0);
      const int y0 = size * mby + (c == 0 ? 8 * (b >> 1) : 0);
      const Plane& pr = job.prediction.Component(c);
      Plane& out = recon.Component(c);
      const std::uint8_t* pred = pr.Row(y0) + x0;
      std::uint8_t* dst = out.Row(y0) + x0;
      const bool coded = !mb.skipped && (mb.cbp & (32 >> b));
      if (!coded) {
        for (int y = 0; y < 8; ++y) std::memcpy(dst + y * out.width, pred + y * pr.width, 8);
        continue;
      }
      std::int16_t* block = job.blocks[k][static_cast<std::size_t>(b)].data();
      const std::uint64_t nonZero = mb.nonZero[static_cast<std::size_t>(b)];
      if (intra)
        DequantiseIntra(block, mb.mquant, nonZero);
      else
        DequantiseNonIntra(block, mb.mquant, nonZero);
      if (nonZero > 1) {
        k_.inverseDct(block);
      } else {  // at most the first coefficient: a flat block
        std::fill_n(block, 64, static_cast<std::int16_t>(InverseDctOfDc(block[0])));
      }
      k_.addBlock(pred, block, out.width, dst);
    }
  }
}

// Counts a rebuilt row; for a reference, builds the half-pel phases of the lines that now have
// their neighbours, one thread at a time per reference.
void SequenceEncoder::ReconstructionDone(Job& job, int row) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++job.rebuiltRows;
  if (job.reference >= 0) {
    ReferenceProgress& ref = refs_[static_cast<std::size_t>(job.reference)];
    ref.rebuilt[static_cast<std::size_t>(row)] = 1;
    while (ref.rows < g_.mbHeight && ref.rebuilt[static_cast<std::size_t>(ref.rows)]) ++ref.rows;
    ReferencePicture& picture = refPictures_[static_cast<std::size_t>(job.reference % 2)];
    // Line y's phases read line y + 1.
    auto available = [&] { return ref.rows == g_.mbHeight ? g_.height16 : 16 * ref.rows - 1; };
    if (!ref.building) {
      ref.building = true;
      while (ref.halfPelLines < available()) {
        const int from = ref.halfPelLines, to = available();
        lock.unlock();
        picture.BuildHalfPel(k_, from, to);
        lock.lock();
        ref.halfPelLines = to;
        changed_.notify_all();
      }
      ref.building = false;
    }
  }
  changed_.notify_all();
}

bool SequenceEncoder::HelpOnce(std::unique_lock<std::mutex>& lock, bool mayFetch) {
  int index, row;
  if (mayFetch && TakeFetch(index)) {
    lock.unlock();
    Fetch(index);
    lock.lock();
    return true;
  }
  if (TakeReconstruction(index, row)) {
    lock.unlock();
    Job& job = JobAt(index);
    ReconstructRow(job, row);
    ReconstructionDone(job, row);
    lock.lock();
    return true;
  }
  if (TakeAnalysis(index, row)) {
    lock.unlock();
    Job& job = JobAt(index);
    AnalyseRow(job, row);
    lock.lock();
    job.analysed[static_cast<std::size_t>(row)] = 1;
    if (++job.analysedRows == g_.mbHeight) {
      // The sources it read are free for others now.
      for (int slot : {job.slot, job.pastSlot, job.futureSlot})
        if (slot >= 0) --slots_[static_cast<std::size_t>(slot)]->holds;
    }
    changed_.notify_all();
    return true;
  }
  return false;
}

void SequenceEncoder::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (!HelpOnce(lock, true)) changed_.wait(lock);
  }
}

void SequenceEncoder::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  changed_.notify_all();
}

Status SequenceEncoder::CoderLoop(std::vector<std::uint32_t>* index) {
  const int n = p_.pictureCount;
  const double frameRate = p_.milliFps * 0.001;
  const int roundedFps = static_cast<int>(frameRate + 0.5);
  const bool dropFrame = p_.milliFps == 29970;
  const bool alone = pool_.threads() == 1;
  std::uint32_t lastCount = 0;
  int lastDisplay = 0;

  for (int i = 0; i < n; ++i) {
    Job& job = JobAt(i);
    const CodedPicture& pic = order_[static_cast<std::size_t>(i)];
    if (events_.PollCancel()) return kCancelled;
    writer_.Flush();
    if (writer_.WriteFailed()) return kDiskFull;
    if (pic.startsGroup) {
      rc_.StartGroup(pic.groupP, pic.groupB);
      WriteGroupHeader(writer_, TimeCode(pic.groupFirst, roundedFps, dropFrame), i == 0);
    }

    // The source: fetched ahead by the workers (or here when alone).
    {
      std::unique_lock<std::mutex> lock(mutex_);
      CreateJobs();
      while (job.fetch == Job::Fetch::kWaiting || job.fetch == Job::Fetch::kRunning)
        if (!HelpOnce(lock, alone)) changed_.wait(lock);
      if (job.fetch == Job::Fetch::kFailed) return kAviDecodeFailed;
    }
    const SourceSlot& slot = *slots_[static_cast<std::size_t>(job.slot)];
    const FetchedPicture info{pic.displayNumber, pic.pictureType, &header_, slot.bitmap.data()};
    if (events_.PictureFetched(info)) return kCancelled;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --slots_[static_cast<std::size_t>(job.slot)]->holds;
      changed_.notify_all();
    }

    const std::uint32_t bytes = writer_.BytesWritten();
    if (index)
      (*index)[static_cast<std::size_t>(i)] =
          (static_cast<std::uint32_t>(pic.displayNumber - i) << 26) |
          ((bytes - lastCount) & 0x3FFFFFFu);
    lastCount = bytes;

    // Rows are coded in order as their analysis completes; meanwhile this thread helps.
    auto waitForAnalysis = [&](int row) {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!job.analysed[static_cast<std::size_t>(row)])
        if (!HelpOnce(lock, alone)) changed_.wait(lock);
    };
    auto rowCoded = [&](int row) {
      std::lock_guard<std::mutex> lock(mutex_);
      job.codedRows = row + 1;
      changed_.notify_all();
    };
    if (high_) {
      // The picture header's f_codes hold every vector the analysis found.
      waitForAnalysis(g_.mbHeight - 1);
      HighPictureCoder coder(writer_, rc_, g_, pic.pictureType, k_, FCodeFor(job.candidates, 0),
                             FCodeFor(job.candidates, 1));
      coder.Start(pic.temporalReference());
      for (int row = 0; row < g_.mbHeight; ++row) {
        coder.CodeRow(row, job.mbs, job.blocks, job.candidates, job.prediction);
        rowCoded(row);
      }
      coder.Finish();
    } else {
      PictureCoder coder(writer_, rc_, g_, pic.pictureType, k_);
      coder.Start(pic.temporalReference());
      for (int row = 0; row < g_.mbHeight; ++row) {
        waitForAnalysis(row);
        coder.CodeRow(row, job.mbs, job.blocks);
        rowCoded(row);
      }
      coder.Finish();
    }

    // The picture's reconstruction completes before its event and before it leaves the window;
    // a reference's phases too, so that nothing still writes its buffer when the reference two
    // after it is rebuilt there.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      auto done = [&] {
        if (!job.rebuild) return true;
        if (job.rebuiltRows < g_.mbHeight) return false;
        return job.reference < 0 ||
               refs_[static_cast<std::size_t>(job.reference)].halfPelLines == g_.height16;
      };
      while (!done())
        if (!HelpOnce(lock, alone)) changed_.wait(lock);
    }
    if (job.rebuild) {
      const PictureBuffer& recon =
          job.reference >= 0 ? refPictures_[static_cast<std::size_t>(job.reference % 2)].recon
                             : auxRecon_;
      events_.PictureReconstructed(pic.displayNumber, pic.pictureType, recon);
    }
    lastDisplay = pic.displayNumber;
    std::lock_guard<std::mutex> lock(mutex_);
    ++retired_;
    CreateJobs();
    changed_.notify_all();
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

Status SequenceEncoder::Run(std::vector<std::uint32_t>* index) {
  try {
    Allocate();
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  const int n = p_.pictureCount;
  if (index) index->assign(static_cast<std::size_t>(n) + 1, 0);

  SequenceHeaderFields seq;
  seq.width = p_.width;
  seq.height = p_.height;
  seq.pictureRateCode = p_.pictureRateCode;
  seq.bitRate = p_.bitRate;
  seq.constrainedParameters =
      MeetsConstrainedParameters(p_.width, p_.height, p_.rateNum, p_.rateDen, p_.bitRate);
  WriteSequenceHeader(writer_, seq);

  Status status = kOk;
  pool_.Run(
      [&] {
        status = CoderLoop(index);
        Stop();
      },
      [&] { WorkerLoop(); });
  return status;
}

}  // namespace calvex::video
