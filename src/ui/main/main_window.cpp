#include "ui/main/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/cleanup/disk_cleanup_page.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/shell/page_host.h"
#include "ui/main/program_icon.h"
#include "ui/main/wizard_page.h"
#include "ui/preview/icon_list.h"
#include "ui/settings/language_texts.h"
#include "ui/settings/skin_loader.h"
#include "ui/settings/worded_text.h"
#include "ui/settings/window_position.h"
#include "workflow/job_control.h"

namespace kestrine::ui {
namespace {

constexpr const char* kCaption = "Kestrine Pro 3.0";
constexpr const char* kProductName = "Kestrine Pro";
constexpr const char* kVersion = "3.0";


QLabel* DescriptionLabel(const char* Name, const QString& Text, bool Title) {
  auto* label = Named(new QLabel(Text), Name);
  if (Title) {
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    label->setFont(font);
  }
  label->setWordWrap(true);
  return label;
}

}  // namespace

// The pages reach the window through these.
class TfrmOrvik::THost final : public TPageHost {
 public:
  explicit THost(TfrmOrvik& Window) : FWindow(Window) {}
  const TLanguageDocument& Language() const override { return FWindow.FLang; }
  void SetToolbarEnabled(bool Enabled) override { FWindow.SetToolbarEnabled(Enabled); }

 private:
  TfrmOrvik& FWindow;
};

TfrmOrvik::TfrmOrvik(TDesktopCore& Core, QSettings& UserSettings, TDialogs& Dialogs, QWidget* Parent)
    : QMainWindow(Parent),
      FCore(Core),
      FUserSettings(UserSettings),
      FDialogs(Dialogs),
      FHost(std::make_unique<THost>(*this)),
      FImages(std::make_unique<TImageList>()),
      FIcons(std::make_unique<TIconList>(FImages.get())) {
  setObjectName(QStringLiteral("frmOrvik"));
  setWindowIcon(ProgramIcon());
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreateBanner());
  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->addWidget(CreateToolbar());
  pcMain = Named(new QStackedWidget, "pcMain");
  FWizard = new TWizardPage(FCore, FDialogs, *FHost, *FImages);
  tsAbout = CreateAboutPage();
  tsOptions = CreateOptionsPage();
  FDiskCleanup = new TDiskCleanupPage(FCore, FDialogs, *FHost);
  for (QWidget* page : {static_cast<QWidget*>(FWizard), tsAbout, tsOptions, static_cast<QWidget*>(FDiskCleanup)})
    pcMain->addWidget(page);
  body->addWidget(pcMain, 1);
  layout->addLayout(body, 1);
  setCentralWidget(central);
  CreateTray();
  SetUpFromSettings();
  // Room for the result list's six columns where the screen has it; never below the size the layout was made for.
  QSize size = sizeHint().expandedTo(QSize(734, 494)).expandedTo(QSize(fontMetrics().averageCharWidth() * 150, 0));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10).expandedTo(QSize(734, 494));
  resize(size);
}

TfrmOrvik::~TfrmOrvik() = default;

QWidget* TfrmOrvik::CreateBanner() {
  auto* banner = Named(new QFrame, "imgBanner");
  auto* layout = new QHBoxLayout(banner);
  auto* logo = Named(new QLabel, "imgBannerLogo");
  logo->setPixmap(ProgramIcon().pixmap(fontMetrics().height() * 3));
  auto* title = Named(new QLabel(QString::fromLatin1(kProductName)), "lblBannerTitle");
  QFont font = title->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.6);
  title->setFont(font);
  auto* text = new QVBoxLayout;
  text->addStretch(1);
  text->addWidget(title);
  text->addWidget(Named(new QLabel, "lblBannerText"));
  text->addStretch(1);
  layout->addWidget(logo);
  layout->addLayout(text, 1);
  return banner;
}

QWidget* TfrmOrvik::CreateToolbar() {
  FToolbar = Named(new QWidget, "scrpnlToolbars");
  auto* layout = new QVBoxLayout(FToolbar);
  auto button = [this, layout](const char* Name, const QString& Text, QStyle::StandardPixmap Icon, bool Page) {
    auto* b = Named(new QPushButton(style()->standardIcon(Icon), Text), Name);
    b->setCheckable(Page);
    layout->addWidget(b);
    return b;
  };
  btnWizard = button("btnWizard", QStringLiteral("Wizard"), QStyle::SP_DriveHDIcon, true);
  btnDiskCleanup = button("btnDiskCleanup", QStringLiteral("Disk Cleanup"), QStyle::SP_TrashIcon, true);
  btnOptions = button("btnOptions", QStringLiteral("Options"), QStyle::SP_FileDialogDetailedView, true);
  btnAbout = button("btnAbout", QStringLiteral("About"), QStyle::SP_MessageBoxInformation, true);
  btnHelp = button("btnHelp", QStringLiteral("Help"), QStyle::SP_DialogHelpButton, false);
  layout->addStretch(1);
  // Always as wide as its longest caption, whatever the language and skin.
  FToolbar->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  connect(btnWizard, &QAbstractButton::clicked, this, &TfrmOrvik::btnWizardClick);
  connect(btnDiskCleanup, &QAbstractButton::clicked, this, &TfrmOrvik::btnDiskCleanupClick);
  connect(btnOptions, &QAbstractButton::clicked, this, &TfrmOrvik::btnOptionsClick);
  connect(btnAbout, &QAbstractButton::clicked, this, &TfrmOrvik::btnAboutClick);
  connect(btnHelp, &QAbstractButton::clicked, this, &TfrmOrvik::btnHelpClick);
  return FToolbar;
}

QWidget* TfrmOrvik::CreateAboutPage() {
  auto* page = Named(new QWidget, "tsAbout");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(DescriptionLabel("lblAboutTitle", QStringLiteral("About"), true));
  auto* form = new QFormLayout;
  auto value = [](const char* Name, const QString& Text) {
    auto* label = Named(new QLabel(Text), Name);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    return label;
  };
  auto link = [&value](const char* Name, const QString& Target, const QString& Text) {
    auto* label = value(Name, QStringLiteral("<a href=\"%1\">%2</a>").arg(Target.toHtmlEscaped(), Text.toHtmlEscaped()));
    label->setOpenExternalLinks(true);
    return label;
  };
  const QString web = QString::fromLatin1(kProductWebAddress);
  const QString mail = QString::fromLatin1(kSupportAddress);
  form->addRow(Named(new QLabel(QStringLiteral("Product Name:")), "lblProductNameCaption"), value("lblProductName", QString::fromLatin1(kProductName)));
  form->addRow(Named(new QLabel(QStringLiteral("Product Version:")), "lblProductVersionCaption"), value("lblProductVersion", QString::fromLatin1(kVersion)));
  form->addRow(Named(new QLabel(QStringLiteral("Support:")), "lblSupportCaption"), link("lblSupport", QStringLiteral("mailto:") + mail, mail));
  form->addRow(Named(new QLabel(QStringLiteral("Homepage:")), "lblHomepageCaption"), link("lblHomepage", web, web));
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

QWidget* TfrmOrvik::CreateOptionsPage() {
  auto* page = Named(new QWidget, "tsOptions");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(DescriptionLabel("lblOptionsTitle", QStringLiteral("Options"), true));
  layout->addWidget(DescriptionLabel("lblOptionsText", QStringLiteral("Program's configurations."), false));
  auto* form = new QFormLayout;
  cboxLanguages = Named(new QComboBox, "cboxLanguages");
  cboxSkins = Named(new QComboBox, "cboxSkins");
  auto* languages = Named(new QLabel(QStringLiteral("Languages:")), "lblLanguages");
  auto* skins = Named(new QLabel(QStringLiteral("Skins:")), "lblSkins");
  languages->setBuddy(cboxLanguages);
  skins->setBuddy(cboxSkins);
  form->addRow(languages, cboxLanguages);
  form->addRow(skins, cboxSkins);
  layout->addLayout(form);
  chkSaveFormPosition = Named(new QCheckBox(QStringLiteral("Save current Window's positions")), "chkSaveFormPosition");
  layout->addWidget(chkSaveFormPosition);
  auto* save = Named(new QPushButton(QStringLiteral("&Save")), "btnSaveOptions");
  connect(save, &QPushButton::clicked, this, &TfrmOrvik::btnSaveOptionsClick);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(save);
  layout->addLayout(row);
  layout->addStretch(1);
  return page;
}

void TfrmOrvik::CreateTray() {
  pmTray = Named(new QMenu(this), "pmTray");
  auto* restore = Named(pmTray->addAction(QStringLiteral("Restore")), "Restore1");
  pmTray->addSeparator();
  auto* close = Named(pmTray->addAction(QStringLiteral("Close")), "Close1");
  connect(restore, &QAction::triggered, this, &TfrmOrvik::RestoreFromTray);
  connect(close, &QAction::triggered, this, &TfrmOrvik::CloseFromTray);
  FTrayIcon = Named(new QSystemTrayIcon(ProgramIcon(), this), "TrayIcon1");
  FTrayIcon->setContextMenu(pmTray);
  connect(FTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
    if (Reason == QSystemTrayIcon::Trigger || Reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
  });
}

void TfrmOrvik::SetUpFromSettings() {
  setWindowTitle(QString::fromLatin1(kCaption));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kProductName));
  pcMain->setCurrentWidget(FWizard);
  FWizard->ShowFirstSteps();
  FDiskCleanup->ShowFirstSteps();
  SelectToolbarButton(btnWizard);

  FLanguage = ReadLanguageSetting(FUserSettings);
  ApplyLanguageTexts();
  ApplyBuiltInSkin();
  FSkin = ReadSkinSetting(FUserSettings);
  if (!FSkin.isEmpty()) LoadSkin(FSkin);

  FConfig.Load(QStringLiteral("Config.txt"));
  if (FConfig.Problem()) FDialogs.Error(this, ProblemText(FLang, FConfig.Problem()));
  if (FConfig.HasSaveFormPosition()) chkSaveFormPosition->setChecked(FConfig.SaveFormPosition());
  if (FConfig.HasSaveFileExtensions()) FDiskCleanup->AppendMasks(FConfig.SaveFileExtensions());

  FWizard->SetDeepScan(ReadDeepScanSetting(FUserSettings));
  FWizard->AttachViews(*FIcons);
  FWizard->btnRefreshDrivesClick();
}

QString TfrmOrvik::LookupText(const QString& Key) const { return FLang.LookupText(Key); }

void TfrmOrvik::ApplyLanguageTexts() {
  TSettingsProblem error;
  if (!ApplyLanguage(FLanguage, FLang, *this, &error) && error) FDialogs.Error(this, ProblemText(FLang, error));
  FQtTexts.Use(Text(FLang, TText::strLocale));
  FWizard->SetColumnCaptions(ColumnCaptions(FLang, QStringLiteral("lvDrives"), 4),
                             ColumnCaptions(FLang, QStringLiteral("lvFiles"), 6));
  FDiskCleanup->ApplyLanguageTexts();
}

void TfrmOrvik::LoadSkin(const QString& Name) {
  TSettingsProblem error;
  if (!ui::LoadSkin(Name, error)) FDialogs.Error(this, ProblemText(FLang, error));
}

void TfrmOrvik::showEvent(QShowEvent* Event) {
  LoadWindowPosition(FUserSettings, *this);
  QMainWindow::showEvent(Event);
}

bool TfrmOrvik::CanClose() {
  if (FDiskCleanup->Wiping()) {
    if (!FDialogs.Confirm(this, Text(FLang, TText::strWipeRunningCaption),
                          Text(FLang, TText::strWipeCloseQuestion)))
      return false;
    FDiskCleanup->CancelWipeAndWait();
  }
  if (!FWizard->Scanning() && !FDiskCleanup->Searching()) return true;
  FDialogs.Information(this, QStringLiteral("Please press Stop button to Stop the Scanning Process"));
  return false;
}

void TfrmOrvik::SaveOnClose() {
  if (FConfig.HasSaveFormPosition() && FConfig.SaveFormPosition()) SaveWindowPosition(FUserSettings, *this);
  WriteDeepScanSetting(FUserSettings, FWizard->DeepScan());
  FConfig.SetSaveFileExtensions(FDiskCleanup->Masks());
  if (!FConfig.Save()) FDialogs.Error(this, ProblemText(FLang, FConfig.Problem()));
}

void TfrmOrvik::closeEvent(QCloseEvent* Event) {
  if (!CanClose()) {
    Event->ignore();
    return;
  }
  WaitForRecovery();
  SaveOnClose();
  FTrayIcon->hide();
  Event->accept();
}

void TfrmOrvik::WaitForRecovery() { FWizard->WaitForRecovery(); }

void TfrmOrvik::changeEvent(QEvent* Event) {
  QMainWindow::changeEvent(Event);
  if (Event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  // Hidden only after the minimise has been handled, or the window manager shows it again.
  QTimer::singleShot(0, this, &TfrmOrvik::MinimizeToTray);
}

void TfrmOrvik::MinimizeToTray() {
  hide();
  FTrayIcon->setToolTip(QString::fromLatin1(kProductName));
  FTrayIcon->show();
  FTrayIcon->showMessage(QString::fromLatin1(kProductName), Text(FLang, TText::strTrayRunning),
                           QSystemTrayIcon::Information);
}

void TfrmOrvik::RestoreFromTray() {
  showNormal();
  activateWindow();
  FTrayIcon->hide();
}

void TfrmOrvik::CloseFromTray() {
  if (!isVisible()) showNormal();
  close();
}

void TfrmOrvik::SelectToolbarButton(QAbstractButton* Button) {
  for (QAbstractButton* b : {btnWizard, btnDiskCleanup, btnOptions, btnAbout}) b->setChecked(b == Button);
}

void TfrmOrvik::SetToolbarEnabled(bool Enabled) { FToolbar->setEnabled(Enabled); }

void TfrmOrvik::btnWizardClick() {
  pcMain->setCurrentWidget(FWizard);
  SelectToolbarButton(btnWizard);
  FWizard->tsWizardShow();
}

void TfrmOrvik::btnAboutClick() {
  pcMain->setCurrentWidget(tsAbout);
  SelectToolbarButton(btnAbout);
}

void TfrmOrvik::btnDiskCleanupClick() {
  pcMain->setCurrentWidget(FDiskCleanup);
  SelectToolbarButton(btnDiskCleanup);
  FDiskCleanup->tsDiskCleanupDrivesShow();
}

void TfrmOrvik::btnHelpClick() {
  // Neither the page nor the pressed button changes.
  QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProductWebAddress)));
}

void TfrmOrvik::btnOptionsClick() {
  auto fill = [](QComboBox* Box, const QStringList& Names, const QString& Current) {
    Box->clear();
    Box->addItems(Names);
    int selected = -1;
    for (int i = 0; i < Names.size() && selected < 0; ++i)
      if (Names[i].compare(Current, Qt::CaseInsensitive) == 0) selected = i;
    Box->setCurrentIndex(selected);
  };
  fill(cboxLanguages, ListLanguages(), FLanguage);
  // Until a skin is chosen the built-in one is in force.
  fill(cboxSkins, ListSkins(), FSkin.isEmpty() ? QString::fromLatin1(kBuiltInSkinName) : FSkin);
  pcMain->setCurrentWidget(tsOptions);
  SelectToolbarButton(btnOptions);
}

void TfrmOrvik::btnSaveOptionsClick() {
  if (cboxLanguages->currentIndex() >= 0) {
    FLanguage = cboxLanguages->currentText();
    WriteLanguageSetting(FUserSettings, FLanguage);
    ApplyLanguageTexts();
  }
  if (cboxSkins->currentIndex() >= 0) {
    FSkin = cboxSkins->currentText();
    WriteSkinSetting(FUserSettings, FSkin);
    LoadSkin(FSkin);
  }
  FConfig.SetSaveFormPosition(chkSaveFormPosition->isChecked());
  if (!FConfig.Save()) FDialogs.Error(this, ProblemText(FLang, FConfig.Problem()));
  FDialogs.Information(this, Text(FLang, TText::strOptionsSaved));
}

}  // namespace kestrine::ui
