#pragma once
// A main-thread port that queues the steps of other threads until the main thread runs them.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "workflow/view_ports.h"

namespace kestrine {

// The thread that creates the queue is its main thread. A window hands it a wake-up that posts
// itself a call of ProcessQueued; a test pumps it by hand, or not at all.
class TMainThreadQueue final : public TMainThreadPort {
 public:
  TMainThreadQueue();
  // Closes the queue: no worker may be left waiting on a port that is gone.
  ~TMainThreadQueue() override;
  TMainThreadQueue(const TMainThreadQueue&) = delete;
  TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

  // On the main thread the step runs at once; elsewhere it is queued and the caller waits until it
  // has run, or until the queue closes with the step still pending (then it never runs).
  void RunAndWait(const std::function<void()>& Step) override;
  bool ProcessQueued(std::chrono::milliseconds Wait) override;
  // A step already running finishes, and its worker is released only then.
  void Close() override;

  bool Queues() const override { return std::this_thread::get_id() != FMain; }

  bool Closed() const;
  std::size_t Pending() const;
  // Called on the queuing thread after each step it queues; must not wait for the main thread.
  void SetOnQueued(std::function<void()> Wake);

 private:
  enum class TState { Queued, Running, Done, Dropped };
  struct TEntry {
    const std::function<void()>* Step;
    TState State = TState::Queued;
  };

  const std::thread::id FMain;
  mutable std::mutex FLock;
  std::condition_variable FQueued;
  std::condition_variable FSettled;
  std::deque<std::shared_ptr<TEntry>> FEntries;
  bool FClosed = false;
  int FWaiting = 0;
  std::function<void()> FOnQueued;
};

}  // namespace kestrine
