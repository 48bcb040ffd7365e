#pragma once

#include <string_view>

// The character tests that the number readers share, written out rather than
// taken from <cctype>, whose answers depend on the user's locale.
namespace ostrevane::text {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks, tabs and line feeds, which the lenient reading skips wherever they are.
inline bool IsIgnoredInLenientText(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Two decimal digits and nothing else, the usual group of a time field, read
// without a detour through a double. False for any other text.
inline bool ReadTwoDigits(std::string_view text, int& value) {
  if (text.size() != 2 || !IsDigit(text[0]) || !IsDigit(text[1])) return false;
  value = (text[0] - '0') * 10 + (text[1] - '0');
  return true;
}

}  // namespace ostrevane::text
