// kestrine-cli recover: found deleted files and folders written into a destination folder.

#include <openssl/evp.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

#include "cli/commands.h"
#include "cli/filter_options.h"
#include "cli/output.h"
#include "cli/scan_session.h"
#include "engine/volume/disk_object.h"
#include "platform/device_identity.h"

namespace kestrine::cli {
namespace {

struct TRecoverOptions {
  std::string Source;
  std::string Out;
  std::vector<std::string> Paths;
  bool All = false;
  bool Force = false;
  std::string Report;
  TFilterOptions Filter;
};

std::atomic<bool> gStopAsked{false};
extern "C" void OnRecoverInterrupt(int) { gStopAsked.store(true); }

// Ctrl-C stops the recovery after the block being copied, for as long as it lives.
class TInterruptScope {
 public:
  TInterruptScope() {
    gStopAsked = false;
    struct sigaction action {};
    action.sa_handler = OnRecoverInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &FPrevious);
  }
  ~TInterruptScope() { ::sigaction(SIGINT, &FPrevious, nullptr); }
  TInterruptScope(const TInterruptScope&) = delete;
  TInterruptScope& operator=(const TInterruptScope&) = delete;

 private:
  struct sigaction FPrevious {};
};

std::string NormalisedPath(std::string Path) {
  while (Path.starts_with('/')) Path.erase(0, 1);
  while (Path.ends_with('/')) Path.pop_back();
  return Path;
}

bool IsVolumeRoot(const TFileInfo& Folder) {
  return Folder.Parent == nullptr && Folder.Disk && Folder.Name == RootFolderName(*Folder.Disk);
}

// Everything found: the root folder's own files and subfolders go straight into the destination;
// folders whose place is unknown come beside them.
TDiskItems AllItems(TDiskObject& Disk, const std::vector<PFileInfo>& Files) {
  TDiskItems items;
  const std::vector<PFileInfo> folders = Disk.Folders.Snapshot();
  for (PFileInfo folder : folders)
    if (folder && (folder->Parent == nullptr ? !IsVolumeRoot(*folder) : IsVolumeRoot(*folder->Parent)))
      items.Add(folder);
  for (PFileInfo file : Files)
    if (file->Parent == nullptr || IsVolumeRoot(*file->Parent)) items.Add(file);
  return items;
}

// The named items: files that pass the filter and folders, by their path as scan shows it. Every
// item of a path is taken (a deleted file and a deleted folder may share one). False when a path
// names nothing.
bool NamedItems(TDiskObject& Disk, const std::vector<PFileInfo>& Files, const std::vector<std::string>& Paths,
                TDiskItems& Items) {
  std::multimap<std::string, PFileInfo> byPath;
  for (PFileInfo folder : Disk.Folders.Snapshot())
    if (folder) byPath.emplace(IsVolumeRoot(*folder) ? std::string() : ItemPath(*folder), folder);
  for (PFileInfo file : Files) byPath.emplace(ItemPath(*file), file);
  bool allFound = true;
  for (const std::string& path : Paths) {
    const std::string key = NormalisedPath(path);
    auto [from, to] = byPath.equal_range(key);
    if (from == to) {
      std::cerr << "kestrine-cli: " << path << ": no deleted file or folder of that path was found\n";
      allFound = false;
    }
    for (; from != to; ++from) {
      PFileInfo item = from->second;
      // The root holds everything: its contents go straight into the destination.
      if (item->IsFolder && IsVolumeRoot(*item)) {
        const TDiskItems all = AllItems(Disk, Files);
        for (PFileInfo i : all.Snapshot()) Items.Add(i);
      } else {
        Items.Add(item);
      }
    }
  }
  return allFound;
}

std::string Sha256OfFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return {};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
  std::vector<char> buffer(256 * 1024);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.gcount() > 0 && EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(in.gcount())) != 1)
      return {};
  }
  if (in.bad()) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
  static const char* kHex = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
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
                    {"sha256", written ? Sha256OfFile(r.Destination) : std::string()},
                    {"reason", r.Reason}});
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
  std::int64_t files = 0, bytes = 0;
  std::vector<const TRecoveryRecord*> partial, skipped, notes;
  for (const TRecoveryRecord& r : Records) {
    if (r.Outcome == TRecoveryOutcome::Written) {
      ++files;
      bytes += r.Size;
      if (!r.Reason.empty()) notes.push_back(&r);
    } else {
      (r.Outcome == TRecoveryOutcome::Partial ? partial : skipped).push_back(&r);
    }
  }
  std::cout << "Recovered " << files << (files == 1 ? " file" : " files") << " (" << bytes << " bytes) into " << Out
            << "\n";
  const auto list = [](const char* Heading, const std::vector<const TRecoveryRecord*>& Items) {
    if (Items.empty()) return;
    std::cout << Heading << " " << Items.size() << ":\n";
    for (const TRecoveryRecord* r : Items) std::cout << "  " << ItemPath(*r->Item) << ": " << r->Reason << "\n";
  };
  list("Written incompletely", partial);
  list("Skipped", skipped);
  list("Written with notes", notes);
  if (Stopped) std::cout << "Recovery was stopped; the items after the last one listed were not written.\n";
}

// Runs the job to its end, drawing progress on stderr while it is a terminal.
void RunJob(TRecoveryJob& Job) {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  TInterruptScope interrupt;
  Job.Start();
  bool drawn = false, stopAsked = false;
  auto lastDrawn = std::chrono::steady_clock::time_point{};
  while (!Job.Finished()) {
    if (gStopAsked && !stopAsked) {
      Job.Terminate();
      stopAsked = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (terminal && now - lastDrawn >= std::chrono::milliseconds(200)) {
      std::fprintf(stderr, "\rrecovering: %lld files, %lld MiB", static_cast<long long>(Job.FilesDone()),
                   static_cast<long long>(Job.BytesDone() >> 20));
      drawn = true;
      lastDrawn = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Job.WaitFor();
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
  // Writing onto the volume being recovered overwrites the very clusters that hold deleted data.
  const auto refused = [&O](const std::string& SourcePath) {
    if (O.Force || !platform::DestinationOnSource(O.Out, SourcePath)) return false;
    std::cerr << "kestrine-cli: " << O.Out << ": lies on the device " << O.Source
              << " is read from; writing there can overwrite the deleted files (--force writes anyway)\n";
    return true;
  };
  // A path is checked before anything is read; a drive letter once the drive list has named its source.
  if (std::filesystem::exists(O.Source) && refused(O.Source)) return kExitFailed;
  TScanSession session;
  TDiskObject* disk = session.OpenScannable(O.Source);
  if (!disk || refused(disk->SourcePath)) return kExitFailed;
  std::error_code ec;
  std::filesystem::create_directories(O.Out, ec);
  if (ec || !std::filesystem::is_directory(O.Out)) {
    std::cerr << "kestrine-cli: " << O.Out << ": cannot be used as the destination folder"
              << (ec ? ": " + ec.message() : std::string()) << "\n";
    return kExitFailed;
  }
  session.Scan(disk, std::get<TFilter>(filter));
  if (session.Interrupted()) {
    std::cerr << "kestrine-cli: scan stopped; nothing was recovered\n";
    return kExitFailed;
  }
  const std::vector<PFileInfo> files = session.Files();
  TDiskItems items;
  bool ok = true;
  if (O.All)
    items = AllItems(*disk, files);
  else
    ok = NamedItems(*disk, files, O.Paths, items);

  std::unique_ptr<TRecoveryJob> job = session.Manager().RecoverItems(items);
  if (!job) {
    std::cerr << "kestrine-cli: recovery could not be started\n";
    return kExitFailed;
  }
  job->SetDestination(O.Out);
  RunJob(*job);
  const std::vector<TRecoveryRecord> records = job->Records();
  PrintSummary(records, O.Out, gStopAsked);
  if (!O.Report.empty() && !WriteReport(O.Report, records)) {
    std::cerr << "kestrine-cli: " << O.Report << ": the report could not be written\n";
    ok = false;
  }
  for (const TRecoveryRecord& r : records) ok = ok && r.Outcome == TRecoveryOutcome::Written;
  return ok && !gStopAsked ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterRecoverCommand(CLI::App& App, TCommandAction& Action) {
  auto o = std::make_shared<TRecoverOptions>();
  auto* cmd = App.add_subcommand(
      "recover", "Write found deleted files and folders into a folder (exit 1 when any could not be written whole)");
  cmd->add_option("SOURCE", o->Source, "Image or device path, or a drive letter of the drive list")->required();
  cmd->add_option("PATH", o->Paths, "Files and folders as scan shows them; a folder brings its files and subfolders");
  cmd->add_option("--out", o->Out, "Destination folder (made when missing); existing files are never replaced")
      ->required();
  cmd->add_flag("--all", o->All, "Recover every deleted file found, as the folder tree");
  AddFilterOptions(*cmd, o->Filter);
  cmd->add_option("--report", o->Report, "Write one row per item to FILE (.csv or .json), with SHA-256 digests");
  cmd->add_flag("--force", o->Force, "Write even when the destination lies on the source device");
  cmd->callback([o, &Action] { Action = [o] { return RunRecover(*o); }; });
}

}  // namespace kestrine::cli
