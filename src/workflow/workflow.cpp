#include "workflow/workflow.h"

#include "workflow/scanning_thread.h"

namespace kestrine {

std::unique_ptr<TWorkerThread> TWorkflowThreads::CreateScanningThread(TDiskObject* Disk) {
  return kestrine::CreateScanningThread(Disk);
}

std::unique_ptr<TWorkerThread> TWorkflowThreads::CreateRecoveringThread(const TDiskItems& /*Items*/) {
  return nullptr;  // the recovering thread comes with file recovery
}

TWorkflowConnection::TWorkflowConnection(TRecoveryManager& Manager, TScanReports& Reports) : FManager(Manager) {
  FManager.SetWorkflow(&Reports, &FThreads);
}

TWorkflowConnection::~TWorkflowConnection() { FManager.SetWorkflow(nullptr, nullptr); }

}  // namespace kestrine
