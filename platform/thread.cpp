#include "platform/thread.h"

#include <chrono>

#include "platform/sync.h"

namespace platform {

TThread::~TThread() {
  // A derived destructor has already run: the thread must be gone by now.
  // Joining here only keeps std::thread from terminating the process.
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TThread::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    Execute();
    finished_.store(true);
  });
}

void TThread::Terminate() {
  terminated_.store(true);
  DoTerminate();
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::WaitForServing() {
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  while (!finished_.load()) {
    if (!ServePump()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  thread_.join();
}

bool TThread::IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

}  // namespace platform
