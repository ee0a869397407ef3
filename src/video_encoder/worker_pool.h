// A small pool of worker threads that runs the iterations of a loop side by side. The calling
// thread takes part, so a pool of one thread runs everything inline.
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

  // Calls body(0) .. body(count - 1), spread over the threads; returns when all are done.
  void ParallelFor(int count, const std::function<void(int)>& body);

 private:
  void WorkerLoop();
  void RunIterations();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(int)>* body_ = nullptr;
  int count_ = 0;
  int next_ = 0;
  int active_ = 0;  // workers still inside the current loop
  unsigned generation_ = 0;
  bool stop_ = false;
};

}  // namespace calvex::video
