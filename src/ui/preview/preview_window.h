#pragma once
// The preview window: one found file shown as a dump, a picture or a web page, read straight from
// the volume through its recovery stream. Nothing is ever written.

#include <QDialog>
#include <memory>

#include "engine/volume/recovery_stream.h"
#include "ui/preview/dump_layout.h"
#include "ui/settings/text_keys.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QStackedWidget;
class QWidget;

namespace kestrine::ui {

class TDumpViewer;
class TPictureView;
class TPreviewBrowser;

class TfrmPreview final : public QDialog {
 public:
  // Language gives the texts; it outlives the window.
  explicit TfrmPreview(const TLanguageDocument& Language, QWidget* Parent = nullptr);
  ~TfrmPreview() override;

  // Prepares the window for one file; the caller shows it (exec or show). The window keeps the
  // stream until the next ShowFile or its destruction. False without a stream.
  bool ShowFile(std::unique_ptr<TRecoveryStream> Stream, const QString& FileName);

 private:
  void CreateMenu();
  QWidget* CreateDumpPage();
  QWidget* CreateImagePage();
  QWidget* CreateBrowserPage();
  void SetDumpMode(TViewerMode Mode);
  // The dump in front, in the mode it had, its menu item checked.
  void ShowDump();
  void ShowPicture(const QImage& Image);
  void UpdateStatus();
  QString Text(TText Key) const { return ui::Text(FLanguage, Key); }
  // The texts of the language that are not captions: the offset hint, the dump's context menu.
  void ApplyHints();

  void AsHex1Click();
  void AsBinary1Click();
  void AsText1Click();
  void AsUnicode1Click();
  void AsBitmap1Click();
  void AsWebpage1Click();
  void btnCloseClick();
  void btnGoToClick();
  void btnFindNextClick();
  void chkFitToWindowClick();
  void ATBinHexPreviewFindFinished(bool Found);
  void ATBinHexPreviewFindProgress(qint64 Position);
  void FormDestroy();

  const TLanguageDocument& FLanguage;
  std::unique_ptr<TRecoveryStream> FStream;
  QString FNote;  // what the status line adds after the size: a failure, a cut page, a find's result

  QMenuBar* mnuPreview = nullptr;
  QMenu* View1 = nullptr;
  QActionGroup* FViewGroup = nullptr;
  QAction* AsHex1 = nullptr;
  QAction* AsBinary1 = nullptr;
  QAction* AsText1 = nullptr;
  QAction* AsUnicode1 = nullptr;
  QAction* AsBitmap1 = nullptr;
  QAction* AsWebpage1 = nullptr;
  QStackedWidget* pcPreview = nullptr;
  QWidget* tsDump = nullptr;
  QWidget* tsImage = nullptr;
  QWidget* tsBrowser = nullptr;
  TDumpViewer* ATBinHexPreview = nullptr;
  QLineEdit* edtGoTo = nullptr;
  QPushButton* btnGoTo = nullptr;
  QLineEdit* edtFind = nullptr;
  QCheckBox* chkFindHex = nullptr;
  QCheckBox* chkMatchCase = nullptr;
  QPushButton* btnFindNext = nullptr;
  TPictureView* FPictureView = nullptr;
  QCheckBox* chkFitToWindow = nullptr;
  TPreviewBrowser* brwPreview = nullptr;
  QLabel* lblBrowserNote = nullptr;
  QLabel* lblStatus = nullptr;
  QPushButton* btnClose = nullptr;
};

}  // namespace kestrine::ui
