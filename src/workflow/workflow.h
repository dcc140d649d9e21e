#pragma once
// Plugs the workflow's threads and reports into the recovery manager.

#include "engine/volume/recovery_manager.h"
#include "engine/volume/workflow_ports.h"

namespace kestrine {

class TWorkflowThreads final : public TThreadFactory {
 public:
  std::unique_ptr<TWorkerThread> CreateScanningThread(TDiskObject* Disk) override;
  std::unique_ptr<TWorkerThread> CreateRecoveringThread(const TDiskItems& Items) override;
};

// Connects Manager to Reports and the workflow's threads for as long as it lives.
class TWorkflowConnection {
 public:
  TWorkflowConnection(TRecoveryManager& Manager, TScanReports& Reports);
  ~TWorkflowConnection();
  TWorkflowConnection(const TWorkflowConnection&) = delete;
  TWorkflowConnection& operator=(const TWorkflowConnection&) = delete;

 private:
  TRecoveryManager& FManager;
  TWorkflowThreads FThreads;
};

}  // namespace kestrine
