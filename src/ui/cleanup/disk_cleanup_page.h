#pragma once
// The Disk Cleanup page: drives, masks, a background search, its results, wipe and delete.

#include <QStringList>
#include <QWidget>

namespace kestrine::ui {

class TDesktopCore;
class TDialogs;

// What the page needs of the main window.
class TDiskCleanupHost {
 public:
  virtual ~TDiskCleanupHost() = default;
  virtual QString LookupText(const QString& Key) const = 0;
  virtual void SetToolbarEnabled(bool Enabled) = 0;
};

class TDiskCleanupPage final : public QWidget {
 public:
  TDiskCleanupPage(TDesktopCore& Core, TDialogs& Dialogs, TDiskCleanupHost& Host, QWidget* Parent = nullptr);
  ~TDiskCleanupPage() override;

  // FormCreate's part: the first step and its description shown.
  void ShowFirstSteps();
  // True while a search runs: Start is disabled.
  bool Searching() const;
  // The mask list rows, in order (SaveFileExtensions).
  QStringList Masks() const;
  void AppendMasks(const QStringList& Masks);
  // The drives step shown afresh (toolbar "Disk Cleanup").
  void tsDiskCleanupDrivesShow();

 private:
  TDesktopCore& FCore;
  TDialogs& FDialogs;
  TDiskCleanupHost& FHost;
  QStringList FMasks;
};

}  // namespace kestrine::ui
