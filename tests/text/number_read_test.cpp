#include "text/number_read.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/reference_double.h"

namespace ostrevane::text {
namespace {

struct LenientCase {
  std::string text;
  double expected;
};

TEST(ReadLenient, TakesTheLongestLeadingNumber) {
  const LenientCase cases[] = {
      {"4807.038", 4807.038},
      {" 48 07.0\t38\n", 4807.038},
      {"-4807.038", -4807.038},
      {"+22.4", 22.4},
      {"-.5", -0.5},
      {"5.", 5.0},
      {"1.2.3", 1.2},
      {"12abc", 12.0},
      {"1.5e2x", 150.0},
      {"1E-2", 0.01},
      {"7e", 7.0},
      {"7e+", 7.0},
      {"7ex3", 7.0},
      {"", 0.0},
      {"   ", 0.0},
      {".", 0.0},
      {"-", 0.0},
      {"+-5", 0.0},
      {"N", 0.0},
      {"inf", 0.0},
      {"nan", 0.0},
      {"-infinity", 0.0},
      {"0x1A", 0.0},
      {"1e400", 0.0},
      {"-1e400", 0.0},
      {"1e-400", 0.0},
      {"003.1*6A", 3.1},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReadLenient(text), expected) << text;
}

TEST(ReadLenient, ReadsFieldsLongerThanAnyLogFieldInFull) {
  EXPECT_EQ(ReadLenient(std::string(300, '0') + "12.5"), 12.5);
  EXPECT_EQ(ReadLenient("1." + std::string(200, '0') + "e2"), 100.0);
  EXPECT_EQ(ReadLenient("1" + std::string(400, '0')), 0.0);  // beyond the double range
  EXPECT_EQ(ReadLenient("3" + std::string(100, ' ') + "4.5"), 34.5);
}

// Log-shaped fields take a shortcut; it must give the very double that the
// general reading gives.
TEST(ReadLenient, ShortcutAgreesWithTheGeneralReading) {
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 200000; ++i) {
    const int length = 1 + static_cast<int>(random() % 17);
    // A point before digit `point`, or none when it falls past the end.
    const int point = static_cast<int>(random() % (length + 4));
    std::string text;
    for (int k = 0; k < length; ++k) {
      if (k == point) text.push_back('.');
      text.push_back(static_cast<char>('0' + random() % 10));
    }
    const double expected = testing::ReferenceDouble(text);
    const std::string field = text.append(",N");
    ASSERT_EQ(ReadLenient(field), expected) << field;
  }
}

TEST(ReadStrict, AcceptsOnlyAWholeDecimalNumber) {
  const LenientCase numbers[] = {{"12", 12.0}, {" 05 ", 5.0}, {"5.", 5.0},
                                 {".5", 0.5},  {"-3", -3.0},  {"+4", 4.0}};
  for (const auto& [text, expected] : numbers) {
    double value = 0.0;
    EXPECT_TRUE(ReadStrict(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  const char* notNumbers[] = {"",    " ",   "1a",  "a1",  "1 2", ".",    "+-1",
                              "1,5", "inf", "nan", "0x1", "1e",  "1e400"};
  for (const char* text : notNumbers) {
    double value = 42.0;
    EXPECT_FALSE(ReadStrict(text, value)) << text;
    EXPECT_EQ(value, 42.0) << text;
  }
}

}  // namespace
}  // namespace ostrevane::text
