// kestrine-cli recover: found deleted files and folders written into a destination folder.

#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/filter_options.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/scan_session.h"
#include "engine/volume/disk_object.h"
#include "support/hex_digits.h"
#include "workflow/item_selection.h"
#include "workflow/recovery_summary.h"
#include "workflow/job_control.h"
#include "workflow/recovery_destination.h"

namespace kestrine::cli {
namespace {

struct TRecoverOptions {
  std::string Source;
  TScanSourceOptions Scan;
  std::string Out;
  std::vector<std::string> Paths;
  bool All = false;
  bool Force = false;
  std::string Report;
  TFilterOptions Filter;
};

// The hash of the file the recovery wrote, read back only while it is that very file.
std::string Sha256OfWritten(const TRecoveryRecord& Record) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
  const bool read = platform::ReadBack(Record.Destination, Record.Identity, [&](const std::uint8_t* Data, std::size_t Count) {
    return EVP_DigestUpdate(ctx.get(), Data, Count) == 1;
  });
  if (!read) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) AppendHexByte(hex, digest[i]);
  return hex;
}

const char* OutcomeName(TRecoveryOutcome Outcome) {
  switch (Outcome) {
    case TRecoveryOutcome::Written: return "written";
    case TRecoveryOutcome::Partial: return "partial";
    case TRecoveryOutcome::Skipped: return "skipped";
  }
  return "";
}

bool WriteReport(const std::string& File, const std::vector<TRecoveryRecord>& Records) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const TRecoveryRecord& r : Records) {
    const bool written = r.Outcome != TRecoveryOutcome::Skipped;
    rows.push_back({{"source", ItemPath(*r.Item)},
                    {"destination", r.Destination},
                    {"size", written ? nlohmann::ordered_json(r.Size) : nlohmann::ordered_json(r.Item->Size.load())},
                    {"condition", r.Item->IsFolder ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.Item->Condition)},
                    {"outcome", OutcomeName(r.Outcome)},
                    {"sha256", written ? Sha256OfWritten(r) : std::string()},
                    {"reason", r.Reason()}});
  }
  std::ofstream out(File, std::ios::binary | std::ios::trunc);
  static const std::vector<TColumn> columns = {{"source", "Source"},       {"destination", "Destination"},
                                               {"size", "Size"},           {"condition", "Condition"},
                                               {"outcome", "Outcome"},     {"sha256", "SHA-256"},
                                               {"reason", "Reason"}};
  WriteRows(out, File.ends_with(".json") ? TOutputFormat::Json : TOutputFormat::Csv, columns, rows);
  out.close();
  return static_cast<bool>(out);
}

void PrintSummary(const std::vector<TRecoveryRecord>& Records, const std::string& Out, bool Stopped) {
  const TRecoverySummary summary = SummarizeRecovery(Records);
  const std::int64_t files = summary.Written, bytes = summary.Bytes;
  const auto& partial = summary.Partial;
  const auto& skipped = summary.Skipped;
  const auto& notes = summary.Notes;
  std::cout << "Recovered " << files << (files == 1 ? " file" : " files") << " (" << bytes << " bytes) into " << Out
            << "\n";
  const auto list = [](const char* Heading, const std::vector<const TRecoveryRecord*>& Items) {
    if (Items.empty()) return;
    std::cout << Heading << " " << Items.size() << ":\n";
    for (const TRecoveryRecord* r : Items)
      std::cout << "  " << EscapeControls(ItemPath(*r->Item)) << ": " << EscapeControls(r->Reason()) << "\n";
  };
  list("Written incompletely", partial);
  list("Skipped", skipped);
  list("Written with notes", notes);
  if (Stopped) std::cout << "Recovery was stopped; the items after the last one listed were not written.\n";
}

// Runs the job to its end, drawing progress on stderr while it is a terminal. Ctrl-C raises Stop,
// which ends the job after the block being copied.
void RunJob(TRecoveryJob& Job, TStopRequest& Stop) {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  TInterruptScope interrupt(Stop);
  Job.Start();
  bool drawn = false;
  const auto draw = [&] {
    std::fprintf(stderr, "\rrecovering: %lld files, %lld MiB", static_cast<long long>(Job.FilesDone()),
                 static_cast<long long>(Job.BytesDone() >> 20));
    drawn = true;
  };
  WaitForJob(Job, nullptr, &Stop, terminal ? std::function<void()>(draw) : std::function<void()>());
  if (drawn) std::fputs("\r\033[K", stderr);
}

int RunRecover(const TRecoverOptions& O) {
  const auto filter = BuildCliFilter(O.Filter);
  if (const auto* error = std::get_if<std::string>(&filter)) {
    std::cerr << "kestrine-cli: " << *error << "\n";
    return kExitUsage;
  }
  if (O.All == !O.Paths.empty()) {
    std::cerr << "kestrine-cli: recover: name the files and folders to recover, or give --all (not both)\n";
    return kExitUsage;
  }
  if (!O.Report.empty() && !O.Report.ends_with(".csv") && !O.Report.ends_with(".json")) {
    std::cerr << "kestrine-cli: " << O.Report << ": the report is written as .csv or .json\n";
    return kExitUsage;
  }
  const auto refused = [&O](const std::string& SourcePath) {
    if (!DestinationRefused(O.Out, SourcePath, O.Force)) return false;
    std::cerr << "kestrine-cli: " << O.Out << ": lies on the device " << O.Source
              << " is read from; writing there can overwrite the deleted files (--force writes anyway)\n";
    return true;
  };
  // A path is checked before anything is read; a drive letter once the drive list has named its source.
  // A path that cannot even be looked at (a link loop, a name too long, a folder not searchable) is
  // left to the open below, which says why in one line.
  std::error_code sourceError;
  if (std::filesystem::exists(O.Source, sourceError) && refused(O.Source)) return kExitFailed;
  TScanSession session;
  TDiskObject* disk = session.OpenScannable(O.Source, O.Scan);
  if (!disk || refused(disk->SourcePath)) return kExitFailed;
  std::error_code ec;
  std::filesystem::create_directories(O.Out, ec);
  if (ec || !std::filesystem::is_directory(O.Out, ec)) {
    std::cerr << "kestrine-cli: " << O.Out << ": cannot be used as the destination folder"
              << (ec ? ": " + ec.message() : std::string()) << "\n";
    return kExitFailed;
  }
  session.Scan(disk, std::get<TFilter>(filter));
  if (TScanSession::Failed(disk, O.Source)) return kExitFailed;
  if (session.Interrupted()) {
    std::cerr << "kestrine-cli: scan stopped; nothing was recovered\n";
    return kExitFailed;
  }
  const std::vector<PFileInfo> files = session.Files();
  TDiskItems items;
  bool ok = true;
  if (O.All) {
    items = SelectAllItems(*disk, files);
  } else {
    for (const std::string& path : SelectItemsByPath(*disk, files, O.Paths, items)) {
      std::cerr << "kestrine-cli: " << path << ": " << NothingNamed(path, "deleted file or folder") << "\n";
      ok = false;
    }
  }

  std::unique_ptr<TRecoveryJob> job = session.Manager().RecoverItems(items);
  if (!job) {
    std::cerr << "kestrine-cli: recovery could not be started\n";
    return kExitFailed;
  }
  job->SetDestination(O.Out);
  TStopRequest stop;
  RunJob(*job, stop);
  const std::vector<TRecoveryRecord> records = job->Records();
  PrintSummary(records, O.Out, stop.Requested());
  if (!O.Report.empty() && !WriteReport(O.Report, records)) {
    std::cerr << "kestrine-cli: " << O.Report << ": the report could not be written\n";
    ok = false;
  }
  for (const TRecoveryRecord& r : records) ok = ok && r.Outcome == TRecoveryOutcome::Written;
  return ok && !stop.Requested() ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterRecoverCommand(CLI::App& App, TCommandAction& Action) {
  auto o = std::make_shared<TRecoverOptions>();
  auto* cmd = App.add_subcommand(
      "recover", "Write found deleted files and folders into a folder (exit 1 when any could not be written whole)");
  cmd->add_option("SOURCE", o->Source, "Image or device path, or a drive letter of the drive list")->required();
  AddScanSourceOptions(*cmd, o->Scan);
  cmd->add_option("PATH", o->Paths, "Files and folders as scan shows them, by path or #ID; a folder brings its files and subfolders");
  cmd->add_option("--out", o->Out, "Destination folder (made when missing); existing files are never replaced")
      ->required();
  cmd->add_flag("--all", o->All, "Recover every deleted file found, as the folder tree");
  AddFilterOptions(*cmd, o->Filter);
  cmd->add_option("--report", o->Report, "Write one row per item to FILE (.csv or .json), with SHA-256 digests");
  cmd->add_flag("--force", o->Force, "Write even when the destination lies on the source device");
  cmd->callback([o, &Action] { Action = [o] { return RunRecover(*o); }; });
}

}  // namespace kestrine::cli
