#include "workflow/main_thread_queue.h"

namespace kestrine {

TMainThreadQueue::TMainThreadQueue() : FMain(std::this_thread::get_id()) {}

TMainThreadQueue::~TMainThreadQueue() {
  Close();
  // Released workers still hold the lock for a moment; the queue goes only after they left.
  std::unique_lock lock(FLock);
  FSettled.wait(lock, [this] { return FWaiting == 0; });
}

void TMainThreadQueue::RunAndWait(const std::function<void()>& Step) {
  if (std::this_thread::get_id() == FMain) {
    Step();
    return;
  }
  auto entry = std::make_shared<TEntry>(TEntry{&Step});
  std::function<void()> wake;
  {
    std::lock_guard lock(FLock);
    if (FClosed) return;
    FEntries.push_back(entry);
    ++FWaiting;
    wake = FOnQueued;
  }
  FQueued.notify_all();
  if (wake) wake();
  std::unique_lock lock(FLock);
  FSettled.wait(lock, [&] { return entry->State == TState::Done || entry->State == TState::Dropped; });
  --FWaiting;
  FSettled.notify_all();
}

bool TMainThreadQueue::ProcessQueued(std::chrono::milliseconds Wait) {
  if (std::this_thread::get_id() != FMain) return false;
  std::unique_lock lock(FLock);
  FQueued.wait_for(lock, Wait, [this] { return !FEntries.empty() || FClosed; });
  // One at a time: a step may itself wait for a worker and pump the queue again.
  while (!FEntries.empty()) {
    std::shared_ptr<TEntry> entry = FEntries.front();
    FEntries.pop_front();
    entry->State = TState::Running;
    lock.unlock();
    const auto settle = [&] {
      lock.lock();
      entry->State = TState::Done;
      FSettled.notify_all();
    };
    try {
      (*entry->Step)();
    } catch (...) {
      settle();
      throw;
    }
    settle();
  }
  return true;
}

void TMainThreadQueue::Close() {
  std::lock_guard lock(FLock);
  FClosed = true;
  for (auto& entry : FEntries) entry->State = TState::Dropped;
  FEntries.clear();
  FSettled.notify_all();
  FQueued.notify_all();
}

bool TMainThreadQueue::Closed() const {
  std::lock_guard lock(FLock);
  return FClosed;
}

std::size_t TMainThreadQueue::Pending() const {
  std::lock_guard lock(FLock);
  return FEntries.size();
}

void TMainThreadQueue::SetOnQueued(std::function<void()> Wake) {
  std::lock_guard lock(FLock);
  FOnQueued = std::move(Wake);
}

}  // namespace kestrine
