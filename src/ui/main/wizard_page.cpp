#include "ui/main/wizard_page.h"

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
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "settings/size_text.h"
#include "ui/adapters/folder_tree_model.h"
#include "ui/adapters/gauge_adapter.h"
#include "ui/adapters/result_list_model.h"
#include "ui/main/desktop_core.h"
#include "ui/main/dialogs.h"
#include "ui/preview/icon_list.h"
#include "workflow/job_control.h"

namespace kestrine::ui {
namespace {

template <typename T>
T* Named(T* Widget, const char* Name) {
  Widget->setObjectName(QString::fromLatin1(Name));
  return Widget;
}

QPushButton* Button(const char* Name, const QString& Text) {
  auto* button = Named(new QPushButton(Text), Name);
  button->setAccessibleName(QString(Text).remove(QLatin1Char('&')));
  return button;
}

QWidget* DescriptionPage(const char* TitleName, const QString& Title, const char* TextName, const QString& Text) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* title = Named(new QLabel(Title), TitleName);
  QFont font = title->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  title->setFont(font);
  title->setWordWrap(true);
  auto* text = Named(new QLabel(Text), TextName);
  text->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(text);
  return page;
}

// "D:\ (Data)", or what kept the drive from being read.
QString DriveCaption(const TDiskObject& Disk) {
  QString caption = QStringLiteral("%1:\\ (%2)").arg(QChar::fromLatin1(Disk.Letter).toUpper(),
                                                       QString::fromStdString(Disk.VolumeLabel));
  if (Disk.Partition > 0) caption += QStringLiteral("  [partition %1]").arg(Disk.Partition);
  if (Disk.Clipped) caption += QStringLiteral("  [clipped: its table entry runs past the end]");
  if (!Disk.OpenFailure.empty())
    caption += QStringLiteral("  \u2014 cannot be read: ") + QString::fromStdString(Disk.OpenFailure);
  return caption;
}

}  // namespace

TWizardPage::TWizardPage(TDesktopCore& Core, TDialogs& Dialogs, TWizardHost& Host, TImageList& Images, QWidget* Parent)
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
      DescriptionPage("lblWizardTitle", tr("Wizard"), "lblWizardText", tr("Select location of deleted files.")));
  pcWizardDescription->addWidget(
      DescriptionPage("lblResultsTitle", tr("Scan Results"), "lblResultsText", tr("Select files you want to recover.")));
  layout->addWidget(pcWizardDescription);
  layout->addStretch(1);
  panel->setFixedWidth(fontMetrics().averageCharWidth() * 30);
  return panel;
}

QWidget* TWizardPage::CreateDrivesStep() {
  auto* step = Named(new QWidget, "tsWizardDrives");
  auto* layout = new QVBoxLayout(step);
  lvWizardDrives = Named(new QTreeWidget, "lvWizardDrives");
  lvWizardDrives->setRootIsDecorated(false);
  lvWizardDrives->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvWizardDrives->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvWizardDrives->setAccessibleName(QStringLiteral("Drives"));
  lvWizardDrives->setHeaderLabels({tr("Name"), tr("Total Size"), tr("Free Space"), tr("Type")});
  const int em = fontMetrics().averageCharWidth();
  for (int i = 0; i < 4; ++i) lvWizardDrives->setColumnWidth(i, em * (i == 0 ? 28 : 13));
  layout->addWidget(lvWizardDrives, 1);

  auto* scanning = Named(new QGroupBox(tr("Scanning")), "gbScanning");
  auto* gauge = new QHBoxLayout;
  prgScanFiles = Named(new QProgressBar, "prgScanFiles");
  prgScanFiles->setRange(0, 100);
  prgScanFiles->setValue(0);
  prgScanFiles->setTextVisible(false);
  prgScanFiles->setAccessibleName(QStringLiteral("Scan progress"));
  gauge->addWidget(Named(new QLabel(QStringLiteral("0%")), "lblGauge0"));
  gauge->addWidget(prgScanFiles, 1);
  gauge->addWidget(Named(new QLabel(QStringLiteral("100%")), "lblGauge100"));
  auto* group = new QVBoxLayout(scanning);
  group->addLayout(gauge);
  lblFilesFound = Named(new QLabel(QStringLiteral("Found: 0 file(s)")), "lblFilesFound");
  lblFilesFound->hide();
  group->addWidget(lblFilesFound);
  layout->addWidget(scanning);

  auto* buttons = new QHBoxLayout;
  btnRefreshDrives = Button("btnRefreshDrives", tr("Refresh"));
  btnStartScan = Button("btnStartScan", tr("Start"));
  btnStopScan = Button("btnStopScan", tr("Stop"));
  btnNextDrives = Button("btnNextDrives", tr("&Next"));
  btnStopScan->setEnabled(false);
  btnNextDrives->setEnabled(false);
  buttons->addWidget(btnRefreshDrives);
  buttons->addStretch(1);
  for (QPushButton* b : {btnStartScan, btnStopScan, btnNextDrives}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(btnRefreshDrives, &QPushButton::clicked, this, &TWizardPage::btnRefreshDrivesClick);
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
  foldersLayout->addWidget(Named(new QLabel(tr("Folders")), "lblFolders"));
  tvFolders = Named(new QTreeView, "tvFolders");
  tvFolders->setHeaderHidden(true);
  tvFolders->setUniformRowHeights(true);
  tvFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFolders->setAccessibleName(QStringLiteral("Folders"));
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
  lvFiles->setAccessibleName(QStringLiteral("Files"));
  FListModel = new TResultListModel(FCore.Updating(), [this](int Index) { return FImages.Icon(Index); }, this);
  lvFiles->setModel(FListModel);
  const int em = fontMetrics().averageCharWidth();
  const int widths[] = {28, 10, 13, 13, 20, 20};
  for (int i = 0; i < 6; ++i) lvFiles->setColumnWidth(i, em * widths[i]);
  splScanResults->addWidget(lvFiles);
  splScanResults->setStretchFactor(1, 1);
  layout->addWidget(splScanResults, 1);

  pmFiles = Named(new QMenu(this), "pmFiles");
  Named(pmFiles->addAction(tr("Recover")), "mnuRecover");
  Named(pmFiles->addAction(tr("Preview")), "mnuPreview");
  lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvFiles, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& At) { pmFiles->popup(lvFiles->viewport()->mapToGlobal(At)); });

  auto* buttons = new QHBoxLayout;
  btnBackToWizard = Button("btnBackToWizard", tr("&Back"));
  btnFilter = Button("btnFilter", tr("Filter"));
  btnPreview = Button("btnPreview", tr("Preview"));
  btnRecover = Button("btnRecover", tr("Recover"));
  buttons->addWidget(btnBackToWizard);
  buttons->addStretch(1);
  for (QPushButton* b : {btnFilter, btnPreview, btnRecover}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(btnBackToWizard, &QPushButton::clicked, this, &TWizardPage::btnBackToWizardClick);
  connect(tvFolders->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& Current) { tvFoldersChange(Current); });
  return step;
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
}

void TWizardPage::SetColumnCaptions(const QStringList& DriveColumns, const QStringList& FileColumns) {
  lvWizardDrives->setHeaderLabels(DriveColumns);
  FListModel->SetColumnCaptions(FileColumns);
}

bool TWizardPage::Scanning() const { return !btnStartScan->isEnabled(); }

void TWizardPage::tsWizardShow() { btnRefreshDrivesClick(); }

void TWizardPage::btnRefreshDrivesClick() {
  lvWizardDrives->clear();
  const TDiskList& disks = *FCore.Manager().DiskList;
  for (int i = 0; i < disks.DiskCount(); ++i) {
    const TDiskObject& disk = *disks.GetDisk(i);
    auto* row = new QTreeWidgetItem(lvWizardDrives);
    row->setText(0, DriveCaption(disk));
    row->setToolTip(0, row->text(0));
    row->setText(1, QString::fromStdString(FormatSizeText(disk.TotalSize)));
    row->setText(2, QString::fromStdString(FormatSizeText(disk.FreeSize)));
    row->setText(3, QString::fromStdString(disk.FileSystemName));
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
  lvWizardDrives->resizeColumnToContents(0);
}

void TWizardPage::btnStartScanClick() {
  QTreeWidgetItem* row = lvWizardDrives->currentItem();
  if (!row || !row->data(0, Qt::UserRole).isValid()) {
    FDialogs.Error(this, FHost.LookupText(QStringLiteral("strNoDriveSelected")));
    return;
  }
  SetScanning(true);
  lblFilesFound->hide();
  FDriveLetter = row->data(0, Qt::UserRole).toChar().toLatin1();
  StartRecoveryScan();
}

void TWizardPage::StartRecoveryScan() {
  TDiskObject* disk = FCore.Manager().FindDisk(FDriveLetter);
  FScanDisk = disk;
  // The folders of an earlier scan are freed with it.
  FFilter.Folder = nullptr;
  FCore.Updating().SetGauge(FGauge.get());
  FCore.Updating().SetOnScanFinished([this] { ScanCompleted(); });
  if (!StartShownScan(FCore.Manager(), FCore.Updating(), disk, FFilter)) ScanCompleted();
}

void TWizardPage::btnStopScanClick() { FCore.Manager().StopScan(FDriveLetter); }

void TWizardPage::ScanCompleted() {
  SetScanning(false);
  const int found = FScanDisk ? FScanDisk->Files.Count() : 0;
  lblFilesFound->setText(QStringLiteral("Found: %1 file(s)").arg(QLocale::system().toString(found)));
  lblFilesFound->show();
  const std::string failure = FScanDisk && FScanDisk->Scanner ? FScanDisk->Scanner->ScanFailure() : std::string();
  if (!failure.empty()) {
    FDialogs.Error(this, QStringLiteral("%1:\\ could not be scanned: %2")
                             .arg(QChar::fromLatin1(FDriveLetter).toUpper(), QString::fromStdString(failure)));
    return;
  }
  FDialogs.Information(this, FHost.LookupText(QStringLiteral("strPressNextToRecover")));
}

void TWizardPage::SetScanning(bool Scanning) {
  btnStartScan->setEnabled(!Scanning);
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

void TWizardPage::WaitForRecovery() {}

}  // namespace kestrine::ui
