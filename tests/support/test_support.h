// Helpers shared by the tests: temporary directories, running peer tools (ffmpeg, mpg123, ...),
// reading and writing whole files, a fixed time for run logs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace calvex::testing {

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

// Runs a shell command and collects what it prints.
CommandResult RunCommand(const std::string& command);

// Quotes a word for the shell.
std::string ShellQuote(const std::string& word);

// Whether a program is on the PATH.
bool HaveTool(const std::string& name);

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Lists the names of the files in a directory (not recursive), sorted.
std::vector<std::string> ListDirectory(const std::filesystem::path& dir);

// A fixed local time for the run log's time texts: "Sat Aug 05 18:44:51 1995".
std::tm FixedLogTime();

}  // namespace calvex::testing

// Skips the current test when a peer tool is missing (the README's test command installs them
// all; a developer's machine may lack some).
#define CALVEX_REQUIRE_TOOL(name)                                                        \
  do {                                                                                   \
    if (!::calvex::testing::HaveTool(name)) GTEST_SKIP() << name << " is not installed"; \
  } while (0)
