#pragma once
// Which found items the result list shows, and the list itself.

#include <mutex>
#include <string>
#include <vector>

#include "engine/volume/file_info.h"
#include "filter/filter_record.h"
#include "filter/regex_calc.h"
#include "filter/result_row.h"

namespace kestrine {

class TDiskObject;

// The scanning thread offers files through AddIfMatches while the main thread sets the filter
// and reads rows. Appending and rebuilding share one lock; reading rows (Count, Items) takes none,
// as a list view asks for every visible cell: the result list publishes its count after each
// append. A rebuild (Clear, SetFilter, AddDisk) empties the list in place, so rows are read on the
// thread that rebuilds, the main thread. A scanner appends a file to its disk's Files before it
// reports it; a filter rebuilt between the two has tested that file already and the late report does
// not list it a second time.
class TQueryObject {
 public:
  TQueryObject() = default;
  TQueryObject(const TQueryObject&) = delete;
  TQueryObject& operator=(const TQueryObject&) = delete;

  // Empties the result list and switches every test off.
  void Clear();
  // Nothing happens when Filter equals the current one; otherwise the result list is rebuilt
  // from the listed disks.
  void SetFilter(const TFilter& Filter);
  TFilter Filter() const;
  // The result list in Order, now and after every rebuild; files a running scan adds later are
  // appended as they come. Main thread, like every rebuild.
  void SetOrder(const TResultOrder& Order);
  TResultOrder Order() const;
  // A long list is sorted elsewhere: take the list and its version, sort the copy (SortResults), and
  // put it in place, which fails (false, nothing changed) when the list changed meanwhile.
  std::vector<PFileInfo> Results(std::uint64_t& Version) const;
  bool PutOrdered(const TResultOrder& Order, const std::vector<PFileInfo>& Sorted, std::uint64_t Version);

  // Lists the disk's folders, then its files, that pass. A nil or already listed disk is ignored.
  void AddDisk(TDiskObject* Disk);
  void ClearDisks();

  // Appends Info when it passes; returns whether it did.
  bool AddIfMatches(PFileInfo Info);
  bool Matches(const TFileInfo* Info) const;
  // The filter without its folder restriction (the tree tests the files of every folder).
  bool MatchesInAnyFolder(const TFileInfo* Info) const;
  // The files of the listed disks that pass MatchesInAnyFolder, counted as they are tested: a new
  // folder alone keeps the count, any other new filter counts afresh.
  int PassingFiles() const;

  // No lock: read on the main thread.
  int Count() const { return FResults.Count(); }
  // Nil outside 0..Count-1; no lock.
  PFileInfo Items(int Index) const { return FResults.Items(Index); }

  // The files directly in Folder that pass the filter without its folder restriction, in the order
  // of their disk's Files; empty when Folder's disk is not listed.
  TDiskItems FolderItems(const TFileInfo* Folder) const;

  // Caption, check box, the columns after the caption and the item; nothing for nil.
  void FillListItem(TListRow& Row, PFileInfo Info) const;

 private:
  struct TListedDisk {
    TDiskObject* Disk = nullptr;
    PFileInfo LastFile = nullptr;  // the last file the latest rebuild tested
    bool LastCounted = false;      // and PassingFiles counts it already
  };

  bool MatchesWith(const TFileInfo& Info, std::int32_t Flags) const;
  bool MatchesDate(const TFileInfo& Info) const;
  // Whether a file not yet tested is listed; Count: it counts towards PassingFiles too.
  bool Admits(const TFileInfo& File, bool Count);
  void AddDiskItems(TListedDisk& Listed, bool Count);
  void ApplyOrder();

  mutable std::mutex FLock;
  TPublishedList<TFileInfo> FResults;
  std::vector<TListedDisk> FDisks;
  TRegExCalc FRegEx;
  TFilter FFilter;
  TResultOrder FOrder;
  std::uint64_t FVersion = 0;  // counts every change of the result list
  int FPassing = 0;
};

// The name mask cut at every ";": empty pieces are left out, the others trimmed of blanks and
// control characters (a piece of blanks becomes an empty pattern, which matches nothing).
std::vector<std::string> SplitNameMask(std::string_view Mask);

}  // namespace kestrine
