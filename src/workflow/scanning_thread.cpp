#include "workflow/scanning_thread.h"

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "support/debug_log.h"

namespace kestrine {

TScanningThread::~TScanningThread() { WaitFor(); }

void TScanningThread::Start() {
  if (!FThread.joinable() && !FFinished) FThread = std::thread([this] { Execute(); });
}

void TScanningThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
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
  FFinished = true;
}

std::unique_ptr<TScanningThread> CreateScanningThread(TDiskObject* Disk) {
  return std::make_unique<TScanningThread>(Disk);
}

}  // namespace kestrine
