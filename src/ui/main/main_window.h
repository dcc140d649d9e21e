#pragma once
// The main window: banner, toolbar, the page stack (wizard, About, Options, Disk Cleanup), the tray
// icon, settings, language and skin.

#include <QMainWindow>
#include <memory>

#include "settings/language_files.h"
#include "settings/settings_store.h"
#include "ui/settings/qt_translations.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QMenu;
class QSettings;
class QStackedWidget;
class QSystemTrayIcon;

namespace kestrine::ui {

class TDesktopCore;
class TDialogs;
class TDiskCleanupPage;
class TImageList;
class TIconList;
class TWizardPage;

class TfrmOrvik final : public QMainWindow {
 public:
  // UserSettings is the per-user store (language, skin, position); "Config.txt" is read from the
  // current directory.
  TfrmOrvik(TDesktopCore& Core, QSettings& UserSettings, TDialogs& Dialogs, QWidget* Parent = nullptr);
  ~TfrmOrvik() override;

  // Texts of the current language, English where it has none.
  QString LookupText(const QString& Key) const;
  const TLanguageDocument& Language() const { return FLang; }
  void ApplyLanguageTexts();

  TWizardPage& Wizard() const { return *FWizard; }
  TDiskCleanupPage& DiskCleanup() const { return *FDiskCleanup; }
  TConfigStore& Config() { return FConfig; }
  const QString& CurrentLanguage() const { return FLanguage; }
  const QString& CurrentSkin() const { return FSkin; }
  // Waits (running queued steps) for a recovery that is running; the window's close calls it.
  void WaitForRecovery();

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void SetUpFromSettings();
  bool CanClose();
  void SaveOnClose();
  QWidget* CreateBanner();
  QWidget* CreateToolbar();
  QWidget* CreateAboutPage();
  QWidget* CreateOptionsPage();
  void CreateTray();

  void SelectToolbarButton(QAbstractButton* Button);
  void btnWizardClick();
  void btnAboutClick();
  void btnOptionsClick();
  void btnHelpClick();
  void btnDiskCleanupClick();
  void btnSaveOptionsClick();
  void MinimizeToTray();
  void RestoreFromTray();
  void CloseFromTray();
  void LoadSkin(const QString& Name);
  void SetToolbarEnabled(bool Enabled);

  class THost;

  TDesktopCore& FCore;
  QSettings& FUserSettings;
  TDialogs& FDialogs;
  std::unique_ptr<THost> FHost;
  TConfigStore FConfig;       // xmlConfig
  TLanguageDocument FLang;    // xmlLang
  TQtTranslations FQtTexts;
  QString FLanguage;
  QString FSkin;
  std::unique_ptr<TImageList> FImages;
  std::unique_ptr<TIconList> FIcons;

  QWidget* FToolbar = nullptr;  // scrpnlToolbars
  QAbstractButton* btnWizard = nullptr;
  QAbstractButton* btnAbout = nullptr;
  QAbstractButton* btnOptions = nullptr;
  QAbstractButton* btnHelp = nullptr;
  QAbstractButton* btnDiskCleanup = nullptr;
  QStackedWidget* pcMain = nullptr;
  TWizardPage* FWizard = nullptr;
  QWidget* tsAbout = nullptr;
  QWidget* tsOptions = nullptr;
  TDiskCleanupPage* FDiskCleanup = nullptr;
  QComboBox* cboxLanguages = nullptr;
  QComboBox* cboxSkins = nullptr;
  QCheckBox* chkSaveFormPosition = nullptr;
  QSystemTrayIcon* FTrayIcon = nullptr;
  QMenu* pmTray = nullptr;
  bool FClosing = false;
};

// The product's addresses, shown on the About page; Help opens the first.
inline constexpr const char* kProductWebAddress = "https://kestrine.example.org/";
inline constexpr const char* kSupportAddress = "support@kestrine.example.org";

}  // namespace kestrine::ui
