// A small pool of worker threads. The calling thread takes part: a pool of one thread runs
// everything inline.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace calvex::video {

class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs `caller` on the calling thread and `worker` once on each worker thread; returns when
  // all of them have returned.
  void Run(const std::function<void()>& caller, const std::function<void()>& worker);

 private:
  void WorkerLoop();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void()>* body_ = nullptr;
  int active_ = 0;  // workers still inside the current run
  unsigned generation_ = 0;
  bool stop_ = false;
};

}  // namespace calvex::video
