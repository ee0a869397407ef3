// --shard K/N: one machine's part of a batch that N machines share without a list each.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace calvex::cli {

// The K-th of N interleaved slices (1 <= K <= N): positions K-1, K-1+N, K-1+2N, ... of the
// batch. Every machine lists the same batch, so the slices of 1/N to N/N hold each of its
// entries once.
struct Shard {
  int index = 1;  // K
  int count = 1;  // N

  bool Holds(std::size_t position) const {
    return position % static_cast<std::size_t>(count) == static_cast<std::size_t>(index - 1);
  }
};

// "K/N" with 1 <= K <= N; nothing for any other text.
std::optional<Shard> ParseShard(const std::string& text);

}  // namespace calvex::cli
