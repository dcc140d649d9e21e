#pragma once
// The subcommands of kestrine-cli; each registers its options and its action.

#include <functional>

#include <CLI/CLI.hpp>

namespace kestrine::cli {

// Exit statuses, as the field's command-line tools use them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// What the chosen subcommand does; returns the exit status.
using TCommandAction = std::function<int()>;

// Each registers its options; when its subcommand is chosen, its callback sets Action.
void RegisterDrivesCommand(CLI::App& App, TCommandAction& Action);
void RegisterScanCommand(CLI::App& App, TCommandAction& Action);
void RegisterCatCommand(CLI::App& App, TCommandAction& Action);
void RegisterCleanupCommand(CLI::App& App, TCommandAction& Action);
void RegisterRecoverCommand(CLI::App& App, TCommandAction& Action);
void RegisterMountCommand(CLI::App& App, TCommandAction& Action);

}  // namespace kestrine::cli
