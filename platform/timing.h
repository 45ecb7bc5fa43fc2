// Performance counter and sleeping.
#pragma once

#include <cstdint>

namespace platform {

// A monotonic counter and its ticks per second.
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();
void Sleep(int milliseconds);

}  // namespace platform
