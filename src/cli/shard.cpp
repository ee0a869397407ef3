#include "cli/shard.h"

#include <charconv>

namespace calvex::cli {

std::optional<Shard> ParseShard(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  Shard shard;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto k = std::from_chars(begin, begin + slash, shard.index);
  const auto n = std::from_chars(begin + slash + 1, end, shard.count);
  if (k.ec != std::errc() || k.ptr != begin + slash || n.ec != std::errc() || n.ptr != end ||
      shard.index < 1 || shard.index > shard.count)
    return std::nullopt;
  return shard;
}

}  // namespace calvex::cli
