#include "ui/shell/desktop_core.h"

namespace kestrine::ui {

TDesktopCore::TDesktopCore(const TDriveListing& Listing)
    : FManagerScope(Listing), FConnection(std::make_unique<TWorkflowConnection>(Manager(), FUpdating)) {}

TDesktopCore::~TDesktopCore() {
  FConnection.reset();
  FMainThread.Close();
}

}  // namespace kestrine::ui
