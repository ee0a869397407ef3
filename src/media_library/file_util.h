// File helpers shared by the writers. Internal to the media layer.
#pragma once

#include <string>

namespace calvex::media::detail {

// Deletes an unfinished output. Only regular files are deleted: an output may be a device such as
// /dev/null or /dev/full, which must stay.
void RemoveUnfinishedFile(const std::string& path);

}  // namespace calvex::media::detail
