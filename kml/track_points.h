#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/date_time.h"

namespace ostrevane::kml {

// One cell of the track point table: empty, a text or a date-time.
using Cell = std::variant<std::monostate, std::string, platform::DateTime>;

// The points recorded during one conversion, seven rows by one column per
// point plus an empty column 0:
//   row 0  empty
//   row 1  the text argument, unchanged
//   row 2  the time the point was recorded
//   row 3  the extra argument (always empty)
//   rows 4 to 6  longitude, latitude and altitude as text, "." as the point
// Nothing reads it back while converting, so it is kept compact: points that
// repeat the one before them (the same fix seen on several lines) share one
// record, and storage grows in fixed-size blocks that are never copied.
class TrackPointTable {
 public:
  static constexpr int kRows = 7;

  // Seven rows by column 0 alone, all cells empty.
  void Reset();
  // False before the first Reset: the table has no dimensions yet.
  bool HasDimensions() const { return hasDimensions_; }
  // The last column index: the number of points since the last reset.
  std::int64_t LastColumn() const { return points_; }
  // Appends one point as the next column.
  void Append(std::string_view text, platform::DateTime time, double longitude, double latitude,
              std::int32_t altitude);
  // The cell at `row`, `column`; empty outside the table.
  Cell At(int row, std::int64_t column) const;
  // Bytes held for the points, for memory checks.
  std::size_t MemoryBytes() const;

 private:
  struct Run;
  const Run* FindRun(std::int64_t column) const;

  bool hasDimensions_ = false;
  std::int64_t points_ = 0;
  std::vector<std::string> texts_;
  std::vector<std::vector<Run>> blocks_;
};

}  // namespace ostrevane::kml
