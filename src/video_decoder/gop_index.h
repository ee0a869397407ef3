// The picture index of one MPEG file: one entry per group of pictures, telling where the group
// starts in the file and which frame numbers it holds. The scanner builds it, the index cache
// stores and restores it, and seeking and marked sections consult it.
//
// The entries live in an array whose capacity grows 1024 entries at a time; a free entry has
// every byte 0xFF (firstFrame -1), and the used entries are those before the first free one. The
// index belongs to one open file (the preview's or a conversion's); the number of the group the
// decoder is in is the decoder's gopCounter, not part of the index.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/info_blocks.h"

namespace calvex::video_decoder {

inline constexpr GopIndexEntry kFreeGopEntry{-1, -1, -1, -1};

class GopIndex {
 public:
  static constexpr std::int32_t kCapacityStep = 1024;

  GopIndex() { Reset(); }

  // Capacity back to 1024, every entry free, no frame count.
  void Reset();

  std::int32_t capacity() const { return static_cast<std::int32_t>(entries_.size()); }
  // Entry `i`, 0 <= i < capacity().
  const GopIndexEntry& operator[](std::int32_t i) const {
    return entries_[static_cast<std::size_t>(i)];
  }
  static bool IsFree(const GopIndexEntry& e) { return e.firstFrame == -1; }

  // The used entries: those before the first free one.
  std::int32_t UsedCount() const;
  std::span<const GopIndexEntry> UsedEntries() const {
    return {entries_.data(), static_cast<std::size_t>(UsedCount())};
  }

  // Records group `number` (0-based; growing the array by 1024 free entries when the number
  // reaches the capacity). A free entry takes picturesBefore, offset and packetPosition; an
  // entry already filled keeps its values. False when the array cannot grow.
  bool AddGroup(std::int32_t number, std::int32_t picturesBefore, std::int32_t offset,
                std::int32_t packetPosition);
  // Sets the frame number of group `number`'s first picture.
  void SetFirstFrame(std::int32_t number, std::int32_t frame);

  // Replaces the entries by `entries` (the rest free) and sets the frame count. False when the
  // array cannot grow; the index is then empty.
  bool Assign(std::span<const GopIndexEntry> entries, std::int32_t frameCount);
  // Puts a stored entry (a marked section's start) into entry 0.
  void SetEntry0(const GopIndexEntry& entry) { entries_[0] = entry; }

  // The file's total number of pictures (indexFrameCount).
  std::int32_t frameCount() const { return frameCount_; }
  void setFrameCount(std::int32_t count) { frameCount_ = count; }

  // The entry to start decoding at for display frame `frame`: the last used entry whose first
  // frame is at or before it (the walk stops at the first entry beyond the frame), entry 0 when
  // the frame lies before every entry, -1 when the index is empty.
  std::int32_t EntryFor(std::int32_t frame) const;

 private:
  std::vector<GopIndexEntry> entries_;
  std::int32_t frameCount_ = 0;
};

}  // namespace calvex::video_decoder
