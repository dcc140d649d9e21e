#pragma once
// The thread that runs one disk's scan.

#include <atomic>
#include <memory>
#include <thread>

#include "engine/volume/workflow_ports.h"

namespace kestrine {

class TDiskObject;

class TScanningThread final : public TWorkerThread {
 public:
  explicit TScanningThread(TDiskObject* Disk) : FDisk(Disk) {}
  ~TScanningThread() override;

  void Start() override;
  void WaitFor() override;
  bool Finished() const override { return FFinished.load(); }
  // A scan is stopped through its scanner's stop signal.
  void Terminate() override;

 private:
  void Execute();

  TDiskObject* FDisk;
  std::thread FThread;
  std::atomic<bool> FFinished{false};
};

// Created suspended; StartScan starts it.
std::unique_ptr<TScanningThread> CreateScanningThread(TDiskObject* Disk);

}  // namespace kestrine
