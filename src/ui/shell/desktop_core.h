#pragma once
// What the window stands on: the recovery manager with its drives, the updating thread, the
// workflow's connection and the main-thread port, made and ended in the order the workflow needs.

#include <memory>

#include "engine/volume/recovery_manager.h"
#include "ui/adapters/qt_main_thread.h"
#include "workflow/updating_thread.h"
#include "workflow/workflow.h"

namespace kestrine::ui {

class TDesktopCore {
 public:
  // On the GUI thread, after the application object.
  explicit TDesktopCore(const TDriveListing& Listing);
  // Scans are stopped and waited for; the port is closed so no worker waits on a window that is gone.
  ~TDesktopCore();
  TDesktopCore(const TDesktopCore&) = delete;
  TDesktopCore& operator=(const TDesktopCore&) = delete;

  TRecoveryManager& Manager() { return FManagerScope.Manager(); }
  TUpdatingThread& Updating() { return FUpdating; }
  TQtMainThread& MainThread() { return FMainThread; }

 private:
  TQtMainThread FMainThread;
  TRecoveryManagerScope FManagerScope;
  TUpdatingThread FUpdating{FMainThread};
  std::unique_ptr<TWorkflowConnection> FConnection;
};

}  // namespace kestrine::ui
