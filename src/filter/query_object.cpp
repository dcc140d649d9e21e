#include "filter/query_object.h"

#include <algorithm>

#include "engine/volume/disk_object.h"
#include "support/ansi_chars.h"

namespace kestrine {
namespace {

bool MatchesSize(std::int64_t Size, const TFilter& Filter) {
  if (Filter.Flags & qfSizeEqual) return Size / 1024 == Filter.Size / 1024;
  if (Filter.Flags & qfSizeGreater) return Size > Filter.Size;
  if (Filter.Flags & qfSizeSmaller) return Size < Filter.Size;
  return true;
}

// Filters that differ in their folder restriction alone pass the same files in every folder.
bool SameInEveryFolder(TFilter A, TFilter B) {
  A.Folder = B.Folder = nullptr;
  A.Flags &= ~qfFolder;
  B.Flags &= ~qfFolder;
  return A == B;
}

}  // namespace

std::vector<std::string> SplitNameMask(std::string_view Mask) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= Mask.size()) {
    const std::size_t end = std::min(Mask.find(';', start), Mask.size());
    const std::string_view piece = Mask.substr(start, end - start);
    if (!piece.empty()) pieces.emplace_back(TrimControls(piece));
    start = end + 1;
  }
  return pieces;
}

void TQueryObject::Clear() {
  std::lock_guard lock(FLock);
  FResults.Clear();
  ++FVersion;
  FFilter.Flags = 0;
  FPassing = 0;
  for (TListedDisk& listed : FDisks) listed.LastFile = nullptr;
}

void TQueryObject::SetFilter(const TFilter& Filter) {
  std::lock_guard lock(FLock);
  if (Filter == FFilter) return;
  const bool recount = !SameInEveryFolder(Filter, FFilter);
  FResults.Clear();
  ++FVersion;
  FFilter = Filter;
  FRegEx.SetPatterns(SplitNameMask(Filter.NameMask), true);
  if (recount) FPassing = 0;
  for (TListedDisk& listed : FDisks) AddDiskItems(listed, recount);
  ApplyOrder();
}

void TQueryObject::SetOrder(const TResultOrder& Order) {
  std::lock_guard lock(FLock);
  if (Order == FOrder) return;
  FOrder = Order;
  if (FOrder.Column >= 0) {
    ApplyOrder();
    return;
  }
  // The order found is the disks' own: the list is rebuilt from them.
  FResults.Clear();
  ++FVersion;
  for (TListedDisk& listed : FDisks) AddDiskItems(listed, false);
}

std::vector<PFileInfo> TQueryObject::Results(std::uint64_t& Version) const {
  std::lock_guard lock(FLock);
  Version = FVersion;
  return FResults.Snapshot();
}

bool TQueryObject::PutOrdered(const TResultOrder& Order, const std::vector<PFileInfo>& Sorted, std::uint64_t Version) {
  std::lock_guard lock(FLock);
  if (Version != FVersion) return false;
  FOrder = Order;
  FResults.Clear();
  ++FVersion;
  for (PFileInfo item : Sorted) FResults.Add(item);
  return true;
}

TResultOrder TQueryObject::Order() const {
  std::lock_guard lock(FLock);
  return FOrder;
}

void TQueryObject::ApplyOrder() {
  if (FOrder.Column < 0) return;
  std::vector<PFileInfo> items = FResults.Snapshot();
  SortResults(items, FOrder);
  FResults.Clear();
  ++FVersion;
  for (PFileInfo item : items) FResults.Add(item);
}

TFilter TQueryObject::Filter() const {
  std::lock_guard lock(FLock);
  return FFilter;
}

void TQueryObject::AddDisk(TDiskObject* Disk) {
  if (Disk == nullptr) return;
  std::lock_guard lock(FLock);
  if (std::any_of(FDisks.begin(), FDisks.end(), [Disk](const TListedDisk& d) { return d.Disk == Disk; })) return;
  FDisks.push_back({Disk, nullptr, false});
  AddDiskItems(FDisks.back(), true);
  ++FVersion;
  ApplyOrder();
}

void TQueryObject::ClearDisks() {
  std::lock_guard lock(FLock);
  FDisks.clear();
  FPassing = 0;
}

void TQueryObject::AddDiskItems(TListedDisk& Listed, bool Count) {
  const TFoundItems& folders = Listed.Disk->Folders;
  const auto folderCount = static_cast<std::size_t>(folders.Count());
  for (std::size_t i = 0; i < folderCount; ++i)
    if (PFileInfo folder = folders.Slot(i); folder && MatchesWith(*folder, FFilter.Flags)) FResults.Add(folder);
  // The files as far as they were published when the rebuild looked: later ones are still reported.
  const TFoundItems& files = Listed.Disk->Files;
  const auto fileCount = static_cast<std::size_t>(files.Count());
  for (std::size_t i = 0; i < fileCount; ++i)
    if (PFileInfo file = files.Slot(i); file && Admits(*file, Count)) FResults.Add(file);
  PFileInfo last = fileCount == 0 ? nullptr : files.Slot(fileCount - 1);
  // A last file that two rebuilds saw before its report is counted once.
  Listed.LastCounted = Count || (Listed.LastCounted && Listed.LastFile == last);
  Listed.LastFile = last;
}

bool TQueryObject::Admits(const TFileInfo& File, bool Count) {
  if (!Count) return MatchesWith(File, FFilter.Flags);
  const bool passes = MatchesWith(File, FFilter.Flags & ~qfFolder);
  FPassing += passes ? 1 : 0;
  return passes && MatchesWith(File, FFilter.Flags & qfFolder);
}

bool TQueryObject::AddIfMatches(PFileInfo Info) {
  if (Info == nullptr) return false;
  std::lock_guard lock(FLock);
  for (TListedDisk& listed : FDisks) {
    if (listed.Disk == Info->Disk && listed.LastFile == Info) {
      // Tested by the rebuild, which listed it if it passed; counted, unless the rebuild kept the count.
      if (!listed.LastCounted && MatchesWith(*Info, FFilter.Flags & ~qfFolder)) ++FPassing;
      listed.LastFile = nullptr;
      return false;
    }
  }
  if (!Admits(*Info, true)) return false;
  FResults.Add(Info);
  ++FVersion;
  return true;
}

bool TQueryObject::Matches(const TFileInfo* Info) const {
  std::lock_guard lock(FLock);
  return Info != nullptr && MatchesWith(*Info, FFilter.Flags);
}

bool TQueryObject::MatchesInAnyFolder(const TFileInfo* Info) const {
  std::lock_guard lock(FLock);
  return Info != nullptr && MatchesWith(*Info, FFilter.Flags & ~qfFolder);
}

int TQueryObject::PassingFiles() const {
  std::lock_guard lock(FLock);
  return FPassing;
}

bool TQueryObject::MatchesWith(const TFileInfo& Info, std::int32_t Flags) const {
  if ((Flags & qfFolder) && Info.Parent != FFilter.Folder) return false;
  if ((Flags & qfAttributes) && (Info.Attributes & FFilter.Attributes) != FFilter.Attributes) return false;
  if ((Flags & qfSize) && !MatchesSize(Info.Size.load(std::memory_order_relaxed), FFilter)) return false;
  if ((Flags & qfDate) && !MatchesDate(Info)) return false;
  if (Flags & qfName) return FRegEx.MatchAny(Info.Name);
  return true;
}

// Either time in the range will do; a time that cannot be converted counts as the range's start.
bool TQueryObject::MatchesDate(const TFileInfo& Info) const {
  for (const TFileTime time : {Info.CreationTime, Info.LastWriteTime}) {
    const TDateTime local = FileTimeToLocalDateTime(time).value_or(FFilter.DateFrom);
    if (DateTimeInRange(local, FFilter.DateFrom, FFilter.DateTo)) return true;
  }
  return false;
}

TDiskItems TQueryObject::FolderItems(const TFileInfo* Folder) const {
  TDiskItems items;
  if (Folder == nullptr) return items;
  std::lock_guard lock(FLock);
  const auto listed = std::find_if(FDisks.begin(), FDisks.end(),
                                   [Folder](const TListedDisk& d) { return d.Disk == Folder->Disk; });
  if (listed == FDisks.end()) return items;
  const TFoundItems& files = listed->Disk->Files;
  const auto count = static_cast<std::size_t>(files.Count());
  for (std::size_t i = 0; i < count; ++i)
    if (PFileInfo file = files.Slot(i); file && file->Parent == Folder && MatchesWith(*file, FFilter.Flags & ~qfFolder)) items.Add(file);
  return items;
}

void TQueryObject::FillListItem(TListRow& Row, PFileInfo Info) const {
  if (Info == nullptr) return;
  Row.SetCaption(Info->Name);
  Row.SetImageIndex(0);
  Row.SetChecked(Info->Checked);
  for (const std::string& text : ResultColumnTexts(*Info)) Row.AddSubItem(text);
  Row.SetItem(Info);
}

}  // namespace kestrine
