#include "core/progress.h"

#include "core/messages.h"

namespace calvex {

std::string TimeCodeText(const ProgressRecord& r, ProgressKind kind) {
  if (kind == ProgressKind::kAudio)
    return FormatText("%02d:%02d:%02d.%1d", r.hours, r.minutes, r.seconds, r.fraction);
  return FormatText("%02d:%02d:%02d:%02d", r.hours, r.minutes, r.seconds, r.fraction);
}

std::string_view StageCaption(ProgressKind kind) {
  switch (kind) {
    case ProgressKind::kVideo:
      return MessageText(34);
    case ProgressKind::kAudio:
      return MessageText(35);
    case ProgressKind::kInterleaving:
      return MessageText(36);
  }
  return {};
}

}  // namespace calvex
