// A worker thread with the behaviour the board link relies on: Execute runs
// on the thread, Terminate asks it to end (and calls DoTerminate so a
// derived class can wake a pending wait), WaitFor waits for the end.
#pragma once

#include <atomic>
#include <thread>

namespace platform {

class TThread {
 public:
  TThread() = default;
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts Execute on a new thread; the derived object must be fully built.
  void Start();
  // Asks Execute to end; calls DoTerminate on the calling thread.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Waits until Execute has returned (at once when it never started).
  void WaitFor();
  // WaitFor that keeps the calling thread's wait pump running (see sync.h).
  void WaitForServing();
  bool Finished() const { return finished_.load(); }
  bool IsCurrentThread() const;

 protected:
  virtual void Execute() = 0;
  virtual void DoTerminate() {}

 private:
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace platform
