#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "os/time_zone.h"
#include "text/date_time.h"

namespace ostrevane::nmea {

// RecNMEA and its members keep the design's names (README, "Names and shapes from the design").
//
// Decodes the RMC sentences of an NMEA 0183 log, one line at a time, into the
// current fix. The caller points NmeaLine at a line and calls DecodeLine; the
// fix changes only when the line holds an RMC sentence whose checksum, where
// it has one, is right, and otherwise stays as it was, so the caller sees the
// last fix again after every other line.
class RecNMEA {
 public:
  explicit RecNMEA(os::TimeZoneSource& timeZone = os::SystemTimeZone());

  // The line to decode. It views the caller's text, which must stay in place
  // until DecodeLine returns: lines are decoded where they were read, not
  // copied first.
  std::string_view NmeaLine;

  // The current fix. Latitude and Longitude are signed decimal degrees (south
  // and west negative); zero means no fix.
  double Latitude = 0.0;
  double Longitude = 0.0;
  // Local time of day of the fix, by the zone in effect when it was decoded.
  text::DateTime FixTime;
  // Ground speed in km/h.
  float SpeedKmh = 0.0f;
  // RMC sentences set aside, the fix left as it was, because their checksum
  // is wrong; counted since the fix was last cleared.
  std::uint64_t CorruptSentences = 0;

  void DecodeLine();
  // Decodes a line that comes in parts, as DecodeLine decodes it whole:
  // `lineEnds` is true with its last part. Memory stays bounded however long
  // the line: a piece between two "$" longer than kMostPieceLength can't be a
  // sentence and is skipped.
  void DecodeLinePart(std::string_view part, bool lineEnds);
  static constexpr std::size_t kMostPieceLength = 64 * 1024;
  // Forgets the current fix and the count of corrupt sentences, so that a new
  // log starts without either.
  void ClearFix();

  // Fields 0 to 11 of an RMC sentence, which must all exist; nothing after
  // field 11 is read.
  static constexpr std::size_t kRmcFieldCount = 12;
  using RmcFields = std::array<std::string_view, kRmcFieldCount>;

 private:
  void DecodePiece(std::string_view piece);
  // Adds `text` to the pending piece, unless that makes it too long to be a
  // sentence.
  void KeepOfPiece(std::string_view text);
  void DecodeRmc(const RmcFields& fields);
  // Minutes to subtract from UTC to get local time, by the zone in effect now.
  std::int64_t ZoneOffsetMinutes();

  os::TimeZoneSource& timeZone_;
  // The fields of the piece being decoded. Kept from piece to piece, since
  // clearing twelve views for every sentence costs more than checking it.
  RmcFields fields_;
  // The start of a piece whose end is in a later part of the line.
  std::string pendingPiece_;
  bool inLongLine_ = false;
  bool pieceTooLong_ = false;
};

}  // namespace ostrevane::nmea
