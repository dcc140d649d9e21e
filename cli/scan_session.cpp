#include "cli/scan_session.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "cli/interrupt.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/source_drive.h"
#include "workflow/job_control.h"

namespace kestrine::cli {
namespace {

// The command line has no event loop: a main-thread step runs on the calling thread, one at a time.
class TCliMainThread final : public TMainThreadPort {
 public:
  void RunAndWait(const std::function<void()>& Step) override {
    std::lock_guard lock(FLock);
    Step();
  }

 private:
  std::recursive_mutex FLock;
};

struct TCliNode {
  PFileInfo Folder;
};

}  // namespace

// The views of a command-line scan: a tree that remembers its nodes, a list that only counts, and
// a gauge that draws on stderr when it is a terminal.
class TCliViews final : public TTreePort, public TListPort, public TGaugePort {
 public:
  TNode AddNode(TNode, const std::string&, PFileInfo Folder) override {
    FNodes.push_back(std::make_unique<TCliNode>(TCliNode{Folder}));
    return FNodes.back().get();
  }
  void SetNodeImage(TNode, int) override {}
  void Clear() override { FNodes.clear(); }
  void SetRowCount(int Count) override { FRows = Count; }
  void Redraw() override {}
  void SetRange(int, int) override {}
  void SetPosition(int Position) override {
    if (!FTerminal || Position == FShown) return;
    FShown = Position;
    std::fprintf(stderr, "\rscanning: %3d%%  %d found", Position, FRows.load());
    FDrawn = true;
  }
  void EndProgress() {
    if (FDrawn) std::fputs("\r\033[K", stderr);
    FDrawn = false;
  }
  std::vector<PFileInfo> Folders() const {
    std::vector<PFileInfo> out;
    for (const auto& n : FNodes) out.push_back(n->Folder);
    return out;
  }

  TCliMainThread MainThread;

 private:
  std::vector<std::unique_ptr<TCliNode>> FNodes;
  std::atomic<int> FRows{0};
  bool FTerminal = ::isatty(STDERR_FILENO) == 1;
  int FShown = -1;
  bool FDrawn = false;
};

TScanSession::TScanSession() : FViews(std::make_unique<TCliViews>()) {}

TScanSession::~TScanSession() = default;

void TScanSession::KeepToTheEnd(std::unique_ptr<TScanSession> Session) {
  static std::vector<TScanSession*>* const kept = new std::vector<TScanSession*>;
  kept->push_back(Session.release());
}

TDiskObject* TScanSession::OpenSource(const std::string& Source, std::string& Error) {
  TDriveListing listing = ListLocalDrives();
  if (!AddSourceDrive(listing, Source, Error)) return nullptr;
  FManagerScope = std::make_unique<TRecoveryManagerScope>(listing);
  FManager = &FManagerScope->Manager();
  FUpdating = std::make_unique<TUpdatingThread>(FViews->MainThread);
  FConnection = std::make_unique<TWorkflowConnection>(*FManager, *FUpdating);
  return FindSourceDisk(*FManager->DiskList, Source, Error);
}

TDiskObject* TScanSession::OpenScannable(const std::string& Source) {
  std::string error;
  TDiskObject* disk = OpenSource(Source, error);
  if (!disk) {
    std::cerr << "kestrine-cli: " << error << "\n";
    return nullptr;
  }
  if (!disk->Scanner) {
    std::cerr << "kestrine-cli: " << Source << ": no FAT, exFAT or NTFS file system to scan\n";
    return nullptr;
  }
  return disk;
}

bool TScanSession::Scan(TDiskObject* Disk, const TFilter& Filter, const std::function<void()>& WhileScanning) {
  if (!FManager || !Disk) return false;
  // The scan start of the recovery page.
  FUpdating->SetTreeView(FViews.get());
  FUpdating->SetListView(FViews.get());
  FUpdating->SetGauge(FViews.get());
  std::atomic<bool> finished{false};
  FUpdating->SetOnScanFinished([&finished] { finished = true; });

  TWorkerThread* thread = nullptr;
  {
    TInterruptScope interrupt(FInterrupt);
    thread = StartShownScan(*FManager, *FUpdating, Disk, Filter);
    if (thread) WaitForJob(*thread, &FViews->MainThread, &FInterrupt, WhileScanning, std::chrono::milliseconds(0));
  }
  FViews->EndProgress();
  FUpdating->SetOnScanFinished({});
  return thread != nullptr;
}

bool TScanSession::Interrupted() const { return FInterrupt.Requested(); }

bool TScanSession::Walking() const { return FUpdating && FUpdating->Walking(); }

bool TScanSession::Failed(const TDiskObject* Disk, const std::string& Source) {
  const std::optional<TReason> why = Disk && Disk->Scanner ? Disk->Scanner->ScanFailure() : std::nullopt;
  if (!why) return false;
  std::cerr << "kestrine-cli: " << Source << ": cannot scan: " << EnglishText(why) << "\n";
  return true;
}

std::vector<PFileInfo> TScanSession::Files() {
  int first = 0;
  return FilesFrom(first);
}

std::vector<PFileInfo> TScanSession::FilesFrom(int& Next) {
  std::vector<PFileInfo> files;
  const TQueryObject& query = FUpdating->Query();
  for (const int count = query.Count(); Next < count; ++Next)
    if (PFileInfo item = query.Items(Next); item && !item->IsFolder) files.push_back(item);
  return files;
}

std::vector<PFileInfo> TScanSession::Folders() {
  // Pruned to the folders that lead to passing files only when asked: a walk over every file.
  FUpdating->UpdateTree();
  return FViews->Folders();
}

}  // namespace kestrine::cli
