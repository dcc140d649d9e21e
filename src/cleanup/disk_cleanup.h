#pragma once
// What the disk cleanup needs around the file search and the wipe: its default masks, the search's
// targets, one result row per match, and deleting or wiping a match.

#include <cstdint>
#include <string>
#include <vector>

#include "cleanup/findfile/search_criteria.h"
#include "cleanup/wipe_file.h"
#include "platform/folder_handle.h"
#include "support/file_time.h"

namespace kestrine {

// The fourteen masks of temporary and backup files a cleanup starts with, in their order.
const std::vector<std::string>& DefaultCleanupMasks();

// Passes of a cleanup wipe.
inline constexpr int kCleanupWipePasses = 3;

// The masks a cleanup searches for: split at ";", empty ones and duplicates dropped, and a mask
// holding "/" left out (it names no file). None left is nothing to search for: a cleanup refuses to
// start rather than take every file.
std::vector<std::string> CleanupNameMasks(const std::vector<std::string>& Masks);

// Points a search at Roots for the CleanupNameMasks of Masks; with none, at nothing. Each root
// becomes its own target line, so a path may hold ";" or blanks.
void SetCleanupTargets(TFileCriteria& Files, const std::vector<std::string>& Roots,
                       const std::vector<std::string>& Masks);

struct TCleanupMatch {
  std::string Name;
  std::string Folder;  // ending in "/"
  std::string Type;    // the extension with its dot; empty when there is none
  std::int64_t Size = 0;
  TFileTime Modified = 0;
  platform::TFileIdentity Identity;      // the file when it was found
  std::string Root;                      // the searched folder it lies below, ending in "/"; empty: none known
  platform::TFileIdentity RootIdentity;  // that folder when the search began
  std::string Path() const { return Folder + Name; }
};

TCleanupMatch MakeCleanupMatch(const std::string& Folder, const TSearchRec& Entry);

// The folders a cleanup searches, each as it is when the search begins. Acting on a match later
// starts from the same folder, whatever its path leads to by then.
class TCleanupRoots {
 public:
  explicit TCleanupRoots(const std::vector<std::string>& Folders);
  // Sets Root and RootIdentity of a match found below one of the folders (the innermost).
  void Attach(TCleanupMatch& Match) const;

 private:
  std::vector<std::pair<std::string, platform::TFileIdentity>> FRoots;
};

struct TCleanupOutcome {
  bool Ok = true;
  bool Overwritten = false;  // a wipe wrote over the data, whatever became of the deletion
  std::string Error;         // the reason of a failure
  // A wipe stopped by its handler: the file is kept, partly overwritten (PassesDone of Passes whole
  // passes, then part of the next), and not deleted.
  bool Cancelled = false;
  int PassesDone = 0;
  int Passes = 0;
};

// Acting on a match reaches it from its root, one folder at a time without following a link, and
// touches it only while its name still holds the file that was listed; anything else is left alone
// with the reason. Without a root its folder is opened as named.

// Deletes the entry (a link itself, never what it points to). Other names of the file stay.
TCleanupOutcome DeleteCleanupFile(const TCleanupMatch& Match);
TCleanupOutcome DeleteCleanupFile(const std::string& Path);

// Wipes, then deletes. A file whose wipe did not complete, or that has other names, is kept, so that
// it is not taken for wiped.
TCleanupOutcome WipeCleanupFile(const TCleanupMatch& Match, int Passes, const TWipeWriteEvent& OnWrite = {});
TCleanupOutcome WipeCleanupFile(const std::string& Path, int Passes, const TWipeWriteEvent& OnWrite = {});

}  // namespace kestrine
