#include "video_decoder/gop_index.h"

#include <algorithm>
#include <new>

namespace calvex::video_decoder {

void GopIndex::Reset() {
  entries_.assign(kCapacityStep, kFreeGopEntry);
  entries_.shrink_to_fit();
  frameCount_ = 0;
}

std::int32_t GopIndex::UsedCount() const {
  const auto firstFree = std::find_if(entries_.begin(), entries_.end(), IsFree);
  return static_cast<std::int32_t>(firstFree - entries_.begin());
}

bool GopIndex::AddGroup(std::int32_t number, std::int32_t picturesBefore, std::int32_t offset,
                        std::int32_t packetPosition) {
  if (number < 0) return false;
  const auto n = static_cast<std::size_t>(number);
  if (n >= entries_.size()) {
    const std::size_t grown = (n / kCapacityStep + 1) * kCapacityStep;
    if (grown > static_cast<std::size_t>(INT32_MAX)) return false;
    try {
      entries_.resize(grown, kFreeGopEntry);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  GopIndexEntry& e = entries_[n];
  if (IsFree(e)) {
    e.picturesBefore = picturesBefore;
    e.offset = offset;
    e.packetPosition = packetPosition;
  }
  return true;
}

void GopIndex::SetFirstFrame(std::int32_t number, std::int32_t frame) {
  if (number >= 0 && number < capacity())
    entries_[static_cast<std::size_t>(number)].firstFrame = frame;
}

bool GopIndex::Assign(std::span<const GopIndexEntry> entries, std::int32_t frameCount) {
  Reset();
  const std::size_t grown =
      std::max<std::size_t>(kCapacityStep, (entries.size() / kCapacityStep + 1) * kCapacityStep);
  try {
    entries_.resize(grown, kFreeGopEntry);
  } catch (const std::bad_alloc&) {
    Reset();
    return false;
  }
  std::copy(entries.begin(), entries.end(), entries_.begin());
  frameCount_ = frameCount;
  return true;
}

std::int32_t GopIndex::EntryFor(std::int32_t frame) const {
  const std::int32_t used = UsedCount();
  if (used == 0) return -1;
  std::int32_t result = 0;
  for (std::int32_t i = 1; i < used && entries_[static_cast<std::size_t>(i)].firstFrame <= frame;
       ++i) {
    result = i;
  }
  return result;
}

}  // namespace calvex::video_decoder
