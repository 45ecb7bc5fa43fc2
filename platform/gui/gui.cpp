#include "platform/gui/gui.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/log.h"
#include "platform/sync.h"

namespace gui {
namespace {

struct Send {
  std::function<void()> fn;
  bool done = false;
  bool ran = false;
};

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<Send>> pending;
  QObject* dispatcher = nullptr;  // lives on the GUI thread; guarded by the mutex
  std::atomic<bool> installed{false};
  std::atomic<std::thread::id> guiThread{};
};

State& S() {
  // Never destroyed: worker threads may still call in during static destruction.
  static State* state = new State;
  return *state;
}

void QueueServe(State& s) {
  // One queued serve per send: a serve that finds nothing left is cheap.
  QMetaObject::invokeMethod(s.dispatcher, [] { ServeSends(); }, Qt::QueuedConnection);
}

}  // namespace

void Install() {
  State& s = S();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.installed.load() && s.guiThread.load() == std::this_thread::get_id()) return;
    if (!s.dispatcher) s.dispatcher = new QObject;
    s.guiThread = std::this_thread::get_id();
    s.installed = true;
  }
  platform::SetWaitPump([] { ServeSends(); });
}

void Uninstall() {
  State& s = S();
  QObject* dispatcher = nullptr;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.installed = false;
    for (auto& send : s.pending) send->done = true;
    s.pending.clear();
    dispatcher = s.dispatcher;
    s.dispatcher = nullptr;
  }
  s.changed.notify_all();
  platform::SetWaitPump(nullptr);
  // Deleting it drops the work still queued for it.
  delete dispatcher;
}

bool Installed() { return S().installed.load(); }

bool IsGuiThread() { return S().guiThread.load() == std::this_thread::get_id(); }

bool Post(std::function<void()> fn) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.installed.load() || !s.dispatcher) return false;
  QMetaObject::invokeMethod(s.dispatcher, std::move(fn), Qt::QueuedConnection);
  return true;
}

bool Post(QObject* context, std::function<void()> fn) {
  if (!context) return false;
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.installed.load()) return false;
  QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
  return true;
}

bool SendSync(std::function<void()> fn) {
  // A queued call from the GUI thread to itself would wait for itself.
  if (IsGuiThread()) {
    fn();
    return true;
  }
  State& s = S();
  auto send = std::make_shared<Send>();
  send->fn = std::move(fn);
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!s.installed.load() || !s.dispatcher) return false;
  s.pending.push_back(send);
  QueueServe(s);
  s.changed.wait(lock, [&] { return send->done; });
  return send->ran;
}

int ServeSends() {
  if (!IsGuiThread()) return 0;
  State& s = S();
  int served = 0;
  for (;;) {
    std::shared_ptr<Send> send;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (s.pending.empty()) break;
      send = s.pending.front();
      s.pending.pop_front();
    }
    // The sender must be released whatever its work does.
    try {
      send->fn();
    } catch (const std::exception& e) {
      platform::LogLine(std::string("GUI call failed: ") + e.what());
    } catch (...) {
      platform::LogLine("GUI call failed");
    }
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      send->done = true;
      send->ran = true;
    }
    s.changed.notify_all();
    ++served;
  }
  return served;
}

}  // namespace gui
