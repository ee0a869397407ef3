// Ctrl-C for the command line: the first SIGINT (or SIGTERM) cancels the running conversions
// like a confirmed Esc, so that outputs and temporary files are removed; a second one ends the
// program at once.
#pragma once

namespace calvex::cli {

// Installs the handlers. Reads of the terminal that a signal interrupts return with EINTR.
void InstallInterruptHandlers();

// Whether a cancel was requested by a signal, and the exit status it calls for (130 for SIGINT,
// 143 for SIGTERM).
bool Interrupted();
int InterruptExitStatus();

}  // namespace calvex::cli
