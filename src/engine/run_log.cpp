#include "engine/run_log.h"

#include "core/messages.h"

namespace calvex {

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string LogTimeText(const std::tm& t) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = t.tm_wday >= 0 && t.tm_wday < 7 ? kDays[t.tm_wday] : "???";
  const char* month = t.tm_mon >= 0 && t.tm_mon < 12 ? kMonths[t.tm_mon] : "???";
  return FormatText("%s %s %02d %02d:%02d:%02d %04d", day, month, t.tm_mday, t.tm_hour, t.tm_min,
                    t.tm_sec, t.tm_year + 1900);
}

RunLog::RunLog(LocalClock clock) : clock_(clock ? std::move(clock) : LocalClock(LocalTimeNow)) {}

RunLog::~RunLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RunLog::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) std::fclose(file_);
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  WriteRaw(FormatMessage(227, LogTimeText(clock_())) + "\r\n");
  return true;
}

bool RunLog::IsOpen() const {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

void RunLog::Line(const std::string& line, ConversionHost& host) {
  std::lock_guard lock(mutex_);
  host.LogLine(line);
  WriteRaw(line + "\r\n");
}

void RunLog::Finish() {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  WriteRaw("\r\n" + FormatMessage(228, LogTimeText(clock_())) + "\r\n");
  std::fclose(file_);  // a failed close loses only the log; the run goes on
  file_ = nullptr;
}

void RunLog::WriteRaw(const std::string& text) {
  // Failed writes to the log are ignored: the log never stops a conversion.
  if (file_ != nullptr) std::fwrite(text.data(), 1, text.size(), file_);
}

}  // namespace calvex
