#include "nmea/rec_nmea.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "text/byte_scan.h"
#include "text/characters.h"
#include "text/number_read.h"

namespace ostrevane::nmea {
namespace {

using RmcFields = RecNMEA::RmcFields;

// The fields of an RMC sentence, counted from the identifier (field 0):
//   $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
//   0      1      2 3        4 5         6 7     8     9      10    11
// 1 UTC time hhmmss(.ss), 2 status (A valid, V void), 3-4 latitude ddmm.mmm
// and N/S, 5-6 longitude dddmm.mmm and E/W, 7 speed over ground in knots;
// the track (8), date (9) and magnetic variation (10-11) are not read.
enum RmcField : std::size_t {
  kUtcTime = 1,
  kStatus = 2,
  kLatitude = 3,
  kNorthSouth = 4,
  kLongitude = 5,
  kEastWest = 6,
  kSpeedKnots = 7,
};

constexpr std::string_view kRmcType = "RMC";
constexpr std::size_t kIdentifierLength = 5;  // two talker letters, then "RMC"
constexpr double kKnotsPerKmh = 0.54;
// Beyond these magnitudes a position is not on Earth: a corrupted field.
constexpr double kMostLatitude = 90.0;
constexpr double kMostLongitude = 180.0;

bool IsCapitalLetter(char c) { return c >= 'A' && c <= 'Z'; }

// Whether the piece starts with the identifier of an RMC sentence of any
// talker, ending at the first comma or at the end of the piece. Checked before
// any splitting, so that the many other lines of a log cost little. An
// identifier starting with "P" is a maker's proprietary sentence ($PGRMC...),
// whose fields mean something else.
bool StartsWithRmcIdentifier(std::string_view piece) {
  if (piece.size() < kIdentifierLength) return false;
  if (piece.size() > kIdentifierLength && piece[kIdentifierLength] != ',') return false;
  // Compared character by character: a library call per line costs more.
  return IsCapitalLetter(piece[0]) && piece[0] != 'P' && IsCapitalLetter(piece[1]) &&
         piece[2] == kRmcType[0] && piece[3] == kRmcType[1] && piece[4] == kRmcType[2];
}

// The value of a hexadecimal digit of either case, or -1 for any other byte.
int HexDigitValue(char c) {
  const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
  if (digit < 10) return static_cast<int>(digit);
  // Lower case and upper case letters differ in one bit.
  const unsigned letter = (static_cast<unsigned char>(c) | 0x20u) - unsigned{'a'};
  if (letter < 6) return static_cast<int>(letter) + 10;
  return -1;
}

// Whether a sentence carries a checksum that its body contradicts. The body
// is the piece up to its first "*" followed by two hexadecimal digits, of
// either case, which are the checksum: the XOR of every byte of the body.
// What follows those digits (nothing, in a sound sentence) plays no part. A
// piece without such a "*" carries no checksum, so nothing contradicts it:
// some loggers strip checksums. A stray "*" that two digits don't follow
// stays in the body, where it makes the checksum wrong rather than hide it.
bool HasWrongChecksum(std::string_view piece) {
  // The sum is worked out in the pass that finds the "*", sixteen bytes at a
  // time where the processor can: every RMC sentence of a log is checked.
  unsigned sum = 0;
  std::size_t from = 0;
  while (true) {
    const std::size_t found = text::XorUpTo(piece.substr(from), '*', sum);
    if (found == std::string_view::npos) return false;
    const std::size_t star = from + found;
    if (star + 2 >= piece.size()) return false;
    const int high = HexDigitValue(piece[star + 1]);
    const int low = HexDigitValue(piece[star + 2]);
    if (high >= 0 && low >= 0) return sum != static_cast<unsigned>(high * 16 + low);
    sum ^= static_cast<unsigned char>('*');
    from = star + 1;
  }
}

// Cuts `piece` at its commas into its first fields; returns how many it has,
// up to the size of `fields`.
std::size_t SplitFields(std::string_view piece, RmcFields& fields) {
  std::size_t count = 0;
  std::size_t start = 0;
  text::ForEachByte(piece, ',', [&](std::size_t comma) {
    fields[count++] = piece.substr(start, comma - start);
    start = comma + 1;
    return count < fields.size();
  });
  if (count < fields.size()) fields[count++] = piece.substr(start);
  return count;
}

// ddmm.mmmm or dddmm.mmmm, read as a number, to decimal degrees. The degrees
// are the floor of v / 100, so a (non-standard) negative field keeps its
// minutes positive.
double DegreesFromValue(double value) {
  const double degreesAndMinutes = value / 100;
  const double degrees = std::floor(degreesAndMinutes);
  return ((degreesAndMinutes - degrees) / 60) * 100 + degrees;
}

double Signed(double degrees, std::string_view hemisphere, std::string_view negativeHemisphere) {
  return hemisphere == negativeHemisphere ? -degrees : degrees;
}

// Whether the position lies on Earth; NaN does not.
bool IsOnEarth(double latitude, double longitude) {
  return std::fabs(latitude) <= kMostLatitude && std::fabs(longitude) <= kMostLongitude;
}

// km/h from knots, or 0 where the result does not fit a float.
float KmhFromKnots(double knots) {
  const double kmh = knots / kKnotsPerKmh;
  if (!(std::fabs(kmh) <= std::numeric_limits<float>::max())) return 0.0f;
  return static_cast<float>(kmh);
}

// One two-character group of the time field, read strictly; a group past the
// end of the field is empty and so not a number. False when it is not one.
// (A flag and an out-parameter rather than std::optional: GCC returns an
// optional through memory in a way that stalls the next load.)
bool ReadTimeGroup(std::string_view time, std::size_t group, std::int64_t& value) {
  const std::size_t start = group * 2;
  if (start >= time.size()) return false;
  const std::string_view text = time.substr(start, 2);
  if (int twoDigits = 0; text::ReadTwoDigits(text, twoDigits)) {
    value = twoDigits;
    return true;
  }
  double number = 0.0;
  if (!text::ReadStrict(text, number)) return false;
  // Two characters hold at most 99; a group like ".9" counts as one whole unit.
  value = std::llround(number);
  return true;
}

// Seconds from midnight UTC given by hhmmss, the groups not range-checked
// (256100 is 25 h 61 min); false when a group is missing or not a number.
bool ReadUtcSeconds(std::string_view time, std::int64_t& seconds) {
  std::int64_t hours = 0;
  std::int64_t minutes = 0;
  std::int64_t wholeSeconds = 0;
  if (!ReadTimeGroup(time, 0, hours) || !ReadTimeGroup(time, 1, minutes) ||
      !ReadTimeGroup(time, 2, wholeSeconds))
    return false;
  seconds = hours * text::kSecondsPerHour + minutes * text::kSecondsPerMinute + wholeSeconds;
  return true;
}

}  // namespace

RecNMEA::RecNMEA(os::TimeZoneSource& timeZone) : timeZone_(timeZone) {}

void RecNMEA::DecodeLine() {
  // Every "$" starts a piece; the text before the first one is a piece too.
  std::string_view rest = NmeaLine;
  // Most lines are one sentence: the piece before its "$" is empty.
  if (!rest.empty() && rest.front() == '$') rest.remove_prefix(1);
  while (true) {
    const std::size_t dollar = text::FindByte(rest, '$');
    DecodePiece(rest.substr(0, dollar));
    if (dollar == std::string_view::npos) break;
    rest.remove_prefix(dollar + 1);
  }
}

void RecNMEA::DecodeLinePart(std::string_view part, bool lineEnds) {
  if (!inLongLine_) {
    inLongLine_ = true;
    pendingPiece_.clear();
    pieceTooLong_ = false;
  }
  // Each "$" ends the piece that is pending and starts the next.
  for (std::size_t dollar; (dollar = text::FindByte(part, '$')) != std::string_view::npos;) {
    KeepOfPiece(part.substr(0, dollar));
    if (!pieceTooLong_) DecodePiece(pendingPiece_);
    pendingPiece_.clear();
    pieceTooLong_ = false;
    part.remove_prefix(dollar + 1);
  }
  KeepOfPiece(part);
  if (!lineEnds) return;
  if (!pieceTooLong_) DecodePiece(pendingPiece_);
  inLongLine_ = false;
  pendingPiece_.clear();
}

void RecNMEA::KeepOfPiece(std::string_view text) {
  if (pieceTooLong_) return;
  if (pendingPiece_.size() + text.size() > kMostPieceLength) {
    pieceTooLong_ = true;
    pendingPiece_.clear();
    return;
  }
  pendingPiece_.append(text);
}

void RecNMEA::ClearFix() {
  Latitude = 0.0;
  Longitude = 0.0;
  FixTime = text::DateTime{};
  SpeedKmh = 0.0f;
  CorruptSentences = 0;
  inLongLine_ = false;
}

void RecNMEA::DecodePiece(std::string_view piece) {
  if (!StartsWithRmcIdentifier(piece)) return;
  if (SplitFields(piece, fields_) < kRmcFieldCount) return;
  // A corrupt sentence would draw a position the receiver never gave.
  if (HasWrongChecksum(piece)) {
    ++CorruptSentences;
    return;
  }
  DecodeRmc(fields_);
}

void RecNMEA::DecodeRmc(const RmcFields& fields) {
  // The three numbers are read before any is worked on, so that their
  // divisions overlap instead of waiting for one another.
  const double latitudeValue = text::ReadLenient(fields[kLatitude]);
  const double longitudeValue = text::ReadLenient(fields[kLongitude]);
  const double knots = text::ReadLenient(fields[kSpeedKnots]);
  // A void fix carries no usable position, whatever its fields hold.
  const bool isVoid = fields[kStatus] == "V";
  const double latitude = Signed(DegreesFromValue(latitudeValue), fields[kNorthSouth], "S");
  const double longitude = Signed(DegreesFromValue(longitudeValue), fields[kEastWest], "W");
  // A void fix or a position off the Earth is no fix, as empty fields are.
  const bool usable = !isVoid && IsOnEarth(latitude, longitude);
  Latitude = usable ? latitude : 0.0;
  Longitude = usable ? longitude : 0.0;
  // An unreadable time keeps the earlier one rather than losing the position.
  if (std::int64_t utcSeconds = 0; ReadUtcSeconds(fields[kUtcTime], utcSeconds)) {
    FixTime =
        text::DateTime::FromSeconds(utcSeconds - ZoneOffsetMinutes() * text::kSecondsPerMinute);
  }
  SpeedKmh = KmhFromKnots(knots);
}

std::int64_t RecNMEA::ZoneOffsetMinutes() {
  os::TimeZoneInformation zone{};
  // 64-bit sums: no overflow whatever the zone source reports.
  switch (timeZone_.Query(zone)) {
    case os::ZoneTime::Standard:
      return std::int64_t{zone.Bias} + zone.StandardBias;
    case os::ZoneTime::Daylight:
      return std::int64_t{zone.Bias} + zone.DaylightBias;
    default:
      return zone.Bias;
  }
}

}  // namespace ostrevane::nmea
