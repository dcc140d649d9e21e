#pragma once
// The files of a mount: their sizes and extended attributes as a recovery would write them, and
// readers at any offset through the recovery streams. Several threads use it at once.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workflow/mount_tree.h"

namespace kestrine {

class TMountFiles;

// A file's stream, read at any offset. Reads of one reader wait for each other.
class TMountReader {
 public:
  TMountReader(TMountFiles& Files, TMountNodeId Node, std::unique_ptr<TRecoveryStream> Stream, std::int64_t Size);
  ~TMountReader();
  TMountReader(const TMountReader&) = delete;
  TMountReader& operator=(const TMountReader&) = delete;

  // Up to Count bytes from Offset, never past the file's size; bytes the stream cannot read are zeros.
  std::size_t ReadAt(std::int64_t Offset, std::uint8_t* Buffer, std::size_t Count);

 private:
  TMountFiles& FFiles;
  TMountNodeId FNode;
  std::mutex FLock;
  std::unique_ptr<TRecoveryStream> FStream;
  std::int64_t FSize;
};

class TMountFiles {
 public:
  TMountFiles(const TMountTree& Tree, TStreamOpener Open);

  const TMountTree& Tree() const { return FTree; }
  // The bytes a recovery writes of a file node; 0 for a folder. The first ask opens the file's stream.
  std::int64_t Size(TMountNodeId Node);
  // Names and values of the node's extended attributes.
  std::vector<std::pair<std::string, std::string>> Attributes(TMountNodeId Node);
  // The reader of a file node, shared by everyone reading it while it is kept; nil for a folder.
  std::shared_ptr<TMountReader> Reader(TMountNodeId Node);

  // Why the node's bytes are not all there; the first reason given stays.
  void NotePartial(TMountNodeId Node, const std::string& Why);

  static constexpr const char* kStreamsAttribute = "user.kestrine.streams";
  static constexpr const char* kConditionAttribute = "user.kestrine.condition";
  static constexpr const char* kPartialAttribute = "user.kestrine.partial";
  static constexpr const char* kRecordedSizeAttribute = "user.kestrine.recorded_size";

 private:
  struct TFileState {
    std::atomic<std::int64_t> Size{-1};  // unknown until asked
    std::optional<std::string> Partial;  // under FLock
  };

  // Learns the node's size from Stream, once.
  std::int64_t Learn(TMountNodeId Node, const TRecoveryStream* Stream);
  std::optional<std::string> Partial(TMountNodeId Node);

  const TMountTree& FTree;
  TStreamOpener FOpen;
  std::unique_ptr<TFileState[]> FStates;
  std::mutex FLock;
  // Readers of the files read or looked at last, the least recently used first: a copy looks at a
  // folder's files before it reads them, and reads a file in several pieces.
  std::deque<std::pair<TMountNodeId, std::shared_ptr<TMountReader>>> FKept;
};

}  // namespace kestrine
