#pragma once
// What the disk cleanup needs around the file search and the wipe: its default masks, the search's
// targets, one result row per match, and deleting or wiping a match.

#include <cstdint>
#include <string>
#include <vector>

#include "cleanup/findfile/search_criteria.h"
#include "cleanup/wipe_file.h"
#include "support/file_time.h"

namespace kestrine {

// The fourteen masks of temporary and backup files a cleanup starts with, in their order.
const std::vector<std::string>& DefaultCleanupMasks();

// Passes of a cleanup wipe.
inline constexpr int kCleanupWipePasses = 3;

// Points a search at Roots for Masks. The masks are split at ";" with empty ones and duplicates
// dropped (none left means every file); a mask holding "/" names no file and is left out. Each
// root becomes its own target line, so a path may hold ";" or blanks.
void SetCleanupTargets(TFileCriteria& Files, const std::vector<std::string>& Roots,
                       const std::vector<std::string>& Masks);

struct TCleanupMatch {
  std::string Name;
  std::string Folder;  // ending in "/"
  std::string Type;    // the extension with its dot; empty when there is none
  std::int64_t Size = 0;
  TFileTime Modified = 0;
  std::string Path() const { return Folder + Name; }
};

TCleanupMatch MakeCleanupMatch(const std::string& Folder, const TSearchRec& Entry);

struct TCleanupOutcome {
  bool Ok = true;
  std::string Error;  // the reason of a failure
};

// Deletes the entry (a link itself, never what it points to).
TCleanupOutcome DeleteCleanupFile(const std::string& Path);

// Wipes, then deletes. A file whose wipe did not complete is kept, so that it is not taken for
// wiped.
TCleanupOutcome WipeCleanupFile(const std::string& Path, int Passes, const TPaintPump& PumpPaint = {});

}  // namespace kestrine
