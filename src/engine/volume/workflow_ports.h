#pragma once
// What the volume layer needs from the workflow above it; the workflow plugs in at start-up.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/volume/file_info.h"
#include "engine/volume/recovery_reason.h"
#include "platform/folder_handle.h"
#include "platform/output_files.h"

namespace kestrine {

class TDiskObject;

// The four reports every scanner makes while it scans (received by the updating thread).
class TScanReports {
 public:
  virtual ~TScanReports() = default;
  virtual void FolderAdded(TDiskObject* Disk, PFileInfo Info) = 0;
  virtual void FileAdded(TDiskObject* Disk, PFileInfo Info) = 0;
  virtual void ScanProgress(TDiskObject* Disk, std::int64_t Done, std::int64_t Total) = 0;
  virtual void ScanFinished(TDiskObject* Disk) = 0;
};

// Reports that go nowhere, for disks nobody shows.
TScanReports& NullScanReports();

// A background job: created suspended, started once.
//
// Its end is reported through its finished handler, which runs on the main thread (through the
// workflow's main-thread port; not at all once that port is closed) before Finished turns true.
// The owner destroys the job only after that report, and never from inside the handler: the job
// still waits for the handler to return. WaitFor, and destruction, may come earlier: on the main
// thread they keep running the port's queued steps while they wait, so the job never waits on a
// thread that waits on it.
class TWorkerThread {
 public:
  // Waits for the end (a scan is told to stop first; a recovery is waited for).
  virtual ~TWorkerThread() = default;
  virtual void Start() = 0;
  virtual void WaitFor() = 0;
  virtual bool Finished() const = 0;
  // Asks the job to stop at its next look; it still ends the way it always ends.
  virtual void Terminate() = 0;
  // Set before Start.
  virtual void SetOnFinished(std::function<void()> Handler) = 0;
};

// How one item of a recovery ended.
enum class TRecoveryOutcome { Written, Partial, Skipped };

struct TRecoveryRecord {
  PFileInfo Item = nullptr;
  std::string Destination;  // the file written; empty when none was
  TRecoveryOutcome Outcome = TRecoveryOutcome::Skipped;
  TReasons Reasons;         // why it was skipped, or what the written file lacks
  std::int64_t Size = 0;    // bytes the written file holds
  platform::TFileIdentity Identity;  // of the written file, to read it back as that very file
  std::string Reason() const { return EnglishText(Reasons); }
};

// Where a recovered file is to be made: Name inside the open Folder, shown to the user as Path. It is
// made through the folder, never through Path, so a folder swapped for a link meanwhile leads nowhere.
struct TNewFilePlace {
  const platform::TFolderHandle& Folder;
  std::string Name;
  std::string Path;
  std::unique_ptr<platform::TOutputFile> CreateNew() const { return platform::TOutputFile::CreateNewIn(Folder, Name); }
};

// Creates the file for writing, never replacing one; nil when it cannot.
using TCreateFileHandler = std::function<std::unique_ptr<platform::TOutputFile>(const TNewFilePlace& Place)>;

// A recovery: created suspended; the front end gives it the destination and its handlers, then
// starts it.
class TRecoveryJob : public TWorkerThread {
 public:
  virtual void SetDestination(const std::string& Folder) = 0;
  virtual void SetOnCreateFile(TCreateFileHandler Handler) = 0;
  // One record per file handled (and per folder that could not be made), in the order handled.
  virtual std::vector<TRecoveryRecord> Records() const = 0;
  // Progress so far.
  virtual std::int64_t FilesDone() const = 0;
  virtual std::int64_t BytesDone() const = 0;
};

// Creates the scanning and recovering threads of the workflow.
class TThreadFactory {
 public:
  virtual ~TThreadFactory() = default;
  virtual std::unique_ptr<TWorkerThread> CreateScanningThread(TDiskObject* Disk) = 0;
  virtual std::unique_ptr<TRecoveryJob> CreateRecoveringThread(const TDiskItems& Items) = 0;
};

}  // namespace kestrine
