// The sequence coding loop: pictures in coding order through fetch and colour conversion, motion
// estimation and transform, coding under rate control and reconstruction, on any number of
// threads with the same output. See doc/video_encoder_threads.md for how the work is shared.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/bitmap.h"
#include "core/status.h"
#include "video_encoder/bit_writer.h"
#include "video_encoder/coding_order.h"
#include "video_encoder/colour_conversion.h"
#include "video_encoder/high_analysis.h"
#include "video_encoder/kernels.h"
#include "video_encoder/macroblock_coding.h"
#include "video_encoder/motion_estimation.h"
#include "video_encoder/picture.h"
#include "video_encoder/rate_control.h"
#include "video_encoder/video_encoder.h"
#include "video_encoder/worker_pool.h"

namespace calvex::video {

class SequenceEncoder {
 public:
  SequenceEncoder(const VideoEncoderParams& p, PictureSource& source, EncoderEvents& events,
                  ByteSink& sink);
  ~SequenceEncoder();

  // Codes every picture; the result of EncodeVideo before the sink is closed.
  Status Run(std::vector<std::uint32_t>* index);

 private:
  struct SourceSlot;
  struct ReferenceProgress;
  struct Job;

  void Allocate();
  // Under the lock: creates the jobs the window has room for.
  void CreateJobs();
  // Under the lock: the next piece of work this thread may take, or false.
  bool TakeFetch(int& job);
  bool TakeReconstruction(int& job, int& row);
  bool TakeAnalysis(int& job, int& row);
  bool AnalysisReady(const Job& job, int row) const;

  // The pieces of work (called without the lock).
  void Fetch(int job);
  void AnalyseRow(Job& job, int row);
  void ReconstructRow(Job& job, int row);
  void ReconstructionDone(Job& job, int row);

  // The loop of the worker threads, and of the calling thread, which also codes.
  void WorkerLoop();
  Status CoderLoop(std::vector<std::uint32_t>* index);
  // Under the lock: one piece of analysis, reconstruction or fetching, if any is ready.
  bool HelpOnce(std::unique_lock<std::mutex>& lock, bool mayFetch);
  void Stop();

  Job& JobAt(int index) { return *jobs_[static_cast<std::size_t>(index % window_)]; }
  const Job& JobAt(int index) const { return *jobs_[static_cast<std::size_t>(index % window_)]; }

  const VideoEncoderParams& p_;
  const bool high_;  // the high-quality preset
  const Kernels& k_;
  PictureGeometry g_;
  PictureSource& source_;
  EncoderEvents& events_;
  BitWriter writer_;
  WorkerPool pool_;
  BitmapInfoHeader header_;
  std::vector<CodedPicture> order_;
  bool observeB_;
  int window_;  // pictures in flight at most

  std::unique_ptr<ColourConverter> converter_;  // used by the one fetch at a time
  std::vector<std::unique_ptr<SourceSlot>> slots_;
  std::vector<std::unique_ptr<Job>> jobs_;
  std::vector<ReferenceProgress> refs_;          // one per reference picture, by reference number
  std::array<ReferencePicture, 2> refPictures_;  // reference number n is rebuilt into n % 2
  PictureBuffer auxRecon_;                       // B pictures, rebuilt only for an observer

  RateControl rc_;

  // Everything below is shared between the threads and guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  int created_ = 0;    // jobs created so far (coding order)
  int retired_ = 0;    // jobs finished and delivered
  int nextFetch_ = 0;  // next job to fetch
  bool fetching_ = false;
  int lastRef_ = -1, prevRef_ = -1;          // reference numbers, when jobs are created
  int lastRefSlot_ = -1, prevRefSlot_ = -1;  // their source slots, when fetches begin
  int references_ = 0;                       // reference pictures so far
};

}  // namespace calvex::video
