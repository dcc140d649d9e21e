#pragma once
// The real main window over mapped test volumes, with its boxes answered by a recorder, in a scratch
// current directory and a scratch per-user store.

#include <QDialog>
#include <QDir>
#include <QStackedWidget>
#include <QSettings>
#include <QStringList>
#include <functional>
#include <memory>

#include "tests/support/test_support.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/main/main_window.h"

namespace kestrine::test {

class TRecordedDialogs final : public ui::TDialogs {
 public:
  void Information(QWidget*, const QString& Text) override { Shown << QStringLiteral("info: ") + Text; }
  void Error(QWidget*, const QString& Text) override { Shown << QStringLiteral("error: ") + Text; }
  void Report(QWidget*, const QString& Text, const QString& Details) override {
    Shown << QStringLiteral("report: ") + Text;
    ReportDetails = Details;
  }
  bool Confirm(QWidget*, const QString&, const QString& Text) override {
    Shown << QStringLiteral("confirm: ") + Text;
    return Answer;
  }
  // A modal window is recorded by its caption and, for a window of pages, the page in front.
  void ShowModal(QDialog& Dialog) override {
    const auto* pages = Dialog.findChild<QStackedWidget*>();
    Shown << QStringLiteral("modal: ") + Dialog.windowTitle() +
                 (pages && pages->currentWidget() ? QStringLiteral(" / ") + pages->currentWidget()->objectName() : QString());
  }
  QString SelectFolder(QWidget*, const QString&) override { return Folder; }
  QString OpenFile(QWidget*, const QString&, const QString&) override { return File; }

  QStringList Shown;
  QString ReportDetails;
  bool Answer = true;
  QString Folder;
  QString File;
};

class TWindowFixture {
 public:
  // Images: test volumes (.img.xz names under tests/data, or absolute paths of images) mapped from d: on;
  // MountPoints: the folders the first of them are mounted on, for the disk cleanup to search.
  explicit TWindowFixture(const std::vector<std::string>& Images = {"fat16.img.xz", "ntfs.img.xz"},
                          const std::vector<std::string>& MountPoints = {});
  ~TWindowFixture();

  // A new window, as a new start of the program would make it (the earlier one is closed first).
  ui::TfrmOrvik& Open();
  ui::TfrmOrvik& Window() { return *FWindow; }
  // True when the window closed.
  bool Close();
  template <typename T>
  T* Find(const char* Name) { return FWindow->findChild<T*>(QString::fromLatin1(Name)); }
  // Runs the event loop until Done holds or the time runs out.
  static bool WaitUntil(const std::function<bool()>& Done, int Milliseconds = 30000);

  TTempDir Dir;
  std::unique_ptr<QSettings> Settings;
  TRecordedDialogs Dialogs;
  std::unique_ptr<ui::TDesktopCore> Core;

 private:
  QString FOldDir;
  std::unique_ptr<ui::TfrmOrvik> FWindow;
};

}  // namespace kestrine::test
