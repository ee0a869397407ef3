// What a batch is made of (directories, shards) and the progress it reports for other programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/source_directories.h"
#include "cli_fixture.h"
#include "engine/batch_run.h"
#include "engine/list_file.h"

namespace calvex {
namespace {

namespace fs = std::filesystem;

TEST(SourceDirectories, SourcesByNameWithoutHiddenFilesTemporariesOrEarlierOutputs) {
  Cli c;
  for (const char* name :
       {"clips/a.avi", "clips/B.WAV", "clips/z.mp2", "clips/notes.txt", "clips/.hidden.wav",
        "clips/~~temp.mpg", "clips/sub/c.mpg", "clips/out/x.wav", "y.avi"})
    c.Make(name);
  // An earlier run's output beside its source.
  c.Make("clips/a.mpg");
  fs::last_write_time(c.dir.File("clips/a.mpg"),
                      fs::last_write_time(c.dir.File("clips/a.avi")) + std::chrono::seconds(5));
  const fs::path previous = fs::current_path();
  fs::current_path(c.dir.path());

  struct Case {
    std::vector<std::string> arguments;
    bool recursive;
    std::optional<std::string> destination;
    std::vector<std::string> expected;
  } cases[] = {
      {{"clips"}, false, {}, {"clips/B.WAV", "clips/a.avi", "clips/z.mp2"}},
      {{"clips"},
       true,
       {},
       {"clips/B.WAV", "clips/a.avi", "clips/z.mp2", "clips/out/x.wav", "clips/sub/c.mpg"}},
      // Outputs elsewhere: a.mpg is a source of its own; the destination is not gone into.
      {{"clips/"},
       true,
       "clips/out",
       {"clips/B.WAV", "clips/a.avi", "clips/a.mpg", "clips/z.mp2", "clips/sub/c.mpg"}},
      {{"y.avi", "clips/sub", "notes.txt"}, false, {}, {"y.avi", "clips/sub/c.mpg", "notes.txt"}},
  };
  for (const Case& t : cases) {
    BatchSettings where;
    where.destinationDirectory = t.destination;
    const auto outputsOf = [&](const std::string& source) {
      SourceEntry e;
      e.path = source;
      return OutputPathsFor(e, OutputDirectoryFor(e, where));
    };
    const auto listing = cli::ExpandDirectories(t.arguments, t.recursive, t.destination, outputsOf);
    EXPECT_EQ(listing.files, t.expected) << t.arguments[0] << " recursive " << t.recursive;
    EXPECT_TRUE(listing.unreadable.empty());
  }
  fs::current_path(previous);
}

// Each line of `output` parsed; fails the test on a line that is not JSON.
std::vector<nlohmann::json> JsonLines(const std::string& output) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    try {
      lines.push_back(nlohmann::json::parse(line));
    } catch (const nlohmann::json::exception& e) {
      ADD_FAILURE() << "not JSON: " << line;
    }
  }
  return lines;
}

TEST(ConvertBatch, FourShardsConvertEachFileOnceIntoTheOutputsOfOneRun) {
  Cli c;
  // A batch of ten: a list of three entries, then a directory of seven files.
  SourceList list;
  for (const char* name : {"listed/l0.wav", "listed/l1.avi", "listed/l2.mp2"}) {
    c.Make(name, name);
    SourceEntry e;
    e.path = c.dir.File(name);
    e.kind = KindByExtension(name);
    list.entries.push_back(e);
  }
  ASSERT_EQ(SaveListFile(c.dir.File("batch.lst"), list), kOk);
  for (const char* name :
       {"in/f0.wav", "in/f1.avi", "in/f2.mpg", "in/f3.mp2", "in/f4.wav", "in/f5.wav", "in/f6.avi"})
    c.Make(name, name);
  fs::create_directories(c.dir.path() / "one");
  fs::create_directories(c.dir.path() / "four");

  auto r = c.Run("convert -q -d one --list batch.lst in");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::map<std::string, int> converted;
  for (int k = 1; k <= 4; ++k) {
    r = c.RunStdout("convert -d four --progress json --shard " + std::to_string(k) +
                    "/4 --list batch.lst in");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const auto& line : JsonLines(r.output))
      if (line["stage"] == "done") ++converted[line["file"]];
  }
  EXPECT_EQ(converted.size(), 10u);
  for (const auto& [file, times] : converted) EXPECT_EQ(times, 1) << file;
  const auto names = c.Files("one");
  EXPECT_EQ(names.size(), 10u);
  EXPECT_EQ(c.Files("four"), names);
  for (const std::string& name : names) EXPECT_EQ(c.Read("four/" + name), c.Read("one/" + name));

  // A shard past the batch's end has nothing to do.
  r = c.Run("convert -d four --shard 12/12 --list batch.lst in");
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(ConvertBatch, JsonProgressLinesEndAtOneHundredForEachFile) {
  Cli c;
  for (const char* name : {"a.avi", "b.wav", "c.mpg", "d.mp2"}) c.Make(name);
  auto r = c.RunStdout("convert -j 2 --progress json a.avi b.wav c.mpg d.mp2");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::map<std::string, nlohmann::json> last;
  for (const auto& line : JsonLines(r.output)) {
    for (const char* key : {"file", "stage", "frame", "time", "percent", "fps"})
      EXPECT_TRUE(line.contains(key)) << key << " in " << line;
    const std::string file = line["file"];
    if (last.count(file) != 0 && last[file]["stage"] == line["stage"]) {
      EXPECT_GT(line["percent"], last[file]["percent"]) << line;
    }
    last[file] = line;
  }
  ASSERT_EQ(last.size(), 4u);
  for (const auto& [file, line] : last) {
    EXPECT_EQ(line["stage"], "done") << file;
    EXPECT_EQ(line["percent"], 100) << file;
  }

  r = c.RunStdout("convert -y --progress json b.wav", "CALVEX_FAKE=fail");
  EXPECT_EQ(r.exitCode, 1);
  const auto lines = JsonLines(r.output);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["stage"], "failed");
  EXPECT_EQ(lines.back()["error"],
            "Unable to continue. An error has occurred decoding the AVI file.");
}

}  // namespace
}  // namespace calvex
