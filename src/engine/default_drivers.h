// The real drivers and information readers, for the front ends (the command line and the
// desktop program). Tests wire their own doubles instead.
#pragma once

#include "engine/drivers.h"
#include "engine/source_files.h"

namespace calvex {

// The conversion drivers of every subsystem; a conversion whose driver has not landed yet
// answers 142 "Not supported.".
DriverSet DefaultDrivers();

// The information readers of every kind of source; a kind whose reader has not landed yet
// answers 142 "Not supported.".
InfoReaders DefaultInfoReaders();

// Which conversions DefaultDrivers can run, for the front ends' help texts.
bool DriverAvailable(ConversionKind kind);

}  // namespace calvex
