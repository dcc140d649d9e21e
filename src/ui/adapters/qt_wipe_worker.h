#pragma once
// The wipe's watch in the window: the checked rows are wiped on a thread of their own, the latest
// progress is kept for the window to read when it likes, and the end is posted to the GUI thread.
// The thread is never waited for there: it deletes itself once it has ended.

#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "cleanup/cleanup_results.h"
#include "cleanup/wipe_ports.h"

namespace kestrine::ui {

class TQtWipeWorker final : public QObject, public TWipeWatch {
 public:
  // Runs on the GUI thread with the rows as the wipe left them.
  using TFinished = std::function<void(std::vector<TCleanupRow>&& Rows, const TCleanupActionReport& Report)>;

  explicit TQtWipeWorker(QObject* Parent = nullptr);
  // Only once the end has been reported (WaitByProcessingEvents sees to it).
  ~TQtWipeWorker() override;

  // Wipes a copy of Rows; the caller leaves its own rows unchanged until Finished.
  void Start(std::vector<TCleanupRow> Rows, int Passes, TFinished Finished);
  bool Running() const { return FRunning; }
  // Any thread; the wipe stops at its next write.
  void Cancel() { FCancel = true; }
  // Runs the GUI thread's events, but no input, until the end has been reported.
  void WaitByProcessingEvents();
  TWipeProgress Latest() const;

  void Progress(const TWipeProgress& Where) override;
  bool CancelRequested() const override { return FCancel; }

 private:
  mutable std::mutex FLock;
  TWipeProgress FLatest;
  std::atomic<bool> FCancel = false;
  bool FRunning = false;
};

}  // namespace kestrine::ui
