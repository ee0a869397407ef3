#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace calvex::cli {
namespace {

// Signals reach the whole process; this flag is the one piece of process-wide state of the
// command line, written only by the handler and read by every conversion's thread.
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "used inside a signal handler");

extern "C" void OnSignal(int signal) {
  if (gSignal != 0) ::_exit(128 + signal);  // asked twice: stop now
  gSignal = signal;
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a question waiting on the terminal returns
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
  return gSignal != 0;
}

int InterruptExitStatus() {
  return gSignal == SIGTERM ? 143 : 130;
}

}  // namespace calvex::cli
