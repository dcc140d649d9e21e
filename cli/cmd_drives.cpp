// kestrine-cli drives: the drive list of the recovery manager.

#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/output.h"
#include "engine/volume/recovery_manager.h"
#include "settings/size_text.h"

namespace kestrine::cli {
namespace {

nlohmann::ordered_json DriveRow(const TDiskObject& Disk) {
  return {{"letter", std::string(1, Disk.Letter)},
          {"source", Disk.SourcePath},
          {"mount_point", Disk.MountPoint},
          {"label", Disk.VolumeLabel},
          {"fs_name", Disk.FileSystemName},
          {"kind", Disk.FileSystem},
          {"total", Disk.TotalSize},
          {"free", Disk.FreeSize},
          {"size_text", FormatSizeText(Disk.TotalSize)},
          {"partition", Disk.Partition},
          {"clipped", Disk.Clipped},
          // The name a command takes it by; a table entry past the end of the image is shown cut.
          {"partition_text", Disk.Partition == 0 ? std::string()
                                                 : Disk.SourcePath + "@" + std::to_string(Disk.Partition) +
                                                       (Disk.Clipped ? " (entry past the end: clipped)" : "")}};
}

int RunDrives(const std::string& FormatName) {
  TRecoveryManagerScope scope;
  const TRecoveryManager& manager = scope.Manager();
  for (const auto& error : manager.DiskList->Errors()) std::cerr << "kestrine-cli: " << error << "\n";
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (int i = 0; i < manager.DiskList->DiskCount(); ++i) rows.push_back(DriveRow(*manager.DiskList->GetDisk(i)));
  static const std::vector<TColumn> columns = {
      {"letter", "Drive"},   {"label", "Label"},         {"fs_name", "File system"},
      {"kind", "Kind", true}, {"size_text", "Size", true}, {"free", "Free bytes", true},
      {"source", "Source"},  {"partition_text", "Partition"}, {"mount_point", "Mounted on"}};
  WriteRows(std::cout, ParseOutputFormat(FormatName), columns, rows);
  return manager.DiskList->Errors().empty() ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterDrivesCommand(CLI::App& App, TCommandAction& Action) {
  auto* cmd = App.add_subcommand("drives", "List the drives offered for recovery (KESTRINE_DRIVES, then local devices)");
  auto format = std::make_shared<std::string>("table");
  cmd->add_option("--format", *format, "Output format")->check(CLI::IsMember(kFormatNames));
  cmd->callback([format, &Action] { Action = [format] { return RunDrives(*format); }; });
}

}  // namespace kestrine::cli
