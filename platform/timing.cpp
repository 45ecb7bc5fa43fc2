#include "platform/timing.h"

#include <chrono>
#include <thread>

namespace platform {

int64_t QueryPerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t QueryPerformanceFrequency() { return 1000000000; }

void Sleep(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  else std::this_thread::yield();
}

}  // namespace platform
