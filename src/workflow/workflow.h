#pragma once
// Plugs the workflow's threads and reports into the recovery manager.

#include "engine/volume/recovery_manager.h"
#include "engine/volume/workflow_ports.h"

namespace kestrine {

class TMainThreadPort;
class TQueryObject;
class TUpdatingThread;
struct TFilter;

class TWorkflowThreads final : public TThreadFactory {
 public:
  // Recoveries read streams from Manager, folder contents from Query and run their handlers through
  // MainThread; without a query, folders give no files.
  TWorkflowThreads(TRecoveryManager& Manager, const TQueryObject* Query, TMainThreadPort* MainThread)
      : FManager(Manager), FQuery(Query), FMainThread(MainThread) {}
  std::unique_ptr<TWorkerThread> CreateScanningThread(TDiskObject* Disk) override;
  std::unique_ptr<TRecoveryJob> CreateRecoveringThread(const TDiskItems& Items) override;

 private:
  TRecoveryManager& FManager;
  const TQueryObject* FQuery;
  TMainThreadPort* FMainThread;
};

// Connects Manager to Reports and the workflow's threads for as long as it lives. It is made after
// the manager and the updating thread and goes before them; its end stops and waits for the
// running scans.
//
// Shutting down a front end, in this order: wait for a running recovery (WaitForJob on the main
// thread: queued steps keep running, so the recovery ends); end the connection; close the
// main-thread port; then the updating thread and the manager go. A port closed earlier (the
// window is already gone) only drops the views' steps: every wait still ends.
class TWorkflowConnection {
 public:
  TWorkflowConnection(TRecoveryManager& Manager, TScanReports& Reports);
  // The updating thread also lends recoveries its query object and its main-thread port.
  TWorkflowConnection(TRecoveryManager& Manager, TUpdatingThread& Updating);
  ~TWorkflowConnection();
  TWorkflowConnection(const TWorkflowConnection&) = delete;
  TWorkflowConnection& operator=(const TWorkflowConnection&) = delete;

 private:
  TRecoveryManager& FManager;
  TWorkflowThreads FThreads;
};

// The scan start of the recovery page: Disk's earlier results go (the query lets go of them first,
// as they are freed), Updating shows Disk through Filter, and the manager starts the scan with
// OnFinished. Nil when the manager will not start it; while the disk's scan runs, nothing changes.
TWorkerThread* StartShownScan(TRecoveryManager& Manager, TUpdatingThread& Updating, TDiskObject* Disk,
                              const TFilter& Filter, std::function<void()> OnFinished = {});

}  // namespace kestrine
