// Every input saved under inputs/<target>/ goes through the fuzz target of that name, as the
// fuzzer ran it: each once crashed a reader or broke one of the target's checks, and must now pass
// (under the sanitizers too: scripts/test --sanitize). Every target also takes a few inputs that
// are too short for any format.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "support/test_support.h"

namespace calvex::fuzz {

namespace {

std::map<std::string, TargetFunction>& Registry() {
  static std::map<std::string, TargetFunction> targets;
  return targets;
}

}  // namespace

bool RegisterTarget(const char* name, TargetFunction function) {
  Registry()[name] = function;
  return true;
}

TargetFunction FindTarget(const char* name) {
  const auto it = Registry().find(name);
  return it == Registry().end() ? nullptr : it->second;
}

namespace {

struct SavedInput {
  std::string target;
  std::filesystem::path file;
};

std::vector<SavedInput> SavedInputs() {
  namespace fs = std::filesystem;
  std::vector<SavedInput> inputs;
  std::error_code ec;
  for (const auto& dir : fs::directory_iterator(CALVEX_SAVED_INPUTS, ec)) {
    if (!dir.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(dir.path()))
      if (file.is_regular_file()) inputs.push_back({dir.path().filename().string(), file.path()});
  }
  std::sort(inputs.begin(), inputs.end(),
            [](const SavedInput& a, const SavedInput& b) { return a.file < b.file; });
  return inputs;
}

std::string TestName(const ::testing::TestParamInfo<SavedInput>& info) {
  std::string name = info.param.target + "_" + info.param.file.stem().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class SavedInputTest : public ::testing::TestWithParam<SavedInput> {};

TEST_P(SavedInputTest, PassesItsTarget) {
  const SavedInput& input = GetParam();
  const TargetFunction target = FindTarget(input.target.c_str());
  ASSERT_NE(target, nullptr) << "no fuzz target " << input.target;
  const std::vector<std::uint8_t> bytes = testing::ReadFileBytes(input.file);
  EXPECT_EQ(target(bytes.data(), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, SavedInputTest, ::testing::ValuesIn(SavedInputs()), TestName);

TEST(FuzzTargets, TakeInputsTooShortForAnyFormat) {
  ASSERT_FALSE(Registry().empty());
  const std::vector<std::vector<std::uint8_t>> inputs = {
      {}, {0x00}, {0xFF}, {0x01, 0x00, 0x00, 0x01}, std::vector<std::uint8_t>(100, 0xFF)};
  for (const auto& [name, target] : Registry()) {
    for (const auto& bytes : inputs) EXPECT_EQ(target(bytes.data(), bytes.size()), 0) << name;
  }
}

}  // namespace
}  // namespace calvex::fuzz
