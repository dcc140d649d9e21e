#include "workflow/scanning_thread.h"

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "support/debug_log.h"
#include "workflow/job_control.h"
#include "workflow/view_ports.h"

namespace kestrine {

TScanningThread::~TScanningThread() {
  if (FThread.joinable() && !FFinished) Terminate();
  WaitFor();
}

void TScanningThread::Start() {
  if (!FThread.joinable() && !FFinished) FThread = std::thread([this] { Execute(); });
}

void TScanningThread::WaitFor() {
  if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id()) return;
  AwaitEnd(FFinished, FMainThread);
  FThread.join();
}

void TScanningThread::Terminate() {
  if (FDisk && FDisk->Scanner) FDisk->Scanner->SetStopped(true);
}

void TScanningThread::Execute() {
  try {
    if (FDisk && FDisk->Scanner) {
      FDisk->Scanner->ScanForFiles();
    } else if (FDisk) {
      // Nothing to scan with: the scan ends at once, the way every scan ends.
      FDisk->Reports().ScanFinished(FDisk);
    }
  } catch (...) {
    KESTRINE_ASSERT(false, "scanner let a failure escape ScanForFiles");
  }
  if (FOnFinished) {
    if (FMainThread)
      FMainThread->RunAndWait(FOnFinished);
    else
      FOnFinished();
  }
  FFinished = true;
}

std::unique_ptr<TScanningThread> CreateScanningThread(TDiskObject* Disk, TMainThreadPort* MainThread) {
  return std::make_unique<TScanningThread>(Disk, MainThread);
}

}  // namespace kestrine
