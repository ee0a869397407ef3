// List files: a source list with every entry's information, parameters and sections, and the
// destination choice, saved in the binary layout of the ".lst" files and of the list kept
// between starts of the desktop program ("vxmpeg1.dat"). Little-endian, no padding:
//
//   signature (4, FF FF FF FF), count n (4), n entries, destination mode (4: 1 same directory,
//   2 another directory), with mode 2 the directory (256, zero-padded).
//   Entry: path (128, zero-terminated), kind (4, 1-4), section count s (4, at most 16),
//   s x [first frame (4), last frame (4), GopIndexEntry (16)], reserved (4, 0), the information
//   block of the kind (164/144/176/156 bytes), the parameter record (32/12/580/148 bytes).
//
// A path longer than its field keeps its first 127 bytes there, and the whole of it in a record
// after the destination, which readers of the plain layout never reach (they stop at the
// destination): "LONG" (4), count (4), per path: entry index (4), length (4), the path's bytes.
// Lists without long paths have no such record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/status.h"

namespace calvex {

enum class DestinationMode : std::int32_t { kSameDirectory = 1, kAnotherDirectory = 2 };

struct SourceList {
  std::vector<SourceEntry> entries;
  DestinationMode destinationMode = DestinationMode::kSameDirectory;
  std::string destinationDirectory;  // with kAnotherDirectory
};

// Longest path the entries' fields hold (longer ones go to the long-path record), longest path
// of any entry, and longest directory.
inline constexpr std::size_t kListPathMax = 127;
inline constexpr std::size_t kListLongPathMax = 32767;
inline constexpr std::size_t kListDirectoryMax = 255;

// The bytes of a list file. Fails (142 "Not supported.") when the list cannot be stored: a path
// longer than 32767 bytes, a directory longer than 255, an entry of no kind, more than 16
// sections.
Status EncodeList(const SourceList& list, std::vector<std::uint8_t>& bytes);

// Reads a list file's bytes into `list`. A damaged file (bad signature, an entry of an unknown
// kind, more than 16 sections, too short, a long-path record that does not match its entries,
// other bytes after the end) gives 139 "The list file has been corrupted." and leaves `list`
// unchanged.
Status DecodeList(std::span<const std::uint8_t> bytes, SourceList& list);

// Saves `list` to `path`, replacing the file. 142 when the list cannot be stored (the file is left
// as it was), 102 when the file cannot be written.
Status SaveListFile(const std::string& path, const SourceList& list);

// Loads `path` into `list`: 139 when it cannot be read or is damaged (`list` is unchanged).
Status LoadListFile(const std::string& path, SourceList& list);

}  // namespace calvex
