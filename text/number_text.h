#pragma once

#include <cstddef>
#include <string_view>

namespace ostrevane::text {

// Coordinates are written with this many significant digits at most.
inline constexpr int kSignificantDigits = 15;

// Room for the longest text FormatDouble can produce: 15 digits, a sign, a
// point and up to 308 zeros on either side of them.
inline constexpr std::size_t kDoubleTextCapacity = 352;

// Writes `value` rounded to 15 significant digits in plain decimal notation
// (never an exponent), without trailing zeros or a point for whole values,
// with "." as the separator whatever the process locale: 4.5, -1.25, 2,
// 0.05, 50.8333333333333. Negative zero gives "0". Not finite values give "0".
// Returns the text, which lives in `buffer`.
std::string_view FormatDouble(double value, char (&buffer)[kDoubleTextCapacity]);

// The same text written at `out`, which must have room for
// kDoubleTextCapacity bytes: those past the text may be overwritten too.
// Returns the end of the text.
char* WriteDouble(double value, char* out);

}  // namespace ostrevane::text
