// The first picture of an AVI or MPEG file, for previews and thumbnails. Decoding takes a while:
// callers run it off the user-interface thread.
#pragma once

#include <QImage>
#include <QSize>
#include <string>

#include "core/status.h"

namespace calvex::ui {

// The first picture of the AVI or MPEG file at `path` fitted into `within` (keeping its shape).
// A null image, and the reader's code in `status`, when it cannot be read (142 for a file of
// another kind).
QImage FirstPicture(const std::string& path, QSize within, Status* status = nullptr);

}  // namespace calvex::ui
