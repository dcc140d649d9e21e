#include "ui/cleanup/disk_cleanup_page.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStringListModel>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <utility>

#include "cleanup/cleanup_results.h"
#include "cleanup/disk_cleanup.h"
#include "settings/size_text.h"
#include "support/ansi_chars.h"
#include "ui/cleanup/cleanup_result_model.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/settings/language_texts.h"

namespace kestrine::ui {

namespace {

const char* const kMaskPrompt = "Please enter file or a part of file (*.tmp):";
const char* const kSearchDone = "Search done ! Please press Next to see the Results.";
// The label shows at most this many folders a second.
constexpr int kApplyIntervalMs = 100;
// Failures listed by name in the closing box; the rows tell the rest.
constexpr std::size_t kFailuresListed = 15;
// The wipe's bar moves in tenths of a percent of the file being wiped.
constexpr int kWipeBarSteps = 1000;

enum TDriveColumn { dcName, dcTotal, dcFree, dcType, dcMount };
constexpr int kMountRole = Qt::UserRole;

QString Text(const std::string& S) { return QString::fromStdString(S); }

QPushButton* MakeButton(const char* Name, const char* Caption, QWidget* Parent) {
  auto* button = new QPushButton(QString::fromUtf8(Caption), Parent);
  button->setObjectName(QString::fromLatin1(Name));
  return button;
}

QTreeWidget* MakeList(const char* Name, QWidget* Parent) {
  auto* list = new QTreeWidget(Parent);
  list->setObjectName(QString::fromLatin1(Name));
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  return list;
}

// A read-only list of whole rows over Model, many of them selectable at once.
QTreeView* MakeModelList(const char* Name, QAbstractItemModel* Model, QWidget* Parent) {
  auto* list = new QTreeView(Parent);
  list->setObjectName(QString::fromLatin1(Name));
  list->setModel(Model);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  return list;
}

// A long path must not widen the window; it is shortened in the middle, and shown whole on hover.
void ShowElided(QLabel& Label, const QString& Path) {
  const int width = std::max(Label.contentsRect().width(), 1);
  Label.setText(Label.fontMetrics().elidedText(Path, Qt::ElideMiddle, width));
  Label.setToolTip(Path);
}

}  // namespace

// The mask rows under their one column's caption.
class TMaskListModel final : public QStringListModel {
 public:
  using QStringListModel::QStringListModel;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override {
    if (Section == 0 && Orientation == Qt::Horizontal && Role == Qt::DisplayRole) return FCaption;
    return QStringListModel::headerData(Section, Orientation, Role);
  }
  void SetCaption(const QString& Caption) {
    FCaption = Caption;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
  }

 private:
  QString FCaption;
};

TDiskCleanupPage::TDiskCleanupPage(TDesktopCore& Core, TDialogs& Dialogs, TPageHost& Host, QWidget* Parent)
    : QWidget(Parent),
      FCore(Core),
      FDialogs(Dialogs),
      FHost(Host),
      FOwner(*this, [this](const QString& Message) { FDialogs.Error(this, Message); }),
      ffDiskCleanup(&FOwner) {
  setObjectName(QStringLiteral("tsDiskCleanup"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(CreateDescription());
  pcDiskCleanup = new QStackedWidget(this);
  pcDiskCleanup->setObjectName(QStringLiteral("pcDiskCleanup"));
  pcDiskCleanup->addWidget(CreateDrivesStep());
  pcDiskCleanup->addWidget(CreateOptionsStep());
  pcDiskCleanup->addWidget(CreateResultsStep());
  layout->addWidget(pcDiskCleanup, 1);

  ffDiskCleanup.Threaded = true;
  ffDiskCleanup.OnSearchBegin = [this](TFindFile&) { ffDiskCleanupSearchBegin(); };
  ffDiskCleanup.OnFolderChange = [this](TFindFile&, const std::string& Folder, TFolderIgnore& Ignore) {
    ffDiskCleanupFolderChange(Folder, Ignore);
  };
  ffDiskCleanup.OnFileMatch = [this](TFindFile&, const std::string& Folder, const TSearchRec& FileInfo) {
    ffDiskCleanupFileMatch(Folder, FileInfo);
  };
  ffDiskCleanup.OnSearchFinish = [this](TFindFile&) { ffDiskCleanupSearchFinish(); };

  FApplyTimer.setInterval(kApplyIntervalMs);
  connect(&FApplyTimer, &QTimer::timeout, this, &TDiskCleanupPage::ApplySearchEvents);
  FWipeTimer.setInterval(kApplyIntervalMs);
  connect(&FWipeTimer, &QTimer::timeout, this, &TDiskCleanupPage::ShowWipeProgress);
  ApplyLanguageTexts();
}

TDiskCleanupPage::~TDiskCleanupPage() {
  // Nothing of the window may be touched any more; the wipe's end only has to come.
  FTornDown = true;
  FWiper.Cancel();
  FWiper.WaitByProcessingEvents();
}

void TDiskCleanupPage::CancelWipeAndWait() {
  if (!FWiper.Running()) return;
  FQuietWipeEnd = true;
  FWiper.Cancel();
  FWiper.WaitByProcessingEvents();
}

QWidget* TDiskCleanupPage::CreateDescription() {
  pcDiskCleanupDescription = new QStackedWidget(this);
  pcDiskCleanupDescription->setObjectName(QStringLiteral("pcDiskCleanupDescription"));
  struct TDescription {
    const char* Page;
    const char* Title;
    const char* Line;
  };
  static const TDescription kPages[] = {
      {"tsDiskCleanupDrivesDescription", "Disk Cleanup Wizard", "Select location you want to free space"},
      {"tsDiskCleanupOptionsDescription", "Disk Cleanup Options", "Select file extensions you want to free"},
      {"tsDiskCleanupScanResultsDescription", "Scan Results", "Select files you want to wipe"},
  };
  for (const TDescription& d : kPages) {
    auto* page = new QWidget(pcDiskCleanupDescription);
    const QString name = QString::fromLatin1(d.Page);
    page->setObjectName(name);
    auto* box = new QVBoxLayout(page);
    box->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(QString::fromLatin1(d.Title), page);
    title->setObjectName(name + QStringLiteral("Title"));
    QFont bold = title->font();
    bold.setBold(true);
    if (bold.pointSizeF() > 0) bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    auto* line = new QLabel(QString::fromLatin1(d.Line), page);
    line->setObjectName(name + QStringLiteral("Line"));
    box->addWidget(title);
    box->addWidget(line);
    pcDiskCleanupDescription->addWidget(page);
  }
  pcDiskCleanupDescription->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  return pcDiskCleanupDescription;
}

QWidget* TDiskCleanupPage::CreateDrivesStep() {
  auto* step = new QWidget(this);
  step->setObjectName(QStringLiteral("tsDiskCleanupDrives"));
  lvDiskCleanupDrives = MakeList("lvDiskCleanupDrives", step);
  lvDiskCleanupDrives->setSelectionMode(QAbstractItemView::SingleSelection);
  lvDiskCleanupDrives->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lvDiskCleanupDrives->header()->setStretchLastSection(true);
  btnRefreshDiskCleanup = MakeButton("btnRefreshDiskCleanup", "Refresh", step);
  btnNextDiskCleanupDrives = MakeButton("btnNextDiskCleanupDrives", "&Next", step);
  connect(btnRefreshDiskCleanup, &QPushButton::clicked, this, &TDiskCleanupPage::btnRefreshDiskCleanupClick);
  connect(btnNextDiskCleanupDrives, &QPushButton::clicked, this, &TDiskCleanupPage::btnNextDiskCleanupDrivesClick);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnRefreshDiskCleanup);
  buttons->addWidget(btnNextDiskCleanupDrives);
  auto* layout = new QVBoxLayout(step);
  layout->addWidget(lvDiskCleanupDrives, 1);
  layout->addLayout(buttons);
  return step;
}

QWidget* TDiskCleanupPage::CreateOptionsStep() {
  auto* step = new QWidget(this);
  step->setObjectName(QStringLiteral("tsDiskCleanupOptions"));

  gbDiskCleanupFilesToSearch = new QGroupBox(QStringLiteral("Files to search for"), step);
  gbDiskCleanupFilesToSearch->setObjectName(QStringLiteral("gbDiskCleanupFilesToSearch"));
  FMasks = new TMaskListModel(this);
  lvFileExtensions = MakeModelList("lvFileExtensions", FMasks, gbDiskCleanupFilesToSearch);
  btnDiskCleanupAdd = MakeButton("btnDiskCleanupAdd", "Add", gbDiskCleanupFilesToSearch);
  btnDiskCleanupEdit = MakeButton("btnDiskCleanupEdit", "Edit", gbDiskCleanupFilesToSearch);
  btnDiskCleanupDelete = MakeButton("btnDiskCleanupDelete", "Delete", gbDiskCleanupFilesToSearch);
  btnDiskCleanupDefault = MakeButton("btnDiskCleanupDefault", "Default", gbDiskCleanupFilesToSearch);
  connect(btnDiskCleanupAdd, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupAddClick);
  connect(btnDiskCleanupEdit, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupEditClick);
  connect(btnDiskCleanupDelete, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupDeleteClick);
  connect(btnDiskCleanupDefault, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupDefaultClick);
  connect(lvFileExtensions, &QTreeView::doubleClicked, this, &TDiskCleanupPage::btnDiskCleanupEditClick);
  auto* maskButtons = new QVBoxLayout;
  for (QPushButton* b : {btnDiskCleanupAdd, btnDiskCleanupEdit, btnDiskCleanupDelete, btnDiskCleanupDefault})
    maskButtons->addWidget(b);
  maskButtons->addStretch(1);
  auto* masks = new QHBoxLayout(gbDiskCleanupFilesToSearch);
  masks->addWidget(lvFileExtensions, 1);
  masks->addLayout(maskButtons);

  auto* scanning = new QGroupBox(QStringLiteral("Scanning"), step);
  pnlDiskCleanupScanning = scanning;
  pnlDiskCleanupScanning->setObjectName(QStringLiteral("pnlDiskCleanupScanning"));
  lblDiskCleanupScanningFolder = new QLabel(pnlDiskCleanupScanning);
  lblDiskCleanupScanningFolder->setObjectName(QStringLiteral("lblDiskCleanupScanningFolder"));
  // A long path must not widen the window; it is shortened in the middle instead.
  lblDiskCleanupScanningFolder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblDiskCleanupScanningFolder->setTextFormat(Qt::PlainText);
  lblDiskCleanupFoundFile = new QLabel(pnlDiskCleanupScanning);
  lblDiskCleanupFoundFile->setObjectName(QStringLiteral("lblDiskCleanupFoundFile"));
  lblDiskCleanupFoundFile->setVisible(false);
  auto* scanBox = new QVBoxLayout(pnlDiskCleanupScanning);
  scanBox->addWidget(lblDiskCleanupScanningFolder);
  scanBox->addWidget(lblDiskCleanupFoundFile);

  btnDiskCleanupStart = MakeButton("btnDiskCleanupStart", "Start", step);
  btnDiskCleanupStop = MakeButton("btnDiskCleanupStop", "Stop", step);
  btnDiskCleanupBack = MakeButton("btnDiskCleanupBack", "&Back", step);
  btnDiskCleanupNext = MakeButton("btnDiskCleanupNext", "&Next", step);
  btnDiskCleanupStop->setEnabled(false);
  btnDiskCleanupNext->setEnabled(false);
  connect(btnDiskCleanupStart, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupStartClick);
  connect(btnDiskCleanupStop, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupStopClick);
  connect(btnDiskCleanupBack, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupBackClick);
  connect(btnDiskCleanupNext, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupNextClick);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnDiskCleanupStart);
  buttons->addWidget(btnDiskCleanupStop);
  buttons->addStretch(1);
  buttons->addWidget(btnDiskCleanupBack);
  buttons->addWidget(btnDiskCleanupNext);

  auto* layout = new QVBoxLayout(step);
  layout->addWidget(gbDiskCleanupFilesToSearch, 1);
  layout->addWidget(pnlDiskCleanupScanning);
  layout->addLayout(buttons);
  return step;
}

QWidget* TDiskCleanupPage::CreateResultsStep() {
  auto* step = new QWidget(this);
  step->setObjectName(QStringLiteral("tsDiskCleanupScanResults"));
  FResults = new TCleanupResultModel(this);
  lvDiskCleanupScanResults = MakeModelList("lvDiskCleanupScanResults", FResults, step);
  lvDiskCleanupScanResults->setAllColumnsShowFocus(true);
  // The end of a folder path tells more than its start.
  lvDiskCleanupScanResults->setTextElideMode(Qt::ElideMiddle);
  // Widths from the font, never from the rows: measuring every row would read them all.
  QHeaderView* header = lvDiskCleanupScanResults->header();
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  // Sizes of a few GiB in bytes fit whole.
  static const int kEms[TCleanupResultModel::kColumnCount] = {16, 28, 5, 9, 15, 24};
  for (int c = 0; c < TCleanupResultModel::kColumnCount; ++c) header->resizeSection(c, kEms[c] * em);
  header->setSectionHidden(TCleanupResultModel::colProblem, true);
  // Why a row stayed is read beside its name, not scrolled to.
  header->moveSection(header->visualIndex(TCleanupResultModel::colProblem), TCleanupResultModel::colName + 1);
  connect(lvDiskCleanupScanResults, &QTreeView::doubleClicked, this,
          &TDiskCleanupPage::lvDiskCleanupScanResultsDblClick);
  pmDiskCleanupScanResults = new QMenu(lvDiskCleanupScanResults);
  pmDiskCleanupScanResults->setObjectName(QStringLiteral("pmDiskCleanupScanResults"));
  struct TCheckItem {
    const char* Name;
    const char* Caption;
    bool Checked;
    bool SelectedOnly;
  };
  static const TCheckItem kCheckItems[] = {{"miDiskCleanupCheckSelected", "&Check Selected", true, true},
                                           {"miDiskCleanupUncheckSelected", "U&ncheck Selected", false, true},
                                           {"miDiskCleanupCheckAll", "Check &All", true, false},
                                           {"miDiskCleanupUncheckAll", "&Uncheck All", false, false}};
  for (const TCheckItem& item : kCheckItems) {
    QAction* action = pmDiskCleanupScanResults->addAction(QString::fromLatin1(item.Caption));
    action->setObjectName(QString::fromLatin1(item.Name));
    connect(action, &QAction::triggered, this, [this, item] { SetResultChecks(item.Checked, item.SelectedOnly); });
  }
  lvDiskCleanupScanResults->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvDiskCleanupScanResults, &QWidget::customContextMenuRequested, this, [this](const QPoint& At) {
    pmDiskCleanupScanResults->popup(lvDiskCleanupScanResults->viewport()->mapToGlobal(At));
  });

  btnDiskCleanupScanResultsBack = MakeButton("btnDiskCleanupScanResultsBack", "&Back", step);
  btnDiskCleanupScanResultsWipe = MakeButton("btnDiskCleanupScanResultsWipe", "Wipe", step);
  btnDiskCleanupScanResultsDelete = MakeButton("btnDiskCleanupScanResultsDelete", "Delete", step);
  connect(btnDiskCleanupScanResultsBack, &QPushButton::clicked, this,
          &TDiskCleanupPage::btnDiskCleanupScanResultsBackClick);
  connect(btnDiskCleanupScanResultsWipe, &QPushButton::clicked, this,
          &TDiskCleanupPage::btnDiskCleanupScanResultsWipeClick);
  connect(btnDiskCleanupScanResultsDelete, &QPushButton::clicked, this,
          &TDiskCleanupPage::btnDiskCleanupScanResultsDeleteClick);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnDiskCleanupScanResultsBack);
  buttons->addStretch(1);
  buttons->addWidget(btnDiskCleanupScanResultsWipe);
  buttons->addWidget(btnDiskCleanupScanResultsDelete);
  auto* layout = new QVBoxLayout(step);
  layout->addWidget(lvDiskCleanupScanResults, 1);
  layout->addWidget(CreateWipePanel(step));
  layout->addLayout(buttons);
  return step;
}

QWidget* TDiskCleanupPage::CreateWipePanel(QWidget* Parent) {
  pnlDiskCleanupWipe = new QWidget(Parent);
  pnlDiskCleanupWipe->setObjectName(QStringLiteral("pnlDiskCleanupWipe"));
  lblDiskCleanupWipeProgress = new QLabel(pnlDiskCleanupWipe);
  lblDiskCleanupWipeProgress->setObjectName(QStringLiteral("lblDiskCleanupWipeProgress"));
  lblDiskCleanupWipeFile = new QLabel(pnlDiskCleanupWipe);
  lblDiskCleanupWipeFile->setObjectName(QStringLiteral("lblDiskCleanupWipeFile"));
  lblDiskCleanupWipeFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblDiskCleanupWipeFile->setTextFormat(Qt::PlainText);
  pbDiskCleanupWipe = new QProgressBar(pnlDiskCleanupWipe);
  pbDiskCleanupWipe->setObjectName(QStringLiteral("pbDiskCleanupWipe"));
  pbDiskCleanupWipe->setRange(0, kWipeBarSteps);
  btnDiskCleanupWipeCancel = new QPushButton(FHost.LookupText(QStringLiteral("btnDiskCleanupWipeCancel")), pnlDiskCleanupWipe);
  btnDiskCleanupWipeCancel->setObjectName(QStringLiteral("btnDiskCleanupWipeCancel"));
  connect(btnDiskCleanupWipeCancel, &QPushButton::clicked, this, &TDiskCleanupPage::btnDiskCleanupWipeCancelClick);
  auto* bar = new QHBoxLayout;
  bar->addWidget(pbDiskCleanupWipe, 1);
  bar->addWidget(btnDiskCleanupWipeCancel);
  auto* layout = new QVBoxLayout(pnlDiskCleanupWipe);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(lblDiskCleanupWipeProgress);
  layout->addWidget(lblDiskCleanupWipeFile);
  layout->addLayout(bar);
  pnlDiskCleanupWipe->setVisible(false);
  return pnlDiskCleanupWipe;
}

void TDiskCleanupPage::ShowStep(TStep Step) {
  pcDiskCleanup->setCurrentIndex(Step);
  pcDiskCleanupDescription->setCurrentIndex(Step);
  if (Step == stOptions) tsDiskCleanupOptionsShow();
}

void TDiskCleanupPage::ShowFirstSteps() {
  ShowStep(stDrives);
  btnRefreshDiskCleanupClick();
}

QStringList TDiskCleanupPage::Masks() const { return FMasks->stringList(); }

void TDiskCleanupPage::AppendMasks(const QStringList& Masks) { FMasks->setStringList(FMasks->stringList() + Masks); }

std::vector<int> TDiskCleanupPage::SelectedMaskRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : lvFileExtensions->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TDiskCleanupPage::tsDiskCleanupDrivesShow() {
  // Only the step on view is being shown.
  if (pcDiskCleanup->currentIndex() == stDrives) btnRefreshDiskCleanupClick();
}

void TDiskCleanupPage::ApplyLanguageTexts() {
  lvDiskCleanupDrives->setHeaderLabels(ColumnCaptions(FHost.Language(), lvDiskCleanupDrives->objectName(), dcMount + 1));
  FMasks->SetCaption(ColumnCaptions(FHost.Language(), lvFileExtensions->objectName(), 1).constFirst());
  FResults->SetColumnCaptions(
      ColumnCaptions(FHost.Language(), lvDiskCleanupScanResults->objectName(), TCleanupResultModel::kColumnCount));
  // Listed rows say "not mounted" in the language they were listed in.
  if (lvDiskCleanupDrives->topLevelItemCount() > 0) btnRefreshDiskCleanupClick();
}

void TDiskCleanupPage::btnRefreshDiskCleanupClick() {
  lvDiskCleanupDrives->clear();
  const TDiskList* disks = FCore.Manager().DiskList.get();
  if (!disks) return;
  QList<QTreeWidgetItem*> rows;
  for (int i = 0; i < disks->DiskCount(); ++i) {
    const TDiskObject& disk = *disks->GetDisk(i);
    auto* row = new QTreeWidgetItem;
    row->setText(dcName, Text(DriveListCaption(disk, CaptionMarks(FHost))));
    row->setText(dcTotal, Text(FormatSizeText(disk.TotalSize)));
    row->setText(dcFree, Text(FormatSizeText(disk.FreeSize)));
    row->setText(dcType, Text(disk.FileSystemName));
    row->setTextAlignment(dcTotal, Qt::AlignRight | Qt::AlignVCenter);
    row->setTextAlignment(dcFree, Qt::AlignRight | Qt::AlignVCenter);
    if (disk.MountPoint.empty()) {
      // A search walks the drive's mounted folders; an unmounted drive offers none.
      row->setFlags(row->flags() & ~Qt::ItemIsUserCheckable);
      row->setText(dcMount, FHost.Text(TText::strNotMounted));
      const QBrush grey = lvDiskCleanupDrives->palette().brush(QPalette::Disabled, QPalette::Text);
      for (int c = dcName; c <= dcMount; ++c) row->setForeground(c, grey);
    } else {
      row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
      row->setCheckState(dcName, Qt::Unchecked);
      row->setText(dcMount, Text(disk.MountPoint));
      row->setData(dcName, kMountRole, Text(disk.MountPoint));
    }
    rows << row;
  }
  lvDiskCleanupDrives->addTopLevelItems(rows);
}

void TDiskCleanupPage::btnNextDiskCleanupDrivesClick() {
  int checked = 0;
  for (int i = 0; i < lvDiskCleanupDrives->topLevelItemCount(); ++i)
    checked += lvDiskCleanupDrives->topLevelItem(i)->checkState(dcName) == Qt::Checked;
  if (checked == 0) {
    FDialogs.Error(this, FHost.Text(TText::strNoDriveSelected));
    return;
  }
  ShowStep(stOptions);
}

void TDiskCleanupPage::tsDiskCleanupOptionsShow() {
  if (FMasks->rowCount() == 0) btnDiskCleanupDefaultClick();
}

void TDiskCleanupPage::btnDiskCleanupAddClick() {
  QString text = QStringLiteral("*.");
  // Cancel adds nothing: the initial "*." would match every file without an extension.
  if (!FDialogs.InputText(this, QStringLiteral("Add File Extension:"), QString::fromLatin1(kMaskPrompt), text)) return;
  const std::string entered = text.toStdString();
  const QString mask = Text(std::string(TrimControls(entered)));
  if (mask.isEmpty()) return;
  FMasks->insertRows(0, 1);
  FMasks->setData(FMasks->index(0), mask);
}

void TDiskCleanupPage::btnDiskCleanupEditClick() {
  const std::vector<int> selected = SelectedMaskRows();
  if (selected.empty()) return;
  const QModelIndex first = FMasks->index(selected.front());
  QString text = first.data().toString();
  if (FDialogs.InputText(this, QStringLiteral("Edit File Extension:"), QString::fromLatin1(kMaskPrompt), text))
    FMasks->setData(first, text);
}

void TDiskCleanupPage::btnDiskCleanupDeleteClick() {
  const std::vector<int> selected = SelectedMaskRows();
  for (auto row = selected.rbegin(); row != selected.rend(); ++row) FMasks->removeRows(*row, 1);
}

void TDiskCleanupPage::btnDiskCleanupDefaultClick() {
  QStringList masks;
  for (const std::string& mask : DefaultCleanupMasks()) masks << Text(mask);
  FMasks->setStringList(masks);
}

void TDiskCleanupPage::btnDiskCleanupStartClick() {
  if (ffDiskCleanup.IsBusy()) return;
  std::vector<std::string> roots;
  for (int i = 0; i < lvDiskCleanupDrives->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = lvDiskCleanupDrives->topLevelItem(i);
    if (row->checkState(dcName) == Qt::Checked) roots.push_back(row->data(dcName, kMountRole).toString().toStdString());
  }
  std::vector<std::string> masks;
  for (const QString& mask : Masks()) masks.push_back(mask.toStdString());
  if (CleanupNameMasks(masks).empty()) {
    FDialogs.Error(this, FHost.Text(TText::strNoCleanupMasks));
    return;
  }
  // Taken before the search, so that acting on a match later starts from the folders searched.
  FRoots = std::make_unique<TCleanupRoots>(roots);
  SetCleanupTargets(ffDiskCleanup.Criteria.Files, roots, masks);
  ffDiskCleanup.StartSearch();
}

void TDiskCleanupPage::btnDiskCleanupStopClick() { ffDiskCleanup.AbortSearch(); }

void TDiskCleanupPage::SetSearchState(bool Searching) {
  FSearching = Searching;
  btnDiskCleanupStart->setEnabled(!Searching);
  btnDiskCleanupStop->setEnabled(Searching);
  btnDiskCleanupNext->setEnabled(!Searching);
  btnDiskCleanupBack->setEnabled(!Searching);
  gbDiskCleanupFilesToSearch->setEnabled(!Searching);
  FHost.SetToolbarEnabled(!Searching);
}

void TDiskCleanupPage::ffDiskCleanupSearchBegin() {
  SetSearchState(true);
  lblDiskCleanupFoundFile->setVisible(true);
  lblDiskCleanupFoundFile->setText(FHost.Text(TText::strFoundFiles).arg(0));
  FMatchCount = 0;
  FFeed.Take();
  FResults->Lock();
  FResults->Clear();
  lvDiskCleanupScanResults->header()->setSectionHidden(TCleanupResultModel::colProblem, true);
  FApplyTimer.start();
}

void TDiskCleanupPage::ffDiskCleanupFolderChange(const std::string& Folder, TFolderIgnore& IgnoreFolder) {
  (void)IgnoreFolder;
  FFeed.FolderChanged(Folder);
}

void TDiskCleanupPage::ffDiskCleanupFileMatch(const std::string& Folder, const TSearchRec& FileInfo) {
  TCleanupMatch match = MakeCleanupMatch(Folder, FileInfo);
  FRoots->Attach(match);
  FFeed.Matched(std::move(match));
}

void TDiskCleanupPage::ApplySearchEvents() {
  TCleanupSearchFeed::TBatch batch = FFeed.Take();
  if (!batch.Folder.empty()) ShowElided(*lblDiskCleanupScanningFolder, Text(batch.Folder));
  if (batch.Matches.empty()) return;
  FMatchCount += static_cast<int>(batch.Matches.size());
  FResults->Append(std::move(batch.Matches));
  lblDiskCleanupFoundFile->setText(FHost.Text(TText::strFoundFiles).arg(FMatchCount));
}

void TDiskCleanupPage::ffDiskCleanupSearchFinish() {
  // The search thread has ended: what it reported is all there is.
  ApplySearchEvents();
  FApplyTimer.stop();
  lblDiskCleanupScanningFolder->setText(QStringLiteral("Search done !"));
  lblDiskCleanupScanningFolder->setToolTip({});
  SetSearchState(false);
  FResults->Unlock();
  // After the finder has finished, so a new search can start as soon as the box is closed.
  QMetaObject::invokeMethod(
      this, [this] { FDialogs.Information(this, QString::fromLatin1(kSearchDone)); }, Qt::QueuedConnection);
}

void TDiskCleanupPage::btnDiskCleanupBackClick() { ShowStep(stDrives); }

void TDiskCleanupPage::btnDiskCleanupNextClick() { ShowStep(stResults); }

void TDiskCleanupPage::btnDiskCleanupScanResultsBackClick() { ShowStep(stOptions); }

int TDiskCleanupPage::FirstSelectedResult() const {
  const QModelIndexList rows = lvDiskCleanupScanResults->selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  return std::min_element(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
           return a.row() < b.row();
         })->row();
}

void TDiskCleanupPage::SetResultChecks(bool Checked, bool SelectedOnly) {
  if (!SelectedOnly) {
    FResults->SetAllChecked(Checked);
    return;
  }
  std::vector<int> rows;
  for (const QModelIndex& index : lvDiskCleanupScanResults->selectionModel()->selectedRows()) rows.push_back(index.row());
  FResults->SetChecked(rows, Checked);
}

void TDiskCleanupPage::ApplyOutcomes(const TCleanupActionReport& Report) {
  FResults->ProblemsChanged();
  FResults->RemoveRows(Report.Finished);
  const bool problems = FResults->HasProblems();
  lvDiskCleanupScanResults->header()->setSectionHidden(TCleanupResultModel::colProblem, !problems);
  // Measured over the rows in view only.
  if (problems) lvDiskCleanupScanResults->resizeColumnToContents(TCleanupResultModel::colProblem);
}

void TDiskCleanupPage::ShowProblems(TText Failed, const TCleanupActionReport& Report) {
  ApplyOutcomes(Report);
  if (Report.Failures.empty()) return;
  FDialogs.Error(this, FHost.Text(Failed).arg(QString::number(Report.Failures.size()),
                                              Text(FailureLines(Report.Failures, kFailuresListed))));
}

void TDiskCleanupPage::btnDiskCleanupScanResultsWipeClick() {
  std::vector<TCleanupRow>& rows = FResults->Rows();
  const std::size_t files = CountCheckedFiles(rows);
  if (files == 0) {
    FDialogs.Information(this, FHost.Text(TText::strNothingChecked));
    return;
  }
  const QString question = FHost.Text(TText::strWipeQuestion).arg(files).arg(kCleanupWipePasses);
  if (!FDialogs.Confirm(this, FHost.Text(TText::strWipeTitle), question)) return;

  SetWipeState(true);
  FWiper.Start(rows, kCleanupWipePasses, [this](std::vector<TCleanupRow>&& Rows, const TCleanupActionReport& Report) {
    WipeFinished(std::move(Rows), Report);
  });
}

void TDiskCleanupPage::SetWipeState(bool Wiping) {
  // The rows stay as they are while the wipe works on its copy of them.
  for (QWidget* w : std::initializer_list<QWidget*>{lvDiskCleanupScanResults, btnDiskCleanupScanResultsBack,
                                                    btnDiskCleanupScanResultsWipe, btnDiskCleanupScanResultsDelete})
    w->setEnabled(!Wiping);
  FHost.SetToolbarEnabled(!Wiping);
  btnDiskCleanupWipeCancel->setEnabled(Wiping);
  lblDiskCleanupWipeProgress->clear();
  lblDiskCleanupWipeFile->clear();
  pbDiskCleanupWipe->setValue(0);
  pnlDiskCleanupWipe->setVisible(Wiping);
  if (Wiping)
    FWipeTimer.start();
  else
    FWipeTimer.stop();
}

void TDiskCleanupPage::ShowWipeProgress() {
  const TWipeProgress at = FWiper.Latest();
  if (at.File == 0 || at.Passes == 0) return;
  lblDiskCleanupWipeProgress->setText(FHost.Text(TText::strWipeProgress)
                                          .arg(QString::number(at.File), QString::number(at.Files),
                                               QString::number(at.Pass), QString::number(at.Passes),
                                               Text(FormatSizeText(at.Written)), Text(FormatSizeText(at.Size))));
  ShowElided(*lblDiskCleanupWipeFile, Text(at.Path));
  const double inPass = at.Size > 0 ? static_cast<double>(at.Written) / static_cast<double>(at.Size) : 0.0;
  pbDiskCleanupWipe->setValue(static_cast<int>((at.Pass - 1 + inPass) / at.Passes * kWipeBarSteps));
}

void TDiskCleanupPage::btnDiskCleanupWipeCancelClick() {
  FWiper.Cancel();
  btnDiskCleanupWipeCancel->setEnabled(false);
}

void TDiskCleanupPage::WipeFinished(std::vector<TCleanupRow>&& Rows, const TCleanupActionReport& Report) {
  if (FTornDown) return;
  SetWipeState(false);
  // The same rows in the same order, with their problems set.
  FResults->Rows() = std::move(Rows);
  if (Report.Cancelled) {
    const std::string note = FHost.Text(TText::strWipeCancelledRow)
                                 .arg(Report.Cancelled->PassesDone)
                                 .arg(Report.Cancelled->Passes)
                                 .toStdString();
    for (TCleanupRow& row : FResults->Rows())
      if (row.Match.Path() == Report.Cancelled->Path) row.Problem = note;
  }
  const bool quiet = std::exchange(FQuietWipeEnd, false);
  if (quiet) {
    ApplyOutcomes(Report);
    return;
  }
  ShowProblems(TText::strWipeFailed, Report);
  if (Report.Stopped) FDialogs.Information(this, FHost.Text(TText::strWipeCancelled));
}

void TDiskCleanupPage::btnDiskCleanupScanResultsDeleteClick() {
  const int row = FirstSelectedResult();
  if (row < 0) return;
  const TCleanupMatch& match = FResults->Row(row).Match;
  const QString question = FHost.Text(TText::strDeleteQuestion).arg(Text(match.Name), Text(match.Folder));
  if (!FDialogs.Confirm(this, FHost.Text(TText::strDeleteTitle), question)) return;
  const TCleanupActionReport report = ActOnRow(FResults->Rows(), static_cast<std::size_t>(row),
                                               [](const TCleanupMatch& Match) { return DeleteCleanupFile(Match); });
  ShowProblems(TText::strDeleteFailed, report);
}

void TDiskCleanupPage::lvDiskCleanupScanResultsDblClick() {
  const int row = FirstSelectedResult();
  if (row >= 0) FDialogs.OpenFolder(Text(FResults->Row(row).Match.Folder));
}

}  // namespace kestrine::ui
