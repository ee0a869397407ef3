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

void WorkerPool::WorkerLoop() {
  unsigned seen = 0;
  for (;;) {
    const std::function<void()>* body;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      body = body_;
    }
    (*body)();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--active_ == 0) done_.notify_all();
    }
  }
}

void WorkerPool::Run(const std::function<void()>& caller, const std::function<void()>& worker) {
  if (!workers_.empty()) {
    std::lock_guard<std::mutex> lock(mutex_);
    body_ = &worker;
    active_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  caller();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return active_ == 0; });
  body_ = nullptr;
}

}  // namespace calvex::video
