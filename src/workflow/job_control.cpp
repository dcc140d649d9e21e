#include "workflow/job_control.h"

#include <thread>

#include "workflow/view_ports.h"

namespace kestrine {
namespace {
// How long one look at the job's end may lag behind it: queued steps wake the wait at once; where none
// can come, a look costs nearly nothing and a late one holds up a command's output.
constexpr std::chrono::milliseconds kPoll(20);
constexpr std::chrono::milliseconds kSleep(2);
}  // namespace

void AwaitEnd(const std::atomic<bool>& Finished, TMainThreadPort* MainThread) {
  while (MainThread && !Finished.load() && MainThread->ProcessQueued(std::chrono::milliseconds(10))) {
  }
}

void WaitForJob(TWorkerThread& Job, TMainThreadPort* MainThread, const TStopRequest* Stop,
                const std::function<void()>& Tick, std::chrono::milliseconds TickEvery) {
  bool stopped = false;
  auto lastTick = std::chrono::steady_clock::time_point{};
  while (!Job.Finished()) {
    if (Stop && !stopped && Stop->Requested()) {
      Job.Terminate();
      stopped = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (Tick && now - lastTick >= TickEvery) {
      Tick();
      lastTick = now;
    }
    if (!MainThread || !MainThread->ProcessQueued(kPoll)) std::this_thread::sleep_for(kSleep);
  }
  Job.WaitFor();
}

}  // namespace kestrine
