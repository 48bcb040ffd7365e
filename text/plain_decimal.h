#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/characters.h"

namespace ostrevane::text {

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common shape of a log field, "ddmm.mmmm" or "022.4", read without the
// general machinery: up to 15 digits and one point, nothing after them that
// could continue the number. Both the digits and the power of ten are exact in
// a double, so one division gives the correctly rounded value, the same that
// the general reading gives. False when the text has any other shape. Inline:
// it is the reading of nearly every field.
inline bool ReadPlainDecimal(std::string_view text, double& value) {
  std::uint64_t digits = 0;
  int digitCount = 0;
  int fractionDigits = 0;
  bool seenPoint = false;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      if (++digitCount > 15) return false;
      digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
      fractionDigits += seenPoint;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (digitCount == 0) return false;
  if (i < text.size()) {
    const char next = text[i];
    if (next == 'e' || next == 'E' || next == '.' || IsIgnoredInLenientText(next)) return false;
  }
  value = static_cast<double>(digits) / kExactPowersOfTen[fractionDigits];
  return true;
}

}  // namespace ostrevane::text
