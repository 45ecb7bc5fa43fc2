#include "codec/filter/writer_thread.h"

TRefreshEVMThread::TRefreshEVMThread() { Start(); }

TRefreshEVMThread::~TRefreshEVMThread() {
  Terminate();
  WaitForServing();
}

void TRefreshEVMThread::SetCallback(void* newContext, TBiquadWriteCallback newCallback) {
  std::lock_guard<std::mutex> lock(handOver);
  context = newContext;
  callback = newCallback;
}

void TRefreshEVMThread::Queue(unsigned slot, const int32_t* num3, const int32_t* den3, bool async) {
  if (num3 && den3 && async) {
    if (slot >= kSlots) return;
    {
      std::lock_guard<std::mutex> lock(handOver);
      for (int k = 0; k < 3; ++k) {
        numerators[slot][k] = num3[k];
        denominators[slot][k] = den3[k];
      }
      pending[slot] = true;
    }
    wake.Set();
    return;
  }
  TBiquadWriteCallback fn;
  void* user;
  {
    std::lock_guard<std::mutex> lock(handOver);
    fn = callback;
    user = context;
  }
  if (fn) fn(user, slot, num3, den3);
}

bool TRefreshEVMThread::Idle() {
  std::lock_guard<std::mutex> lock(handOver);
  if (passing) return false;
  for (const bool waiting : pending)
    if (waiting) return false;
  return true;
}

void TRefreshEVMThread::DoTerminate() { wake.Set(); }

void TRefreshEVMThread::Execute() {
  while (!Terminated()) {
    wake.WaitFor(kWaitMs);
    wake.Reset();
    if (Terminated()) return;
    {
      std::lock_guard<std::mutex> lock(handOver);
      passing = true;
    }
    for (unsigned slot = 0; slot < kSlots; ++slot) {
      int32_t num[3], den[3];
      TBiquadWriteCallback fn;
      void* user;
      {
        std::lock_guard<std::mutex> lock(handOver);
        if (!pending[slot]) continue;
        for (int k = 0; k < 3; ++k) {
          num[k] = numerators[slot][k];
          den[k] = denominators[slot][k];
        }
        pending[slot] = false;
        fn = callback;
        user = context;
      }
      if (fn) fn(user, slot, num, den);
    }
    std::lock_guard<std::mutex> lock(handOver);
    passing = false;
  }
}
