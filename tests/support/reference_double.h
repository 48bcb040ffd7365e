#pragma once

#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>

namespace ostrevane::testing {

// The double nearest to the decimal number `text`, read by the system's own
// libraries, independently of the reading under test. libc++ has no
// from_chars for doubles: there the C library's strtod reads it, in the "C"
// locale that a program starts in.
inline double ReferenceDouble(std::string_view text) {
#ifdef _LIBCPP_VERSION
  return std::strtod(std::string(text).c_str(), nullptr);
#else
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
#endif
}

}  // namespace ostrevane::testing
