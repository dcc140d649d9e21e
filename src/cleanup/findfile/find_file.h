#pragma once
// The file finder: walks target folders for entries that satisfy its criteria, in the
// caller's thread or on a search thread of its own, and reports folders and matches as events.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cleanup/findfile/folder_reader.h"
#include "cleanup/findfile/name_masks.h"
#include "cleanup/findfile/search_criteria.h"
#include "cleanup/findfile/target_search.h"
#include "cleanup/findfile/thread_priority.h"

namespace kestrine {

class TFindFile;

enum TFolderIgnore { fiNone, fiJustThis, fiJustSubfolders, fiThisAndSubfolders };

using TFileMatchEvent = std::function<void(TFindFile& Sender, const std::string& Folder, const TSearchRec& FileInfo)>;
using TFolderChangeEvent = std::function<void(TFindFile& Sender, const std::string& Folder, TFolderIgnore& IgnoreFolder)>;
using TNotifyEvent = std::function<void(TFindFile& Sender)>;

// The finder's owner, on the thread the finder lives on (normally the window thread). A
// threaded search hands its completion to it; the owner runs it later on that thread.
class TFindFileOwner {
 public:
  virtual ~TFindFileOwner() = default;
  // Queues Step to run on the owner's thread; never runs it before returning.
  virtual void PostToOwnerThread(std::function<void()> Step) = 0;
  // Runs one queued step of the calling thread, if it has one; AbortSearch calls this while it waits
  // for a handler that may itself wait for the owner's thread.
  virtual bool ProcessOnePending() { return false; }
  // A failure ended the walk on the search thread.
  virtual void ShowSearchError(const std::string& Message) { (void)Message; }
};

class TFindFile {
 public:
  // Owner may be nil for searches in the caller's thread only.
  explicit TFindFile(TFindFileOwner* Owner = nullptr);
  // Aborts a running search and waits for its thread; raises no begin, finish or abort event.
  virtual ~TFindFile();
  TFindFile(const TFindFile&) = delete;
  TFindFile& operator=(const TFindFile&) = delete;

  TSearchCriteria Criteria;
  // Which drive each mount point is, for exclusion entries that name a drive letter.
  TDriveRoots Drives;
  bool Threaded = false;
  TThreadPriority ThreadPriority = tpNormal;

  TFileMatchEvent OnFileMatch;
  TFolderChangeEvent OnFolderChange;
  TNotifyEvent OnSearchBegin;
  TNotifyEvent OnSearchFinish;
  TNotifyEvent OnSearchAbort;

  // Ignored while a search runs. A threaded search needs an owner; without one, or when its thread
  // cannot be made, the search finishes at once and the failure is raised. In the caller's thread,
  // a handler's failure is raised after the search has finished.
  void StartSearch();
  // Does nothing when no search runs or an abort was already requested.
  void AbortSearch();
  bool IsBusy() const { return FBusy; }
  bool IsAborted() const { return FAborted; }
  // Depth of the folder being searched: 1 for a target folder itself.
  std::uint16_t Level() const { return FLevel; }

 protected:
  virtual void NotifySearchBegin();
  virtual void NotifySearchFinish();
  virtual void NotifySearchAbort();
  virtual TFolderIgnore NotifyFolderChange(const std::string& Folder);
  virtual void NotifyFileMatch(const std::string& Folder, const TSearchRec& FileInfo);
  virtual bool AcceptEntry(const std::string& Folder, const TSearchRec& FileInfo);

 private:
  struct TWalk;
  void RunSearch();
  void SearchFolder(TWalk& Walk, const std::string& Path);
  void ReportMatches(TWalk& Walk, const std::string& Path, const TFolderReader& Reader,
                     const std::vector<TFolderEntry>& Entries);
  // Alive is taken on the owner's thread: only that thread touches FAlive.
  void ThreadBody(std::weak_ptr<int> Alive);
  void CompletionReceived();
  void FinishSearch();
  void WaitForThread();

  TFindFileOwner* FOwner;
  std::atomic<bool> FAborted{false};
  std::atomic<bool> FBusy{false};
  std::atomic<std::uint16_t> FLevel{0};
  std::unique_ptr<TTargetSearch> FTargetSearch;
  std::thread FThread;
  std::atomic<bool> FThreadDone{false};
  std::recursive_mutex FLock;
  bool FDestroying = false;
  std::atomic<bool> FInAbort{false};
  // Completion steps still queued at the owner check this before touching the finder.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

}  // namespace kestrine
