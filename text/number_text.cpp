#include "text/number_text.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "text/fifteen_digits.h"

namespace ostrevane::text {
namespace {

// A finite, non-zero double rounded to 15 significant digits: the digits
// without trailing zeros and the decimal exponent of the first one.
struct Rounded {
  bool negative = false;
  char digits[kSignificantDigits] = {};
  int count = 0;
  int exponent = 0;
};

// std::to_chars rounds correctly; its scientific form "-d.dddde+xx" is then
// taken apart so that the digits can be laid out without an exponent.
Rounded RoundTo15Digits(double value) {
  char scientific[40];
  const auto result = std::to_chars(scientific, scientific + sizeof scientific, value,
                                    std::chars_format::scientific, kSignificantDigits - 1);
  const char* p = scientific;
  Rounded rounded;
  if (*p == '-') {
    rounded.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p != '.') rounded.digits[rounded.count++] = *p;
  }
  ++p;  // 'e'
  if (*p == '+') ++p;
  std::from_chars(p, result.ptr, rounded.exponent);
  while (rounded.count > 1 && rounded.digits[rounded.count - 1] == '0') --rounded.count;
  return rounded;
}

#ifdef OSTREVANE_FIFTEEN_DIGITS
// The general layout below, for a machine that stores words the other way.
Rounded ToRounded(const detail::FifteenDigits& exact) {
  Rounded rounded;
  rounded.negative = exact.negative;
  std::to_chars(rounded.digits, rounded.digits + kSignificantDigits, exact.digits);
  rounded.count = kSignificantDigits;
  rounded.exponent = exact.exponent;
  while (rounded.count > 1 && rounded.digits[rounded.count - 1] == '0') --rounded.count;
  return rounded;
}
#endif

char* AppendZeros(char* out, int count) {
  std::memset(out, '0', static_cast<std::size_t>(count));
  return out + count;
}

char* AppendDigits(char* out, const char* digits, int count) {
  std::memcpy(out, digits, static_cast<std::size_t>(count));
  return out + count;
}

// Plain decimal layout: 0.000ddd for small values, ddd000 or ddd.ddd otherwise.
char* LayOut(const Rounded& rounded, char* out) {
  if (rounded.negative) *out++ = '-';
  if (rounded.exponent < 0) {
    *out++ = '0';
    *out++ = '.';
    out = AppendZeros(out, -rounded.exponent - 1);
    return AppendDigits(out, rounded.digits, rounded.count);
  }
  const int integerDigits = rounded.exponent + 1;
  if (integerDigits >= rounded.count) {
    out = AppendDigits(out, rounded.digits, rounded.count);
    return AppendZeros(out, integerDigits - rounded.count);
  }
  out = AppendDigits(out, rounded.digits, integerDigits);
  *out++ = '.';
  return AppendDigits(out, rounded.digits + integerDigits, rounded.count - integerDigits);
}

}  // namespace

char* WriteDouble(double value, char* out) {
  // Zero of either sign and values that have no decimal form all read "0".
  if (value == 0.0 || !std::isfinite(value)) {
    *out = '0';
    return out + 1;
  }
  Rounded rounded;
#ifdef OSTREVANE_FIFTEEN_DIGITS
  if (detail::FifteenDigits exact; detail::RoundExactly(value, exact)) {
    if constexpr (std::endian::native == std::endian::little)
      return detail::LayOutFifteenDigits(exact, out);
    rounded = ToRounded(exact);
  } else {
    rounded = RoundTo15Digits(value);
  }
#else
  rounded = RoundTo15Digits(value);
#endif
  return LayOut(rounded, out);
}

std::string_view FormatDouble(double value, char (&buffer)[kDoubleTextCapacity]) {
  const char* end = WriteDouble(value, buffer);
  return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace ostrevane::text
