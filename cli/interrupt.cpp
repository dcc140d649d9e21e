#include "cli/interrupt.h"

#include <atomic>

namespace kestrine::cli {
namespace {

// A signal handler is given nothing but the signal: what it raises has to be found here.
std::atomic<TStopRequest*> gStop{nullptr};
static_assert(std::atomic<TStopRequest*>::is_always_lock_free, "read in a signal handler");

extern "C" void OnInterrupt(int) {
  if (TStopRequest* stop = gStop.load()) stop->Request();
}

}  // namespace

TInterruptScope::TInterruptScope(TStopRequest& Stop) : FOuter(gStop.exchange(&Stop)) {
  Stop.Reset();
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &FPrevious);
}

TInterruptScope::~TInterruptScope() {
  ::sigaction(SIGINT, &FPrevious, nullptr);
  gStop.store(FOuter);
}

}  // namespace kestrine::cli
