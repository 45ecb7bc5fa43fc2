// The filter tool's coefficient writer: a thread that carries the latest
// coefficient set of each of the 40 slots to the codec through the write
// callback, so the window never waits for the board. A newer set queued for
// a slot before the thread took it replaces the older one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/sync.h"
#include "platform/thread.h"

// Receives one biquad (N0, N1, N2 and D0, D1, D2) for register set `slot`,
// or a batch marker (0xFFFF start, 0xFFFE end) with no arrays.
typedef void (*TBiquadWriteCallback)(void* context, unsigned slot, const int32_t* num3, const int32_t* den3);

class TRefreshEVMThread : public platform::TThread {
 public:
  static constexpr unsigned kSlots = 40;
  static constexpr unsigned kBatchStart = 0xFFFF;
  static constexpr unsigned kBatchEnd = 0xFFFE;
  // How long one wait lasts before the thread looks at its stop flag.
  static constexpr int kWaitMs = 1000;

  // Starts running at once, with no callback.
  TRefreshEVMThread();
  // Stops the thread and waits for it (at most about one wait period,
  // plus a callback that is running).
  ~TRefreshEVMThread() override;

  void SetCallback(void* context, TBiquadWriteCallback callback);
  // Asynchronous with both arrays: stores the set in its slot (slots above
  // 39 are ignored) and wakes the thread. Otherwise the callback runs at
  // once on the caller's thread.
  void Queue(unsigned slot, const int32_t* num3, const int32_t* den3, bool async);
  // True when no slot waits and no pass is running: everything queued so
  // far has been through the callback.
  bool Idle();

 protected:
  void Execute() override;
  void DoTerminate() override;

 private:
  platform::TEvent wake;
  // Guards the slots and the callback for the few instructions of a copy;
  // never held while the callback runs.
  std::mutex handOver;
  TBiquadWriteCallback callback = nullptr;
  void* context = nullptr;
  int32_t numerators[kSlots][3] = {};
  int32_t denominators[kSlots][3] = {};
  bool pending[kSlots] = {};
  bool passing = false;
};
