#include "workflow/workflow.h"

#include "workflow/recovering_thread.h"
#include "workflow/scanning_thread.h"
#include "engine/volume/disk_object.h"
#include "workflow/updating_thread.h"

namespace kestrine {

std::unique_ptr<TWorkerThread> TWorkflowThreads::CreateScanningThread(TDiskObject* Disk) {
  return kestrine::CreateScanningThread(Disk, FMainThread);
}

std::unique_ptr<TRecoveryJob> TWorkflowThreads::CreateRecoveringThread(const TDiskItems& Items) {
  return kestrine::CreateRecoveringThread(Items, FManager, FQuery, FMainThread);
}

TWorkflowConnection::TWorkflowConnection(TRecoveryManager& Manager, TScanReports& Reports)
    : FManager(Manager), FThreads(Manager, nullptr, nullptr) {
  FManager.SetWorkflow(&Reports, &FThreads);
}

TWorkflowConnection::TWorkflowConnection(TRecoveryManager& Manager, TUpdatingThread& Updating)
    : FManager(Manager), FThreads(Manager, &Updating.Query(), &Updating.MainThread()) {
  FManager.SetWorkflow(&Updating, &FThreads);
}

TWorkflowConnection::~TWorkflowConnection() { FManager.SetWorkflow(nullptr, nullptr); }

TWorkerThread* StartShownScan(TRecoveryManager& Manager, TUpdatingThread& Updating, TDiskObject* Disk,
                              const TFilter& Filter, std::function<void()> OnFinished) {
  if (!Disk || Manager.ScanRunning(Disk)) return nullptr;
  Updating.Query().ClearDisks();
  Updating.Query().Clear();
  // No scan of it runs, and the query no longer lists its items.
  Disk->Clear();
  Updating.PrepareScan(Disk, Filter);
  return Manager.StartScan(Disk, std::move(OnFinished));
}

}  // namespace kestrine
