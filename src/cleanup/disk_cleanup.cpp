#include "cleanup/disk_cleanup.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

#include "cleanup/findfile/name_masks.h"
#include "cleanup/findfile/target_search.h"

namespace kestrine {

const std::vector<std::string>& DefaultCleanupMasks() {
  static const std::vector<std::string> masks = {"*.tmp", "*.~*",  "*.log", "*.temp", "*.??~", "*.??$", "*.?~?",
                                                 "*._mp", "*.bak", "*.---", "*.old",  "*.chk", "*.gid", "*.$$$"};
  return masks;
}

std::vector<std::string> CleanupNameMasks(const std::vector<std::string>& Masks) {
  std::string joined;
  for (const std::string& mask : Masks) joined += mask + ";";
  std::vector<std::string> masks;
  for (std::string& mask : SplitMaskList(joined))
    if (mask.find('/') == std::string::npos) masks.push_back(std::move(mask));
  return masks;
}

void SetCleanupTargets(TFileCriteria& Files, const std::vector<std::string>& Roots,
                       const std::vector<std::string>& Masks) {
  const std::vector<std::string> masks = CleanupNameMasks(Masks);
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
  match.Identity = Entry.Identity;
  return match;
}

TCleanupRoots::TCleanupRoots(const std::vector<std::string>& Folders) {
  for (const std::string& folder : Folders) {
    // The form the search reports its folders in.
    std::string root = ExpandFolderPath(folder);
    const platform::TFolderHandle handle = platform::TFolderHandle::OpenNamed(root);
    if (handle.IsOpen()) FRoots.emplace_back(std::move(root), handle.Identity());
  }
}

void TCleanupRoots::Attach(TCleanupMatch& Match) const {
  const std::pair<std::string, platform::TFileIdentity>* best = nullptr;
  for (const auto& root : FRoots)
    if (Match.Folder.starts_with(root.first) && (!best || root.first.size() > best->first.size())) best = &root;
  if (!best) return;
  Match.Root = best->first;
  Match.RootIdentity = best->second;
}

namespace {

std::string ErrorText(int Error) { return std::error_code(Error, std::generic_category()).message(); }

// The listed folder of a match, reached as described at DeleteCleanupFile; not open, with Error, when
// it is not there any more.
platform::TFolderHandle OpenListedFolder(const TCleanupMatch& Match, std::string& Error) {
  if (Match.Root.empty() || !Match.Folder.starts_with(Match.Root)) {
    platform::TFolderHandle folder = platform::TFolderHandle::OpenNamed(Match.Folder);
    if (!folder.IsOpen()) Error = "its folder cannot be opened: " + ErrorText(errno);
    return folder;
  }
  platform::TFolderHandle folder = platform::TFolderHandle::OpenNamed(Match.Root);
  if (!folder.IsOpen()) {
    Error = "the searched folder " + Match.Root + " cannot be opened: " + ErrorText(errno);
    return {};
  }
  if (Match.RootIdentity.Known() && folder.Identity() != Match.RootIdentity) {
    Error = "the searched folder " + Match.Root + " is no longer the one searched; left alone";
    return {};
  }
  std::string_view rest(Match.Folder);
  rest.remove_prefix(Match.Root.size());
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string name(rest.substr(0, slash));
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (name.empty()) continue;
    platform::TFolderHandle sub = folder.OpenSub(name);
    if (!sub.IsOpen()) {
      const int error = errno;
      Error = "the folder " + folder.PathOf(name) +
              (error == ELOOP || error == ENOTDIR ? " is no longer a folder (a link took its place); left alone"
                                                  : " cannot be opened: " + ErrorText(error));
      return {};
    }
    folder = std::move(sub);
  }
  return folder;
}

// Why the name may not be acted on any more; empty when it still holds the listed file.
std::string CheckListed(const platform::TFolderHandle& Folder, const TCleanupMatch& Match) {
  platform::TEntryFacts facts;
  if (!Folder.Look(Match.Name, facts)) return ErrorText(errno);
  if (facts.Kind == platform::TEntryFacts::TKind::Folder) return "is a folder";
  if (Match.Identity.Known() && facts.Identity != Match.Identity) return "is no longer the file that was listed; left alone";
  return {};
}

// A match for a path alone: its folder as named, and whatever file the name holds.
TCleanupMatch MatchOfPath(const std::string& Path) {
  TCleanupMatch match;
  const std::size_t slash = Path.rfind('/');
  match.Folder = slash == std::string::npos ? "./" : Path.substr(0, slash + 1);
  match.Name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  return match;
}

}  // namespace

TCleanupOutcome DeleteCleanupFile(const TCleanupMatch& Match) {
  std::string error;
  const platform::TFolderHandle folder = OpenListedFolder(Match, error);
  if (!folder.IsOpen()) return {false, false, error};
  if (error = CheckListed(folder, Match); !error.empty()) return {false, false, error};
  if (!folder.Unlink(Match.Name)) return {false, false, ErrorText(errno)};
  return {};
}

TCleanupOutcome DeleteCleanupFile(const std::string& Path) { return DeleteCleanupFile(MatchOfPath(Path)); }

TCleanupOutcome WipeCleanupFile(const TCleanupMatch& Match, int Passes, const TWipeWriteEvent& OnWrite) {
  std::string error;
  const platform::TFolderHandle folder = OpenListedFolder(Match, error);
  if (!folder.IsOpen()) return {false, false, error};
  const TWipeResult wipe = WipeFileIn(folder, Match.Name, Passes, Match.Identity, {}, OnWrite);
  if (wipe.Status == TWipeStatus::Cancelled)
    return {false, false, "wipe " + wipe.Message + ": kept, partly overwritten, not deleted", true, wipe.PassesDone,
            wipe.Passes};
  if (!wipe.Wiped()) return {false, false, wipe.Message};
  // The same folder as the wipe: the name is not looked up through any path again.
  if (error = CheckListed(folder, Match); !error.empty())
    return {false, true, "overwritten, but not deleted: " + error};
  if (!folder.Unlink(Match.Name)) return {false, true, "overwritten, but could not be deleted: " + ErrorText(errno)};
  return {true, true, {}};
}

TCleanupOutcome WipeCleanupFile(const std::string& Path, int Passes, const TWipeWriteEvent& OnWrite) {
  return WipeCleanupFile(MatchOfPath(Path), Passes, OnWrite);
}

}  // namespace kestrine
