#pragma once
// The FUSE side of kestrine-cli mount: hands the kernel's requests to the mount's files, refuses
// every change.

#include <functional>
#include <string>

#include "workflow/mount_files.h"

namespace kestrine::cli {

struct TFuseMountOptions {
  std::string Folder;
  std::string Source;       // shown as the mount's file system name
  bool AllowOther = false;  // other users may read it too
  bool DirectIo = false;    // every read comes here, past the kernel's page cache
};

// Why a mount at Folder cannot be made, in words for one line; empty when it can be tried.
std::string MountFolderProblem(const std::string& Folder);

// Mounts, runs OnMounted, and serves reads on several threads until the folder is unmounted or
// Ctrl-C; false with Error set when the mount could not be made or the loop failed.
bool ServeMount(TMountFiles& Files, const TFuseMountOptions& Options, const std::function<void()>& OnMounted,
                std::string& Error);

}  // namespace kestrine::cli
