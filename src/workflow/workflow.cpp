#include "workflow/workflow.h"

#include "workflow/recovering_thread.h"
#include "workflow/scanning_thread.h"
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

}  // namespace kestrine
