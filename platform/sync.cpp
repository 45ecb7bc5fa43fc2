#include "platform/sync.h"

#include <chrono>

namespace platform {

void TEvent::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  changed_.notify_all();
}

void TEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool TEvent::WaitFor(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (milliseconds < 0) {
    changed_.wait(lock, [this] { return signalled_; });
    return true;
  }
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signalled_; });
}

bool TEvent::IsSet() {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

}  // namespace platform

#include <memory>
#include <thread>

namespace platform {
namespace {

struct Pump {
  std::function<void()> fn;
  std::thread::id owner;
};

std::mutex& PumpMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<Pump>& CurrentPump() {
  static std::shared_ptr<Pump> pump;
  return pump;
}

}  // namespace

void SetWaitPump(std::function<void()> pump) {
  std::lock_guard<std::mutex> lock(PumpMutex());
  if (pump)
    CurrentPump() = std::make_shared<Pump>(Pump{std::move(pump), std::this_thread::get_id()});
  else
    CurrentPump().reset();
}

bool ServePump() {
  std::shared_ptr<Pump> pump;
  {
    std::lock_guard<std::mutex> lock(PumpMutex());
    pump = CurrentPump();
  }
  if (!pump || pump->owner != std::this_thread::get_id()) return false;
  pump->fn();
  return true;
}

bool WaitServing(TEvent& event, int milliseconds) {
  if (!ServePump()) return event.WaitFor(milliseconds);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (event.WaitFor(2)) return true;
    ServePump();
    if (milliseconds >= 0 && std::chrono::steady_clock::now() >= deadline) return event.IsSet();
  }
}

}  // namespace platform
