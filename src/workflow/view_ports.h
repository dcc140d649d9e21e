#pragma once
// What the workflow needs of the views; the window, the command line and tests each supply them.

#include <chrono>
#include <functional>
#include <string>

#include "engine/volume/file_info.h"

namespace kestrine {

// The folder tree: nodes with a caption, a reference to their folder and an image index.
class TTreePort {
 public:
  using TNode = void*;
  virtual ~TTreePort() = default;
  // Parent nil: a top-level node.
  virtual TNode AddNode(TNode Parent, const std::string& Caption, PFileInfo Folder) = 0;
  // Normal and selected image of a node.
  virtual void SetNodeImage(TNode Node, int ImageIndex) = 0;
  virtual void Clear() = 0;
};

// The virtual result list: it holds a row count and asks for rows when it draws them. Row counts set
// from another thread are delivered to the list's own thread by the implementation.
class TListPort {
 public:
  virtual ~TListPort() = default;
  virtual void SetRowCount(int Count) = 0;
  virtual void Clear() = 0;
  virtual void Redraw() = 0;
};

// The progress gauge, 0..100.
class TGaugePort {
 public:
  virtual ~TGaugePort() = default;
  virtual void SetRange(int Min, int Max) = 0;
  virtual void SetPosition(int Position) = 0;
};

// Runs a step on the main thread and returns when it has run (at once when called from it).
//
// A worker that waits on a step must never be left waiting for good, so a port that queues steps
// also offers the two ways out: the main thread runs queued steps while it waits for a worker
// (ProcessQueued), and a port that is shutting down is closed, which drops its pending and later
// steps and releases the workers waiting on them (RunAndWait then returns without the step run).
class TMainThreadPort {
 public:
  virtual ~TMainThreadPort() = default;
  virtual void RunAndWait(const std::function<void()>& Step) = 0;
  // Main thread: runs the steps queued so far, waiting up to Wait for the first. False when the
  // caller cannot be given steps here (the port runs them at once, or this is not the main
  // thread): then it may simply block.
  virtual bool ProcessQueued(std::chrono::milliseconds Wait) {
    (void)Wait;
    return false;
  }
  // Drops pending and later steps and releases their workers. For ports that queue.
  virtual void Close() {}
  // True when a step asked for on the calling thread waits in a queue for the main thread, so a
  // worker does better to gather its steps into fewer.
  virtual bool Queues() const { return false; }
};

// Icon indexes of the result list, by file name or "**FOLDER".
class TIconPort {
 public:
  virtual ~TIconPort() = default;
  virtual int GetIconIndex(const std::string& Name) = 0;
};

}  // namespace kestrine
