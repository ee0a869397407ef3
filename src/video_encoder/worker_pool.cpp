#include "video_encoder/worker_pool.h"

namespace calvex::video {

WorkerPool::WorkerPool(int threads) {
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

void WorkerPool::RunIterations() {
  for (;;) {
    int i;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (next_ >= count_) return;
      i = next_++;
    }
    (*body_)(i);
  }
}

void WorkerPool::WorkerLoop() {
  unsigned seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    RunIterations();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--active_ == 0) done_.notify_all();
    }
  }
}

void WorkerPool::ParallelFor(int count, const std::function<void(int)>& body) {
  if (workers_.empty() || count <= 1) {
    for (int i = 0; i < count; ++i) body(i);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    body_ = &body;
    count_ = count;
    next_ = 0;
    active_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  RunIterations();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return active_ == 0; });
  body_ = nullptr;
}

}  // namespace calvex::video
