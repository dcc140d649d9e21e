#pragma once
// Ctrl-C as a request to stop, rather than the end of the process.

#include <signal.h>

#include "workflow/job_control.h"

namespace kestrine::cli {

// While this lives, Ctrl-C raises Stop. System calls it cuts short are restarted: rows may be being
// written, and a write cut short would leave a gap in the listing.
class TInterruptScope {
 public:
  explicit TInterruptScope(TStopRequest& Stop);
  ~TInterruptScope();
  TInterruptScope(const TInterruptScope&) = delete;
  TInterruptScope& operator=(const TInterruptScope&) = delete;

 private:
  TStopRequest* FOuter;
  struct sigaction FPrevious {};
};

}  // namespace kestrine::cli
