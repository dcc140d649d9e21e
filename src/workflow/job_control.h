#pragma once
// Waiting for a background job and asking it to stop, the same way in every front end.

#include <atomic>
#include <chrono>
#include <functional>

#include "engine/volume/workflow_ports.h"

namespace kestrine {

class TMainThreadPort;

// A request to stop the running job: the front end raises it (a Stop button, Ctrl-C); raising it
// is safe from any thread and from a signal handler.
class TStopRequest {
 public:
  void Request() noexcept { FRequested.store(true, std::memory_order_relaxed); }
  bool Requested() const noexcept { return FRequested.load(std::memory_order_relaxed); }
  void Reset() noexcept { FRequested.store(false, std::memory_order_relaxed); }

 private:
  static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler raises the request");
  std::atomic<bool> FRequested{false};
};

// Waits until Job has ended. Meanwhile, on the main thread, the queued steps of MainThread (nil: none)
// run, so a job that waits on one of them is never left waiting; Stop, once raised, terminates the
// job (once); Tick runs first and then about every TickEvery, for progress drawing.
void WaitForJob(TWorkerThread& Job, TMainThreadPort* MainThread, const TStopRequest* Stop = nullptr,
                const std::function<void()>& Tick = {},
                std::chrono::milliseconds TickEvery = std::chrono::milliseconds(200));

// For the threads themselves: returns once Finished holds, running MainThread's queued steps
// meanwhile, or at once when the port cannot hand steps to this thread (the caller then blocks on
// its join).
void AwaitEnd(const std::atomic<bool>& Finished, TMainThreadPort* MainThread);

}  // namespace kestrine
