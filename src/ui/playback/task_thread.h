// A thread that runs the tasks posted to it one after the other.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace calvex::ui::playback {

class TaskThread {
 public:
  TaskThread() : thread_([this] { Loop(); }) {}
  // Drops the tasks not yet begun and waits for the running one, which its owner has asked to
  // stop.
  ~TaskThread() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
      tasks_.clear();
    }
    wake_.notify_all();
    thread_.join();
  }
  TaskThread(const TaskThread&) = delete;
  TaskThread& operator=(const TaskThread&) = delete;

  void Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
  }
  // Drops the tasks not yet begun.
  void DropPending() {
    std::lock_guard lock(mutex_);
    tasks_.clear();
  }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
        if (quit_) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace calvex::ui::playback
