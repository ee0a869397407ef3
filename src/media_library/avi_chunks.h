// What the data chunks of an AVI hold, stream by stream, read from the file itself rather than
// from its stream headers (which may claim any length). Internal to the media layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace calvex::media::detail {

struct StreamChunks {
  std::int64_t chunks = 0;  // data chunks, empty ones (repeated frames) included
  std::int64_t bytes = 0;
};

// Per stream number (the order of the stream headers, 0 to `streams` - 1): the "##db", "##dc" and
// "##wb" chunks of the file, from its idx1 index when it has one, else (a file cut short, one
// written without an index, or one of several RIFF parts) found by walking its movi lists.
// Nothing is counted beyond the end of the file.
std::vector<StreamChunks> TallyChunks(const std::string& path, int streams);

}  // namespace calvex::media::detail
