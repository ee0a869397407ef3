// Splitting and building the file names of a conversion: the source's directory, the destination
// names of a whole file or of its sections.
//
// Names are split at "/" and at "\" (list files written elsewhere may carry either); a separator
// that has to be added is "/". Case is kept.
#pragma once

#include <string>

#include "core/settings.h"

namespace calvex {

// The directory part of a path, up to and including its last separator; "" for a bare name.
std::string DirectoryOf(const std::string& path);

// The name after the last separator.
std::string FileNameOf(const std::string& path);

// `directory` with a separator appended unless it ends with one; "" stays "" (the current
// directory).
std::string WithTrailingSeparator(const std::string& directory);

// The destination's name without extension: the source's file name cut at its last ".". For a
// section (0-based `section`, -1 for the whole file) a name of 5 or more characters is cut to its
// first 5 and the section number + 1 is appended as "%03d" (clip1 -> clip1001, clip -> clip001).
std::string DestinationBaseName(const std::string& source, int section);

// Directory + base name + the extension of `kind` (".mpg", ".mp2", ".avi" or ".wav").
std::string DestinationPath(const std::string& source, const std::string& directory,
                            ConversionKind kind, int section);

}  // namespace calvex
