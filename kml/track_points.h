#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "text/date_time.h"

namespace ostrevane::kml {

// One cell of the track point table: empty, a text or a date-time.
using Cell = std::variant<std::monostate, std::string, text::DateTime>;

// The points recorded during one conversion, seven rows by one column per
// point plus an empty column 0, the design's table (README, "Names and shapes from the design");
// the run reads it only through LastColumn(), but its shape is kept whole:
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
  // Appends one point as the next column. Throws std::out_of_range before the
  // first Reset, leaving the table without dimensions.
  void Append(std::string_view text, text::DateTime time, double longitude, double latitude,
              std::int32_t altitude);
  // The cell at `row`, `column`; empty outside the table.
  Cell At(int row, std::int64_t column) const;
  // Bytes held for the points, for memory checks.
  std::size_t MemoryBytes() const;

 private:
  // Room for this many runs is reserved when a block starts.
  static constexpr std::size_t kRunsPerBlock = 4096;

  // The text and altitude of a point. The run passes the same pair for every
  // point, so each distinct pair is kept once and runs refer to it.
  struct Label {
    std::uint32_t text;  // index into texts_
    std::int32_t altitude;
  };

  // One point, or several consecutive identical ones, in 32 bytes. The run
  // ends where the next one in its block starts, or at the block's end.
  struct Run {
    text::DateTime time;
    double longitude;
    double latitude;
    std::uint32_t label;        // index into labels_
    std::uint32_t firstOffset;  // first column, counted from the block's first column
  };
  static_assert(sizeof(Run) == 32);

  void AppendRun(std::int64_t column, text::DateTime time, double longitude, double latitude,
                 std::uint32_t label);
  bool SameLabelAsLastRun(std::string_view text, std::int32_t altitude) const;
  std::uint32_t InternLabel(std::string_view text, std::int32_t altitude);
  std::uint32_t InternText(std::string_view text);
  void StartBlockIfFull(std::int64_t column);
  const Run* FindRun(std::int64_t column) const;

  bool hasDimensions_ = false;
  std::int64_t points_ = 0;
  std::vector<std::string> texts_;
  std::map<std::string, std::uint32_t, std::less<>> textIndex_;
  std::vector<Label> labels_;
  std::map<std::uint64_t, std::uint32_t> labelIndex_;
  std::vector<std::vector<Run>> blocks_;
  std::vector<std::int64_t> blockFirstColumns_;
  // The latest run and its label, which the next point most likely repeats.
  const Run* lastRun_ = nullptr;
  std::string lastLabelText_;
  std::int32_t lastLabelAltitude_ = 0;
};

}  // namespace ostrevane::kml
