#include "cli/cli_host.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "cli/interrupt.h"
#include "cli/json_progress.h"
#include "core/file_names.h"
#include "core/messages.h"

namespace calvex::cli {

void Console::Line(const std::string& text) {
  std::lock_guard lock(mutex_);
  EraseStatusLocked();
  std::fprintf(out_, "%s\n", text.c_str());
  if (!status_.empty()) std::fprintf(out_, "%s", status_.c_str());
  std::fflush(out_);
}

void Console::Status(int slot, const std::string& text, bool force) {
  if (!terminal_) return;
  std::lock_guard lock(mutex_);
  parts_[slot] = text;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastStatus_ < std::chrono::milliseconds(100)) return;
  lastStatus_ = now;
  DrawStatusLocked();
}

void Console::ClearStatus(int slot) {
  std::lock_guard lock(mutex_);
  if (parts_.erase(slot) != 0 && terminal_) DrawStatusLocked();
}

void Console::ClearStatus() {
  std::lock_guard lock(mutex_);
  parts_.clear();
  EraseStatusLocked();
  status_.clear();
  std::fflush(out_);
}

void Console::DrawStatusLocked() {
  std::string line;
  for (const auto& [slot, text] : parts_) line += (line.empty() ? "" : " | ") + text;
  // A line that wraps could not be erased again: keep it within the terminal's width.
  winsize size{};
  if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
      line.size() >= size.ws_col)
    line.resize(size.ws_col - 1u);
  EraseStatusLocked();
  status_ = line;
  std::fprintf(out_, "%s", status_.c_str());
  std::fflush(out_);
}

void Console::EraseStatusLocked() {
  if (terminal_ && !status_.empty()) std::fprintf(out_, "\r\033[K");
}

bool Console::Ask(const std::string& question) {
  {
    std::lock_guard lock(mutex_);
    EraseStatusLocked();
    std::fprintf(out_, "%s [y/N] ", question.c_str());
    std::fflush(out_);
  }
  std::string answer;
  char c;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR && !Interrupted()) continue;
    if (n <= 0 || c == '\n') break;
    answer += c;
  }
  if (Interrupted()) std::fprintf(out_, "\n");
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

CliHost::CliHost(Console& console, const CliHostSettings& settings, int entry)
    : console_(console), settings_(settings), entry_(entry) {
  if (entry < 0) {
    for (std::size_t i = 0; i < settings.names.size(); ++i)
      entryHosts_.push_back(std::make_unique<CliHost>(console, settings, static_cast<int>(i)));
  }
}

ConversionHost& CliHost::HostForEntry(int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < entryHosts_.size())
    return *entryHosts_[static_cast<std::size_t>(index)];
  return *this;
}

const std::string& CliHost::EntryName() const {
  return settings_.names[static_cast<std::size_t>(entry_)];
}

std::string CliHost::EntryLabel() const {
  if (entry_ < 0) return {};
  return FormatText("[%d/%zu] %s", entry_ + 1, settings_.names.size(),
                    FileNameOf(EntryName()).c_str());
}

bool CliHost::ConversionProgress(const ProgressRecord& record, ProgressKind kind, int thousandths) {
  if (Interrupted()) return true;
  if (settings_.json != nullptr && entry_ >= 0) {
    settings_.json->Report(entry_, EntryName(), record, kind, thousandths);
    return false;
  }
  if (settings_.quiet) return false;

  const auto now = std::chrono::steady_clock::now();
  if (static_cast<int>(kind) != kind_) {
    kind_ = static_cast<int>(kind);
    lastTenth_ = 0;
    firstFrame_ = record.frameNumber;
    stageStart_ = now;
  }
  const std::string stage(StageCaption(kind));
  if (console_.terminal()) {
    std::string text = EntryLabel() + "  " + stage + "  " + TimeCodeText(record, kind) +
                       FormatText("  %5.1f%%", thousandths / 10.0);
    const double seconds = std::chrono::duration<double>(now - stageStart_).count();
    if (kind == ProgressKind::kVideo && seconds > 0.5)
      text += FormatText("  %.1f fps", (record.frameNumber - firstFrame_) / seconds);
    console_.Status(entry_, text, thousandths >= 1000);
  } else {
    const int tenth = thousandths / 100;
    if (tenth > lastTenth_) {
      lastTenth_ = tenth;
      console_.Line(EntryLabel() + ": " + stage + FormatText(" %d%%", tenth * 10));
    }
  }
  return false;
}

bool CliHost::PollCancel() {
  return Interrupted();
}

void CliHost::ShowError(const std::string& text) {
  console_.Line("calvex: " + text);
}

void CliHost::LogLine(const std::string& line) {
  if (!settings_.quiet) console_.Line(line);
}

void CliHost::ErrorLogged(const std::string& text) {
  // Without -q the two lines of the error are already out.
  if (settings_.quiet) console_.Line("calvex: " + (entry_ < 0 ? text : EntryLabel() + ": " + text));
}

bool CliHost::AskYesNo(const std::string& question) {
  if (settings_.assumeYes) return true;
  const std::string existing =
      settings_.existingOutput.empty() ? std::string() : settings_.existingOutput + " exists. ";
  if (settings_.canAsk && !Interrupted()) return console_.Ask("calvex: " + existing + question);
  console_.Line("calvex: " + existing + "Existing outputs are replaced only with -y (--yes).");
  return false;
}

void CliHost::ShowMessage(const std::string& text, MessageIcon icon) {
  if (icon == MessageIcon::kInformation && settings_.quiet) return;
  console_.Line("calvex: " + text);
}

void CliHost::OpenLogViewer(const std::string& logPath) {
  console_.Line("calvex: see the log " + logPath);
}

void CliHost::EntryFinished(int, std::uint32_t result) {
  if (settings_.json != nullptr && entry_ >= 0) settings_.json->Finish(entry_, EntryName(), result);
  console_.ClearStatus(entry_);
  kind_ = -1;
}

}  // namespace calvex::cli
