#include "workflow/mount_tree.h"

#include <cstring>

#include "engine/volume/recovery_stream.h"
#include "workflow/folder_contents.h"
#include "workflow/output_names.h"
#include "workflow/recovered_form.h"

namespace kestrine {
namespace {

// Numbered names tried for one entry, as a recovery tries them.
constexpr int kMaxNameAttempts = 100000;

}  // namespace

TMountTree::TMountTree(const TDiskItems& Items, TFolderContents& Contents, const TStreamOpener& Open) {
  TMountNode root;
  root.IsFolder = true;
  FNodes.push_back(std::move(root));
  FPending.push_back({0, nullptr, TMountNodeId{0}});
  for (PFileInfo item : Items.Snapshot()) {
    if (!item || FDone.count(item)) continue;
    if (item->IsFolder)
      AddFolderTree(0, item, Contents, Open);
    else
      AddFile(0, item, Open);
  }
  FPending.clear();
  FNextAttempt.clear();
  FDone.clear();
}

std::string TMountTree::Key(TMountNodeId Folder, std::string_view Name) {
  std::string key(sizeof Folder, '\0');
  std::memcpy(key.data(), &Folder, sizeof Folder);
  key += Name;
  return key;
}

std::optional<TMountNodeId> TMountTree::Lookup(TMountNodeId Folder, std::string_view Name) const {
  const auto found = FEntries.find(Key(Folder, Name));
  if (found == FEntries.end()) return std::nullopt;
  return found->second;
}

std::string TMountTree::Path(TMountNodeId Id) const {
  std::string path;
  for (TMountNodeId at = Id; at != 0; at = FNodes[at].Parent)
    path.insert(0, path.empty() ? FNodes[at].Name : FNodes[at].Name + "/");
  return path;
}

void TMountTree::AddFolderTree(std::size_t Parent, PFileInfo Folder, TFolderContents& Contents,
                               const TStreamOpener& Open) {
  // Depth first, a folder's files before its subfolders, with a stack of its own as a recovery walks.
  std::vector<std::pair<PFileInfo, std::size_t>> stack{{Folder, Parent}};
  while (!stack.empty()) {
    const auto [folder, parent] = stack.back();
    stack.pop_back();
    if (!FDone.insert(folder).second) continue;  // also ends a cycle of parents
    const std::size_t pending = FPending.size();
    FPending.push_back({parent, folder, std::nullopt});
    const TFolderContent& content = Contents.Of(folder);
    for (PFileInfo file : content.Files)
      if (!FDone.count(file)) AddFile(pending, file, Open);
    for (auto it = content.Folders.rbegin(); it != content.Folders.rend(); ++it) stack.emplace_back(*it, pending);
  }
}

TMountNodeId TMountTree::Made(std::size_t Pending) {
  TPendingFolder& folder = FPending[Pending];
  if (folder.Made) return *folder.Made;
  const TMountNodeId parent = Made(folder.Parent);
  // A folder of that name is used as it is; a file of that name makes it take a numbered name.
  const std::string name = SafeOutputName(folder.Item->Name);
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string numbered = NumberedOutputName(name, attempt);
    const auto taken = Lookup(parent, numbered);
    if (taken && !FNodes[*taken].IsFolder) continue;
    if (taken) {
      FPending[Pending].Made = *taken;
      return *taken;
    }
    TMountNode node;
    node.Item = folder.Item;
    node.IsFolder = true;
    const TMountNodeId made = AddEntry(parent, numbered, std::move(node));
    FPending[Pending].Made = made;
    return made;
  }
  // Beyond every number: its files go into the folder above it.
  FPending[Pending].Made = parent;
  return parent;
}

TMountNodeId TMountTree::AddEntry(TMountNodeId Folder, const std::string& Name, TMountNode Node) {
  // Numbers already used in this folder are not tried again, so many files of one name cost no more each.
  int& next = FNextAttempt[Key(Folder, Name)];
  for (next = std::max(next, 1);; ++next) {
    std::string numbered = NumberedOutputName(Name, next);
    if (Lookup(Folder, numbered)) continue;
    ++next;
    const auto id = static_cast<TMountNodeId>(FNodes.size());
    Node.Name = std::move(numbered);
    Node.Parent = Folder;
    FEntries.emplace(Key(Folder, Node.Name), id);
    FNodes[Folder].Children.push_back(id);
    FNodes.push_back(std::move(Node));
    return id;
  }
}

void TMountTree::AddFile(std::size_t Folder, PFileInfo Item, const TStreamOpener& Open) {
  if (!FDone.insert(Item).second) return;
  // The raw form's name holds only while the stream can build it.
  if (IsStoredEncrypted(*Item)) Open(Item, {});
  const TMountNodeId folder = Made(Folder);
  TMountNode main;
  main.Item = Item;
  const TMountNodeId file = AddEntry(folder, RecoveredFileName(*Item), std::move(main));
  if (!Item->FsInfo) return;
  // Beside the file, as a destination that keeps named streams gets them.
  for (const TNamedStreamInfo& stream : Item->FsInfo->NamedStreams()) {
    TMountNode node;
    node.Item = Item;
    node.Stream = stream.Name;
    AddEntry(folder, FNodes[file].Name + ":" + SafeOutputName(stream.Name), std::move(node));
  }
}

}  // namespace kestrine
