#include "cli/scan_session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include "engine/volume/disk_object.h"

namespace kestrine::cli {
namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

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

namespace {

std::optional<char> AsLetter(const std::string& Source) {
  const bool letter = (Source.size() == 1 || (Source.size() == 2 && Source[1] == ':')) &&
                      std::isalpha(static_cast<unsigned char>(Source[0]));
  if (!letter) return std::nullopt;
  return static_cast<char>(std::tolower(static_cast<unsigned char>(Source[0])));
}

std::string Canonical(const std::string& Path) {
  std::error_code ec;
  const auto p = std::filesystem::weakly_canonical(Path, ec);
  return ec ? Path : p.string();
}

}  // namespace

TDiskObject* TScanSession::OpenSource(const std::string& Source, std::string& Error) {
  TDriveListing listing = ListLocalDrives();
  const auto letter = AsLetter(Source);
  bool listed = false;
  std::set<char> taken;
  for (const auto& d : listing.Drives) {
    taken.insert(d.Letter);
    listed |= letter ? d.Letter == *letter : Canonical(d.Source) == Canonical(Source);
  }
  if (!listed && !letter) {
    std::string why;
    if (!platform::TVolumeSource::Open(Source, &why)) {
      Error = Source + ": " + why;
      return nullptr;
    }
    char free = 'a';
    while (free <= 'z' && taken.count(free)) ++free;
    if (free > 'z') {
      Error = Source + ": no free drive letter left for it";
      return nullptr;
    }
    listing.Drives.push_back({free, Source, "", platform::TDriveType::Fixed});
  }
  FManagerScope = std::make_unique<TRecoveryManagerScope>(listing);
  FManager = &FManagerScope->Manager();
  FUpdating = std::make_unique<TUpdatingThread>(FViews->MainThread);
  FConnection = std::make_unique<TWorkflowConnection>(*FManager, *FUpdating);
  for (int i = 0; i < FManager->DiskList->DiskCount(); ++i) {
    TDiskObject* disk = FManager->DiskList->GetDisk(i);
    if (letter ? disk->Letter == *letter : Canonical(disk->SourcePath) == Canonical(Source)) return disk;
  }
  Error = Source + ": " + (letter ? "no such drive" : "not a drive that can be scanned");
  for (const auto& e : FManager->DiskList->Errors())
    if (e.find(Source) != std::string::npos) Error = e;
  return nullptr;
}

TDiskObject* TScanSession::OpenScannable(const std::string& Source) {
  std::string error;
  TDiskObject* disk = OpenSource(Source, error);
  if (!disk) {
    std::cerr << "kestrine-cli: " << error << "\n";
    return nullptr;
  }
  if (!disk->Scanner) {
    std::cerr << "kestrine-cli: " << Source << ": no FAT or NTFS file system to scan\n";
    return nullptr;
  }
  return disk;
}

bool TScanSession::Scan(TDiskObject* Disk, const TFilter& Filter) {
  if (!FManager || !Disk) return false;
  // The scan start of the recovery page: the views and the query are re-armed for this disk.
  FUpdating->SetTreeView(FViews.get());
  FUpdating->SetListView(FViews.get());
  FUpdating->SetDisk(Disk);
  TQueryObject& query = FUpdating->Query();
  query.Clear();
  query.ClearDisks();
  query.SetFilter(Filter);
  query.AddDisk(Disk);
  FUpdating->SetGauge(FViews.get());
  std::atomic<bool> finished{false};
  FUpdating->SetOnScanFinished([&finished] { finished = true; });

  gInterrupted = false;
  struct sigaction action {}, previous {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &previous);
  auto thread = FManager->StartScan(Disk);
  bool stopAsked = false;
  while (thread && !thread->Finished()) {
    if (gInterrupted && !stopAsked) {
      FManager->StopScan(Disk->Letter);
      stopAsked = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (thread) thread->WaitFor();
  ::sigaction(SIGINT, &previous, nullptr);
  FViews->EndProgress();
  FUpdating->SetOnScanFinished({});
  FUpdating->UpdateTree();
  return thread != nullptr;
}

bool TScanSession::Interrupted() const { return gInterrupted.load(); }

std::vector<PFileInfo> TScanSession::Files() {
  std::vector<PFileInfo> files;
  TQueryObject& query = FUpdating->Query();
  for (int i = 0; i < query.Count(); ++i)
    if (PFileInfo item = query.Items(i); item && !item->IsFolder) files.push_back(item);
  return files;
}

std::vector<PFileInfo> TScanSession::Folders() { return FViews->Folders(); }

std::string ItemPath(const TFileInfo& Item) {
  std::vector<const TFileInfo*> chain;
  for (const TFileInfo* f = &Item; f; f = f->Parent) {
    if (std::find(chain.begin(), chain.end(), f) != chain.end()) break;
    chain.push_back(f);
  }
  // The volume root is not part of a path; a folder of unknown place (an orphan) is.
  const TFileInfo* top = chain.back();
  if (chain.size() > 1 && top->Disk && top->Parent == nullptr && top->Name == RootFolderName(*top->Disk))
    chain.pop_back();
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += (path.empty() ? "" : "/") + (*it)->Name;
  return path;
}

PFileInfo FindItemByPath(const std::vector<PFileInfo>& Items, const std::string& Path) {
  for (PFileInfo item : Items)
    if (ItemPath(*item) == Path) return item;
  return nullptr;
}

}  // namespace kestrine::cli
