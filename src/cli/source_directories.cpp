#include "cli/source_directories.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "core/settings.h"

namespace calvex::cli {
namespace {

namespace fs = std::filesystem;

std::string Normal(const fs::path& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return (ec ? path : absolute).lexically_normal().string();
}

bool Newer(const fs::path& a, const fs::path& b) {
  std::error_code ec1, ec2;
  const auto ta = fs::last_write_time(a, ec1);
  const auto tb = fs::last_write_time(b, ec2);
  return !ec1 && !ec2 && ta > tb;
}

// `files` (one directory's sources) without those an earlier run made from a source beside them.
std::vector<std::string> WithoutEarlierOutputs(const std::vector<std::string>& files,
                                               const OutputsOf& outputsOf) {
  std::set<std::string> listed;
  for (const std::string& f : files) listed.insert(Normal(f));
  std::set<std::string> outputs;
  for (const std::string& source : files) {
    for (const std::string& output : outputsOf(source)) {
      const std::string key = Normal(output);
      if (listed.count(key) != 0 && key != Normal(source) && Newer(output, source))
        outputs.insert(key);
    }
  }
  std::vector<std::string> kept;
  for (const std::string& f : files)
    if (outputs.count(Normal(f)) == 0) kept.push_back(f);
  return kept;
}

void List(const fs::path& directory, bool recursive, const std::optional<std::string>& destination,
          const OutputsOf& outputsOf, DirectoryListing& listing) {
  std::vector<std::string> files;
  std::vector<fs::path> subdirectories;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (name.empty() || name[0] == '.' || name[0] == '~') continue;
    std::error_code type;
    if (it->is_directory(type)) {
      // Not into links: a link to a parent would never end.
      if (recursive && !it->is_symlink(type)) subdirectories.push_back(path);
    } else if (KindByExtension(name) != ConversionKind::kNone && it->is_regular_file(type)) {
      files.push_back(path.string());
    }
  }
  if (ec) {
    listing.unreadable.push_back(directory.string());
    return;
  }
  std::sort(files.begin(), files.end());
  std::sort(subdirectories.begin(), subdirectories.end());
  for (std::string& f : WithoutEarlierOutputs(files, outputsOf)) listing.files.push_back(f);
  for (const fs::path& sub : subdirectories) {
    std::error_code same;
    if (destination && fs::equivalent(sub, *destination, same)) continue;
    List(sub, recursive, destination, outputsOf, listing);
  }
}

}  // namespace

DirectoryListing ExpandDirectories(const std::vector<std::string>& arguments, bool recursive,
                                   const std::optional<std::string>& destination,
                                   const OutputsOf& outputsOf) {
  DirectoryListing listing;
  for (const std::string& argument : arguments) {
    std::error_code ec;
    if (fs::is_directory(argument, ec)) {
      List(argument, recursive, destination, outputsOf, listing);
    } else {
      listing.files.push_back(argument);
    }
  }
  return listing;
}

}  // namespace calvex::cli
