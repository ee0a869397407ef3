// The user's preferences: seven values in section "Calvex" of "vorla.ini", read once at start-up
// and written key by key when the preferences dialog is confirmed.
//
// The file is plain "[section]" / "key=value" text. Writing one key rewrites that line only (or
// adds it), so that other sections, other keys and comments of the file stay as they were.
#pragma once

#include <optional>
#include <string>

namespace calvex::ui {

struct Preferences {
  bool beepDone = false;      // "BeepDone"
  bool toolTip = true;        // "ToolTip"
  bool saveWhenExit = true;   // "SaveWhenExit"
  bool abortWhenErr = false;  // "AbortWhenErr"
  bool logFile = true;        // "LogFile"
  std::string logFileName;    // "LogFileName"; the default log path when absent
  bool highQuality = false;   // "HighQuality": the video encoder's high-quality preset
};

// Key names, as stored.
inline constexpr const char* kSectionName = "Calvex";
inline constexpr const char* kKeyBeepDone = "BeepDone";
inline constexpr const char* kKeyToolTip = "ToolTip";
inline constexpr const char* kKeySaveWhenExit = "SaveWhenExit";
inline constexpr const char* kKeyAbortWhenErr = "AbortWhenErr";
inline constexpr const char* kKeyLogFile = "LogFile";
inline constexpr const char* kKeyLogFileName = "LogFileName";
inline constexpr const char* kKeyHighQuality = "HighQuality";
inline constexpr std::size_t kLogFileNameMax = 255;

// Reads the preferences from `iniPath`; a missing file or key gives its default.
Preferences ReadPreferences(const std::string& iniPath);

// The value of `key` in `section`, as text (surrounding blanks removed); nothing when absent.
std::optional<std::string> ReadProfileString(const std::string& iniPath, const std::string& section,
                                             const std::string& key);

// Sets `key` in `section` to `value`, creating the file, the section or the key as needed and
// leaving every other line as it was. False when the file cannot be written.
bool WriteProfileString(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& value);

}  // namespace calvex::ui
