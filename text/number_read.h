#pragma once

#include <string_view>

namespace ostrevane::text {

// Reads a field the lenient way: blanks, tabs and line feeds anywhere are
// ignored; the value is the longest leading part of what is left that forms a
// decimal number (optional sign, digits, at most one ".", optional exponent);
// "." is always the decimal point. Text that does not begin with a number reads
// as 0, and so does a number outside the range of a double.
double ReadLenient(std::string_view text);

// Reads a field the strict way: the whole text, blanks around it allowed, must
// be a decimal number. Returns false, leaving `value` alone, when it is not.
bool ReadStrict(std::string_view text, double& value);

}  // namespace ostrevane::text
