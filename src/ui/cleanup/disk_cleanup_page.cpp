#include "ui/cleanup/disk_cleanup_page.h"

namespace kestrine::ui {

TDiskCleanupPage::TDiskCleanupPage(TDesktopCore& Core, TDialogs& Dialogs, TDiskCleanupHost& Host, QWidget* Parent)
    : QWidget(Parent), FCore(Core), FDialogs(Dialogs), FHost(Host) {
  setObjectName(QStringLiteral("tsDiskCleanup"));
}

TDiskCleanupPage::~TDiskCleanupPage() = default;

void TDiskCleanupPage::ShowFirstSteps() {}
bool TDiskCleanupPage::Searching() const { return false; }
QStringList TDiskCleanupPage::Masks() const { return FMasks; }
void TDiskCleanupPage::AppendMasks(const QStringList& Masks) { FMasks << Masks; }
void TDiskCleanupPage::tsDiskCleanupDrivesShow() {}

}  // namespace kestrine::ui
