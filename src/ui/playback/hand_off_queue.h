// The queues between the threads that decode and the ones that present: a producer waits while
// its queue is full, a consumer never waits. Each run of a producer belongs to a generation;
// Restart empties the queue and ends the current generation, so that the run still delivering
// for it is refused at once and stops.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "core/status.h"
#include "ui/playback/media_sources.h"

namespace calvex::ui::playback {

template <typename Item>
class HandOffQueue {
 public:
  explicit HandOffQueue(std::size_t capacity) : capacity_(capacity) {}

  // --- Producer side ---
  // Waits for room; false (the item dropped) once the generation is over.
  bool Push(std::uint64_t generation, Item item) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return !Current(generation) || items_.size() < capacity_; });
    if (!Current(generation)) return false;
    items_.push_back(std::move(item));
    return true;
  }
  // The run of `generation` delivers no more.
  void Finish(std::uint64_t generation, Status status) {
    std::lock_guard lock(mutex_);
    if (!Current(generation)) return;
    finished_ = true;
    status_ = status;
  }
  bool Over(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return !Current(generation);
  }

  // --- Consumer side (never waits for the producer) ---
  // Empties the queue and starts a new generation.
  std::uint64_t Restart() {
    std::lock_guard lock(mutex_);
    return RestartLocked();
  }
  // Refuses every producer from now on (the player closes).
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    items_.clear();
    room_.notify_all();
  }
  std::uint64_t generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
  }
  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
  }
  bool Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  // The run of the current generation has finished and everything it delivered was taken; its
  // status goes to `status`.
  bool Drained(Status* status = nullptr) const {
    std::lock_guard lock(mutex_);
    if (status != nullptr) *status = status_;
    return finished_ && items_.empty();
  }

 protected:
  bool Current(std::uint64_t generation) const { return generation == generation_ && !closed_; }
  std::uint64_t RestartLocked() {
    ++generation_;
    items_.clear();
    finished_ = false;
    status_ = kOk;
    room_.notify_all();
    return generation_;
  }

  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::deque<Item> items_;

 private:
  std::size_t capacity_;
  std::uint64_t generation_ = 0;
  bool finished_ = false;
  bool closed_ = false;
  Status status_ = kOk;
};

// Pictures decoded ahead, in display order.
class PictureQueue : public HandOffQueue<Picture> {
 public:
  using HandOffQueue::HandOffQueue;

  std::optional<std::int32_t> FrontFrame() const {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    return items_.front().frame;
  }
  Picture Pop() {
    std::lock_guard lock(mutex_);
    Picture p = std::move(items_.front());
    items_.pop_front();
    room_.notify_all();
    return p;
  }
  // When `frame` is among the queued pictures, drops the ones before it and answers true.
  bool SkipTo(std::int32_t frame) {
    std::lock_guard lock(mutex_);
    std::size_t i = 0;
    while (i < items_.size() && items_[i].frame < frame) ++i;
    if (i == items_.size() || items_[i].frame != frame) return false;
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(i));
    room_.notify_all();
    return true;
  }
};

// Sound decoded ahead: blocks of 16-bit interleaved samples, read in any amounts by the sound
// device's thread, with the media time of the first sample of the generation.
class SoundFeed : public HandOffQueue<std::vector<std::int16_t>> {
 public:
  using HandOffQueue::HandOffQueue;

  void Begin(std::uint64_t generation, std::int64_t startMicroseconds) {
    std::lock_guard lock(mutex_);
    if (!Current(generation)) return;
    start_ = startMicroseconds;
  }
  // The media time of the generation's first sample, once its run has begun.
  std::optional<std::int64_t> start() const {
    std::lock_guard lock(mutex_);
    return start_;
  }
  std::uint64_t Restart() {
    std::lock_guard lock(mutex_);
    start_.reset();
    offset_ = 0;
    return RestartLocked();
  }
  // Copies up to `count` samples that are ready; returns how many.
  std::size_t Read(std::int16_t* out, std::size_t count) {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    while (n < count && !items_.empty()) {
      const std::vector<std::int16_t>& block = items_.front();
      const std::size_t take = std::min(count - n, block.size() - offset_);
      std::copy_n(block.data() + offset_, take, out + n);
      n += take;
      offset_ += take;
      if (offset_ == block.size()) {
        items_.pop_front();
        offset_ = 0;
        room_.notify_all();
      }
    }
    return n;
  }

 private:
  std::optional<std::int64_t> start_;
  std::size_t offset_ = 0;  // samples of the front block already read
};

}  // namespace calvex::ui::playback
