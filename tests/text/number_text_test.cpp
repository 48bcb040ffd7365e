#include "text/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tests/support/reference_double.h"

namespace ostrevane::text {
namespace {

std::string Format(double value) {
  char buffer[kDoubleTextCapacity];
  return std::string(FormatDouble(value, buffer));
}

struct Case {
  double value;
  const char* text;
};

TEST(FormatDoubleTest, WritesFifteenSignificantDigitsInPlainDecimal) {
  const Case cases[] = {
      {4.5, "4.5"},
      {50.25, "50.25"},
      {-1.25, "-1.25"},
      {2.0, "2"},
      {50.0 + 50.0 / 60.0, "50.8333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {12.3456789012345678, "12.3456789012346"},
      {-179.123456789012345, "-179.123456789012"},
      {0.1 + 0.2, "0.3"},
      {0.1, "0.1"},
      {0.05, "0.05"},
      {-0.001, "-0.001"},
      {1e-7, "0.0000001"},
      {1e20, "100000000000000000000"},
      {123456789012345678.0, "123456789012346000"},
      // Rounding to 15 digits carries into a new leading digit.
      {999999.99999999994, "1000000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.value), c.text) << "value " << c.value;
  }
}

// Coordinates take an integer shortcut; its digits must be those of the
// general correctly rounded conversion. Two different 15-digit decimals never
// read back as the same double, so comparing the values read back compares
// the digits.
TEST(FormatDoubleTest, ShortcutRoundsLikeTheGeneralConversion) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> logMagnitude(-8.0, 16.0);
  for (int i = 0; i < 300000; ++i) {
    double value = std::pow(10.0, logMagnitude(random));
    if (i % 3 == 0) value = std::floor(value * 1e4) / 6e5;  // minutes over 60
    if (i % 2 == 0) value = -value;
    char buffer[kDoubleTextCapacity];
    const std::string_view text = FormatDouble(value, buffer);
    char scientific[40];
    const auto end = std::to_chars(scientific, scientific + sizeof scientific, value,
                                   std::chars_format::scientific, 14)
                         .ptr;
    const double written = testing::ReferenceDouble(text);
    const double expected =
        testing::ReferenceDouble(std::string_view(scientific, end - scientific));
    ASSERT_EQ(written, expected) << text << " vs "
                                 << std::string_view(scientific, end - scientific);
    // Plain decimal, with neither a trailing zero after the point nor a bare point.
    ASSERT_EQ(text.find_first_not_of("-.0123456789"), std::string_view::npos) << text;
    if (text.find('.') != std::string_view::npos) {
      ASSERT_NE(text.back(), '0') << text;
      ASSERT_NE(text.back(), '.') << text;
    }
  }
}

TEST(FormatDoubleTest, ZeroAndValuesWithoutDecimalFormGiveZero) {
  const double values[] = {0.0, -0.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double value : values) EXPECT_EQ(Format(value), "0") << "value " << value;
}

TEST(FormatDoubleTest, ExtremeMagnitudesFitTheBuffer) {
  EXPECT_EQ(Format(1e308), "1" + std::string(308, '0'));
  EXPECT_EQ(Format(-DBL_MAX), "-179769313486232" + std::string(294, '0'));
  // The smallest subnormal, 4.94065645841247e-324.
  EXPECT_EQ(Format(-std::numeric_limits<double>::denorm_min()),
            "-0." + std::string(323, '0') + "494065645841247");
}

}  // namespace
}  // namespace ostrevane::text
