#include "cleanup/findfile/find_file.h"

#include <chrono>
#include <exception>
#include <stdexcept>

namespace kestrine {

struct TFindFile::TWalk {
  const TTargetFolder& Target;
  std::vector<TNameMask> Masks;
  TFileSystemId FileSystem = 0;
};

namespace {

// Raises the depth for one folder and lowers it again on every way out.
class TLevelScope {
 public:
  explicit TLevelScope(std::atomic<std::uint16_t>& Level) : FLevel(Level) { ++FLevel; }
  ~TLevelScope() { --FLevel; }
  TLevelScope(const TLevelScope&) = delete;
  TLevelScope& operator=(const TLevelScope&) = delete;

 private:
  std::atomic<std::uint16_t>& FLevel;
};

}  // namespace

TFindFile::TFindFile(TFindFileOwner* Owner) : FOwner(Owner) {}

TFindFile::~TFindFile() {
  FDestroying = true;
  FAborted = true;
  // A completion still queued at the owner must find nothing to finish.
  FAlive.reset();
  WaitForThread();
}

void TFindFile::StartSearch() {
  if (FBusy.exchange(true)) return;
  FAborted = false;
  try {
    FTargetSearch = std::make_unique<TTargetSearch>(Criteria, Drives);
    NotifySearchBegin();
    if (Threaded) {
      if (!FOwner) throw std::logic_error("a threaded search needs an owner to hand its completion to");
      FThreadDone = false;
      FThread = std::thread(&TFindFile::ThreadBody, this, std::weak_ptr<int>(FAlive));
      return;
    }
    RunSearch();
  } catch (...) {
    FinishSearch();
    throw;
  }
  FinishSearch();
}

void TFindFile::AbortSearch() {
  if (!FBusy || FAborted.exchange(true)) return;
  // A handler on the search thread holds the lock and may wait for this thread; keep serving it.
  FInAbort = true;
  while (!FLock.try_lock()) {
    if (!(FOwner && FOwner->ProcessOnePending())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::recursive_mutex> guard(FLock, std::adopt_lock);
  FInAbort = false;
  // From another thread the search may have finished meanwhile; then there is nothing to abort.
  if (FBusy) NotifySearchAbort();
}

void TFindFile::NotifySearchBegin() {
  if (OnSearchBegin && !FDestroying) OnSearchBegin(*this);
}

void TFindFile::NotifySearchFinish() {
  if (OnSearchFinish && !FDestroying) OnSearchFinish(*this);
}

void TFindFile::NotifySearchAbort() {
  if (OnSearchAbort && !FDestroying) OnSearchAbort(*this);
}

TFolderIgnore TFindFile::NotifyFolderChange(const std::string& Folder) {
  TFolderIgnore ignore = fiNone;
  if (FAborted || !OnFolderChange) return ignore;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  OnFolderChange(*this, Folder, ignore);
  return ignore;
}

void TFindFile::NotifyFileMatch(const std::string& Folder, const TSearchRec& FileInfo) {
  if (FAborted || !OnFileMatch) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  OnFileMatch(*this, Folder, FileInfo);
}

bool TFindFile::AcceptEntry(const std::string& Folder, const TSearchRec& FileInfo) {
  return !FAborted && FTargetSearch->Matches(Folder, FileInfo);
}

void TFindFile::RunSearch() {
  const TTargetFolderList& targets = FTargetSearch->TargetFolders;
  for (std::size_t i = 0; i < targets.Count() && !FAborted; ++i) {
    const TTargetFolder& target = targets.Folder(i);
    TWalk walk{target, {}, 0};
    // Masks are tried from the last to the first.
    for (auto mask = target.FileMasks.rbegin(); mask != target.FileMasks.rend(); ++mask) walk.Masks.emplace_back(*mask);
    FLevel = 0;
    SearchFolder(walk, target.Folder);
  }
}

void TFindFile::SearchFolder(TWalk& Walk, const std::string& Path) {
  if (FAborted) return;
  const TLevelScope level(FLevel);
  const TFolderIgnore ignore = NotifyFolderChange(Path);
  const TTargetFolder& target = Walk.Target;
  const bool files = (ignore == fiNone || ignore == fiJustSubfolders) && FLevel >= target.MinLevel;
  const bool subfolders = target.Subfolders && (ignore == fiNone || ignore == fiJustThis) &&
                          (target.MaxLevel == 0 || target.MaxLevel > FLevel);
  if (!files && !subfolders) return;

  const bool top = FLevel == 1;
  std::unique_ptr<TFolderReader> reader = TFolderReader::Open(Path, top);
  if (!reader) return;
  if (top) Walk.FileSystem = reader->FileSystem();
  // The folder was checked before it was entered; this catches one swapped in since.
  else if (reader->FileSystem() != Walk.FileSystem) return;

  // One listing serves every mask and the subfolders.
  const std::vector<TFolderEntry> entries = reader->ReadEntries();
  if (files) ReportMatches(Walk, Path, *reader, entries);
  if (!subfolders || FAborted) return;

  std::vector<std::string> below;
  for (const TFolderEntry& entry : entries)
    if (reader->IsSubfolderOn(entry, Walk.FileSystem)) below.push_back(Path + entry.Name + "/");
  reader.reset();
  for (const std::string& sub : below) {
    if (FAborted) break;
    SearchFolder(Walk, sub);
  }
}

void TFindFile::ReportMatches(TWalk& Walk, const std::string& Path, const TFolderReader& Reader,
                              const std::vector<TFolderEntry>& Entries) {
  TSearchRec rec;
  for (const TNameMask& mask : Walk.Masks) {
    if (FAborted) return;
    for (const TFolderEntry& entry : Entries) {
      if (FAborted) return;
      if (!mask.Matches(entry.Name) || !Reader.Describe(entry, rec)) continue;
      if (AcceptEntry(Path, rec)) NotifyFileMatch(Path, rec);
    }
  }
}

void TFindFile::ThreadBody(std::weak_ptr<int> Alive) {
  SetCurrentThreadPriority(ThreadPriority);
  try {
    RunSearch();
  } catch (const std::exception& e) {
    FOwner->ShowSearchError(e.what());
  } catch (...) {
    FOwner->ShowSearchError("unknown failure in the file search");
  }
  FThreadDone = true;
  FOwner->PostToOwnerThread([this, Alive] {
    if (Alive.lock()) CompletionReceived();
  });
}

void TFindFile::CompletionReceived() {
  // AbortSearch is waiting on this thread: let it raise its event before the finish.
  if (FInAbort) {
    FOwner->PostToOwnerThread([this, alive = std::weak_ptr<int>(FAlive)] {
      if (alive.lock()) CompletionReceived();
    });
    return;
  }
  WaitForThread();
  FinishSearch();
}

void TFindFile::FinishSearch() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  NotifySearchFinish();
  FTargetSearch.reset();
  FBusy = false;
}

void TFindFile::WaitForThread() {
  if (!FThread.joinable()) return;
  while (!FThreadDone) {
    if (!(FOwner && FOwner->ProcessOnePending())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // A completion run by the loop above may have joined the thread already.
  if (FThread.joinable()) FThread.join();
}

}  // namespace kestrine
