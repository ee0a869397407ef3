// The folders of src/ stand on floors (doc/architecture.md): a file may include headers of its own
// folder and of the folders its folder stands on, never of a folder above or beside it. This test
// reads every #include "..." line of src/ and checks it against that table, so an upward include
// fails here rather than in a review.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Which folders each folder may include besides itself.
const std::map<std::string, std::set<std::string>>& AllowedIncludes() {
  static const std::set<std::string> kFloor1 = {"core", "media_library", "mpeg_audio",
                                                "mpeg_video"};
  static const std::set<std::string> kSubsystems = {"video_encoder", "audio_encoder", "mux",
                                                    "video_decoder", "audio_decoder"};
  static const auto kBelowEngine = [] {
    std::set<std::string> s = kFloor1;
    s.insert(kSubsystems.begin(), kSubsystems.end());
    return s;
  }();
  static const auto kBelowFrontEnds = [] {
    std::set<std::string> s = kBelowEngine;
    s.insert("engine");
    return s;
  }();
  static const std::map<std::string, std::set<std::string>> kAllowed = {
      {"core", {}},
      {"media_library", {"core"}},
      {"mpeg_audio", {"core"}},
      {"mpeg_video", {"core"}},
      {"video_encoder", {"core", "mpeg_video"}},
      {"audio_encoder", {"core", "mpeg_audio", "media_library"}},
      {"mux", {"core", "mpeg_audio"}},
      {"audio_decoder", {"core", "mpeg_audio", "media_library"}},
      // The MPEG to AVI driver runs the audio decoder on a system stream's sound.
      {"video_decoder", {"core", "mpeg_video", "mpeg_audio", "media_library", "audio_decoder"}},
      {"engine", kBelowEngine},
      {"cli", kBelowFrontEnds},
      {"ui", kBelowFrontEnds},
  };
  return kAllowed;
}

struct Include {
  std::string file;  // relative to src/
  int line;
  std::string header;
};

// The quoted includes of every source file under `src`, and the folder-qualified ones among them.
std::vector<Include> QuotedIncludes(const fs::path& src) {
  static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
  std::vector<Include> found;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
    std::ifstream in(entry.path());
    std::string text;
    for (int n = 1; std::getline(in, text); ++n) {
      std::smatch m;
      if (std::regex_search(text, m, kInclude))
        found.push_back({fs::relative(entry.path(), src).generic_string(), n, m[1]});
    }
  }
  return found;
}

std::string FirstComponent(const std::string& path) {
  return path.substr(0, path.find('/'));
}

// Every include that leaves its folder for one the table does not allow, as "file:line -> header".
std::vector<std::string> UpwardIncludes(const fs::path& src) {
  std::vector<std::string> wrong;
  for (const Include& inc : QuotedIncludes(src)) {
    const std::string from = FirstComponent(inc.file);
    if (inc.header.find('/') == std::string::npos) continue;  // a header beside the file
    const std::string to = FirstComponent(inc.header);
    if (to == from) continue;
    const auto allowed = AllowedIncludes().find(from);
    if (allowed == AllowedIncludes().end() || !allowed->second.contains(to))
      wrong.push_back(inc.file + ":" + std::to_string(inc.line) + " -> " + inc.header);
  }
  return wrong;
}

TEST(Architecture, EveryFolderOfSrcIsOnTheFloorTable) {
  for (const auto& entry : fs::directory_iterator(CALVEX_SOURCE_DIR "/src")) {
    if (!entry.is_directory()) continue;
    EXPECT_TRUE(AllowedIncludes().contains(entry.path().filename().string()))
        << entry.path().filename() << " has no row in the floor table";
  }
}

TEST(Architecture, NoFileIncludesAFolderAboveOrBesideItsOwn) {
  const auto wrong = UpwardIncludes(CALVEX_SOURCE_DIR "/src");
  std::string list;
  for (const auto& w : wrong) list += "\n  " + w;
  EXPECT_TRUE(wrong.empty()) << "includes against the floors of doc/architecture.md:" << list;
}

}  // namespace
