// The coefficient listing of the filter tool: the text of the enabled
// sections' integer coefficients, and the reading back of an edited
// listing into the sections as custom coefficients. No window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TBiquad;

// At most 15 significant digits, trailing zeros trimmed: 44100, 0.1, -45.
std::string ShortestDecimal(double value);
// snprintf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The listing of the 40 `filters` (lines end with CR LF).
std::string CoefficientListing(TBiquad* const* filters);

// One listing line as a 32-bit value: leading blanks, then a signed decimal
// number or "0x" and up to 8 hexadecimal digits (a 32-bit pattern).
// Anything else does not convert.
std::optional<uint32_t> ParseCoefficientLine(const std::string& line);

// Reads `text` back: every five converted values go to the next enabled
// section through SetCustom, sign-extended from bit `bits`-1 of section 1;
// surplus values are dropped. Queues nothing.
void ParseCoefficients(const std::string& text, TBiquad* const* filters);
