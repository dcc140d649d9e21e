#include "workflow/mount_files.h"

#include <algorithm>
#include <cstring>

#include "engine/volume/recovery_stream.h"
#include "workflow/recovered_form.h"

namespace kestrine {
namespace {

// Readers kept, each with its stream and its volume handle.
constexpr std::size_t kKeptReaders = 64;
// Where a stream cannot read, zeros go to the next sector boundary, and reading is tried again there.
constexpr std::int64_t kUnreadableStep = 512;
constexpr std::uint32_t kMaxReadPiece = std::uint32_t{1} << 30;

// What the volume records of the node's length, before any cut.
std::int64_t RecordedSize(const TMountNode& Node) {
  if (Node.Stream.empty()) return Node.Item->Size.load();
  for (const TNamedStreamInfo& s : Node.Item->FsInfo->NamedStreams())
    if (s.Name == Node.Stream) return s.Size;
  return 0;
}

}  // namespace

TMountReader::TMountReader(TMountFiles& Files, TMountNodeId Node, std::unique_ptr<TRecoveryStream> Stream,
                           std::int64_t Size)
    : FFiles(Files), FNode(Node), FStream(std::move(Stream)), FSize(Size) {}

TMountReader::~TMountReader() = default;

std::size_t TMountReader::ReadAt(std::int64_t Offset, std::uint8_t* Buffer, std::size_t Count) {
  std::lock_guard lock(FLock);
  if (Offset < 0 || Offset >= FSize) return 0;
  const std::int64_t end = Offset + static_cast<std::int64_t>(std::min<std::size_t>(Count, FSize - Offset));
  std::int64_t at = Offset;
  while (at < end) {
    std::uint8_t* out = Buffer + (at - Offset);
    std::uint32_t got = 0;
    if (FStream) {
      // Streams find an offset from their runs or their cluster chain: a seek reads nothing.
      if (FStream->Position() != at) FStream->Seek(at, TSeekOrigin::Beginning);
      got = FStream->Read(out, static_cast<std::uint32_t>(std::min<std::int64_t>(end - at, kMaxReadPiece)));
    }
    if (got == 0) {
      const std::int64_t zeros = std::min(end, (at / kUnreadableStep + 1) * kUnreadableStep) - at;
      std::memset(out, 0, static_cast<std::size_t>(zeros));
      FFiles.NotePartial(FNode, EnglishText(TReason{TReasonId::ReadShort, {std::to_string(at), std::to_string(FSize)}}));
      got = static_cast<std::uint32_t>(zeros);
      if (FStream) FStream->Seek(at + zeros, TSeekOrigin::Beginning);
    }
    at += got;
  }
  return static_cast<std::size_t>(end - Offset);
}

TMountFiles::TMountFiles(const TMountTree& Tree, TStreamOpener Open)
    : FTree(Tree), FOpen(std::move(Open)), FStates(std::make_unique<TFileState[]>(Tree.Count())) {}

std::int64_t TMountFiles::Learn(TMountNodeId Node, const TRecoveryStream* Stream) {
  std::atomic<std::int64_t>& size = FStates[Node].Size;
  if (const std::int64_t known = size.load(); known >= 0) return known;
  const TMountNode& node = FTree.Node(Node);
  std::int64_t learnt = 0;
  if (!Stream || Stream->Failure()) {
    // Nothing of it can be read: an empty file that says why.
    NotePartial(Node, Stream ? EnglishText(Stream->Failure()) : EnglishText(TReason{TReasonId::DataUnreadable}));
  } else {
    learnt = node.Stream.empty() ? RecoveredLength(*node.Item, *Stream) : Stream->GetSize();
    if (const std::optional<TReason> cut = Stream->SizeCut()) NotePartial(Node, EnglishText(cut));
  }
  std::int64_t unknown = -1;
  return size.compare_exchange_strong(unknown, learnt) ? learnt : unknown;
}

std::int64_t TMountFiles::Size(TMountNodeId Node) {
  if (FTree.Node(Node).IsFolder) return 0;
  if (const std::int64_t known = FStates[Node].Size.load(); known >= 0) return known;
  Reader(Node);
  return FStates[Node].Size.load();
}

std::shared_ptr<TMountReader> TMountFiles::Reader(TMountNodeId Node) {
  const TMountNode& node = FTree.Node(Node);
  if (node.IsFolder) return nullptr;
  const auto kept = [this, Node] {
    const auto at = std::find_if(FKept.begin(), FKept.end(), [Node](const auto& K) { return K.first == Node; });
    std::shared_ptr<TMountReader> reader;
    if (at != FKept.end()) {
      reader = at->second;
      FKept.erase(at);
      FKept.emplace_back(Node, reader);
    }
    return reader;
  };
  {
    std::lock_guard lock(FLock);
    if (auto reader = kept()) return reader;
  }
  // Opened outside the lock: other files are read meanwhile.
  std::unique_ptr<TRecoveryStream> stream = FOpen(node.Item, node.Stream);
  const std::int64_t size = Learn(Node, stream.get());
  auto reader = std::make_shared<TMountReader>(*this, Node, std::move(stream), size);
  std::lock_guard lock(FLock);
  if (auto other = kept()) return other;
  FKept.emplace_back(Node, reader);
  if (FKept.size() > kKeptReaders) FKept.pop_front();
  return reader;
}

void TMountFiles::NotePartial(TMountNodeId Node, const std::string& Why) {
  std::lock_guard lock(FLock);
  if (!FStates[Node].Partial) FStates[Node].Partial = Why;
}

std::optional<std::string> TMountFiles::Partial(TMountNodeId Node) {
  std::lock_guard lock(FLock);
  return FStates[Node].Partial;
}

std::vector<std::pair<std::string, std::string>> TMountFiles::Attributes(TMountNodeId Node) {
  const TMountNode& node = FTree.Node(Node);
  std::vector<std::pair<std::string, std::string>> attributes;
  if (node.IsFolder || !node.Item) return attributes;
  const std::int64_t size = Size(Node);
  if (node.Stream.empty() && node.Item->FsInfo) {
    std::string names;
    for (const TNamedStreamInfo& s : node.Item->FsInfo->NamedStreams()) names += (names.empty() ? "" : "\n") + s.Name;
    if (!names.empty()) attributes.emplace_back(kStreamsAttribute, names);
  }
  attributes.emplace_back(kConditionAttribute, std::to_string(node.Item->Condition));
  if (const std::int64_t recorded = RecordedSize(node); recorded != size)
    attributes.emplace_back(kRecordedSizeAttribute, std::to_string(recorded));
  if (std::optional<std::string> why = Partial(Node)) attributes.emplace_back(kPartialAttribute, std::move(*why));
  return attributes;
}

}  // namespace kestrine
