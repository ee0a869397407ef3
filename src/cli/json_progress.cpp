#include "cli/json_progress.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>

#include "core/error_report.h"
#include "engine/dispatcher.h"

namespace calvex::cli {
namespace {

// "video", "audio" or "interleaving".
std::string StageName(ProgressKind kind) {
  std::string name(StageCaption(kind));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

const char* EndName(Status result) {
  if (result == kEntryConverted) return "done";
  return result == kEntryAborted ? "cancelled" : "failed";
}

}  // namespace

void JsonProgress::Report(int entry, const std::string& file, const ProgressRecord& record,
                          ProgressKind kind, int thousandths) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  Stage& stage = stages_[entry];
  if (stage.kind != static_cast<int>(kind)) {
    stage = Stage{};
    stage.kind = static_cast<int>(kind);
    stage.start = now;
  } else {
    ++stage.pictures;  // the video stages report once a picture, in coding order
  }
  stage.last = record;
  const double seconds = std::chrono::duration<double>(now - stage.start).count();
  if (kind == ProgressKind::kVideo && seconds > 0) stage.fps = stage.pictures / seconds;
  const int percent = std::clamp(thousandths, 0, 1000) / 10;
  if (percent == stage.percent) return;
  stage.percent = percent;
  WriteLocked(file, StageName(kind), stage);
}

void JsonProgress::Finish(int entry, const std::string& file, Status result) {
  std::lock_guard lock(mutex_);
  Stage stage = stages_[entry];
  stages_.erase(entry);
  if (result == kEntryConverted) stage.percent = 100;
  WriteLocked(file, EndName(result), stage,
              IsFailure(result) ? ErrorText(result, file) : std::string());
}

void JsonProgress::WriteLocked(const std::string& file, const std::string& stageName,
                               const Stage& stage, const std::string& error) {
  nlohmann::json line = {
      {"file", file},
      {"stage", stageName},
      {"frame", stage.last.frameNumber},
      {"time", stage.kind < 0 ? std::string()
                              : TimeCodeText(stage.last, static_cast<ProgressKind>(stage.kind))},
      {"percent", std::max(stage.percent, 0)},
      {"fps", std::round(stage.fps * 10) / 10}};
  if (!error.empty()) line["error"] = error;
  // File names need not be UTF-8: bytes that are not become U+FFFD rather than fail the line.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace calvex::cli
