#pragma once
// The workflow's main-thread port in the window: a worker's step is queued and the GUI thread is
// woken by a posted call; a step asked for on the GUI thread runs at once.

#include <QObject>

#include "workflow/main_thread_queue.h"

namespace kestrine::ui {

// Made on the GUI thread. While the window waits for a worker, ProcessQueued keeps its steps running.
class TQtMainThread final : public QObject, public TMainThreadPort {
 public:
  TQtMainThread();
  void RunAndWait(const std::function<void()>& Step) override { FQueue.RunAndWait(Step); }
  bool ProcessQueued(std::chrono::milliseconds Wait) override { return FQueue.ProcessQueued(Wait); }
  void Close() override { FQueue.Close(); }
  bool Queues() const override { return FQueue.Queues(); }

 private:
  TMainThreadQueue FQueue;
};

}  // namespace kestrine::ui
