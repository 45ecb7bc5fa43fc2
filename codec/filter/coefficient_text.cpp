#include "codec/filter/coefficient_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/filter/biquad.h"
#include "codec/filter/truncate.h"

namespace {

constexpr unsigned kSections = 40;

const char* const kSubtypeTexts[] = {"1st Order Butterworth", "2nd Order Butterworth", "2nd Order Bessel",
                                     "2nd Order Linkwitz-Riley", "2nd Order Variable Q = "};

}  // namespace

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return {};
  if (size_t(n) < sizeof buffer) return std::string(buffer, size_t(n));
  std::string text(size_t(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(size_t(n));
  return text;
}

std::string ShortestDecimal(double value) { return Format("%.15g", value); }

std::string TBiquad::Describe() const {
  if (!designed) return "Custom Coefficients";
  const std::string f = Format("%i", TruncInt32(fc)) + " Hz Fc ";
  const std::string g = Format("%.1f", gain) + " dB";
  const std::string bw = Format("%i", TruncInt32(bandwidth)) + " Hz BW";
  switch (type) {
    case kBiquadEQ: return "EQ " + f + g + " " + bw;
    case kBiquadHighPass:
    case kBiquadLowPass: {
      std::string text = type == kBiquadHighPass ? "High Pass " : "Low Pass ";
      if (subtype >= 0 && subtype <= kVariableQ2) text += kSubtypeTexts[subtype];
      if (subtype == kVariableQ2) text += Format("%.3f", q);
      return text + ", " + f + g + " ";
    }
    case kBiquadTrebleShelf: return "Treble Shelf " + f + g;
    case kBiquadBassShelf: return "Bass Shelf " + f + g;
    case kBiquadPhaseShift: return "Phase Shift " + f + bw;
    case kBiquadNotch: return "Notch " + f + g + " " + bw;
    default: return "N/A";
  }
}

std::string TBiquad::CoefficientText() const {
  const int digits = bits / 4;
  const std::string format = Format("%s%dX", "%0", digits);
  std::string lines;
  for (const int32_t value : {N0, N1, N2, D1, D2}) {
    std::string text = Format(format.c_str(), uint32_t(value));
    while (text.size() > size_t(digits) && text[0] == 'F') text.erase(0, 1);
    lines += "0x" + text + "\r\n";
  }
  return lines;
}

std::string CoefficientListing(TBiquad* const* filters) {
  const TBiquad& first = *filters[0];
  const int bits = std::clamp(int(first.bits), TBiquad::kMinBits, TBiquad::kMaxBits);
  std::string text = "Text \"* Sample Rate = " + Format("%i", TruncInt32(first.sampleRate)) + "\"\r\n";
  for (unsigned i = 0; i < kSections; ++i)
    if (filters[i]->enabled) text += "Text \"* Filter " + Format("%u", i + 1) + " " + filters[i]->Describe() + "\"\r\n";
  text += "Text \"* H(z) = (N0 + 2*N1/z + N2/(z2)) / (" + Format("%llu", 1ull << (bits - 1)) +
          " - 2*D1/z - D2/(z2))\"\r\n";
  text += "Text \"* Filter Coefficients in format N0, N1, N2, D1, D2\"\r\n";
  for (unsigned i = 0; i < kSections; ++i) {
    if (!filters[i]->enabled) continue;
    text += "Text \"* Filter " + Format("%u", i + 1) + "\"\r\n";
    text += filters[i]->CoefficientText();
  }
  return text;
}

std::optional<uint32_t> ParseCoefficientLine(const std::string& line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  size_t end = line.size();
  while (end > i && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
  if (i >= end) return std::nullopt;
  if (end - i > 2 && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
    i += 2;
    if (end - i > 8) return std::nullopt;
    uint32_t value = 0;
    for (; i < end; ++i) {
      const char c = line[i];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return std::nullopt;
      value = value << 4 | uint32_t(digit);
    }
    return value;
  }
  bool negative = false;
  if (line[i] == '-' || line[i] == '+') {
    negative = line[i] == '-';
    ++i;
  }
  if (i >= end) return std::nullopt;
  int64_t value = 0;
  for (; i < end; ++i) {
    const char c = line[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t(1) << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return uint32_t(int32_t(value));
}

void ParseCoefficients(const std::string& text, TBiquad* const* filters) {
  if (!filters) return;
  const int bits = std::clamp(int(filters[0]->bits), TBiquad::kMinBits, TBiquad::kMaxBits);
  const uint64_t signBit = uint64_t(1) << (bits - 1);
  int32_t group[5];
  int count = 0;
  unsigned next = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t stop = text.find('\n', start);
    if (stop == std::string::npos) stop = text.size();
    const std::optional<uint32_t> parsed = ParseCoefficientLine(text.substr(start, stop - start));
    start = stop + 1;
    if (!parsed) continue;
    uint64_t value = *parsed;
    if (value & signBit) value |= ~(2 * signBit - 1);
    group[count++] = int32_t(uint32_t(value));
    if (count < 5) continue;
    count = 0;
    while (next < kSections && !filters[next]->enabled) ++next;
    if (next >= kSections) break;
    filters[next++]->SetCustom(group);
  }
}
