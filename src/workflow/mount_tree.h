#pragma once
// The found items as a read-only file system shows them: the tree a recovery of everything would
// write, with the same names, built once in memory.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

class TFolderContents;
class TRecoveryStream;

// A node's place in the tree; the root is 0.
using TMountNodeId = std::uint32_t;

struct TMountNode {
  std::string Name;                    // as its folder shows it
  PFileInfo Item = nullptr;            // nil for the root
  std::string Stream;                  // the named data stream of Item it shows; empty for the main data
  TMountNodeId Parent = 0;
  bool IsFolder = false;
  std::vector<TMountNodeId> Children;  // in the order a recovery writes them
};

// Opens a recovery stream of Item: its main data for an empty name; nil when there is none.
using TStreamOpener = std::function<std::unique_ptr<TRecoveryStream>(PFileInfo Item, const std::string& StreamName)>;

class TMountTree {
 public:
  // Items as a recovery takes them (SelectAllItems); Contents gives what each folder holds. Open is
  // asked only for encrypted files, whose name depends on whether the raw form can be built.
  TMountTree(const TDiskItems& Items, TFolderContents& Contents, const TStreamOpener& Open);

  std::size_t Count() const { return FNodes.size(); }
  const TMountNode& Node(TMountNodeId Id) const { return FNodes[Id]; }
  // The entry Name of the folder; none when it holds no such entry.
  std::optional<TMountNodeId> Lookup(TMountNodeId Folder, std::string_view Name) const;
  // Its names from the root on, joined by "/".
  std::string Path(TMountNodeId Id) const;

 private:
  // A folder of the walk; made in the tree only once a file goes into it, as a recovery makes it.
  struct TPendingFolder {
    std::size_t Parent = 0;  // index of the pending folder it lies in
    PFileInfo Item = nullptr;
    std::optional<TMountNodeId> Made;
  };

  void AddFolderTree(std::size_t Parent, PFileInfo Folder, TFolderContents& Contents, const TStreamOpener& Open);
  void AddFile(std::size_t Folder, PFileInfo Item, const TStreamOpener& Open);
  TMountNodeId Made(std::size_t Pending);
  // A new entry of Folder under the first numbered form of Name that is free.
  TMountNodeId AddEntry(TMountNodeId Folder, const std::string& Name, TMountNode Node);
  static std::string Key(TMountNodeId Folder, std::string_view Name);

  std::vector<TMountNode> FNodes;
  std::unordered_map<std::string, TMountNodeId> FEntries;  // folder id and name → entry
  std::unordered_map<std::string, int> FNextAttempt;      // numbers already taken, as a recovery skips them
  std::vector<TPendingFolder> FPending;
  std::unordered_set<const TFileInfo*> FDone;
};

}  // namespace kestrine
