#pragma once

#include <cstddef>
#include <string_view>

namespace ostrevane::platform {

// Room for the longest text FormatDouble can produce: 15 digits, a sign, a
// point and up to 308 zeros on either side of them.
inline constexpr std::size_t kDoubleTextCapacity = 352;

// Writes `value` rounded to 15 significant digits in plain decimal notation
// (never an exponent), without trailing zeros or a point for whole values,
// with "." as the separator whatever the process locale: 4.5, -1.25, 2,
// 0.05, 50.8333333333333. Negative zero gives "0". Not finite values give "0".
// Returns the text, which lives in `buffer`.
std::string_view FormatDouble(double value, char (&buffer)[kDoubleTextCapacity]);

// Reads a field the lenient way: blanks, tabs and line feeds anywhere are
// ignored; the value is the longest leading part of what is left that forms a
// decimal number (optional sign, digits, at most one ".", optional exponent);
// "." is always the decimal point. Text that does not begin with a number reads
// as 0, and so does a number outside the range of a double.
double ReadLenient(std::string_view text);

// Reads a field the strict way: the whole text, blanks around it allowed, must
// be a decimal number. Returns false, leaving `value` alone, when it is not.
bool ReadStrict(std::string_view text, double& value);

}  // namespace ostrevane::platform
