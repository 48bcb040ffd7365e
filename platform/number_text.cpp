#include "platform/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace ostrevane::platform {
namespace {

constexpr int kSignificantDigits = 15;

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

std::string_view FormatDouble(double value, char (&buffer)[kDoubleTextCapacity]) {
  // Zero of either sign and values that have no decimal form all read "0".
  if (value == 0.0 || !std::isfinite(value)) {
    buffer[0] = '0';
    return std::string_view(buffer, 1);
  }
  const char* end = LayOut(RoundTo15Digits(value), buffer);
  return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace ostrevane::platform
