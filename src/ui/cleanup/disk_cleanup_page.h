#pragma once
// The Disk Cleanup page: drives, masks, a background search, its results, wipe and delete.

#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "cleanup/cleanup_search_feed.h"
#include "cleanup/findfile/find_file.h"
#include "ui/adapters/qt_find_file_owner.h"
#include "ui/adapters/qt_wipe_worker.h"
#include "ui/shell/page_host.h"

class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTreeView;
class QTreeWidget;

namespace kestrine {
class TCleanupRoots;
struct TCleanupActionReport;
}  // namespace kestrine

namespace kestrine::ui {

class TDesktopCore;
class TDialogs;
class TCleanupResultModel;
class TMaskListModel;

class TDiskCleanupPage final : public QWidget {
 public:
  TDiskCleanupPage(TDesktopCore& Core, TDialogs& Dialogs, TPageHost& Host, QWidget* Parent = nullptr);
  // A running search is aborted and its thread waited for (the finder is destroyed first of the members);
  // its handlers never wait for this thread. A running wipe is cancelled and waited for by
  // processing events.
  ~TDiskCleanupPage() override;

  // At start: the first step and its description shown.
  void ShowFirstSteps();
  // The lists' column captions and the rows' texts, in the language in force.
  void ApplyLanguageTexts();
  // True while a search runs: Start is disabled.
  bool Searching() const { return FSearching; }
  // The mask list rows, in order (SaveFileExtensions).
  QStringList Masks() const;
  void AppendMasks(const QStringList& Masks);
  // The drives step shown afresh (toolbar "Disk Cleanup"): the drive list is filled again.
  void tsDiskCleanupDrivesShow();
  // Texts the language files give that no control shows by its name.
  bool Wiping() const { return FWiper.Running(); }
  // The window is closing: the wipe stops at its next write, and its end is taken in without a box.
  void CancelWipeAndWait();

 private:
  enum TStep { stDrives, stOptions, stResults };

  QWidget* CreateDescription();
  QWidget* CreateDrivesStep();
  QWidget* CreateOptionsStep();
  QWidget* CreateResultsStep();
  void ShowStep(TStep Step);
  void SetSearchState(bool Searching);
  // Rows, folder and count reported since the last call, applied in their order.
  void ApplySearchEvents();
  int FirstSelectedResult() const;
  std::vector<int> SelectedMaskRows() const;  // ascending
  // The results menu: check marks for every row or the selected ones, where clicking each would not do.
  void SetResultChecks(bool Checked, bool SelectedOnly);
  // The rows' problems shown and the finished rows taken out; then a box for the failures.
  void ApplyOutcomes(const TCleanupActionReport& Report);
  void ShowProblems(TText Failed, const TCleanupActionReport& Report);
  QWidget* CreateWipePanel(QWidget* Parent);
  void SetWipeState(bool Wiping);
  void ShowWipeProgress();
  void WipeFinished(std::vector<TCleanupRow>&& Rows, const TCleanupActionReport& Report);
  void btnDiskCleanupWipeCancelClick();

  void btnRefreshDiskCleanupClick();
  void btnNextDiskCleanupDrivesClick();
  void tsDiskCleanupOptionsShow();
  void btnDiskCleanupAddClick();
  void btnDiskCleanupEditClick();
  void btnDiskCleanupDeleteClick();
  void btnDiskCleanupDefaultClick();
  void btnDiskCleanupStartClick();
  void btnDiskCleanupStopClick();
  void ffDiskCleanupSearchBegin();
  // These two run on the search thread: they only feed FFeed.
  void ffDiskCleanupFolderChange(const std::string& Folder, TFolderIgnore& IgnoreFolder);
  void ffDiskCleanupFileMatch(const std::string& Folder, const TSearchRec& FileInfo);
  void ffDiskCleanupSearchFinish();
  void btnDiskCleanupBackClick();
  void btnDiskCleanupNextClick();
  void btnDiskCleanupScanResultsWipeClick();
  void btnDiskCleanupScanResultsDeleteClick();
  void btnDiskCleanupScanResultsBackClick();
  void lvDiskCleanupScanResultsDblClick();

  TDesktopCore& FCore;
  TDialogs& FDialogs;
  TPageHost& FHost;

  QStackedWidget* pcDiskCleanup = nullptr;
  QStackedWidget* pcDiskCleanupDescription = nullptr;
  QTreeWidget* lvDiskCleanupDrives = nullptr;
  QPushButton* btnRefreshDiskCleanup = nullptr;
  QPushButton* btnNextDiskCleanupDrives = nullptr;
  QGroupBox* gbDiskCleanupFilesToSearch = nullptr;
  QTreeView* lvFileExtensions = nullptr;
  QPushButton* btnDiskCleanupAdd = nullptr;
  QPushButton* btnDiskCleanupEdit = nullptr;
  QPushButton* btnDiskCleanupDelete = nullptr;
  QPushButton* btnDiskCleanupDefault = nullptr;
  QWidget* pnlDiskCleanupScanning = nullptr;
  QLabel* lblDiskCleanupScanningFolder = nullptr;
  QLabel* lblDiskCleanupFoundFile = nullptr;
  QPushButton* btnDiskCleanupStart = nullptr;
  QPushButton* btnDiskCleanupStop = nullptr;
  QPushButton* btnDiskCleanupBack = nullptr;
  QPushButton* btnDiskCleanupNext = nullptr;
  QTreeView* lvDiskCleanupScanResults = nullptr;
  QPushButton* btnDiskCleanupScanResultsBack = nullptr;
  QPushButton* btnDiskCleanupScanResultsWipe = nullptr;
  QPushButton* btnDiskCleanupScanResultsDelete = nullptr;
  QMenu* pmDiskCleanupScanResults = nullptr;
  QWidget* pnlDiskCleanupWipe = nullptr;
  QLabel* lblDiskCleanupWipeProgress = nullptr;
  QLabel* lblDiskCleanupWipeFile = nullptr;
  QProgressBar* pbDiskCleanupWipe = nullptr;
  QPushButton* btnDiskCleanupWipeCancel = nullptr;
  TCleanupResultModel* FResults = nullptr;
  TMaskListModel* FMasks = nullptr;

  bool FSearching = false;
  int FMatchCount = 0;  // files found by the running search
  QTimer FApplyTimer;
  QTimer FWipeTimer;
  bool FQuietWipeEnd = false;  // the window is closing: no box
  bool FTornDown = false;
  TQtWipeWorker FWiper;
  // Read by the search thread: replaced only while no search runs. Declared before the finder,
  // which is destroyed (and its thread ended) first.
  std::unique_ptr<TCleanupRoots> FRoots;
  TCleanupSearchFeed FFeed;
  TQtFindFileOwner FOwner;
  TFindFile ffDiskCleanup;
};

}  // namespace kestrine::ui
