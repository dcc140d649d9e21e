#pragma once
// What a running cleanup search reports, carried from the search thread to the thread that shows it,
// in the order reported. The search thread only appends under a short lock and never waits for the
// reader, which takes everything at its own pace.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "cleanup/disk_cleanup.h"

namespace kestrine {

class TCleanupSearchFeed {
 public:
  struct TBatch {
    std::vector<TCleanupMatch> Matches;  // in the order found
    std::string Folder;                  // the last folder entered; empty when none was
  };

  // Search thread.
  void FolderChanged(const std::string& Folder);
  void Matched(TCleanupMatch Match);

  // Reader: everything reported since the last Take.
  TBatch Take();

 private:
  std::mutex FLock;
  TBatch FPending;
};

}  // namespace kestrine
