// kestrine-cli: scripting and headless front end of the recovery core.

#include <iostream>

#include "cli/commands.h"
#include "engine/volume/recovery_manager.h"
#include "workflow/debug_log.h"

int main(int argc, char** argv) {
  kestrine::TDebugLogSession log;
  CLI::App app{"Kestrine Pro: find and recover deleted files on FAT and NTFS volumes (read-only)."};
  app.require_subcommand(1);
  kestrine::cli::TCommandAction action;
  kestrine::cli::RegisterDrivesCommand(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kestrine::cli::kExitOk : kestrine::cli::kExitUsage;
  }
  // The drive list is built once, before the command runs, as the window does at start-up.
  kestrine::TRecoveryManagerScope manager;
  return action ? action() : kestrine::cli::kExitUsage;
}
