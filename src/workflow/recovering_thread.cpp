#include "workflow/recovering_thread.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/ntfs/efs_raw.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/recovery_manager.h"
#include "filter/query_object.h"
#include "support/debug_log.h"
#include "workflow/job_control.h"
#include "workflow/output_names.h"
#include "workflow/recovered_form.h"
#include "workflow/view_ports.h"

namespace kestrine {
namespace {

// Numbered names tried for one file before it is given up.
constexpr int kMaxNameAttempts = 100000;

std::string ErrorText(int Error) { return std::strerror(Error); }

void AddNote(TReasons& Notes, const std::optional<TReason>& Note) {
  if (Note) Notes.push_back(*Note);
}

TReason NamedStreamProblem(const std::string& Name, const std::optional<TReason>& Problem) {
  return {TReasonId::NamedStreamProblem, {Name}, Problem ? TReasons{*Problem} : TReasons{}};
}

}  // namespace

TRecoveringThread::TRecoveringThread(const TDiskItems& Items, TRecoveryManager& Manager, const TQueryObject* Query,
                                     TMainThreadPort* MainThread)
    : FItems(Items), FManager(Manager), FQuery(Query), FMainThread(MainThread) {}

TRecoveringThread::~TRecoveringThread() { WaitFor(); }

void TRecoveringThread::Start() {
  if (!FThread.joinable() && !FFinished) FThread = std::thread([this] { Execute(); });
}

void TRecoveringThread::WaitFor() {
  if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id()) return;
  AwaitEnd(FFinished, FMainThread);
  FThread.join();
}

std::vector<TRecoveryRecord> TRecoveringThread::Records() const {
  std::lock_guard lock(FRecordsLock);
  return FRecords;
}

void TRecoveringThread::Record(TRecoveryRecord Record) {
  if (!Record.Item || !Record.Item->IsFolder) ++FFilesDone;
  std::lock_guard lock(FRecordsLock);
  FRecords.push_back(std::move(Record));
}

void TRecoveringThread::Execute() {
  try {
    // Opened once: whatever happens to the path afterwards, everything goes into this folder.
    auto root = std::make_shared<TOutFolder>();
    root->Handle = platform::TFolderHandle::OpenNamed(FDestination);
    if (!root->Handle.IsOpen()) {
      const int error = errno;
      const TReason reason = error == ENOENT || error == ENOTDIR
                                 ? TReason{TReasonId::DestinationMissing}
                                 : TReason{TReasonId::DestinationUnopenable, {ErrorText(error)}};
      for (PFileInfo item : FItems.Snapshot())
        if (item) Record({item, {}, TRecoveryOutcome::Skipped, {reason}, 0, {}});
    } else {
      if (!FFacts) {
        const std::string name = platform::GetFileSystemName(root->Handle);
        FFacts = TDestinationFacts{name, platform::StoresNamedStreams(name)};
      }
      FBuffer.resize(kBlockSize);
      HoldRecords();
      for (PFileInfo item : FItems.Snapshot()) {
        if (Terminated()) break;
        // An item written already (inside a selected folder, or listed twice) is not written again.
        if (!item || FDone.count(item)) continue;
        if (item->IsFolder)
          SaveFolder(root, item);
        else
          SaveFile(*root, item);
      }
    }
  } catch (...) {
    KESTRINE_ASSERT(false, "recovery let a failure escape");
  }
  LetGoRecords();
  if (FOnFinished) {
    if (FMainThread)
      FMainThread->RunAndWait(FOnFinished);
    else
      FOnFinished();
  }
  FItems.Clear();
  FBuffer = {};
  FContents.Clear();
  FFinished = true;
}

// Before anything is written: a recovery forced onto its own source volume would otherwise take the
// records of the very files it is about to read.
void TRecoveringThread::HoldRecords() {
  std::unordered_map<TDiskObject*, std::vector<PFileInfo>> files;
  std::unordered_set<const TFileInfo*> seen;
  std::vector<PFileInfo> stack;
  for (PFileInfo item : FItems.Snapshot())
    if (item) stack.push_back(item);
  while (!stack.empty() && !Terminated()) {
    PFileInfo item = stack.back();
    stack.pop_back();
    if (!seen.insert(item).second) continue;
    if (!item->IsFolder) {
      files[item->Disk].push_back(item);
      continue;
    }
    const TFolderContent& content = FContents.Of(item);
    stack.insert(stack.end(), content.Files.begin(), content.Files.end());
    stack.insert(stack.end(), content.Folders.begin(), content.Folders.end());
  }
  for (auto& [disk, items] : files) {
    std::unique_ptr<TDiskScaner> scanner = disk ? CreateDiskScaner(disk) : nullptr;
    if (!scanner || !scanner->Init()) continue;
    std::vector<PFileInfo> held = scanner->HoldRecords(items);
    if (!held.empty()) FHeld.emplace_back(std::move(scanner), std::move(held));
  }
}

void TRecoveringThread::LetGoRecords() {
  for (auto& [scanner, items] : FHeld) scanner->LetGoRecords(items);
  FHeld.clear();
}

void TRecoveringThread::SaveFolder(const std::shared_ptr<TOutFolder>& Parent, PFileInfo Folder) {
  // Depth first with a stack of its own: a deep tree must not exhaust the thread's stack. A folder is
  // let go (and its descriptor closed) once nothing left on the stack lies below it.
  const auto newOut = [](const std::shared_ptr<TOutFolder>& P, const std::string& Name) {
    auto out = std::make_shared<TOutFolder>();
    out->Parent = P;
    out->Name = SafeOutputName(Name);
    return out;
  };
  std::vector<std::pair<PFileInfo, std::shared_ptr<TOutFolder>>> stack;
  stack.emplace_back(Folder, newOut(Parent, Folder->Name));
  while (!stack.empty() && !Terminated()) {
    const auto [folder, out] = std::move(stack.back());
    stack.pop_back();
    if (!FDone.insert(folder).second) continue;  // also ends a cycle of parents
    const TFolderContent& content = FContents.Of(folder);
    if (!content.Files.empty()) {
      TReason error;
      if (!MakeFolder(*out, error)) {
        // Its files and its subfolders are left out with it.
        Record({folder, out->Handle.Path(), TRecoveryOutcome::Skipped, {error}, 0, {}});
        continue;
      }
      for (PFileInfo file : content.Files) {
        if (Terminated()) break;
        if (!FDone.count(file)) SaveFile(*out, file);
      }
    }
    // Subfolders are walked whether or not they pass the filter; it applies to files only.
    for (auto it = content.Folders.rbegin(); it != content.Folders.rend(); ++it)
      stack.emplace_back(*it, newOut(out, (*it)->Name));
  }
}

bool TRecoveringThread::MakeFolder(TOutFolder& Folder, TReason& Error) {
  std::vector<TOutFolder*> chain;
  TOutFolder* made = &Folder;
  for (; made && !made->IsMade(); made = made->Parent.get()) chain.push_back(made);
  if (made && !Reopen(*made, Error)) return false;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (!MakeOneFolder(**it, Error)) return false;
  LimitOpenFolders(Folder);
  return true;
}

bool TRecoveringThread::Reopen(TOutFolder& Folder, TReason& Error) {
  // The closed ones up to the nearest open folder, opened again from the top down.
  std::vector<TOutFolder*> closed;
  TOutFolder* f = &Folder;
  for (; f && !f->Handle.IsOpen(); f = f->Parent.get()) closed.push_back(f);
  if (!f) {
    Error = {TReasonId::FolderNotReopened};
    return false;
  }
  for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
    TOutFolder& out = **it;
    platform::TFolderHandle again = out.Failed ? platform::TFolderHandle() : out.Parent->Handle.OpenSub(out.MadeName);
    if (!again.IsOpen() || again.Identity() != out.Made) {
      out.Failed = true;
      Error = {TReasonId::FolderReplaced, {out.Parent->Handle.PathOf(out.MadeName)}};
      return false;
    }
    out.Handle = std::move(again);
  }
  return true;
}

void TRecoveringThread::LimitOpenFolders(TOutFolder& Deepest) {
  // Open folders lie on the chain above the one being written; the shallowest half is let go, so a
  // deep tree costs a bounded number of descriptors. The destination itself stays open.
  std::vector<TOutFolder*> open;
  for (TOutFolder* f = &Deepest; f && f->Parent; f = f->Parent.get())
    if (f->Handle.IsOpen()) open.push_back(f);
  if (open.size() <= kMaxOpenFolders) return;
  for (std::size_t i = kMaxOpenFolders / 2; i < open.size(); ++i) open[i]->Handle = {};
}

bool TRecoveringThread::MakeOneFolder(TOutFolder& Folder, TReason& Error) {
  if (Folder.Failed || !Folder.Parent || !Folder.Parent->Handle.IsOpen()) {
    Folder.Failed = true;
    Error = {TReasonId::FolderNotMade};
    return false;
  }
  const platform::TFolderHandle& parent = Folder.Parent->Handle;
  // A folder of that name is used as it is; a file or a link of that name makes it take a numbered
  // name. What is used is what opened as a folder without following a link, whatever the name
  // holds later.
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string name = NumberedOutputName(Folder.Name, attempt);
    if (!parent.MakeSub(name) && errno != EEXIST) {
      const int error = errno;
      Folder.Failed = true;
      Error = {TReasonId::FolderCannotBeCreated, {parent.PathOf(name), ErrorText(error)}};
      return false;
    }
    platform::TFolderHandle made = parent.OpenSub(name);
    if (made.IsOpen()) {
      Folder.Made = made.Identity();
      Folder.MadeName = name;
      Folder.Handle = std::move(made);
      return true;
    }
    // Gone again, or not a folder: the next name.
    if (const int error = errno; error != ENOENT && error != ENOTDIR && error != ELOOP) {
      Folder.Failed = true;
      Error = {TReasonId::FolderCannotBeOpened, {parent.PathOf(name), ErrorText(error)}};
      return false;
    }
  }
  Folder.Failed = true;
  Error = {TReasonId::NoFreeFolderName, {Folder.Name}};
  return false;
}

std::unique_ptr<platform::TOutputFile> TRecoveringThread::CallCreateFile(const platform::TFolderHandle& Folder,
                                                                       const std::string& Name, int& Error) {
  std::unique_ptr<platform::TOutputFile> file;
  // Stays so when a closed main-thread port drops the step.
  Error = ECANCELED;
  const TNewFilePlace place{Folder, Name, Folder.PathOf(Name)};
  const auto create = [&] {
    file = FOnCreateFile ? FOnCreateFile(place) : place.CreateNew();
    Error = errno;
  };
  if (FMainThread)
    FMainThread->RunAndWait(create);
  else
    create();
  return file;
}

std::unique_ptr<platform::TOutputFile> TRecoveringThread::CreateUniqueFile(const platform::TFolderHandle& Folder,
                                                                         const std::string& Name, std::string& Chosen,
                                                                         TReason& Error) {
  // Numbers already used in this run are not tried again, so many files of one name cost no more each.
  int& next = FNextAttempt[Folder.PathOf(Name)];
  for (next = std::max(next, 1); next <= kMaxNameAttempts; ++next) {
    const std::string name = NumberedOutputName(Name, next);
    int error = 0;
    if (auto file = CallCreateFile(Folder, name, error)) {
      ++next;
      Chosen = name;
      return file;
    }
    platform::TEntryFacts facts;
    if (!Folder.Look(name, facts) && errno == ENOENT) {
      Error = {TReasonId::FileCannotBeCreated, {Folder.PathOf(name), ErrorText(error)}};
      return nullptr;
    }
  }
  Error = {TReasonId::NoFreeName, {Name}};
  return nullptr;
}

void TRecoveringThread::SaveFile(TOutFolder& Folder, PFileInfo Item) {
  if (Terminated() || !FDone.insert(Item).second) return;
  TRecoveryRecord record{Item, {}, TRecoveryOutcome::Skipped, {}, 0, {}};
  // The stream comes first: without one nothing is created, rather than an empty file.
  std::unique_ptr<TRecoveryStream> stream = FManager.CreateStream(Item, {});
  const std::optional<TReason> failure = stream ? stream->Failure() : TReason{TReasonId::DataUnreadable};
  if (failure) {
    record.Reasons = {*failure};
    Record(std::move(record));
    return;
  }
  // The raw import of encrypted files does not exist here: they always take the raw ".efs" form.
  static_assert(!EfsRawApiAvailable, "an encrypted file could be imported: build that path");
  const bool encrypted = IsStoredEncrypted(*Item);
  const std::string name = RecoveredFileName(*Item);
  TReason error;
  if (Terminated()) return;
  if (!MakeFolder(Folder, error)) {
    record.Reasons = {error};
    Record(std::move(record));
    return;
  }
  std::string chosen;
  std::unique_ptr<platform::TOutputFile> file = CreateUniqueFile(Folder.Handle, name, chosen, error);
  if (!file) {
    record.Reasons = {error};
    Record(std::move(record));
    return;
  }
  record.Destination = file->Path();
  record.Identity = file->Identity();

  TReasons notes;
  if (encrypted) AddNote(notes, TReason{TReasonId::StoredEncrypted});
  const std::int64_t wanted = RecoveredLength(*Item, *stream);
  const std::optional<TReason> cut = stream->SizeCut();
  AddNote(notes, cut);
  std::optional<TReason> problem;
  bool writeFailed = false;
  stream->SetPosition(0);
  const std::int64_t copied = CopyStream(*stream, *file, wanted, true, problem, writeFailed);
  stream.reset();
  const bool complete = copied == wanted && !cut;
  if (!complete) AddNote(notes, problem);
  AddNote(notes, CopyNamedStreams(Item, Folder.Handle, chosen));
  // Bytes that could not be read are filled with zeros up to the size; a file the destination took
  // no more of stays as far as it was written, so no hole poses as data.
  const std::int64_t size = writeFailed ? file->Length() : wanted;
  Finish(*file, *Item, size);
  record.Outcome = complete ? TRecoveryOutcome::Written : TRecoveryOutcome::Partial;
  record.Reasons = std::move(notes);
  record.Size = size;
  Record(std::move(record));
}

std::int64_t TRecoveringThread::CopyVolumeRange(TRecoveryStream& Stream, platform::TOutputFile& File,
                                                std::int64_t Limit, bool& Usable) {
  const TVolumeRange range = Stream.NextVolumeRange(std::min(kVolumeCopyChunk, Limit));
  if (range.Length <= 0) return 0;
  const std::int64_t got = FVolumeCopy(File, *Stream.VolumeSource(), range.Offset, range.Length);
  if (got < range.Length) Usable = false;
  if (got <= 0) return 0;
  const std::int64_t taken = Stream.TakeVolumeBytes(got);
  // Bytes that Read would not have delivered (part of a cluster) are taken back off the file.
  if (taken < got) File.SetSize(File.Length() - (got - taken));
  return taken;
}

std::int64_t TRecoveringThread::CopyStream(TRecoveryStream& Stream, platform::TOutputFile& File, std::int64_t Limit,
                                           bool CountProgress, std::optional<TReason>& Problem, bool& WriteFailed) {
  std::int64_t copied = 0;
  // Bytes that lie on the volume as they are copied in the kernel, in large pieces; the rest is read.
  bool ranges = FVolumeCopy && Stream.VolumeSource();
  while (copied < Limit) {
    if (Terminated()) {
      Problem = TReason{TReasonId::Stopped, {std::to_string(copied), std::to_string(Limit)}};
      break;
    }
    if (ranges) {
      if (const std::int64_t n = CopyVolumeRange(Stream, File, Limit - copied, ranges); n > 0) {
        copied += n;
        if (CountProgress) FBytesDone += n;
        continue;
      }
    }
    const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kBlockSize, Limit - copied));
    const std::uint32_t got = Stream.Read(FBuffer.data(), want);
    if (got == 0) {
      Problem = TReason{TReasonId::ReadShort, {std::to_string(copied), std::to_string(Limit)}};
      break;
    }
    if (!File.Write(FBuffer.data(), got)) {
      Problem = TReason{TReasonId::WriteFailed, {std::to_string(copied), ErrorText(errno)}};
      WriteFailed = true;
      break;
    }
    copied += got;
    if (CountProgress) FBytesDone += got;
  }
  return copied;
}

std::optional<TReason> TRecoveringThread::CopyNamedStreams(PFileInfo Item, const platform::TFolderHandle& Folder,
                                                           const std::string& Name) {
  if (!Item->FsInfo) return {};
  const std::vector<TNamedStreamInfo> streams = Item->FsInfo->NamedStreams();
  if (streams.empty()) return {};
  std::string names;
  for (const auto& s : streams) names += (names.empty() ? "" : ", ") + s.Name;
  if (!FFacts->StoresNamedStreams)
    return TReason{TReasonId::NamedStreamsNotStored, {FFacts->FileSystemName, names}};
  for (const auto& s : streams) {
    int error = 0;
    // Beside the file, in the same folder.
    auto file = CallCreateFile(Folder, Name + ":" + SafeOutputName(s.Name), error);
    auto stream = file ? FManager.CreateStream(Item, s.Name) : nullptr;
    if (!stream) return TReason{TReasonId::NamedStreamsNotWritten, {s.Name}};
    std::optional<TReason> problem;
    bool writeFailed = false;
    if (CopyStream(*stream, *file, stream->GetSize(), false, problem, writeFailed) != stream->GetSize())
      return NamedStreamProblem(s.Name, problem);
    if (const std::optional<TReason> cut = stream->SizeCut()) return NamedStreamProblem(s.Name, cut);
  }
  return {};
}

void TRecoveringThread::Finish(platform::TOutputFile& File, const TFileInfo& Item, std::int64_t Size) {
  // Each step that fails is left out; the file stays as far as it got.
  File.SetSize(Size);
  if (Item.LastWriteTime != 0) {
    const TUnixTime t = FileTimeToUnix(Item.LastWriteTime);
    File.SetModificationTime(t.Seconds, t.Nanoseconds);
  }
  if (Item.Attributes & FileAttr::ReadOnly) File.SetReadOnly();
}

std::unique_ptr<TRecoveringThread> CreateRecoveringThread(const TDiskItems& Items, TRecoveryManager& Manager,
                                                          const TQueryObject* Query, TMainThreadPort* MainThread) {
  return std::make_unique<TRecoveringThread>(Items, Manager, Query, MainThread);
}

}  // namespace kestrine
