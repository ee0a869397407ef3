// Directories on calvex convert's command line: each stands for the source files in it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace calvex::cli {

struct DirectoryListing {
  std::vector<std::string> files;
  std::vector<std::string> unreadable;  // directories that could not be read
};

// The outputs a source would be given, to tell them from sources in a directory.
using OutputsOf = std::function<std::vector<std::string>(const std::string& source)>;

// `arguments` with each directory replaced by its source files (.avi, .wav, .mpg, .mp2), sorted
// by name; with `recursive` also those of its subdirectories, each after the files beside it,
// never going into `destination`. Files given by name stay as given. Left out of a directory:
// hidden files, files whose name starts with '~' (a run's temporaries), and a file that is the
// output of a source beside it and newer than that source (the result of an earlier run, which
// converted back would overwrite its own source).
DirectoryListing ExpandDirectories(const std::vector<std::string>& arguments, bool recursive,
                                   const std::optional<std::string>& destination,
                                   const OutputsOf& outputsOf);

}  // namespace calvex::cli
