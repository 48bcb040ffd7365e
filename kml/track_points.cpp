#include "kml/track_points.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <limits>
#include <stdexcept>

#include "text/number_text.h"

namespace ostrevane::kml {
namespace {

static_assert(sizeof(text::DateTime) == sizeof(double));

// Doubles are compared by their bits so that a repeat keeps every value
// exactly, -0.0 and NaN payloads included.
bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Texts are short (the run passes "0"): compared inline, without a library
// call per point.
bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

std::string DoubleText(double value) {
  // FormatDouble always writes "." as the separator, so the text needs no
  // further "," to "." replacement.
  char buffer[text::kDoubleTextCapacity];
  return std::string(text::FormatDouble(value, buffer));
}

std::string IntegerText(std::int32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

template <typename T>
std::size_t VectorBytes(const std::vector<T>& items) {
  return items.capacity() * sizeof(T);
}

// A rough count of what a std::map node costs beyond its value.
constexpr std::size_t kMapNodeOverhead = 4 * sizeof(void*);

}  // namespace

void TrackPointTable::Reset() {
  // Swapping with empty containers hands the memory of the previous
  // conversion back, which clear() would keep.
  points_ = 0;
  std::vector<std::string>().swap(texts_);
  textIndex_.clear();
  std::vector<Label>().swap(labels_);
  labelIndex_.clear();
  std::vector<std::vector<Run>>().swap(blocks_);
  lastRun_ = nullptr;
  std::vector<std::int64_t>().swap(blockFirstColumns_);
  hasDimensions_ = true;
}

void TrackPointTable::Append(std::string_view text, text::DateTime time, double longitude,
                             double latitude, std::int32_t altitude) {
  if (!hasDimensions_) throw std::out_of_range("track point table used before its first reset");
  const std::int64_t column = points_ + 1;
  const bool sameLabel = SameLabelAsLastRun(text, altitude);
  if (sameLabel && SameBits(lastRun_->time.value, time.value) &&
      SameBits(lastRun_->longitude, longitude) && SameBits(lastRun_->latitude, latitude)) {
    points_ = column;
    return;
  }
  if (sameLabel) {
    AppendRun(column, time, longitude, latitude, lastRun_->label);
  } else {
    // Copied first, so that nothing can fail once the run is in.
    std::string labelText(text);
    AppendRun(column, time, longitude, latitude, InternLabel(text, altitude));
    lastLabelText_.swap(labelText);
    lastLabelAltitude_ = altitude;
  }
  points_ = column;
}

void TrackPointTable::AppendRun(std::int64_t column, text::DateTime time, double longitude,
                                double latitude, std::uint32_t label) {
  StartBlockIfFull(column);
  const auto offset = static_cast<std::uint32_t>(column - blockFirstColumns_.back());
  // The block's room was reserved when it started: the run stays where it is.
  lastRun_ = &blocks_.back().emplace_back(Run{time, longitude, latitude, label, offset});
}

// The usual case, which spares the look-up in the label index.
bool TrackPointTable::SameLabelAsLastRun(std::string_view text, std::int32_t altitude) const {
  return lastRun_ != nullptr && lastLabelAltitude_ == altitude && SameText(lastLabelText_, text);
}

std::uint32_t TrackPointTable::InternLabel(std::string_view text, std::int32_t altitude) {
  const std::uint32_t textIndex = InternText(text);
  const std::uint64_t key =
      (std::uint64_t{textIndex} << 32) | std::bit_cast<std::uint32_t>(altitude);
  const auto found = labelIndex_.find(key);
  if (found != labelIndex_.end()) return found->second;
  const auto index = static_cast<std::uint32_t>(labels_.size());
  labels_.push_back(Label{textIndex, altitude});
  labelIndex_.emplace(key, index);
  return index;
}

std::uint32_t TrackPointTable::InternText(std::string_view text) {
  const auto found = textIndex_.find(text);
  if (found != textIndex_.end()) return found->second;
  const auto index = static_cast<std::uint32_t>(texts_.size());
  texts_.emplace_back(text);
  textIndex_.emplace(std::string(text), index);
  return index;
}

// A block is full when its reserved room is used up, or when the new
// column lies too far from the block's first column for a 32-bit offset.
void TrackPointTable::StartBlockIfFull(std::int64_t column) {
  if (!blocks_.empty() && blocks_.back().size() < kRunsPerBlock &&
      column - blockFirstColumns_.back() <= std::numeric_limits<std::uint32_t>::max()) {
    return;
  }
  std::vector<Run> block;
  block.reserve(kRunsPerBlock);
  blockFirstColumns_.reserve(blockFirstColumns_.size() + 1);
  blocks_.push_back(std::move(block));
  blockFirstColumns_.push_back(column);
}

const TrackPointTable::Run* TrackPointTable::FindRun(std::int64_t column) const {
  const auto nextBlock =
      std::upper_bound(blockFirstColumns_.begin(), blockFirstColumns_.end(), column);
  const auto blockIndex = static_cast<std::size_t>(nextBlock - blockFirstColumns_.begin()) - 1;
  const std::vector<Run>& block = blocks_[blockIndex];
  const auto offset = static_cast<std::uint32_t>(column - blockFirstColumns_[blockIndex]);
  const auto nextRun =
      std::upper_bound(block.begin(), block.end(), offset,
                       [](std::uint32_t value, const Run& run) { return value < run.firstOffset; });
  return &*(nextRun - 1);
}

Cell TrackPointTable::At(int row, std::int64_t column) const {
  if (!hasDimensions_ || row < 1 || row >= kRows || column < 1 || column > points_) {
    return Cell{};
  }
  const Run& run = *FindRun(column);
  const Label& label = labels_[run.label];
  switch (row) {
    case 1:
      return Cell{texts_[label.text]};
    case 2:
      return Cell{run.time};
    case 4:
      return Cell{DoubleText(run.longitude)};
    case 5:
      return Cell{DoubleText(run.latitude)};
    case 6:
      return Cell{IntegerText(label.altitude)};
    default:  // row 3, the extra argument, is always empty
      return Cell{};
  }
}

std::size_t TrackPointTable::MemoryBytes() const {
  std::size_t bytes = VectorBytes(blocks_) + VectorBytes(blockFirstColumns_);
  for (const std::vector<Run>& block : blocks_) bytes += VectorBytes(block);
  bytes += VectorBytes(texts_) + VectorBytes(labels_);
  for (const std::string& text : texts_) bytes += text.capacity();
  for (const auto& [text, index] : textIndex_) {
    bytes +=
        sizeof(std::pair<const std::string, std::uint32_t>) + kMapNodeOverhead + text.capacity();
  }
  bytes += labelIndex_.size() *
           (sizeof(std::pair<const std::uint64_t, std::uint32_t>) + kMapNodeOverhead);
  return bytes;
}

}  // namespace ostrevane::kml
