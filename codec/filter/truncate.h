// Every float-to-integer conversion of the filter tool (coefficient
// quantisation, pixel positions, numbers in texts) goes through here: a
// NaN, an infinity or a value past the target's range must never reach a
// plain cast, whose result would be undefined.
#pragma once

#include <cstdint>
#include <limits>

// Truncates toward zero; NaN gives 0, values past the range give its end.
template <typename Int>
constexpr Int TruncSaturate(double value) {
  constexpr double kLow = double(std::numeric_limits<Int>::min());
  constexpr double kHigh = double(std::numeric_limits<Int>::max());
  if (value != value) return 0;
  if (value <= kLow) return std::numeric_limits<Int>::min();
  if (value >= kHigh) return std::numeric_limits<Int>::max();
  return Int(value);
}

inline constexpr int32_t TruncInt32(double value) { return TruncSaturate<int32_t>(value); }
