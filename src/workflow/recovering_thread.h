#pragma once
// The thread that writes the selected found items into a destination folder.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/volume/workflow_ports.h"
#include "platform/output_files.h"
#include "workflow/folder_contents.h"

namespace kestrine {

class TMainThreadPort;
class TQueryObject;
class TRecoveryManager;
class TRecoveryStream;
class TDiskScaner;

// Destroying it waits for the end without stopping it (closing waits for a running recovery),
// running MainThread's queued steps meanwhile.
class TRecoveringThread final : public TRecoveryJob {
 public:
  // Query gives the files of folders (nil: folders hold none); the handlers run through MainThread
  // (nil: on this thread). Items are copied; they must stay valid until the thread has finished.
  TRecoveringThread(const TDiskItems& Items, TRecoveryManager& Manager, const TQueryObject* Query,
                    TMainThreadPort* MainThread);
  ~TRecoveringThread() override;

  void Start() override;
  void WaitFor() override;
  bool Finished() const override { return FFinished.load(); }
  void Terminate() override { FTerminated = true; }

  void SetDestination(const std::string& Folder) override { FDestination = Folder; }
  // Without a handler, files are created with TOutputFile::CreateNewIn.
  void SetOnCreateFile(TCreateFileHandler Handler) override { FOnCreateFile = std::move(Handler); }
  void SetOnFinished(std::function<void()> Handler) override { FOnFinished = std::move(Handler); }
  std::vector<TRecoveryRecord> Records() const override;
  std::int64_t FilesDone() const override { return FFilesDone.load(); }
  std::int64_t BytesDone() const override { return FBytesDone.load(); }

  // What the destination's file system is called and whether it keeps named streams; asked of the
  // platform when the thread starts unless set here.
  struct TDestinationFacts {
    std::string FileSystemName;
    bool StoresNamedStreams = false;
  };
  void SetDestinationFacts(TDestinationFacts Facts) { FFacts = std::move(Facts); }

  // Appends Count bytes of Source from Offset to File: bytes appended, -1 when none could be (errno
  // says why). The kernel's copy by default; without one every byte goes through the stream's Read.
  using TVolumeCopy = std::function<std::int64_t(platform::TOutputFile& File, const platform::TVolumeSource& Source,
                                                 std::int64_t Offset, std::int64_t Count)>;
  void SetVolumeCopy(TVolumeCopy Copy) { FVolumeCopy = std::move(Copy); }

  // Bytes copied per read and write.
  static constexpr std::uint32_t kBlockSize = 64 * 1024;
  // Most bytes copied straight from the volume between two looks at the stop request.
  static constexpr std::int64_t kVolumeCopyChunk = 8 * 1024 * 1024;
  // Most folder descriptors held along the folder being written.
  static constexpr std::size_t kMaxOpenFolders = 64;

 private:
  // A destination folder; made when the first file that goes into it needs it.
  // Everything inside it is made through its descriptor. Along a deep walk the shallowest
  // descriptors are closed; such a folder is opened again from its parent, and used only while it is
  // still the folder that was made.
  struct TOutFolder {
    std::shared_ptr<TOutFolder> Parent;
    std::string Name;                // safe name wanted in the parent
    platform::TFolderHandle Handle;  // open once made, unless closed since
    std::string MadeName;            // the name it was made under
    platform::TFileIdentity Made;    // which folder was made; unknown until then
    bool Failed = false;
    bool IsMade() const { return Handle.IsOpen() || Made.Known(); }
  };

  void Execute();
  void HoldRecords();
  void LetGoRecords();
  void SaveFolder(const std::shared_ptr<TOutFolder>& Parent, PFileInfo Folder);
  void SaveFile(TOutFolder& Folder, PFileInfo Item);
  // Copies up to Limit bytes of Stream into File; bytes copied. WriteFailed tells a copy that ended
  // because File took no more from one that ran out of bytes to read.
  std::int64_t CopyStream(TRecoveryStream& Stream, platform::TOutputFile& File, std::int64_t Limit,
                          bool CountProgress, std::optional<TReason>& Problem, bool& WriteFailed);
  // Copies the stream's next volume range, at most Limit bytes, straight into File; bytes delivered.
  // Usable turns false when the copy is refused or comes back short: Read goes on from there.
  std::int64_t CopyVolumeRange(TRecoveryStream& Stream, platform::TOutputFile& File, std::int64_t Limit,
                               bool& Usable);
  // Why the named streams are not all written whole; none when they are.
  std::optional<TReason> CopyNamedStreams(PFileInfo Item, const platform::TFolderHandle& Folder,
                                          const std::string& Name);
  void Finish(platform::TOutputFile& File, const TFileInfo& Item, std::int64_t Size);

  bool MakeFolder(TOutFolder& Folder, TReason& Error);
  bool MakeOneFolder(TOutFolder& Folder, TReason& Error);
  bool Reopen(TOutFolder& Folder, TReason& Error);
  void LimitOpenFolders(TOutFolder& Deepest);
  // Name, or the first numbered form of it that is free, inside Folder; Chosen tells which.
  std::unique_ptr<platform::TOutputFile> CreateUniqueFile(const platform::TFolderHandle& Folder,
                                                          const std::string& Name, std::string& Chosen,
                                                          TReason& Error);
  std::unique_ptr<platform::TOutputFile> CallCreateFile(const platform::TFolderHandle& Folder,
                                                        const std::string& Name, int& Error);
  void Record(TRecoveryRecord Record);
  bool Terminated() const { return FTerminated.load(); }

  TDiskItems FItems;
  TRecoveryManager& FManager;
  const TQueryObject* FQuery;
  TMainThreadPort* FMainThread;
  std::string FDestination;
  TCreateFileHandler FOnCreateFile;
  std::function<void()> FOnFinished;
  std::optional<TDestinationFacts> FFacts;
  TVolumeCopy FVolumeCopy = [](platform::TOutputFile& File, const platform::TVolumeSource& Source,
                               std::int64_t Offset, std::int64_t Count) {
    return File.AppendFromVolume(Source, Offset, Count);
  };

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<std::int64_t> FFilesDone{0};
  std::atomic<std::int64_t> FBytesDone{0};
  mutable std::mutex FRecordsLock;
  std::vector<TRecoveryRecord> FRecords;

  // Work state of the running thread.
  std::vector<std::uint8_t> FBuffer;
  std::unordered_set<const TFileInfo*> FDone;
  TFolderContents FContents{FQuery};
  std::unordered_map<std::string, int> FNextAttempt;
  // Per disk: the scanner that holds records of this job's files, and the files whose records it holds.
  std::vector<std::pair<std::unique_ptr<TDiskScaner>, std::vector<PFileInfo>>> FHeld;
};

// Created suspended; the caller sets the destination and the handlers, then starts it.
std::unique_ptr<TRecoveringThread> CreateRecoveringThread(const TDiskItems& Items, TRecoveryManager& Manager,
                                                          const TQueryObject* Query, TMainThreadPort* MainThread);

}  // namespace kestrine
