#include "kml/track_points.h"

#include <gtest/gtest.h>

#include <bit>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace ostrevane::kml {
namespace {

using text::DateTime;

bool IsEmpty(const Cell& cell) { return std::holds_alternative<std::monostate>(cell); }

std::string Text(const Cell& cell) {
  const auto* text = std::get_if<std::string>(&cell);
  return text ? *text : "<not a text>";
}

struct Point {
  std::string text;
  double time;
  double longitude;
  double latitude;
  std::int32_t altitude;
  // Rows 4 to 6 as the table must show them.
  const char* longitudeText;
  const char* latitudeText;
  const char* altitudeText;
};

void Append(TrackPointTable& table, const Point& p) {
  table.Append(p.text, DateTime{p.time}, p.longitude, p.latitude, p.altitude);
}

void ExpectColumn(const TrackPointTable& table, std::int64_t column, const Point& p) {
  SCOPED_TRACE("column " + std::to_string(column));
  EXPECT_TRUE(IsEmpty(table.At(0, column)));
  EXPECT_EQ(Text(table.At(1, column)), p.text);
  const Cell timeCell = table.At(2, column);
  const auto* time = std::get_if<DateTime>(&timeCell);
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(time->value), std::bit_cast<std::uint64_t>(p.time));
  EXPECT_TRUE(IsEmpty(table.At(3, column)));
  EXPECT_EQ(Text(table.At(4, column)), p.longitudeText);
  EXPECT_EQ(Text(table.At(5, column)), p.latitudeText);
  EXPECT_EQ(Text(table.At(6, column)), p.altitudeText);
}

void ExpectEmptyColumn(const TrackPointTable& table, std::int64_t column) {
  for (int row = 0; row < TrackPointTable::kRows; ++row) {
    EXPECT_TRUE(IsEmpty(table.At(row, column))) << "row " << row << " column " << column;
  }
}

TEST(TrackPointTableTest, HasNoDimensionsUntilTheFirstResetThenColumnZeroAlone) {
  TrackPointTable table;
  EXPECT_FALSE(table.HasDimensions());
  EXPECT_THROW(table.Append("0", DateTime{0.5}, 4.5, 50.25, 0), std::out_of_range);
  EXPECT_FALSE(table.HasDimensions());
  table.Reset();
  EXPECT_TRUE(table.HasDimensions());
  EXPECT_EQ(table.LastColumn(), 0);
  ExpectEmptyColumn(table, 0);
  ExpectEmptyColumn(table, 1);
  EXPECT_TRUE(IsEmpty(table.At(7, 0)));
  EXPECT_TRUE(IsEmpty(table.At(-1, 0)));
}

// Each column keeps its own values, whether it repeats the one before it or
// differs from it in a single field.
TEST(TrackPointTableTest, EveryColumnKeepsItsPoint) {
  const double time = 0.123456789012345678;
  const Point points[] = {
      {"0", time, 4.5, 50.25, 0, "4.5", "50.25", "0"},
      {"0", time, 4.5, 50.25, 0, "4.5", "50.25", "0"},
      {"0", time, 4.5, 50.25, 0, "4.5", "50.25", "0"},
      {"1,5", time, 4.5, 50.25, 0, "4.5", "50.25", "0"},
      {"1,5", time, 4.5, 50.25, -12, "4.5", "50.25", "-12"},
      {"0", time, -1.25, 50.0 + 50.0 / 60.0, 0, "-1.25", "50.8333333333333", "0"},
      {"0", time, -1.25, 50.0 + 50.0 / 60.0, 0, "-1.25", "50.8333333333333", "0"},
      {"0", 0.0, -1.25, 50.0 + 50.0 / 60.0, 0, "-1.25", "50.8333333333333", "0"},
      {"0", -0.0, -1.25, 50.0 + 50.0 / 60.0, 0, "-1.25", "50.8333333333333", "0"},
      {"0", -0.0, 2.0, 0.05, 0, "2", "0.05", "0"},
      {"0", -0.0, 4.5, 50.25, 0, "4.5", "50.25", "0"},
  };
  TrackPointTable table;
  table.Reset();
  for (const Point& point : points) Append(table, point);
  ASSERT_EQ(table.LastColumn(), std::ssize(points));
  for (std::size_t i = 0; i < std::size(points); ++i) ExpectColumn(table, i + 1, points[i]);
  ExpectEmptyColumn(table, std::ssize(points) + 1);
}

// Many distinct points with repeats of varying length, across many storage
// blocks: point k has longitude k, and k % 7 + 1 copies.
TEST(TrackPointTableTest, LongTablesFindEveryColumn) {
  TrackPointTable table;
  table.Reset();
  std::vector<int> pointOfColumn{0};
  for (int k = 1; k <= 20000; ++k) {
    for (int copy = 0; copy <= k % 7; ++copy) {
      table.Append("0", DateTime{0.5}, k, 45.0, 0);
      pointOfColumn.push_back(k);
    }
  }
  ASSERT_EQ(table.LastColumn(), std::ssize(pointOfColumn) - 1);
  for (std::int64_t column = 1; column < std::ssize(pointOfColumn); ++column) {
    ASSERT_EQ(Text(table.At(4, column)), std::to_string(pointOfColumn[column])) << column;
  }
}

TEST(TrackPointTableTest, RepeatedFixesTakeLittleMemory) {
  constexpr int kPoints = 1'500'000;
  constexpr int kRepeats = 6;
  TrackPointTable table;
  table.Reset();
  for (int i = 0; i < kPoints; ++i) {
    const int fix = i / kRepeats;
    const DateTime time{(fix / 1000) / 86400.0};  // one clock second per 1000 fixes
    table.Append("0", time, 4.0 + fix * 1e-6, 50.0 + fix * 1e-6, 0);
  }
  EXPECT_EQ(table.LastColumn(), kPoints);
  EXPECT_LT(table.MemoryBytes(), 8u * 1024 * 1024);
  // The last fix, 249999: 4.249999 and 50.249999.
  EXPECT_EQ(Text(table.At(4, kPoints)), "4.249999");
  EXPECT_EQ(Text(table.At(5, kPoints - kRepeats + 1)), "50.249999");
  EXPECT_EQ(Text(table.At(4, kPoints - kRepeats)), "4.249998");
}

}  // namespace
}  // namespace ostrevane::kml
