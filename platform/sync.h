// Events and critical sections.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

// A manual-reset event: stays signalled until Reset.
class TEvent {
 public:
  explicit TEvent(bool signalled = false) : signalled_(signalled) {}
  void Set();
  void Reset();
  // Waits at most `milliseconds` (negative: without limit); true when signalled.
  bool WaitFor(int milliseconds);
  bool IsSet();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
};

// A re-entrant lock: a thread that holds it may enter it again.
class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  // For std::lock_guard / std::scoped_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace platform

namespace platform {

// A thread that must keep serving work while it waits (the GUI thread, which
// runs synchronous sends from worker threads) installs a pump: waits made on
// that thread through WaitServing / TThread::WaitForServing call it between
// short slices, so a worker blocked on a send to it is never abandoned.
void SetWaitPump(std::function<void()> pump);
// Waits like TEvent::WaitFor; on the pump's thread the pump keeps running.
bool WaitServing(TEvent& event, int milliseconds);
// Runs the pump once if the caller is the pump's thread; false otherwise.
bool ServePump();

}  // namespace platform
