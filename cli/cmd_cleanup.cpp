// kestrine-cli cleanup: junk files by name masks on mounted drives or folders; list, delete or wipe them.

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "cleanup/disk_cleanup.h"
#include "cleanup/findfile/find_file.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "support/file_time.h"
#include "engine/volume/recovery_manager.h"

namespace kestrine::cli {
namespace {

struct TCleanupOptions {
  std::vector<std::string> Drives;
  std::vector<std::string> Paths;
  std::vector<std::string> Masks;
  std::string Format = "table";
  bool Delete = false;
  bool Wipe = false;
  bool Yes = false;
  int Passes = kCleanupWipePasses;
};

// One status line on a terminal, redrawn at most ten times a second.
class TStatusLine {
 public:
  TStatusLine() : FEnabled(::isatty(STDERR_FILENO) == 1) {}
  ~TStatusLine() { Clear(); }
  TStatusLine(const TStatusLine&) = delete;
  TStatusLine& operator=(const TStatusLine&) = delete;

  void Show(const std::string& Text) {
    if (!FEnabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (FShown && now - FLast < std::chrono::milliseconds(100)) return;
    FLast = now;
    FShown = true;
    std::cerr << "\r\033[K" << EscapeControls(Text).substr(0, 100) << std::flush;
  }
  void Clear() {
    if (FShown) std::cerr << "\r\033[K" << std::flush;
    FShown = false;
  }

 private:
  bool FEnabled;
  bool FShown = false;
  std::chrono::steady_clock::time_point FLast{};
};

// The folders to search: the mount points of the drives and the paths as given. Nullopt (with the
// error reported) when an input names nothing that can be searched.
std::optional<std::vector<std::string>> ResolveRoots(const TCleanupOptions& O) {
  std::vector<std::string> roots;
  bool failed = false;
  // The drive list exists once per run; build it here when the caller has not.
  std::unique_ptr<TRecoveryManagerScope> scope;
  if (!O.Drives.empty() && !RecoveryManager()) scope = std::make_unique<TRecoveryManagerScope>();
  for (const std::string& letter : O.Drives) {
    const TDiskObject* disk = RecoveryManager()->FindDisk(letter[0]);
    if (!disk) {
      std::cerr << "kestrine-cli: drive " << letter[0] << ": no such drive\n";
      failed = true;
    } else if (disk->MountPoint.empty()) {
      std::cerr << "kestrine-cli: drive " << letter[0] << ": not mounted, nothing to search on it\n";
    } else {
      roots.push_back(disk->MountPoint);
    }
  }
  for (const std::string& path : O.Paths) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
      std::cerr << "kestrine-cli: " << path << ": no such folder\n";
      failed = true;
    } else {
      roots.push_back(path);
    }
  }
  if (failed) return std::nullopt;
  return roots;
}

std::vector<TCleanupMatch> Search(const std::vector<std::string>& Roots, const std::vector<std::string>& Masks) {
  std::vector<TCleanupMatch> matches;
  TStatusLine status;
  TFindFile finder;
  // Taken before the search, so that acting later starts from the folders that were searched.
  const TCleanupRoots roots(Roots);
  SetCleanupTargets(finder.Criteria.Files, Roots, Masks.empty() ? DefaultCleanupMasks() : Masks);
  finder.OnFolderChange = [&](TFindFile&, const std::string& Folder, TFolderIgnore&) {
    status.Show("Found " + std::to_string(matches.size()) + ", searching " + Folder);
  };
  finder.OnFileMatch = [&](TFindFile&, const std::string& Folder, const TSearchRec& Entry) {
    matches.push_back(MakeCleanupMatch(Folder, Entry));
    roots.Attach(matches.back());
  };
  finder.StartSearch();
  return matches;
}

nlohmann::ordered_json MatchRow(const TCleanupMatch& M) {
  const auto modified = FileTimeToIsoUtc(M.Modified);
  return {{"name", M.Name},
          {"folder", M.Folder},
          {"type", M.Type},
          {"size", M.Size},
          {"modified", modified ? nlohmann::ordered_json(*modified) : nlohmann::ordered_json()}};
}

// Asks on the terminal; without one, only --yes lets the action go on.
int Confirm(const TCleanupOptions& O, std::size_t Count, bool& Proceed) {
  Proceed = O.Yes;
  if (O.Yes) return kExitOk;
  if (::isatty(STDIN_FILENO) != 1) {
    std::cerr << "kestrine-cli: no terminal to confirm " << (O.Wipe ? "wiping" : "deleting") << " " << Count
              << " file(s); add --yes\n";
    return kExitUsage;
  }
  std::cerr << (O.Wipe ? "Wipe (" + std::to_string(ClampWipePasses(O.Passes)) + " passes) and delete " : "Delete ")
            << Count << " file(s)? [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  Proceed = answer == "y" || answer == "Y" || answer == "yes";
  if (!Proceed) std::cerr << "Nothing was changed.\n";
  return kExitOk;
}

// Each distinct file once, even when two masks listed it; each only while it is still the file listed.
int Act(const TCleanupOptions& O, const std::vector<TCleanupMatch>& Matches) {
  std::vector<const TCleanupMatch*> targets;
  std::unordered_set<std::string> seen;
  for (const TCleanupMatch& m : Matches)
    if (seen.insert(m.Path()).second) targets.push_back(&m);
  if (targets.empty()) return kExitOk;
  bool proceed = false;
  if (const int status = Confirm(O, targets.size(), proceed); status != kExitOk || !proceed) return status;

  TStatusLine status;
  std::size_t failed = 0, undeleted = 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const TCleanupMatch& m = *targets[i];
    status.Show((O.Wipe ? "Wiping " : "Deleting ") + std::to_string(i + 1) + "/" + std::to_string(targets.size()) +
                ": " + m.Path());
    const TCleanupOutcome outcome = O.Wipe ? WipeCleanupFile(m, O.Passes) : DeleteCleanupFile(m);
    if (!outcome.Ok) {
      status.Clear();
      std::cerr << "kestrine-cli: " << EscapeControls(m.Path()) << ": " << EscapeControls(outcome.Error) << "\n";
      ++(outcome.Overwritten ? undeleted : failed);
    }
  }
  status.Clear();
  std::cerr << (O.Wipe ? "Wiped and deleted " : "Deleted ") << targets.size() - failed - undeleted << " file(s)";
  if (undeleted) std::cerr << ", " << undeleted << " overwritten but not deleted";
  if (failed) std::cerr << ", " << failed << " failed";
  std::cerr << "\n";
  return failed || undeleted ? kExitFailed : kExitOk;
}

int RunCleanup(const TCleanupOptions& O) {
  const auto roots = ResolveRoots(O);
  if (!roots) return kExitFailed;
  const std::vector<TCleanupMatch> matches = Search(*roots, O.Masks);

  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const TCleanupMatch& m : matches) rows.push_back(MatchRow(m));
  static const std::vector<TColumn> columns = {{"name", "Name"},
                                               {"folder", "Folder"},
                                               {"type", "Type"},
                                               {"size", "Size", true},
                                               {"modified", "Modified"}};
  WriteRows(std::cout, ParseOutputFormat(O.Format), columns, rows);
  std::cout.flush();
  std::cerr << "Found: " << matches.size() << " file(s)\n";
  return O.Delete || O.Wipe ? Act(O, matches) : kExitOk;
}

std::string CheckDriveLetter(const std::string& Text) {
  const bool letter = (Text.size() == 1 || (Text.size() == 2 && Text[1] == ':')) && std::isalpha(static_cast<unsigned char>(Text[0]));
  return letter ? std::string() : "a drive is one letter, such as d";
}

std::string CheckMask(const std::string& Text) {
  return Text.find('/') == std::string::npos ? std::string() : "a mask names files, it holds no \"/\"";
}

}  // namespace

void RegisterCleanupCommand(CLI::App& App, TCommandAction& Action) {
  auto* cmd = App.add_subcommand("cleanup",
                                 "Find junk files by name masks on mounted drives or in folders (never leaving their "
                                 "file system, never following links); list, delete or wipe them");
  auto o = std::make_shared<TCleanupOptions>();
  cmd->add_option("--drive", o->Drives, "Drive letter whose mount point is searched (repeatable)")
      ->check(CLI::Validator(CheckDriveLetter, "LETTER"));
  cmd->add_option("--path", o->Paths, "Folder to search (repeatable)");
  cmd->add_option("--mask", o->Masks, "File mask such as *.tmp (repeatable; default: 14 masks of temporary and backup files)")
      ->check(CLI::Validator(CheckMask, "MASK"));
  cmd->add_option("--format", o->Format, "Output format")->check(CLI::IsMember(kFormatNames));
  auto* del = cmd->add_flag("--delete", o->Delete, "Delete the matches (asks first)");
  auto* wipe = cmd->add_flag("--wipe", o->Wipe, "Overwrite the matches, then delete them (asks first)");
  del->excludes(wipe);
  cmd->add_option("--passes", o->Passes, "Overwrite passes of --wipe")->check(CLI::Range(1, 10))->needs(wipe);
  cmd->add_flag("--yes", o->Yes, "Do not ask before deleting or wiping");
  cmd->callback([o, &Action] {
    if (o->Drives.empty() && o->Paths.empty()) throw CLI::RequiredError("--drive or --path");
    // Masks that all turn out empty must not widen the search to every file.
    if (!o->Masks.empty() && CleanupNameMasks(o->Masks).empty())
      throw CLI::ValidationError("--mask", "every mask is empty");
    Action = [o] { return RunCleanup(*o); };
  });
}

}  // namespace kestrine::cli
