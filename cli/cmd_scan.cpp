// kestrine-cli scan: every deleted file found on a volume, through the filter.

#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/filter_options.h"
#include "cli/output.h"
#include "cli/scan_session.h"
#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"

namespace kestrine::cli {
namespace {

struct TScanOptions {
  std::string Source;
  TFilterOptions Filter;
  bool Folders = false;
  std::string Format = "table";
};

nlohmann::ordered_json TimeValue(TFileTime Time) {
  const auto iso = FileTimeToIsoUtc(Time);
  return iso ? nlohmann::ordered_json(*iso) : nlohmann::ordered_json(nullptr);
}

std::string AttributeLetters(std::uint32_t A) {
  std::string s;
  if (A & FileAttr::ReadOnly) s += 'r';
  if (A & FileAttr::Hidden) s += 'h';
  if (A & FileAttr::System) s += 's';
  if (A & FileAttr::Archive) s += 'a';
  if (A & FileAttr::Compressed) s += 'c';
  if (A & FileAttr::Encrypted) s += 'e';
  return s;
}

// The JSON keys, and for a table or CSV what they show besides them.
nlohmann::ordered_json ItemRow(const TFileInfo& Item, std::int64_t Id, bool ForDisplay) {
  const bool deleted = Item.IsFolder ? (Item.FsInfo && Item.FsInfo->IsDeleted()) : true;
  nlohmann::ordered_json row = {{"id", Id},
                                {"path", ItemPath(Item)},
                                {"name", Item.Name},
                                {"folder", Item.IsFolder},
                                {"deleted", deleted},
                                {"size", Item.Size.load()},
                                {"condition", Item.Condition},
                                {"attributes", Item.Attributes},
                                {"modified", TimeValue(Item.LastWriteTime)},
                                {"created", TimeValue(Item.CreationTime)}};
  if (Item.FsInfo) {
    if (const auto record = Item.FsInfo->RecordNumber()) row["record"] = *record;
    if (Item.Disk && Item.Disk->FileSystem == TFileSystemKind::Ntfs) {
      nlohmann::ordered_json streams = nlohmann::ordered_json::array();
      for (const auto& s : Item.FsInfo->NamedStreams()) streams.push_back({{"name", s.Name}, {"size", s.Size}});
      row["streams"] = streams;
    }
  }
  if (!ForDisplay) return row;
  std::string marks = AttributeLetters(Item.Attributes);
  if (row.contains("streams") && !row["streams"].empty()) marks += '+';
  row["status"] = Item.IsFolder ? "" : std::to_string(Item.Condition) + "%";
  row["marks"] = marks;
  row["modified_text"] = FileTimeToLocalText(Item.LastWriteTime).value_or("");
  return row;
}

int RunScan(const TScanOptions& O) {
  const auto filter = BuildCliFilter(O.Filter);
  if (const auto* error = std::get_if<std::string>(&filter)) {
    std::cerr << "kestrine-cli: " << *error << "\n";
    return kExitUsage;
  }
  TScanSession session;
  TDiskObject* disk = session.OpenScannable(O.Source);
  if (!disk) return kExitFailed;
  session.Scan(disk, std::get<TFilter>(filter));
  if (TScanSession::Failed(disk, O.Source)) return kExitFailed;
  static const std::vector<TColumn> columns = {{"id", "Id", true},          {"path", "Path"},          {"size", "Size", true},
                                               {"status", "Status", true}, {"marks", "Flags"},
                                               {"modified_text", "Modified"}, {"record", "Record", true}};
  TRowWriter writer(std::cout, ParseOutputFormat(O.Format), columns);
  const bool forDisplay = writer.Format() != TOutputFormat::Json;
  const TItemIds ids(*disk);
  if (O.Folders)
    for (PFileInfo folder : session.Folders()) writer.Add(ItemRow(*folder, ids.IdOf(*folder), forDisplay));
  for (PFileInfo file : session.Files()) writer.Add(ItemRow(*file, ids.IdOf(*file), forDisplay));
  writer.Finish();
  if (session.Interrupted()) std::cerr << "kestrine-cli: scan stopped; the list holds what was found so far\n";
  return kExitOk;
}

}  // namespace

void RegisterScanCommand(CLI::App& App, TCommandAction& Action) {
  auto o = std::make_shared<TScanOptions>();
  auto* cmd = App.add_subcommand("scan", "List the deleted files found on a volume (never writes to it)");
  cmd->add_option("SOURCE", o->Source, "Image or device path, or a drive letter of the drive list")->required();
  AddFilterOptions(*cmd, o->Filter);
  cmd->add_flag("--folders", o->Folders, "Also list the folders that lead to the files");
  cmd->add_option("--format", o->Format, "Output format")->check(CLI::IsMember(kFormatNames));
  cmd->callback([o, &Action] { Action = [o] { return RunScan(*o); }; });
}

}  // namespace kestrine::cli
