#include "ui/main/wizard_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "settings/size_text.h"
#include "ui/adapters/folder_tree_model.h"
#include "ui/adapters/gauge_adapter.h"
#include "ui/adapters/result_list_model.h"
#include "ui/filter/search_filter_dialog.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/settings/worded_text.h"
#include "ui/shell/page_host.h"
#include "ui/preview/icon_list.h"
#include "ui/preview/preview_window.h"
#include "workflow/item_selection.h"
#include "workflow/job_control.h"
#include "workflow/recovery_destination.h"
#include "workflow/recovery_summary.h"

namespace kestrine::ui {
namespace {


QPushButton* Button(const char* Name, const QString& Text = {}) { return Named(new QPushButton(Text), Name); }

QWidget* DescriptionPage(const char* TitleName, const QString& Title, const char* TextName, const QString& Text) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* title = Named(new QLabel(Title), TitleName);
  QFont font = title->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  title->setFont(font);
  auto* text = Named(new QLabel(Text), TextName);
  text->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(text);
  layout->addStretch(1);
  return page;
}

}  // namespace

TWizardPage::TWizardPage(TDesktopCore& Core, TDialogs& Dialogs, TPageHost& Host, TImageList& Images, QWidget* Parent)
    : QWidget(Parent), FCore(Core), FDialogs(Dialogs), FHost(Host), FImages(Images) {
  setObjectName(QStringLiteral("tsWizard"));
  FFilter.Flags = qfFolder;
  auto* layout = new QHBoxLayout(this);
  pcWizard = Named(new QStackedWidget, "pcWizard");
  pcWizard->addWidget(CreateDrivesStep());
  pcWizard->addWidget(CreateResultsStep());
  layout->addWidget(CreateDescription());
  layout->addWidget(pcWizard, 1);
}

TWizardPage::~TWizardPage() {
  // Work still running reports to this page: it ends first, and its reports change nothing more.
  FClosing = true;
  FCore.Manager().StopScans();
  WaitForRecovery();
  if (FSorter.joinable()) FSorter.join();  // it never waits for the window
  // The views go with the page; the updating thread must not reach them afterwards.
  FCore.Updating().SetTreeView(nullptr);
  FCore.Updating().SetListView(nullptr);
  FCore.Updating().SetGauge(nullptr);
  FCore.Updating().SetIconList(nullptr);
}

QWidget* TWizardPage::CreateDescription() {
  auto* panel = Named(new QWidget, "pnlWizardDescription");
  auto* layout = new QVBoxLayout(panel);
  auto* logo = Named(new QLabel, "imgWizardLogo");
  logo->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48));
  layout->addWidget(logo);
  pcWizardDescription = Named(new QStackedWidget, "pcWizardDescription");
  pcWizardDescription->addWidget(
      DescriptionPage("lblWizardTitle", QStringLiteral("Wizard"), "lblWizardText",
                      QStringLiteral("Select location of deleted files.")));
  pcWizardDescription->addWidget(
      DescriptionPage("lblResultsTitle", QStringLiteral("Scan Results"), "lblResultsText",
                      QStringLiteral("Select files you want to recover.")));
  // The stack takes the column's height, so wrapped lines are never cut off at the foot.
  layout->addWidget(pcWizardDescription, 1);
  // As wide as the longest title of the language in force; the lines below it wrap.
  panel->setMaximumWidth(fontMetrics().averageCharWidth() * 48);
  return panel;
}

QWidget* TWizardPage::CreateDrivesStep() {
  auto* step = Named(new QWidget, "tsWizardDrives");
  auto* layout = new QVBoxLayout(step);
  lvWizardDrives = Named(new QTreeWidget, "lvWizardDrives");
  lvWizardDrives->setRootIsDecorated(false);
  lvWizardDrives->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvWizardDrives->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvWizardDrives->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Total Size"), QStringLiteral("Free Space"),
                                   QStringLiteral("Type")});
  // A few rows: every column as wide as its longest text, captions of every language included.
  lvWizardDrives->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(lvWizardDrives, 1);

  auto* scanning = Named(new QGroupBox(QStringLiteral("Scanning")), "gbScanning");
  auto* gauge = new QHBoxLayout;
  prgScanFiles = Named(new QProgressBar, "prgScanFiles");
  prgScanFiles->setRange(0, 100);
  prgScanFiles->setValue(0);
  prgScanFiles->setTextVisible(false);
  gauge->addWidget(Named(new QLabel, "lblGauge0"));
  gauge->addWidget(prgScanFiles, 1);
  gauge->addWidget(Named(new QLabel, "lblGauge100"));
  auto* group = new QVBoxLayout(scanning);
  group->addLayout(gauge);
  lblFilesFound = Named(new QLabel, "lblFilesFound");
  lblFilesFound->hide();
  group->addWidget(lblFilesFound);
  chkDeepScan = Named(new QCheckBox(QStringLiteral("Deep scan")), "chkDeepScan");
  group->addWidget(chkDeepScan);
  layout->addWidget(scanning);

  auto* buttons = new QHBoxLayout;
  btnRefreshDrives = Button("btnRefreshDrives", QStringLiteral("Refresh"));
  btnAddImage = Button("btnAddImage");
  btnStartScan = Button("btnStartScan", QStringLiteral("Start"));
  btnStopScan = Button("btnStopScan", QStringLiteral("Stop"));
  btnNextDrives = Button("btnNextDrives", QStringLiteral("&Next"));
  btnStopScan->setEnabled(false);
  btnNextDrives->setEnabled(false);
  buttons->addWidget(btnRefreshDrives);
  buttons->addWidget(btnAddImage);
  buttons->addStretch(1);
  for (QPushButton* b : {btnStartScan, btnStopScan, btnNextDrives}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(btnRefreshDrives, &QPushButton::clicked, this, &TWizardPage::btnRefreshDrivesClick);
  connect(btnAddImage, &QPushButton::clicked, this, &TWizardPage::btnAddImageClick);
  connect(btnStartScan, &QPushButton::clicked, this, &TWizardPage::btnStartScanClick);
  connect(btnStopScan, &QPushButton::clicked, this, &TWizardPage::btnStopScanClick);
  connect(btnNextDrives, &QPushButton::clicked, this, &TWizardPage::btnNextDrivesClick);
  return step;
}

QWidget* TWizardPage::CreateResultsStep() {
  auto* step = Named(new QWidget, "tsWizardResults");
  auto* layout = new QVBoxLayout(step);
  splScanResults = Named(new QSplitter(Qt::Horizontal), "splScanResults");
  auto* folders = Named(new QWidget, "pnlFolders");
  auto* foldersLayout = new QVBoxLayout(folders);
  foldersLayout->setContentsMargins(0, 0, 0, 0);
  foldersLayout->addWidget(Named(new QLabel(QStringLiteral("Folders")), "lblFolders"));
  tvFolders = Named(new QTreeView, "tvFolders");
  tvFolders->setHeaderHidden(true);
  tvFolders->setUniformRowHeights(true);
  tvFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTreeModel = new TFolderTreeModel(this);
  tvFolders->setModel(FTreeModel);
  foldersLayout->addWidget(tvFolders);
  splScanResults->addWidget(folders);

  lvFiles = Named(new QTreeView, "lvFiles");
  lvFiles->setRootIsDecorated(false);
  lvFiles->setUniformRowHeights(true);
  lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FListModel = new TResultListModel(FCore.Updating(), [this](int Index) { return FImages.Icon(Index); }, this);
  lvFiles->setModel(FListModel);
  // The header sorts the query's own list; until it is clicked the rows come in the order found.
  lvFiles->header()->setSortIndicator(-1, Qt::AscendingOrder);
  FListModel->SetSortHandler([this](int Column, Qt::SortOrder Order) { SortFiles(Column, Order); });
  lvFiles->setSortingEnabled(true);
  const int em = fontMetrics().averageCharWidth();
  const int widths[] = {28, 10, 13, 13, 20, 20};
  for (int i = 0; i < 6; ++i) lvFiles->setColumnWidth(i, em * widths[i]);
  splScanResults->addWidget(lvFiles);
  // The list has six columns to show, the tree one: the list gets twice the room.
  splScanResults->setStretchFactor(0, 1);
  splScanResults->setStretchFactor(1, 2);
  layout->addWidget(splScanResults, 1);

  pmFiles = Named(new QMenu(this), "pmFiles");
  QAction* recover = Named(pmFiles->addAction(QStringLiteral("Recover")), "mnuRecover");
  QAction* preview = Named(pmFiles->addAction(QStringLiteral("Preview")), "mnuPreview");
  connect(preview, &QAction::triggered, this, &TWizardPage::btnPreviewClick);
  connect(recover, &QAction::triggered, this, &TWizardPage::btnRecoverClick);
  lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvFiles, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& At) { pmFiles->popup(lvFiles->viewport()->mapToGlobal(At)); });

  auto* buttons = new QHBoxLayout;
  btnBackToWizard = Button("btnBackToWizard", QStringLiteral("&Back"));
  btnFilter = Button("btnFilter", QStringLiteral("Filter"));
  btnPreview = Button("btnPreview", QStringLiteral("Preview"));
  btnRecover = Button("btnRecover", QStringLiteral("Recover"));
  buttons->addWidget(btnBackToWizard);
  buttons->addStretch(1);
  for (QPushButton* b : {btnFilter, btnPreview, btnRecover}) buttons->addWidget(b);
  layout->addLayout(buttons);
  layout->addWidget(CreateRecoveryPanel());
  connect(btnRecover, &QPushButton::clicked, this, &TWizardPage::btnRecoverClick);
  connect(btnFilter, &QPushButton::clicked, this, &TWizardPage::btnFilterClick);
  connect(btnPreview, &QPushButton::clicked, this, &TWizardPage::btnPreviewClick);
  // A double click previews a file, as users expect of a file list.
  connect(lvFiles, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& Index) {
    lvFiles->selectionModel()->select(Index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    btnPreviewClick();
  });
  frmPreview = new TfrmPreview(FHost.Language(), this);
  // One dialog for the window's life: it keeps its settings between showings.
  frmSearchFilters = new TfrmSearchFilters(this);
  connect(btnBackToWizard, &QPushButton::clicked, this, &TWizardPage::btnBackToWizardClick);
  connect(tvFolders->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& Current) { tvFoldersChange(Current); });
  return step;
}

QWidget* TWizardPage::CreateRecoveryPanel() {
  pnlRecovery = Named(new QWidget, "pnlRecovery");
  auto* layout = new QHBoxLayout(pnlRecovery);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* bar = Named(new QProgressBar, "prgRecovery");
  bar->setRange(0, 0);  // how much a folder holds is known only as it is written
  lblRecoveryProgress = Named(new QLabel, "lblRecoveryProgress");
  btnCancelRecovery = Button("btnCancelRecovery");
  layout->addWidget(lblRecoveryProgress);
  layout->addWidget(bar, 1);
  layout->addWidget(btnCancelRecovery);
  pnlRecovery->hide();
  FRecoveryTimer = new QTimer(this);
  FRecoveryTimer->setInterval(200);
  connect(FRecoveryTimer, &QTimer::timeout, this, &TWizardPage::ShowRecoveryProgress);
  connect(btnCancelRecovery, &QPushButton::clicked, this, [this] {
    if (FRecoverThread) FRecoverThread->Terminate();
  });
  return pnlRecovery;
}

void TWizardPage::ShowFirstSteps() {
  pcWizard->setCurrentIndex(0);
  pcWizardDescription->setCurrentIndex(0);
}

void TWizardPage::AttachViews(TIconList& Icons) {
  FGauge = std::make_unique<TGaugeAdapter>(prgScanFiles);
  TUpdatingThread& updating = FCore.Updating();
  updating.SetTreeView(FTreeModel);
  updating.SetListView(FListModel);
  updating.SetIconList(&Icons);
  ApplyFilter(FFilter);
}

void TWizardPage::ApplyFilter(const TFilter& Filter) {
  // The chosen folder and the folder restriction survive every filter change.
  PFileInfo folder = FFilter.Folder;
  FFilter = Filter;
  FFilter.Folder = folder;
  FFilter.Flags |= qfFolder;
  TUpdatingThread& updating = FCore.Updating();
  updating.Query().SetFilter(FFilter);
  updating.RefreshList();
  updating.UpdateTree();
  if (!lblFilesFound->isHidden()) ShowFoundCount();
}

void TWizardPage::SetColumnCaptions(const QStringList& DriveColumns, const QStringList& FileColumns) {
  lvWizardDrives->setHeaderLabels(DriveColumns);
  FListModel->SetColumnCaptions(FileColumns);
}

bool TWizardPage::Scanning() const { return FScanning; }

void TWizardPage::tsWizardShow() { btnRefreshDrivesClick(); }

void TWizardPage::btnRefreshDrivesClick() {
  lvWizardDrives->clear();
  const TDiskList& disks = *FCore.Manager().DiskList;
  for (int i = 0; i < disks.DiskCount(); ++i) {
    const TDiskObject& disk = *disks.GetDisk(i);
    auto* row = new QTreeWidgetItem(lvWizardDrives);
    row->setText(0, QString::fromStdString(DriveListCaption(disk, CaptionMarks(FHost))));
    row->setToolTip(0, row->text(0));
    row->setText(1, QString::fromStdString(FormatSizeText(disk.TotalSize)));
    row->setText(2, QString::fromStdString(FormatSizeText(disk.FreeSize)));
    // The last column has room for why a drive cannot be read, and how to get at it.
    row->setText(3, disk.OpenFailure.empty() ? QString::fromStdString(disk.FileSystemName)
                                             : FHost.Text(TText::strCannotBeRead).arg(QString::fromStdString(disk.OpenFailure)));
    row->setToolTip(3, row->text(3));
    row->setData(0, Qt::UserRole, QChar::fromLatin1(disk.Letter));
    row->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  }
  // Drives that could not be opened are listed with the reason, so nobody wonders where they went.
  for (const std::string& error : disks.Errors()) {
    auto* row = new QTreeWidgetItem(lvWizardDrives);
    row->setText(0, QString::fromStdString(error));
    row->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    row->setFlags(Qt::ItemIsEnabled);
    row->setFirstColumnSpanned(true);
  }
}

void TWizardPage::btnStartScanClick() {
  QTreeWidgetItem* row = lvWizardDrives->currentItem();
  if (!row || !row->data(0, Qt::UserRole).isValid()) {
    FDialogs.Error(this, FHost.Text(TText::strNoDriveSelected));
    return;
  }
  const char letter = row->data(0, Qt::UserRole).toChar().toLatin1();
  const TDiskObject* disk = FCore.Manager().FindDisk(letter);
  if (disk && !disk->OpenFailure.empty()) {
    FDialogs.Error(this, FHost.Text(TText::strDriveCannotBeRead)
                             .arg(QChar::fromLatin1(letter).toUpper() + QStringLiteral(":\\"),
                                  QString::fromStdString(disk->OpenFailure)));
    return;
  }
  SetScanning(true);
  lblFilesFound->hide();
  FDriveLetter = letter;
  StartRecoveryScan();
}

bool TWizardPage::DeepScan() const { return chkDeepScan->isChecked(); }

void TWizardPage::SetDeepScan(bool Value) { chkDeepScan->setChecked(Value); }

void TWizardPage::StartRecoveryScan() {
  TDiskObject* disk = FCore.Manager().FindDisk(FDriveLetter);
  FScanDisk = disk;
  if (disk && !FCore.Manager().ScanRunning(disk)) disk->SetDeepScan(chkDeepScan->isChecked());
  // The folders of an earlier scan are freed with it.
  FFilter.Folder = nullptr;
  FCore.Updating().SetGauge(FGauge.get());
  FCore.Updating().SetOnScanFinished([this] { ScanCompleted(); });
  if (!StartShownScan(FCore.Manager(), FCore.Updating(), disk, FFilter)) ScanCompleted();
}

void TWizardPage::btnStopScanClick() { FCore.Manager().StopScan(FDriveLetter); }

void TWizardPage::ScanCompleted() {
  if (FClosing) return;
  SetScanning(false);
  ShowFoundCount();
  lblFilesFound->show();
  const QString drive = QChar::fromLatin1(FDriveLetter).toUpper() + QStringLiteral(":\\");
  if (FScanDisk && !FScanDisk->Scanner) {
    FDialogs.Error(this, FHost.Text(TText::strNoFileSystem).arg(drive));
    return;
  }
  if (const std::optional<TReason> failure = FScanDisk ? FScanDisk->Scanner->ScanFailure() : std::nullopt) {
    FDialogs.Error(this, FHost.Text(TText::strScanFailed).arg(drive, ReasonText(FHost.Language(), *failure)));
    return;
  }
  FDialogs.Information(this, FHost.Text(TText::strPressNextToRecover));
}

void TWizardPage::ShowFoundCount() {
  const int found = FScanDisk ? FScanDisk->Files.Count() : 0;
  QString text = FHost.Text(TText::strFoundFiles).arg(QLocale::system().toString(found));
  if (FScanDisk && (FFilter.Flags & ~qfFolder) != 0) {
    const int passing = FCore.Updating().Query().PassingFiles();
    text += FHost.Text(TText::strPassTheFilter).arg(QLocale::system().toString(passing));
  }
  lblFilesFound->setText(text);
}

void TWizardPage::UpdateStartButton() {
  // A scan frees the items a running recovery or sort reads.
  btnStartScan->setEnabled(!FScanning && !FRecoverThread && !FSorter.joinable());
}

void TWizardPage::SortFiles(int Column, Qt::SortOrder Order) {
  // Sorting a million rows takes about a second: long lists are sorted on a thread of their own.
  constexpr int kSortElsewhere = 50'000;
  const TResultOrder order{Column, Order == Qt::DescendingOrder};
  TQueryObject& query = FCore.Updating().Query();
  if (query.Count() < kSortElsewhere) {
    query.SetOrder(order);
    FCore.Updating().RefreshList();
    return;
  }
  std::uint64_t version = 0;
  std::vector<PFileInfo> items = query.Results(version);
  lvFiles->header()->setSectionsClickable(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  FSorter = std::thread([this, order, version, items = std::move(items)]() mutable {
    SortResults(items, order);
    QMetaObject::invokeMethod(
        this, [this, order, version, items = std::move(items)] { SortFinished(order, items, version); },
        Qt::QueuedConnection);
  });
  UpdateStartButton();
}

void TWizardPage::SortFinished(const TResultOrder& Order, const std::vector<PFileInfo>& Sorted, std::uint64_t Version) {
  FSorter.join();  // posting this was its last step
  QApplication::restoreOverrideCursor();
  lvFiles->header()->setSectionsClickable(true);
  TQueryObject& query = FCore.Updating().Query();
  // The list changed meanwhile (a scan still adding files, a new folder): sorted again here.
  if (!query.PutOrdered(Order, Sorted, Version)) query.SetOrder(Order);
  FCore.Updating().RefreshList();
  UpdateStartButton();
}

void TWizardPage::SetScanning(bool Scanning) {
  FScanning = Scanning;
  UpdateStartButton();
  btnStopScan->setEnabled(Scanning);
  btnNextDrives->setEnabled(!Scanning);
  btnRefreshDrives->setEnabled(!Scanning);
  lvWizardDrives->setEnabled(!Scanning);
  FHost.SetToolbarEnabled(!Scanning);
}

void TWizardPage::btnNextDrivesClick() {
  pcWizard->setCurrentIndex(1);
  pcWizardDescription->setCurrentIndex(1);
}

void TWizardPage::btnBackToWizardClick() {
  pcWizard->setCurrentIndex(0);
  pcWizardDescription->setCurrentIndex(0);
}

void TWizardPage::tvFoldersChange(const QModelIndex& Current) {
  if (PFileInfo folder = FTreeModel->FolderAt(Current)) FFilter.Folder = folder;
  FCore.Updating().Query().SetFilter(FFilter);
  FCore.Updating().RefreshList();
}

void TWizardPage::btnAddImageClick() {
  const QString path =
      FDialogs.OpenFile(this, FHost.Text(TText::strAddImageTitle), FHost.Text(TText::strImageFilter));
  if (path.isEmpty()) return;
  std::string error;
  const std::vector<TDiskObject*> added = FCore.Manager().AddImage(path.toStdString(), error);
  if (added.empty()) {
    FDialogs.Error(this, QString::fromStdString(error));
    return;
  }
  btnRefreshDrivesClick();
  for (int i = 0; i < lvWizardDrives->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = lvWizardDrives->topLevelItem(i);
    if (row->data(0, Qt::UserRole).toChar() == QChar::fromLatin1(added.front()->Letter)) lvWizardDrives->setCurrentItem(row);
  }
}

void TWizardPage::btnFilterClick() {
  TFilter filter = FFilter;
  if (frmSearchFilters->Execute(filter)) ApplyFilter(filter);
}

void TWizardPage::btnPreviewClick() {
  const QModelIndexList rows = lvFiles->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  const auto first = std::min_element(rows.begin(), rows.end(),
                                      [](const QModelIndex& A, const QModelIndex& B) { return A.row() < B.row(); });
  PFileInfo item = FListModel->ItemAt(first->row());
  if (!item || item->IsFolder) return;
  if (frmPreview->ShowFile(FCore.Manager().CreateStream(item), QString::fromStdString(item->Name)))
    FDialogs.ShowModal(*frmPreview);
}

void TWizardPage::btnRecoverClick() {
  QModelIndexList rows = lvFiles->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& A, const QModelIndex& B) { return A.row() < B.row(); });
  TDiskItems items;
  for (const QModelIndex& row : rows)
    if (PFileInfo item = FListModel->ItemAt(row.row())) items.Add(item);
  if (items.Count() == 0 || FRecoverThread) return;
  const QString folder = FDialogs.SelectFolder(this, QStringLiteral("Select folder"));
  if (folder.isEmpty()) return;
  const TDiskObject* disk = items.Items(0)->Disk;
  if (disk && DestinationRefused(folder.toStdString(), disk->SourcePath, false) &&
      !FDialogs.Confirm(this, FHost.Text(TText::strRecoverOntoSourceTitle),
                        FHost.Text(TText::strRecoverOntoSource).arg(folder)))
    return;
  FRecoverThread = FCore.Manager().RecoverItems(items);
  if (!FRecoverThread) {
    FDialogs.Error(this, FHost.Text(TText::strRecoveryNotStarted));
    return;
  }
  FRecoverThread->SetDestination(folder.toStdString());
  FRecoverThread->SetOnFinished([this] { RecoveryFinished(); });
  FRecoverThread->Start();
  UpdateStartButton();
  btnRecover->setEnabled(false);
  ShowRecoveryProgress();
  pnlRecovery->show();
  FRecoveryTimer->start();
}

void TWizardPage::ShowRecoveryProgress() {
  if (!FRecoverThread) return;
  lblRecoveryProgress->setText(FHost.Text(TText::strRecovering)
                                   .arg(QLocale::system().toString(static_cast<qlonglong>(FRecoverThread->FilesDone())),
                                        QLocale::system().formattedDataSize(FRecoverThread->BytesDone())));
}

void TWizardPage::RecoveryFinished() {
  // The job waits for this handler: it is let go first, and ended once it has returned.
  QTimer::singleShot(0, this, &TWizardPage::RecoveryEnded);
}

void TWizardPage::RecoveryEnded() {
  if (!FRecoverThread) return;
  FRecoveryTimer->stop();
  const std::vector<TRecoveryRecord> records = FRecoverThread->Records();
  FRecoverThread.reset();
  pnlRecovery->hide();
  btnRecover->setEnabled(true);
  UpdateStartButton();
  const TRecoverySummary summary = SummarizeRecovery(records);
  QString text = FHost.Text(TText::strRecoveryCompleted);
  text += QStringLiteral("\n\n") + FHost.Text(TText::strRecoverySummary)
                                       .arg(summary.Written)
                                       .arg(summary.Partial.size())
                                       .arg(summary.Skipped.size());
  QStringList details;
  const auto list = [this, &details](TText Line, const std::vector<const TRecoveryRecord*>& Items) {
    for (const TRecoveryRecord* r : Items)
      details << FHost.Text(Line).arg(QString::fromStdString(ItemPath(*r->Item)), ReasonText(FHost.Language(), r->Reasons));
  };
  list(TText::strRecoveryPartial, summary.Partial);
  list(TText::strRecoverySkipped, summary.Skipped);
  list(TText::strRecoveryNote, summary.Notes);
  FDialogs.Report(this, text.trimmed(), details.join(QLatin1Char('\n')));
}

void TWizardPage::WaitForRecovery() {
  if (!FRecoverThread) return;
  WaitForJob(*FRecoverThread, &FCore.MainThread());
  FRecoveryTimer->stop();
  FRecoverThread.reset();
}

}  // namespace kestrine::ui
