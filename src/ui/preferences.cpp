#include "ui/preferences.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/data_directory.h"

namespace calvex::ui {
namespace {

std::string Trim(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const auto end = s.find_last_not_of(" \t\r");
  return s.substr(begin, end - begin + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The section name of a "[name]" line.
std::optional<std::string> SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
  return Trim(t.substr(1, t.size() - 2));
}

// The key of a "key=value" line.
std::optional<std::string> KeyOf(const std::string& line) {
  const auto eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  const std::string t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#') return std::nullopt;
  return Trim(line.substr(0, eq));
}

bool ReadFlag(const std::string& ini, const char* key, bool fallback) {
  const auto text = ReadProfileString(ini, kSectionName, key);
  if (!text) return fallback;
  // Read as the platform's read-integer call does: leading digits, anything else is 0; any
  // nonzero number counts as on.
  return std::strtol(text->c_str(), nullptr, 10) != 0;
}

}  // namespace

std::optional<std::string> ReadProfileString(const std::string& iniPath, const std::string& section,
                                             const std::string& key) {
  bool inSection = false;
  for (const std::string& line : ReadLines(iniPath)) {
    if (const auto name = SectionOf(line)) {
      inSection = SameName(*name, section);
      continue;
    }
    if (!inSection) continue;
    if (const auto k = KeyOf(line); k && SameName(*k, key))
      return Trim(line.substr(line.find('=') + 1));
  }
  return std::nullopt;
}

bool WriteProfileString(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& value) {
  std::vector<std::string> lines = ReadLines(iniPath);
  const std::string entry = key + "=" + value;
  bool inSection = false;
  std::optional<std::size_t> sectionEnd;  // index after the section's last non-blank line
  bool written = false;
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    if (const auto name = SectionOf(lines[i])) {
      inSection = SameName(*name, section);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines[i]).empty()) sectionEnd = i + 1;
    if (const auto k = KeyOf(lines[i]); k && SameName(*k, key)) {
      lines[i] = entry;
      written = true;
    }
  }
  if (!written) {
    if (sectionEnd) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), entry);
    } else {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }

  std::error_code ec;
  const auto parent = std::filesystem::path(iniPath).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  // Written beside the file and renamed over it, so that a failed write never leaves half a file.
  const std::string temp = iniPath + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    out.flush();
    if (!out) {
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, iniPath, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

Preferences ReadPreferences(const std::string& ini) {
  Preferences p;
  p.beepDone = ReadFlag(ini, kKeyBeepDone, false);
  p.toolTip = ReadFlag(ini, kKeyToolTip, true);
  p.saveWhenExit = ReadFlag(ini, kKeySaveWhenExit, true);
  p.abortWhenErr = ReadFlag(ini, kKeyAbortWhenErr, false);
  p.logFile = ReadFlag(ini, kKeyLogFile, true);
  p.highQuality = ReadFlag(ini, kKeyHighQuality, false);
  const auto name = ReadProfileString(ini, kSectionName, kKeyLogFileName);
  p.logFileName = name && !name->empty() ? name->substr(0, kLogFileNameMax) : DefaultLogPath();
  return p;
}

}  // namespace calvex::ui
