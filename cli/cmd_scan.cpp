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

void AppendTime(std::string& Out, TFileTime Time) {
  if (const auto iso = FileTimeToIsoUtc(Time)) {
    // Digits and ASCII signs only: nothing to escape.
    Out += '"';
    Out += *iso;
    Out += '"';
  }
  else
    Out += "null";
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

// Rows go straight to text: a JSON value per row costs more than the scan on a large volume.
class TItemRows {
 public:
  explicit TItemRows(TRowWriter& Writer) : FWriter(Writer) {}

  void Add(const TFileInfo& Item, std::int64_t Id) {
    const std::vector<TNamedStreamInfo> streams =
        Item.FsInfo && Item.Disk && Item.Disk->FileSystem == TFileSystemKind::Ntfs ? Item.FsInfo->NamedStreams()
                                                                                  : std::vector<TNamedStreamInfo>{};
    const auto record = Item.FsInfo ? Item.FsInfo->RecordNumber() : std::nullopt;
    if (FWriter.Format() == TOutputFormat::Json) {
      AddJson(Item, Id, record, streams);
      return;
    }
    std::string marks = AttributeLetters(Item.Attributes);
    if (!streams.empty()) marks += '+';
    // Moved in, not copied from a braced list, as each row's cells are.
    std::vector<std::string> cells;
    cells.reserve(7);
    cells.push_back(std::to_string(Id));
    cells.push_back(ItemPath(Item));
    cells.push_back(std::to_string(Item.Size.load()));
    cells.push_back(Item.IsFolder ? std::string() : std::to_string(Item.Condition) + "%");
    cells.push_back(std::move(marks));
    cells.push_back(FileTimeToLocalText(Item.LastWriteTime).value_or(""));
    cells.push_back(record ? std::to_string(*record) : std::string());
    FWriter.AddCells(std::move(cells));
  }

 private:
  // The keys and layout of the array dumped with an indent of 2.
  void AddJson(const TFileInfo& Item, std::int64_t Id, std::optional<std::uint64_t> Record,
               const std::vector<TNamedStreamInfo>& Streams) {
    const bool deleted = Item.IsFolder ? (Item.FsInfo && Item.FsInfo->IsDeleted()) : true;
    std::string& o = FText;
    o = "{\n    \"id\": ";
    o += std::to_string(Id);
    o += ",\n    \"path\": ";
    AppendJsonString(o, ItemPath(Item));
    o += ",\n    \"name\": ";
    AppendJsonString(o, Item.Name);
    o += ",\n    \"folder\": ";
    o += Item.IsFolder ? "true" : "false";
    o += ",\n    \"deleted\": ";
    o += deleted ? "true" : "false";
    // Appended piece by piece: a concatenation makes a string for each row's every number.
    o += ",\n    \"size\": ";
    o += std::to_string(Item.Size.load());
    o += ",\n    \"condition\": ";
    o += std::to_string(Item.Condition);
    o += ",\n    \"attributes\": ";
    o += std::to_string(Item.Attributes);
    o += ",\n    \"modified\": ";
    AppendTime(o, Item.LastWriteTime);
    o += ",\n    \"created\": ";
    AppendTime(o, Item.CreationTime);
    if (Record) {
      o += ",\n    \"record\": ";
      o += std::to_string(*Record);
    }
    if (Item.FsInfo && Item.Disk && Item.Disk->FileSystem == TFileSystemKind::Ntfs) {
      o += ",\n    \"streams\": [";
      for (std::size_t i = 0; i < Streams.size(); ++i) {
        o += i ? ",\n      {\n        \"name\": " : "\n      {\n        \"name\": ";
        AppendJsonString(o, Streams[i].Name);
        o += ",\n        \"size\": ";
        o += std::to_string(Streams[i].Size);
        o += "\n      }";
      }
      o += Streams.empty() ? "]" : "\n    ]";
    }
    o += "\n  }";
    FWriter.AddJson(o);
  }

  TRowWriter& FWriter;
  std::string FText;
};

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
  TItemRows rows(writer);
  const TItemIds ids(*disk);
  if (O.Folders)
    for (PFileInfo folder : session.Folders()) rows.Add(*folder, ids.IdOf(*folder));
  for (PFileInfo file : session.Files()) rows.Add(*file, ids.IdOf(*file));
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
