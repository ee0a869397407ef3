// The index cache: up to nine files "mpcache1.idx" .. "mpcache9.idx" in the data directory, each
// holding the picture index of one MPEG file, so that opening the file again needs no scan.
//
// A cache file is keyed by the source's name without its directory (compared without regard to
// the case of ASCII letters), its size and the sum of its first 2048 bytes; the directory is not
// part of the key, so a copy of a file elsewhere reuses its index. Layout (little-endian):
//   0   16  magic "VX QRT INDEX 1", zero-padded
//   16  48  the name, zero-terminated and zero-padded (cut to 47 characters)
//   64   4  the source's size in bytes
//   68   4  checksum: the sum modulo 2^32 of the first 512 little-endian 32-bit words
//   72   4  the frame count
//   76   4  N, the number of entries
//   80 16N  the entries (firstFrame, picturesBefore, offset, packetPosition)
//
// A cache file older than its source is stale, and one that is shorter than its header and
// entries say, or whose entries are negative, go backwards or point beyond the source, is
// damaged; both are passed over like a file of another name.
#pragma once

#include <cstdint>
#include <string>

#include "video_decoder/gop_index.h"
#include "video_decoder/mpeg_scanner.h"

namespace calvex::video_decoder {

inline constexpr int kIndexCacheSlots = 9;

// The cache file of slot 1..9 in `directory` (which ends with a separator, or is empty for the
// current directory).
std::string IndexCachePath(const std::string& directory, int slot);

// Loads the index of `source` from the first slot that holds it. True when one was loaded into
// `index`; false (the index untouched) otherwise.
bool LoadIndexCache(const std::string& source, GopIndex& index, const std::string& directory);
// The same in the data directory.
bool LoadIndexCache(const std::string& source, GopIndex& index);

// Writes the index of `source` into the first free slot, or when all nine are taken into the one
// written longest ago. Creates the directory when needed. False (and no cache file left behind)
// when the source cannot be read or the cache file cannot be written; files of 4 GiB and more
// are not cached.
bool SaveIndexCache(const std::string& source, const GopIndex& index, const std::string& directory);
// The same in the data directory.
bool SaveIndexCache(const std::string& source, const GopIndex& index);

// The checksum of the cache key: the sum modulo 2^32 of the first 512 little-endian 32-bit words
// of `source` (a shorter file is taken as padded with zero bytes). False when it cannot be read.
bool SourceChecksum(const std::string& source, std::uint32_t& sum);

// How the preview opens an MPEG file: the cached index when there is one, otherwise a scan whose
// index is then cached. Returns 0, or 1 when the scan was cancelled (the index is then reset).
Status OpenMpegIndex(const std::string& source, GopIndex& index, const ScanCallbacks& callbacks,
                     const std::string& directory);
Status OpenMpegIndex(const std::string& source, GopIndex& index,
                     const ScanCallbacks& callbacks = {});

}  // namespace calvex::video_decoder
