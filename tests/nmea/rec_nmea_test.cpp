#include "nmea/rec_nmea.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/nmea_checksum.h"

namespace ostrevane::nmea {
namespace {

using os::TimeZoneInformation;
using text::CivilTime;

struct Zone {
  os::ZoneTime result = os::ZoneTime::Unknown;
  TimeZoneInformation info;
};

// A fixed zone that counts its queries and checks that each gets a cleared record.
class FakeZone final : public os::TimeZoneSource {
 public:
  Zone zone;
  int queries = 0;
  bool recordsCleared = true;

  os::ZoneTime Query(TimeZoneInformation& info) override {
    ++queries;
    recordsCleared &= info.Bias == 0 && info.StandardBias == 0 && info.DaylightBias == 0;
    info = zone.info;
    return zone.result;
  }
};

const Zone kUtc{};
const Zone kCentralEurope{os::ZoneTime::Standard, {-60, 0, -60}};

const std::vector<std::string> kExampleFields = {"$GPRMC", "123519",    "A",     "4807.038",
                                                 "N",      "01131.000", "E",     "022.4",
                                                 "084.4",  "230394",    "003.1", "W"};
// The example as a receiver sends it, checksum included.
const std::string kExampleSentence =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";

using Changes = std::initializer_list<std::pair<int, const char*>>;

// The example sentence without its checksum, some of its fields replaced; an
// empty list of changes gives it as it is.
std::string Body(Changes changes = {}) {
  std::vector<std::string> fields = kExampleFields;
  for (const auto& [index, text] : changes) fields[index] = text;
  std::string line = fields[0];
  for (std::size_t i = 1; i < fields.size(); ++i) line += "," + fields[i];
  return line;
}

// The same with the checksum of what it then holds.
std::string Example(Changes changes = {}) { return testing::WithChecksum(Body(changes)); }

// The example damaged on its way: `from` became `to`, the checksum stayed.
std::string Corrupted(const std::string& from, const std::string& to) {
  std::string line = kExampleSentence;
  return line.replace(line.find(from), from.size(), to);
}

// Coordinates are compared as the KML file shows them: 15 significant digits.
std::string Digits15(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  return std::string(text, end.ptr);
}

struct Fix {
  std::string latitude;
  std::string longitude;
  CivilTime time;
  float speedKmh;
};

// The fix that every case starts from, so that a case can show it kept.
const Fix kEarlier{"1.5", "2.5", {1899, 12, 30, 1, 2, 3}, 9.5f};
const CivilTime kExampleLocal{1899, 12, 30, 13, 35, 19};
const Fix kExampleFix{"48.1173", "11.5166666666667", kExampleLocal, 41.48148f};

struct Case {
  std::string line;
  Zone zone;
  Fix expected;
  std::uint64_t corrupt = 0;  // sentences set aside for a wrong checksum
};

Fix ExampleFixAt(CivilTime time) { return {"48.1173", "11.5166666666667", time, 41.48148f}; }
Fix ExampleFixWith(std::string latitude, std::string longitude) {
  return {std::move(latitude), std::move(longitude), kExampleLocal, 41.48148f};
}
Fix ExampleFixWithSpeed(float speedKmh) {
  return {"48.1173", "11.5166666666667", kExampleLocal, speedKmh};
}

const Case kCases[] = {
    {kExampleSentence, kCentralEurope, kExampleFix},
    {Example(), kCentralEurope, kExampleFix},
    // Sentence recognition.
    {Example().substr(1), kCentralEurope, kExampleFix},
    {"junk,GPRMC$" + Example(), kCentralEurope, kExampleFix},
    {std::string(40000, '$') + Example(), kCentralEurope, kExampleFix},
    {Example({{0, "$GNRMC"}}), kCentralEurope, kExampleFix},
    {Example({{0, "$BDRMC"}, {11, "W,A"}}) + ",extra", kCentralEurope, kExampleFix},
    {Example({{0, "$gprmc"}}), kCentralEurope, kEarlier},
    {Example({{0, "$ GPRMC"}}), kCentralEurope, kEarlier},
    {Example({{0, "$G1RMC"}}), kCentralEurope, kEarlier},
    {Example({{0, "$GPRMCX"}}), kCentralEurope, kEarlier},
    {Example({{0, "$GPGGA"}}), kCentralEurope, kEarlier},
    {Example({{0, "$PGRMC"}}), kCentralEurope, kEarlier},  // proprietary, not a talker
    {Example().substr(0, Example().rfind(',')), kCentralEurope, kEarlier},  // 11 fields
    {Example({{11, ""}}), kCentralEurope, kExampleFix},
    {Example({{1, "000000"}, {3, "0100.000"}}) + Example(), kCentralEurope, kExampleFix},
    {Example() + Example({{1, "000000"}}), kCentralEurope, ExampleFixAt({1899, 12, 30, 1, 0, 0})},
    // Checksum. A wrong one sets the sentence aside and keeps the earlier fix;
    // none, or a "*" without two hexadecimal digits, leaves it to be decoded.
    {Corrupted("4807.038", "1807.038"), kCentralEurope, kEarlier, 1},
    {Corrupted(",N,", ",S,"), kCentralEurope, kEarlier, 1},
    {Example({{1, "000000"}}) + Corrupted("4807.038", "1807.038"), kCentralEurope,
     ExampleFixAt({1899, 12, 30, 1, 0, 0}), 1},
    {Corrupted("*6A", "*6a"), kCentralEurope, kExampleFix},
    // Lower-case digits are read too: that of a damaged sentence is wrong.
    {"$GPRMC,123519,A,1807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a", kCentralEurope,
     kEarlier, 1},
    {Body({{3, "1807.038"}}), kCentralEurope, ExampleFixWith("18.1173", "11.5166666666667")},
    {Body() + "*6", kCentralEurope, kExampleFix},
    {Corrupted("4807.038", "48*7.038"), kCentralEurope, kEarlier, 1},  // a "*" too early
    // Position.
    {Example({{4, "S"}, {6, "W"}}), kCentralEurope,
     ExampleFixWith("-48.1173", "-11.5166666666667")},
    {Example({{4, "s"}, {6, "W "}}), kCentralEurope, kExampleFix},
    {Example({{2, "V"}}), kCentralEurope, ExampleFixWith("0", "0")},
    {Example({{3, "0000.000"}, {5, ""}}), kCentralEurope, ExampleFixWith("0", "0")},
    {Example({{3, "-4807.038"}}), kCentralEurope,
     ExampleFixWith("-47.4506333333333", "11.5166666666667")},
    {Example({{3, "1e400"}, {5, "-1e400"}}), kCentralEurope, ExampleFixWith("0", "0")},
    // Off the Earth: no fix. Exactly 90 and 180 degrees are places.
    {Example({{3, "36000.0000"}, {5, "72000.0000"}}), kCentralEurope, ExampleFixWith("0", "0")},
    {Example({{3, "9000.0001"}}), kCentralEurope, ExampleFixWith("0", "0")},
    {Example({{3, "9000.000"}, {4, "S"}, {5, "18000.000"}, {6, "W"}}), kCentralEurope,
     ExampleFixWith("-90", "-180")},
    // Time of day and zone.
    {Example({{1, "001000"}}),
     {os::ZoneTime::Daylight, {300, 0, -60}},
     ExampleFixAt({1899, 12, 29, 20, 10, 0})},
    {Example({{1, "12345"}}), kUtc, ExampleFixAt({1899, 12, 30, 12, 34, 5})},
    {Example({{1, "235959.999"}}), kUtc, ExampleFixAt({1899, 12, 30, 23, 59, 59})},
    {Example({{1, "256100"}}), kUtc, ExampleFixAt({1899, 12, 31, 2, 1, 0})},
    {Example({{1, "5.0000"}}), kUtc, ExampleFixAt({1899, 12, 30, 5, 0, 0})},
    {Example({{1, ".90000"}}), kUtc, ExampleFixAt({1899, 12, 30, 1, 0, 0})},
    {Example(), {os::ZoneTime::Unknown, {60, -30, -60}}, ExampleFixAt({1899, 12, 30, 11, 35, 19})},
    {Example(), {os::ZoneTime::Invalid, {30, -30, -60}}, ExampleFixAt({1899, 12, 30, 12, 5, 19})},
    {Example(), {os::ZoneTime::Daylight, {-60, 0, -60}}, ExampleFixAt({1899, 12, 30, 14, 35, 19})},
    {Example({{1, ""}}), kCentralEurope, ExampleFixAt(kEarlier.time)},
    {Example({{1, "1234"}}), kCentralEurope, ExampleFixAt(kEarlier.time)},
    {Example({{1, "12a456"}}), kCentralEurope, ExampleFixAt(kEarlier.time)},
    {Example({{1, "12345x"}}), kCentralEurope, ExampleFixAt(kEarlier.time)},
    // Speed.
    {Example({{7, ""}}), kCentralEurope, ExampleFixWithSpeed(0.0f)},
    {Example({{7, "1"}}), kCentralEurope, ExampleFixWithSpeed(1.851852f)},
    {Example({{7, "1e300"}}), kCentralEurope, ExampleFixWithSpeed(0.0f)},
    {Example({{7, "1.7e308"}}), kCentralEurope, ExampleFixWithSpeed(0.0f)},
};

void ExpectFix(const RecNMEA& decoder, const Fix& expected, const std::string& line) {
  EXPECT_EQ(Digits15(decoder.Latitude), expected.latitude) << line.substr(0, 120);
  EXPECT_EQ(Digits15(decoder.Longitude), expected.longitude) << line.substr(0, 120);
  EXPECT_EQ(text::ToCivil(decoder.FixTime), expected.time) << line.substr(0, 120);
  EXPECT_FLOAT_EQ(decoder.SpeedKmh, expected.speedKmh) << line.substr(0, 120);
}

TEST(RecNMEA, DecodesRmcSentencesIntoTheCurrentFix) {
  for (const Case& testCase : kCases) {
    FakeZone zone;
    zone.zone = testCase.zone;
    RecNMEA decoder(zone);
    decoder.Latitude = 1.5;  // kEarlier
    decoder.Longitude = 2.5;
    decoder.FixTime = text::DateTime::FromSeconds(1 * 3600 + 2 * 60 + 3);
    decoder.SpeedKmh = 9.5f;
    decoder.NmeaLine = testCase.line;
    decoder.DecodeLine();
    ExpectFix(decoder, testCase.expected, testCase.line);
    EXPECT_EQ(decoder.CorruptSentences, testCase.corrupt) << testCase.line.substr(0, 120);
  }
}

TEST(RecNMEA, QueriesTheZoneOncePerSentenceWithAClearedRecord) {
  FakeZone zone;
  zone.zone = {os::ZoneTime::Daylight, {300, 7, -60}};
  RecNMEA decoder(zone);
  for (const std::string& line : {Example() + Example(), Example({{0, "$GPGGA"}}), Example()}) {
    decoder.NmeaLine = line;
    decoder.DecodeLine();
  }
  EXPECT_EQ(zone.queries, 3);
  EXPECT_TRUE(zone.recordsCleared);
}

TEST(RecNMEA, ClearFixForgetsThePositionAndTheCorruptSentences) {
  FakeZone zone;
  zone.zone = kCentralEurope;
  RecNMEA decoder(zone);
  const std::string line = Example() + Corrupted(",N,", ",S,");
  decoder.NmeaLine = line;
  decoder.DecodeLine();
  decoder.ClearFix();
  ExpectFix(decoder, {"0", "0", CivilTime{}, 0.0f}, "cleared");
  EXPECT_EQ(decoder.CorruptSentences, 0u);
}

TEST(RecNMEA, ReadsDecimalPointsWhateverTheLocale) {
  if (std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) {
    GTEST_SKIP() << "locale fr_FR.UTF-8 is not installed";
  }
  FakeZone zone;
  zone.zone = kCentralEurope;
  RecNMEA decoder(zone);
  const std::string line = Example();
  decoder.NmeaLine = line;
  decoder.DecodeLine();
  std::setlocale(LC_ALL, "C");
  ExpectFix(decoder, kExampleFix, line);
}

}  // namespace
}  // namespace ostrevane::nmea
