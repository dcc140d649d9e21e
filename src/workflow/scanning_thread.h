#pragma once
// The thread that runs one disk's scan.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "engine/volume/workflow_ports.h"

namespace kestrine {

class TDiskObject;
class TMainThreadPort;

// The recovery manager owns it from StartScan on (see TRecoveryManager). Destroying it stops the
// scan and waits for its end, running MainThread's queued steps meanwhile.
class TScanningThread final : public TWorkerThread {
 public:
  // The finished handler runs through MainThread (nil: on the scanning thread).
  explicit TScanningThread(TDiskObject* Disk, TMainThreadPort* MainThread = nullptr)
      : FDisk(Disk), FMainThread(MainThread) {}
  ~TScanningThread() override;

  void Start() override;
  void WaitFor() override;
  bool Finished() const override { return FFinished.load(); }
  // A scan is stopped through its scanner's stop signal.
  void Terminate() override;
  void SetOnFinished(std::function<void()> Handler) override { FOnFinished = std::move(Handler); }

 private:
  void Execute();

  TDiskObject* FDisk;
  TMainThreadPort* FMainThread;
  std::function<void()> FOnFinished;
  std::thread FThread;
  std::atomic<bool> FFinished{false};
};

// Created suspended; StartScan starts it.
std::unique_ptr<TScanningThread> CreateScanningThread(TDiskObject* Disk, TMainThreadPort* MainThread = nullptr);

}  // namespace kestrine
