// The real drivers and information readers, for the front ends (the command line and the
// desktop program). Tests wire their own doubles instead.
#pragma once

#include "core/drivers.h"
#include "engine/source_files.h"

namespace calvex {

// The conversion drivers of every subsystem.
DriverSet DefaultDrivers();

// The information readers of every kind of source.
InfoReaders DefaultInfoReaders();

}  // namespace calvex
