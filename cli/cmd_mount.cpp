// kestrine-cli mount: the found deleted files as a read-only file system, read on demand.

#include <pwd.h>
#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/filter_options.h"
#include "cli/fuse_mount.h"
#include "cli/scan_session.h"
#include "engine/volume/disk_object.h"
#include "workflow/folder_contents.h"
#include "workflow/item_selection.h"
#include "workflow/mount_files.h"

namespace kestrine::cli {
namespace {

struct TMountOptions {
  std::string Source;
  std::string Folder;
  TFilterOptions Filter;
  TScanSourceOptions Scan;
  bool AllowOther = false;
  bool DirectIo = false;
};

std::string UserName() {
  const passwd* user = ::getpwuid(::getuid());
  return user ? user->pw_name : "user " + std::to_string(::getuid());
}

int RunMount(const TMountOptions& O) {
  const auto filter = BuildCliFilter(O.Filter);
  if (const auto* error = std::get_if<std::string>(&filter)) {
    std::cerr << "kestrine-cli: " << *error << "\n";
    return kExitUsage;
  }
  // The folder is looked at before the scan, which may take long.
  if (const std::string problem = MountFolderProblem(O.Folder); !problem.empty()) {
    std::cerr << "kestrine-cli: " << O.Folder << ": " << problem << "\n";
    return kExitFailed;
  }
  auto session = std::make_unique<TScanSession>();
  TDiskObject* disk = session->OpenScannable(O.Source, O.Scan);
  if (!disk) return kExitFailed;
  session->Scan(disk, std::get<TFilter>(filter));
  if (TScanSession::Failed(disk, O.Source)) return kExitFailed;
  if (session->Interrupted()) {
    std::cerr << "kestrine-cli: scan stopped; nothing was mounted\n";
    return kExitFailed;
  }
  const std::vector<PFileInfo> files = session->Files();
  TFolderContents contents(&session->Query());
  TRecoveryManager& manager = session->Manager();
  const TStreamOpener open = [&manager](PFileInfo Item, const std::string& Stream) {
    return manager.CreateStream(Item, Stream);
  };
  const TMountTree tree(SelectAllItems(*disk, files), contents, open);
  TMountFiles mountFiles(tree, open);

  const TFuseMountOptions fuse{O.Folder, O.Source, O.AllowOther, O.DirectIo};
  std::string error;
  const bool served = ServeMount(mountFiles, fuse, [&] {
    std::cout << "Mounted " << files.size() << (files.size() == 1 ? " deleted file" : " deleted files") << " of "
              << O.Source << " read-only at " << O.Folder << "; "
              << (O.AllowOther ? "every user can read it" : "only " + UserName() + " can read it (--allow-other opens it to every user)")
              << ".\nEnd with: fusermount3 -u " << O.Folder << " (or Ctrl-C)" << std::endl;
  }, error);
  if (!served) {
    std::cerr << "kestrine-cli: " << O.Folder << ": " << error << "\n";
    return kExitFailed;
  }
  TScanSession::KeepToTheEnd(std::move(session));
  return kExitOk;
}

}  // namespace

void RegisterMountCommand(CLI::App& App, TCommandAction& Action) {
  auto o = std::make_shared<TMountOptions>();
  auto* cmd = App.add_subcommand(
      "mount", "Show the deleted files found on a volume as a read-only file system in an empty folder, until unmounted");
  cmd->add_option("SOURCE", o->Source, "Image or device path, or a drive letter of the drive list")->required();
  cmd->add_option("DIR", o->Folder, "An empty folder to mount on")->required();
  AddFilterOptions(*cmd, o->Filter);
  AddScanSourceOptions(*cmd, o->Scan);
  cmd->add_flag("--allow-other", o->AllowOther, "Let every user read the mount, not only the one who made it");
  cmd->add_flag("--direct-io", o->DirectIo, "Pass every read to the volume, past the kernel's page cache");
  cmd->callback([o, &Action] { Action = [o] { return RunMount(*o); }; });
}

}  // namespace kestrine::cli
