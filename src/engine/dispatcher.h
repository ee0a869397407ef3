// The dispatcher: converts one entry of the source list, whole or section by section, through the
// driver of its kind, and cleans up after it.
#pragma once

#include <string>

#include "core/conversion_context.h"
#include "core/drivers.h"
#include "core/settings.h"
#include "core/status.h"

namespace calvex {

// Results of ConvertEntry besides the failure codes (3 and above).
inline constexpr Status kEntryAborted = 0;    // the user cancelled: the batch stops
inline constexpr Status kEntryConverted = 1;  // every output of the entry was written

// Converts `entry` into `directory` ("" for the current directory): one output for the whole file
// or one per section, named as DestinationPath says. Returns kEntryAborted, kEntryConverted, or
// the failure code of the conversion that failed; the failure has already been reported
// (ReportError). Each output is written under a temporary name beside it and takes the place of
// a file of its name only when its conversion succeeded: a failed or cancelled conversion leaves
// no new file and an existing one as it was. Earlier sections' outputs are kept, and the
// temporary audio file never outlives the call. Logs "Write %s" per output written and
// "Failure to write %s" for a failed one.
Status ConvertEntry(const SourceEntry& entry, const std::string& directory,
                    const DriverSet& drivers, ConversionContext& context);

// Whether the AVI audio encoder reads this audio directly (PCM at an MPEG-related rate with 8 or
// 16 bits); other audio is converted into a temporary PCM file first.
bool EncoderTakesAviAudio(const AviInfo& info);

}  // namespace calvex
