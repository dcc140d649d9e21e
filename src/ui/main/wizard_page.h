#pragma once
// The recovery wizard page: the drives step (pick, scan) and the results step (folder tree, result
// list, filter, preview, recover).

#include <QWidget>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "filter/filter_record.h"
#include "filter/result_row.h"
#include "ui/shell/page_host.h"

class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTreeView;
class QTimer;
class QTreeWidget;

namespace kestrine {
class TDiskObject;
class TRecoveryJob;
class TWorkerThread;
}  // namespace kestrine

namespace kestrine::ui {

class TDesktopCore;
class TDialogs;
class TFolderTreeModel;
class TGaugeAdapter;
class TResultListModel;
class TImageList;
class TIconList;
class TfrmPreview;
class TfrmSearchFilters;

class TWizardPage final : public QWidget {
 public:
  TWizardPage(TDesktopCore& Core, TDialogs& Dialogs, TPageHost& Host, TImageList& Images, QWidget* Parent = nullptr);
  ~TWizardPage() override;

  // At start: first steps shown, views attached, the folder filter applied.
  void ShowFirstSteps();
  void AttachViews(TIconList& Icons);
  void ApplyFilter(const TFilter& Filter);
  void SetColumnCaptions(const QStringList& DriveColumns, const QStringList& FileColumns);

  // True while a scan runs: Stop is enabled.
  bool Scanning() const;
  bool Recovering() const { return FRecoverThread != nullptr; }
  const TFilter& Filter() const { return FFilter; }
  char DriveLetter() const { return FDriveLetter; }
  // Whether scans also look for files whose records are gone (kept in the user's settings).
  bool DeepScan() const;
  void SetDeepScan(bool Value);

  // Returns once no recovery runs (queued steps keep running meanwhile).
  void WaitForRecovery();

  void tsWizardShow();
  void btnRefreshDrivesClick();
  void btnStartScanClick();
  void btnStopScanClick();
  void btnNextDrivesClick();
  void btnBackToWizardClick();
  void btnAddImageClick();
  void btnRecoverClick();
  void btnFilterClick();
  void btnPreviewClick();

 private:
  QWidget* CreateDrivesStep();
  QWidget* CreateResultsStep();
  QWidget* CreateDescription();
  void StartRecoveryScan();
  void ScanCompleted();
  void SetScanning(bool Scanning);
  void tvFoldersChange(const QModelIndex& Current);
  QWidget* CreateRecoveryPanel();
  void RecoveryFinished();
  void RecoveryEnded();
  void ShowRecoveryProgress();
  void ShowFoundCount();
  void UpdateStartButton();
  void SortFiles(int Column, Qt::SortOrder Order);
  void SortFinished(const TResultOrder& Order, const std::vector<PFileInfo>& Sorted, std::uint64_t Version);

  TDesktopCore& FCore;
  TDialogs& FDialogs;
  TPageHost& FHost;
  TImageList& FImages;
  TFilter FFilter;
  char FDriveLetter = 0;
  TDiskObject* FScanDisk = nullptr;
  bool FScanning = false;
  bool FClosing = false;
  std::unique_ptr<TRecoveryJob> FRecoverThread;
  std::thread FSorter;  // a long list sorted off the window thread

  QStackedWidget* pcWizard = nullptr;
  QStackedWidget* pcWizardDescription = nullptr;
  QTreeWidget* lvWizardDrives = nullptr;
  QPushButton* btnNextDrives = nullptr;
  QPushButton* btnRefreshDrives = nullptr;
  QPushButton* btnStartScan = nullptr;
  QPushButton* btnStopScan = nullptr;
  QProgressBar* prgScanFiles = nullptr;
  QLabel* lblFilesFound = nullptr;
  QCheckBox* chkDeepScan = nullptr;
  QTreeView* tvFolders = nullptr;
  QSplitter* splScanResults = nullptr;
  QTreeView* lvFiles = nullptr;
  QPushButton* btnRecover = nullptr;
  QPushButton* btnPreview = nullptr;
  QPushButton* btnBackToWizard = nullptr;
  QPushButton* btnFilter = nullptr;
  QPushButton* btnAddImage = nullptr;
  QWidget* pnlRecovery = nullptr;
  QLabel* lblRecoveryProgress = nullptr;
  QPushButton* btnCancelRecovery = nullptr;
  QTimer* FRecoveryTimer = nullptr;
  QMenu* pmFiles = nullptr;
  TfrmSearchFilters* frmSearchFilters = nullptr;
  TfrmPreview* frmPreview = nullptr;
  TFolderTreeModel* FTreeModel = nullptr;
  TResultListModel* FListModel = nullptr;
  std::unique_ptr<TGaugeAdapter> FGauge;
};

}  // namespace kestrine::ui
