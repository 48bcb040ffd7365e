#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/number_text.h"

// The formatting of coordinates without the general algorithm: exact integer
// rounding in 128 bits and a digit layout without loops. Where the compiler
// has no 128-bit integers, the general path does all the work.
#ifdef __SIZEOF_INT128__
#define OSTREVANE_FIFTEEN_DIGITS 1

namespace ostrevane::text::detail {

inline constexpr auto kPowersOfTen = [] {
  std::array<unsigned __int128, 23> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

// 1e-8 to 1e16, as near as doubles hold them.
inline constexpr int kLowestDecimalPower = -8;
inline constexpr double kDecimalPowers[] = {1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,
                                            1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                            1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

// A value rounded to fifteen significant digits, held as an integer of
// exactly fifteen digits and the decimal exponent of its first one.
struct FifteenDigits {
  bool negative = false;
  std::uint64_t digits = 0;  // 10^14 to 10^15 - 1
  int exponent = 0;
};

// The same rounding done exactly in integers, for the magnitudes that
// coordinates have: value = mantissa / 2^shift, so value * 10^scale rounded
// half to even is one 128-bit product, a shift and a look at the remainder.
// Several times cheaper than the general algorithm. False outside its range.
inline bool RoundExactly(double value, FifteenDigits& rounded) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-7 && magnitude < 1e15)) return false;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int biasedExponent = static_cast<int>(bits >> 52);  // normal in this range
  const unsigned __int128 mantissa =
      (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int shift = 1075 - biasedExponent;  // value = mantissa / 2^shift; 3 to 77 here
  const auto half = static_cast<unsigned __int128>(1) << (shift - 1);
  const auto mask = (static_cast<unsigned __int128>(1) << shift) - 1;

  constexpr std::uint64_t kLowest = 100000000000000;  // 10^14: fifteen digits
  // floor(log10(2) * binary exponent) is the decimal exponent or one below
  // it; one comparison settles which, so that one pass below usually does.
  int exponent = ((biasedExponent - 1023) * 78913) >> 18;
  if (magnitude >= kDecimalPowers[exponent + 1 - kLowestDecimalPower]) ++exponent;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int scale = kSignificantDigits - 1 - exponent;
    if (scale < 0 || scale > 22) return false;
    const unsigned __int128 product = mantissa * kPowersOfTen[scale];
    auto digits = static_cast<std::uint64_t>(product >> shift);
    const unsigned __int128 remainder = product & mask;
    if (remainder > half || (remainder == half && (digits & 1) != 0)) ++digits;
    if (digits < kLowest) {
      --exponent;
    } else if (digits >= 10 * kLowest) {
      ++exponent;
    } else {
      rounded = {value < 0, digits, exponent};
      return true;
    }
  }
  return false;
}

// Eight decimal digits of `value` (below 10^8), leading zeros included, as
// eight characters in memory order on a little-endian machine: the digit
// pairs of each half, then the digits of each pair, are split in all lanes
// of one 64-bit word at once.
inline std::uint64_t EightDigits(std::uint32_t value) {
  const std::uint64_t halves = (value / 10000) | (std::uint64_t{value % 10000} << 32);
  // x * 10486 >> 20 is x / 100 for every x below 10^4.
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t pairs = hundreds | ((halves - hundreds * 100) << 16);
  // x * 103 >> 10 is x / 10 for every x below 100.
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
  const std::uint64_t digits = tens | ((pairs - tens * 10) << 8);
  return digits + 0x3030303030303030;
}

inline constexpr std::uint64_t kEightZeros = 0x3030303030303030;

// Writes the plain decimal form of `rounded` without a call or a loop over
// its digits: the digits stay in one 128-bit word, every store has a fixed
// size, and the trailing zeros are counted in the word. The buffer past the
// end of the text is scratch.
inline char* LayOutFifteenDigits(const FifteenDigits& rounded, char* out) {
  const std::uint64_t high = EightDigits(static_cast<std::uint32_t>(rounded.digits / 100000000));
  const std::uint64_t low = EightDigits(static_cast<std::uint32_t>(rounded.digits % 100000000));
  // A "0" and then the fifteen digits, in memory order.
  const unsigned __int128 word = (static_cast<unsigned __int128>(low) << 64) | high;
  // Sixteen bytes from digit `first` on (counted from 0); zeros past the end.
  const auto digitsFrom = [word](int first) { return word >> (8 * (first + 1)); };
  // The last digit is the highest byte of `low`. The first digit is never 0.
  const int trailingZeros = (low != kEightZeros) ? std::countl_zero(low ^ kEightZeros) / 8
                                                 : 8 + std::countl_zero(high ^ kEightZeros) / 8;
  const int significant = kSignificantDigits - trailingZeros;

  if (rounded.negative) *out++ = '-';
  if (rounded.exponent < 0) {
    // 0.000ddd: at most seven zeros after the point in this range.
    std::memcpy(out, "0.", 2);
    std::memcpy(out + 2, &kEightZeros, 8);
    out += 2 - rounded.exponent - 1;
    const unsigned __int128 all = digitsFrom(0);
    std::memcpy(out, &all, 16);
    return out + significant;
  }
  const int integerDigits = rounded.exponent + 1;
  const unsigned __int128 all = digitsFrom(0);
  std::memcpy(out, &all, 16);
  if (integerDigits >= significant) return out + integerDigits;
  out[integerDigits] = '.';
  const unsigned __int128 fraction = digitsFrom(integerDigits);
  std::memcpy(out + integerDigits + 1, &fraction, 16);
  return out + significant + 1;
}

}  // namespace ostrevane::text::detail

#endif
