// kestrine-cli: scripting and headless front end of the recovery core.

#include <exception>
#include <iostream>

#include "cli/commands.h"
#include "support/debug_log.h"

int main(int argc, char** argv) {
  kestrine::TDebugLogSession log;
  CLI::App app{"Kestrine Pro: find and recover deleted files on FAT, exFAT and NTFS volumes (read-only)."};
  app.set_version_flag("--version", "kestrine-cli " KESTRINE_VERSION);
  app.require_subcommand(1);
  kestrine::cli::TCommandAction action;
  kestrine::cli::RegisterDrivesCommand(app, action);
  kestrine::cli::RegisterScanCommand(app, action);
  kestrine::cli::RegisterCatCommand(app, action);
  kestrine::cli::RegisterCleanupCommand(app, action);
  kestrine::cli::RegisterRecoverCommand(app, action);
  kestrine::cli::RegisterMountCommand(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kestrine::cli::kExitOk : kestrine::cli::kExitUsage;
  }
  if (!action) return kestrine::cli::kExitUsage;
  // Each command builds the drive list once, as the window does at start-up. Commands report their own
  // failures; this only keeps one that slipped through from ending the program with an abort.
  try {
    return action();
  } catch (const std::exception& e) {
    std::cerr << "kestrine-cli: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "kestrine-cli: an unexpected failure ended the command\n";
  }
  return kestrine::cli::kExitFailed;
}
