#pragma once
// Folders a directory walk has found and not yet shown: a folder joins the result, and is announced,
// only once a file is found in it or below it, so folders holding nothing found stay out of the tree.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

class TDiskScaner;

// What a walked folder's record keeps of its place in the walk.
struct TQueuedFolderInfo : TFsInfo {
  std::vector<std::int32_t> FileIndexes;  // indexes in Disk.Files of the files found directly in it
  bool Pending = true;                    // not yet in Disk.Folders
  // Slot in the queue; -1 once the folder belongs to the result.
  std::int32_t QueueIndex = -1;
  // Announced to the reports; a folder is announced once whatever the views do with it.
  bool Published = false;
};

class TFolderQueue {
 public:
  // The engine's operation names for the debug log's lines about failed allocations.
  struct TLogNames {
    const char* AddDir;
    const char* AddFile;
  };
  TFolderQueue(TDiskScaner& Scanner, TLogNames Names) : FScanner(Scanner), FNames(Names) {}
  TFolderQueue(const TFolderQueue&) = delete;
  TFolderQueue& operator=(const TFolderQueue&) = delete;

  // Queues a folder item (not published); its index, -1 when it could not be queued.
  std::int32_t Add(PFileInfo Item, std::unique_ptr<TQueuedFolderInfo> Info);
  // Gives the file the record, adds it to Disk.Files under Folder, announcing Folder and its
  // ancestors first; its index in Disk.Files, -1 when it could not be added.
  std::int32_t AddFile(PFileInfo Item, std::unique_ptr<TFsInfo> Info, PFileInfo Folder);
  // Frees the records of folders never published and empties the queue.
  void Release();

  PFileInfo Items(std::int32_t Index) const { return FQueue.Items(Index); }
  std::int32_t Count() const { return FQueue.Count(); }

 private:
  void PublishFolderChain(PFileInfo Folder);
  void EnterResult(PFileInfo Folder);
  void Take(PFileInfo Folder);

  TDiskScaner& FScanner;
  TLogNames FNames;
  TDiskItems FQueue;  // the disk's store owns the items
};

}  // namespace kestrine
