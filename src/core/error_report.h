// Showing a failure to the user: in a message box, or as two lines of the run's log during a
// batch run.
#pragma once

#include <string>
#include <string_view>

#include "core/conversion_context.h"
#include "core/status.h"

namespace calvex {

// The text shown for a failure code. `argument` is the file or library name that codes 101, 102,
// 132 and 138 carry, or for 149 the section and the file's frame count; other codes ignore it.
// Codes 0, 1 and 2 have no text; codes without a message of their own (103, 129, ...) give
// "Internal error code = <code>.".
std::string ErrorText(Status code, std::string_view argument = {});

// Reports a failure of a conversion. During a batch run the text is not shown in a box: the run's
// log gets "Error occurred:" and the text, the run's error flag is raised and the error sound
// plays. Otherwise the host shows the text in a message box. Codes 0, 1 and 2 do nothing.
void ReportError(ConversionContext& context, Status code, std::string_view argument = {});

// Reports a failure outside any run (a list file that cannot be read, a player that cannot
// start): always a message box.
void ReportError(ConversionHost& host, Status code, std::string_view argument = {});

}  // namespace calvex
