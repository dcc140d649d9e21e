// kestrine-cli cat: the bytes of one found file, exactly its size, to standard output.

#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/scan_session.h"
#include "engine/volume/recovery_stream.h"

namespace kestrine::cli {
namespace {

struct TCatOptions {
  std::string Source;
  TScanSourceOptions Scan;
  std::string Path;
};

bool WriteAll(const std::uint8_t* Data, std::size_t Size) {
  while (Size > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    Data += n;
    Size -= static_cast<std::size_t>(n);
  }
  return true;
}

int RunCat(const TCatOptions& O) {
  // "PATH:STREAM" names a named data stream; found names never hold ":".
  const std::size_t colon = O.Path.find(':');
  const std::string path = O.Path.substr(0, colon);
  const std::string streamName = colon == std::string::npos ? std::string() : O.Path.substr(colon + 1);
  TScanSession session;
  TDiskObject* disk = session.OpenScannable(O.Source, O.Scan);
  if (!disk) return kExitFailed;
  session.Scan(disk, TFilter{});
  if (TScanSession::Failed(disk, O.Source)) return kExitFailed;
  PFileInfo item = FindFile(*disk, session.Files(), path);
  if (!item) {
    std::cerr << "kestrine-cli: " << O.Path << ": " << NothingNamed(path, "deleted file") << " on " << O.Source
              << "\n";
    return kExitFailed;
  }
  auto stream = session.Manager().CreateStream(item, streamName);
  if (!stream || stream->Failure()) {
    const std::string why = stream                ? EnglishText(stream->Failure())
                            : streamName.empty() ? "no stream can be read for it"
                                                 : "it has no data stream named " + streamName;
    std::cerr << "kestrine-cli: " << O.Path << ": " << why << "\n";
    return kExitFailed;
  }
  const std::int64_t size = stream->GetSize();
  std::vector<std::uint8_t> buffer(64 * 1024);
  std::int64_t done = 0;
  while (done < size) {
    const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(buffer.size(), size - done));
    const std::uint32_t got = stream->Read(buffer.data(), want);
    if (got == 0) break;
    if (!WriteAll(buffer.data(), got)) {
      std::cerr << "kestrine-cli: writing standard output failed\n";
      return kExitFailed;
    }
    done += got;
  }
  bool whole = true;
  if (done < size) {
    std::cerr << "kestrine-cli: " << O.Path << ": only " << done << " of " << size << " bytes could be read\n";
    whole = false;
  }
  if (const std::optional<TReason> cut = stream->SizeCut()) {
    std::cerr << "kestrine-cli: " << O.Path << ": " << EnglishText(cut) << "\n";
    whole = false;
  }
  return whole ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterCatCommand(CLI::App& App, TCommandAction& Action) {
  auto o = std::make_shared<TCatOptions>();
  auto* cmd = App.add_subcommand("cat", "Write one found deleted file's bytes to standard output");
  cmd->add_option("SOURCE", o->Source, "Image or device path, or a drive letter of the drive list")->required();
  AddScanSourceOptions(*cmd, o->Scan);
  cmd->add_option("PATH", o->Path, "The file's path or #ID as scan shows it; PATH:STREAM for a named stream")->required();
  cmd->callback([o, &Action] { Action = [o] { return RunCat(*o); }; });
}

}  // namespace kestrine::cli
