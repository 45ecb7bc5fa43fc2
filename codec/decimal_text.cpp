#include "codec/decimal_text.h"

#include <algorithm>

std::string DecimalText(long long units, int decimals) {
  // Negated as unsigned, so that the most negative value has its magnitude too.
  const unsigned long long magnitude = units < 0 ? 0ULL - static_cast<unsigned long long>(units) : units;
  std::string digits = std::to_string(magnitude);
  decimals = std::max(decimals, 0);
  if (digits.size() <= size_t(decimals)) digits.insert(0, size_t(decimals) + 1 - digits.size(), '0');
  std::string whole = digits.substr(0, digits.size() - size_t(decimals));
  std::string fraction = digits.substr(digits.size() - size_t(decimals));
  fraction.erase(fraction.find_last_not_of('0') + 1);
  std::string text = fraction.empty() ? whole : whole + "." + fraction;
  if (units < 0) text.insert(0, 1, '-');
  return text;
}
