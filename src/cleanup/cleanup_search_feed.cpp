#include "cleanup/cleanup_search_feed.h"

#include <utility>

namespace kestrine {

void TCleanupSearchFeed::FolderChanged(const std::string& Folder) {
  std::lock_guard<std::mutex> guard(FLock);
  FPending.Folder = Folder;
}

void TCleanupSearchFeed::Matched(TCleanupMatch Match) {
  std::lock_guard<std::mutex> guard(FLock);
  FPending.Matches.push_back(std::move(Match));
}

TCleanupSearchFeed::TBatch TCleanupSearchFeed::Take() {
  TBatch batch;
  std::lock_guard<std::mutex> guard(FLock);
  std::swap(batch, FPending);
  return batch;
}

}  // namespace kestrine
