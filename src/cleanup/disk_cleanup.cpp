#include "cleanup/disk_cleanup.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cleanup/findfile/name_masks.h"
#include "cleanup/findfile/target_search.h"

namespace kestrine {

const std::vector<std::string>& DefaultCleanupMasks() {
  static const std::vector<std::string> masks = {"*.tmp", "*.~*",  "*.log", "*.temp", "*.??~", "*.??$", "*.?~?",
                                                 "*._mp", "*.bak", "*.---", "*.old",  "*.chk", "*.gid", "*.$$$"};
  return masks;
}

void SetCleanupTargets(TFileCriteria& Files, const std::vector<std::string>& Roots,
                       const std::vector<std::string>& Masks) {
  std::string joined;
  for (const std::string& mask : Masks) joined += mask + ";";
  std::vector<std::string> masks;
  for (std::string& mask : SplitMaskList(joined))
    if (mask.find('/') == std::string::npos) masks.push_back(std::move(mask));
  if (masks.empty()) masks.emplace_back("*.*");
  Files.FileName.clear();
  Files.Location.clear();
  Files.Included.clear();
  // An absolute folder starts with "/", never with a recursion sign.
  for (const std::string& root : Roots) {
    const std::string folder = ExpandFolderPath(root);
    for (const std::string& mask : masks) Files.Included.push_back(folder + mask);
  }
}

TCleanupMatch MakeCleanupMatch(const std::string& Folder, const TSearchRec& Entry) {
  TCleanupMatch match;
  match.Name = Entry.Name;
  match.Folder = Folder;
  const std::size_t dot = Entry.Name.rfind('.');
  if (dot != std::string::npos) match.Type = Entry.Name.substr(dot);
  match.Size = Entry.Size;
  match.Modified = Entry.FindData.ftLastWriteTime;
  return match;
}

TCleanupOutcome DeleteCleanupFile(const std::string& Path) {
  if (::unlink(Path.c_str()) == 0) return {};
  return {false, std::error_code(errno, std::generic_category()).message()};
}

TCleanupOutcome WipeCleanupFile(const std::string& Path, int Passes, const TPaintPump& PumpPaint) {
  const TWipeResult wipe = WipeFile(Path, Passes, {}, PumpPaint);
  if (!wipe.Wiped()) return {false, wipe.Message};
  return DeleteCleanupFile(Path);
}

}  // namespace kestrine
