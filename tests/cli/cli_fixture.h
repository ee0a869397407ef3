// A temporary directory to run calvex (the real program) and calvex_fake (the same command line
// over test doubles of the drivers) in.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace calvex {

struct Cli {
  testing::TempDir dir;

  // Runs a command line in the temporary directory, stdin closed.
  testing::CommandResult Run(const std::string& args, const std::string& env = "") const {
    return testing::RunCommand("cd " + testing::ShellQuote(dir.path().string()) + " && " + env +
                               " " + testing::ShellQuote(CALVEX_FAKE_BINARY) + " " + args +
                               " </dev/null");
  }
  // The same, with standard output only.
  testing::CommandResult RunStdout(const std::string& args, const std::string& env = "") const {
    return testing::RunCommand("cd " + testing::ShellQuote(dir.path().string()) + " && (" + env +
                               " " + testing::ShellQuote(CALVEX_FAKE_BINARY) + " " + args +
                               " </dev/null 2>/dev/null)");
  }
  testing::CommandResult RunReal(const std::string& args) const {
    return testing::RunCommand("cd " + testing::ShellQuote(dir.path().string()) + " && " +
                               testing::ShellQuote(CALVEX_BINARY) + " " + args + " </dev/null");
  }
  void Make(const std::string& name, const std::string& content = "source") const {
    std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
    testing::WriteFileBytes(dir.File(name), {content.begin(), content.end()});
  }
  std::vector<std::string> Files(const std::string& sub = "") const {
    return testing::ListDirectory(dir.path() / sub);
  }
  std::string Read(const std::string& name) const {
    const auto bytes = testing::ReadFileBytes(dir.File(name));
    return {bytes.begin(), bytes.end()};
  }
};

}  // namespace calvex
