// kestrine-cli scan: every deleted file found on a volume, through the filter.

#include <unistd.h>

#include <charconv>
#include <future>
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
  TScanSourceOptions Scan;
  TFilterOptions Filter;
  bool Folders = false;
  std::string Format = "table";
};

template <class T>
void AppendNumber(std::string& Out, T Value) {
  char digits[24];
  Out.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, Value).ptr - digits));
}

void AppendTime(std::string& Out, TFileTime Time) {
  // Digits and ASCII signs only: nothing to escape.
  Out += '"';
  if (AppendIsoUtc(Out, Time))
    Out += '"';
  else
    Out.replace(Out.size() - 1, 1, "null");
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

bool IsNtfsItem(const TFileInfo& Item) {
  return Item.FsInfo && Item.Disk && Item.Disk->FileSystem == TFileSystemKind::Ntfs;
}

std::vector<TNamedStreamInfo> NamedStreams(const TFileInfo& Item) {
  return IsNtfsItem(Item) ? Item.FsInfo->NamedStreams() : std::vector<TNamedStreamInfo>{};
}

// A number, not an optional: GCC 12 takes an optional's value for unset where it is read.
std::int64_t RecordNumber(const TFileInfo& Item) {
  const auto number = Item.FsInfo ? Item.FsInfo->RecordNumber() : std::nullopt;
  return number ? static_cast<std::int64_t>(*number) : -1;
}

// Rows go straight to text: a JSON value per row costs more than the scan on a large volume. Only
// reads the items, so rows can be made on several threads at once, each with its own Times.
template <class TCellWriter>
void AddItemRow(TCellWriter& Writer, const TFileInfo& Item, std::int64_t Id, TLocalTimeText& Times) {
  const std::int64_t record = RecordNumber(Item);
  std::string marks = AttributeLetters(Item.Attributes);
  if (!NamedStreams(Item).empty()) marks += '+';
  // The numbers' texts side by side in one buffer: a string each costs more than its digits.
  char digits[4 * 24];
  char* at = digits;
  const auto number = [&](auto Value, std::string_view Unit = {}) {
    char* const from = at;
    at = std::to_chars(at, digits + sizeof digits, Value).ptr;
    at = std::copy(Unit.begin(), Unit.end(), at);
    return std::string_view(from, static_cast<std::size_t>(at - from));
  };
  const std::string_view id = number(Id), size = number(Item.Size.load());
  const std::string_view status = Item.IsFolder ? std::string_view() : number(Item.Condition, "%");
  const std::string_view recordNo = record >= 0 ? number(record) : std::string_view();
  Writer.AddCells({id, ItemPath(Item), size, status, marks, Times.Text(Item.LastWriteTime), recordNo});
}

// The keys and layout of the array dumped with an indent of 2, appended piece by piece.
void AddItemRow(TJsonWriter& Writer, const TFileInfo& Item, std::int64_t Id, TLocalTimeText&) {
  using namespace std::string_view_literals;
  const bool ntfs = IsNtfsItem(Item);
  const std::vector<TNamedStreamInfo> streams = NamedStreams(Item);
  const std::int64_t record = RecordNumber(Item);
  const bool deleted = Item.IsFolder ? (Item.FsInfo && Item.FsInfo->IsDeleted()) : true;
  std::string& o = Writer.BeginObject();
  o += "{\n    \"id\": "sv;
  AppendNumber(o, Id);
  o += ",\n    \"path\": "sv;
  AppendJsonString(o, ItemPath(Item));
  o += ",\n    \"name\": "sv;
  AppendJsonString(o, Item.Name);
  o += ",\n    \"folder\": "sv;
  o += Item.IsFolder ? "true"sv : "false"sv;
  o += ",\n    \"deleted\": "sv;
  o += deleted ? "true"sv : "false"sv;
  o += ",\n    \"size\": "sv;
  AppendNumber(o, Item.Size.load());
  o += ",\n    \"condition\": "sv;
  AppendNumber(o, Item.Condition);
  o += ",\n    \"attributes\": "sv;
  AppendNumber(o, Item.Attributes);
  o += ",\n    \"modified\": "sv;
  AppendTime(o, Item.LastWriteTime);
  o += ",\n    \"created\": "sv;
  AppendTime(o, Item.CreationTime);
  if (record >= 0) {
    o += ",\n    \"record\": "sv;
    AppendNumber(o, record);
  }
  if (const std::string_view note = Item.FsInfo ? Item.FsInfo->Note() : std::string_view(); !note.empty()) {
    o += ",\n    \"note\": "sv;
    AppendJsonString(o, note);
  }
  if (ntfs) {
    o += ",\n    \"streams\": ["sv;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      o += i ? ",\n      {\n        \"name\": "sv : "\n      {\n        \"name\": "sv;
      AppendJsonString(o, streams[i].Name);
      o += ",\n        \"size\": "sv;
      AppendNumber(o, streams[i].Size);
      o += "\n      }"sv;
    }
    o += streams.empty() ? "]"sv : "\n    ]"sv;
  }
  o += "\n  }"sv;
  Writer.EndObject();
}

// Scans and makes a row of every item listed; false, after saying why, when the volume could not be
// walked.
template <class TWriter>
bool ListItems(TScanSession& Session, TDiskObject& Disk, const TFilter& Filter, const TScanOptions& O, TWriter& Writer) {
  const TItemIds ids(Disk);
  // Files found go out while the scan goes on, made on this thread, which would only wait; not
  // before the scan walks, since until then it may still fail. Listed folders come first, so with
  // them every row waits for the end, as it does on a terminal, where the progress line is drawn.
  const bool early = !O.Folders && ::isatty(STDOUT_FILENO) != 1;
  int listed = 0;
  TLocalTimeText times;
  const auto listFound = [&] {
    if (!Session.Walking()) return;
    for (PFileInfo file : Session.FilesFrom(listed)) AddItemRow(Writer, *file, ids.IdOf(*file), times);
  };
  Session.Scan(&Disk, Filter, early ? listFound : std::function<void()>());
  if (TScanSession::Failed(&Disk, O.Source)) return false;
  if (O.Folders)
    for (PFileInfo folder : Session.Folders()) AddItemRow(Writer, *folder, ids.IdOf(*folder), times);
  const std::vector<PFileInfo> files = Session.FilesFrom(listed);
  std::vector<std::int64_t> fileIds(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) fileIds[i] = ids.IdOf(*files[i]);
  AddRowsOnTwoThreads(Writer, files.size(), [&, times = TLocalTimeText()](TWriter& Part, std::size_t I) mutable {
    AddItemRow(Part, *files[I], fileIds[I], times);
  });
  return true;
}

int RunScan(const TScanOptions& O) {
  const auto filter = BuildCliFilter(O.Filter);
  if (const auto* error = std::get_if<std::string>(&filter)) {
    std::cerr << "kestrine-cli: " << *error << "\n";
    return kExitUsage;
  }
  auto session = std::make_unique<TScanSession>();
  TDiskObject* disk = session->OpenScannable(O.Source, O.Scan);
  if (!disk) return kExitFailed;
  static const std::vector<TColumn> columns = {{"id", "Id", true},          {"path", "Path"},          {"size", "Size", true},
                                               {"status", "Status", true}, {"marks", "Flags"},
                                               {"modified_text", "Modified"}, {"record", "Record", true}};
  const auto list = [&](auto&& Writer) {
    if (!ListItems(*session, *disk, std::get<TFilter>(filter), O, Writer)) return false;
    Writer.Finish();
    return true;
  };
  bool listed = false;
  switch (ParseOutputFormat(O.Format)) {
    case TOutputFormat::Table: listed = list(TTableWriter(std::cout, columns)); break;
    case TOutputFormat::Csv: listed = list(TCsvWriter(std::cout, columns)); break;
    case TOutputFormat::Json: listed = list(TJsonWriter(std::cout)); break;
  }
  if (!listed) return kExitFailed;
  if (session->Interrupted()) std::cerr << "kestrine-cli: scan stopped; the list holds what was found so far\n";
  TScanSession::KeepToTheEnd(std::move(session));
  return kExitOk;
}

}  // namespace

void RegisterScanCommand(CLI::App& App, TCommandAction& Action) {
  auto o = std::make_shared<TScanOptions>();
  auto* cmd = App.add_subcommand("scan", "List the deleted files found on a volume (never writes to it)");
  cmd->add_option("SOURCE", o->Source, "Image or device path, or a drive letter of the drive list")->required();
  AddScanSourceOptions(*cmd, o->Scan);
  AddFilterOptions(*cmd, o->Filter);
  cmd->add_flag("--folders", o->Folders, "Also list the folders that lead to the files");
  cmd->add_option("--format", o->Format, "Output format")->check(CLI::IsMember(kFormatNames));
  cmd->callback([o, &Action] { Action = [o] { return RunScan(*o); }; });
}

}  // namespace kestrine::cli
