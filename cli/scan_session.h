#pragma once
// One scan of one source through the recovery manager and the workflow threads, for the commands
// that need found items (scan, cat, recover).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/volume/recovery_manager.h"
#include "filter/filter_record.h"
#include "workflow/item_selection.h"
#include "workflow/updating_thread.h"
#include "workflow/job_control.h"
#include "workflow/workflow.h"

namespace kestrine::cli {

class TCliViews;

// What every command that scans a source may ask of the scan.
struct TScanSourceOptions {
  bool Deep = false;  // also look for files whose records are gone
};
void AddScanSourceOptions(CLI::App& Command, TScanSourceOptions& Options);

class TScanSession {
 public:
  TScanSession();
  ~TScanSession();
  TScanSession(const TScanSession&) = delete;
  TScanSession& operator=(const TScanSession&) = delete;

  // SOURCE is a drive letter of the drive list ("d" or "d:") or an image or device path, which joins
  // the list under a free letter when it is not on it. Nil with Error set when neither works.
  TDiskObject* OpenSource(const std::string& Source, std::string& Error);
  // OpenSource for a volume that can be scanned as Options ask; nil after saying why on stderr.
  TDiskObject* OpenScannable(const std::string& Source, const TScanSourceOptions& Options = {});

  // Runs the scan to its end, or until Ctrl-C stops it; false when it could not start. WhileScanning,
  // when given, runs on this thread every few milliseconds meanwhile.
  bool Scan(TDiskObject* Disk, const TFilter& Filter, const std::function<void()>& WhileScanning = {});
  bool Interrupted() const;
  // True once the scan walks its volume: it can no longer fail.
  bool Walking() const;
  // True, after saying on stderr what could not be read, when the scan could not walk the volume.
  static bool Failed(const TDiskObject* Disk, const std::string& Source);

  // The files that passed the filter, in the order found.
  std::vector<PFileInfo> Files();
  // Those listed from place Next of the list on, also while the scan runs; Next moves past them.
  std::vector<PFileInfo> FilesFrom(int& Next);
  // The folders that lead to at least one passing file, parents before children.
  std::vector<PFileInfo> Folders();

  TRecoveryManager& Manager() { return *FManager; }
  // What the filter passes, for walks over the disk's folders.
  const TQueryObject& Query() const { return FUpdating->Query(); }

  // Leaves Session, and every item it found, to the end of the process, which lets go of their
  // memory at once: freeing half a million items one by one takes as long as writing a table of
  // them. They stay reachable, so a leak check does not count them. For a command's last step.
  static void KeepToTheEnd(std::unique_ptr<TScanSession> Session);

 private:
  std::unique_ptr<TRecoveryManagerScope> FManagerScope;
  TRecoveryManager* FManager = nullptr;
  std::unique_ptr<TCliViews> FViews;
  std::unique_ptr<TUpdatingThread> FUpdating;
  std::unique_ptr<TWorkflowConnection> FConnection;
  TStopRequest FInterrupt;  // raised by Ctrl-C during the scan
};

}  // namespace kestrine::cli
