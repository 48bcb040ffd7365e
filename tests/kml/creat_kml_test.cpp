#include "kml/creat_kml.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/expected_kml.h"
#include "io/file_error.h"
#include "tests/support/temp_folder.h"

namespace ostrevane::kml {
namespace {

using testing::ReadAll;
using testing::TempFolder;
using text::DateTime;

// The document without coordinate lines, cut where they would go.
const std::string kEmptyDocument = testing::ExpectedKml({});
const std::string kHeader =
    kEmptyDocument.substr(0, kEmptyDocument.find("          </coordinates>"));
const std::string kTrailer = kEmptyDocument.substr(kHeader.size());

using Fixes = std::vector<std::pair<double, double>>;

// A writer with the files and the source path it works on.
struct Writer {
  io::NumberedFiles files;
  std::string nmeaFile;
  CreatKML kml{files, nmeaFile};

  // One whole conversion, the track point table used as the run uses it.
  void Convert(const Fixes& fixes) {
    kml.KmlOpen("");
    for (const auto& [longitude, latitude] : fixes) {
      kml.KmlAddPoint("0", DateTime{0.5}, {}, longitude, latitude, 0);
      kml.KmlCoord(longitude, latitude, 0);
    }
    kml.KmlEndTrack({});
    kml.KmlClose();
  }
};

// Runs a test in another working folder, and back.
struct WorkingFolder {
  explicit WorkingFolder(const std::filesystem::path& path) { std::filesystem::current_path(path); }
  ~WorkingFolder() { std::filesystem::current_path(previous); }
  std::filesystem::path previous = std::filesystem::current_path();
};

struct LocaleRestorer {
  ~LocaleRestorer() { std::setlocale(LC_ALL, previous.c_str()); }
  std::string previous = std::setlocale(LC_ALL, nullptr);
};

std::string Text(const Cell& cell) {
  const auto* text = std::get_if<std::string>(&cell);
  return text ? *text : "<not a text>";
}

TEST(CreatKmlTest, NoPointGivesThirtyOneLines) {
  TempFolder folder;
  Writer writer;
  writer.nmeaFile = folder.Write("trip.nmea", "");
  writer.files.OpenForInput(1, writer.nmeaFile);  // the run holds number 1
  writer.Convert({});
  EXPECT_EQ(writer.kml.KmlFile, folder.File("trip.kml"));
  EXPECT_EQ(writer.kml.KmlFileNum, 2);
  const std::string kml = ReadAll(writer.kml.KmlFile);
  EXPECT_EQ(kml, kHeader + kTrailer);
  EXPECT_TRUE(kml.ends_with("</kml>\r\n"));
}

TEST(CreatKmlTest, WritesOneCoordinateLinePerCall) {
  TempFolder folder;
  Writer writer;
  writer.nmeaFile = folder.File("trip.nmea");
  writer.kml.KmlOpen("");
  // Each coordinate also changes alone, so a stale cached line would show.
  const Fixes fixes{
      {4.5, 50.25}, {4.5, 50.25}, {-1.25, 50.25}, {-1.25, 2.0}, {50.0 + 50.0 / 60.0, 0.05},
      {4.5, 50.25}};
  for (const auto& [longitude, latitude] : fixes) {
    writer.kml.KmlCoord(longitude, latitude, 7);  // the altitude written is always 0
  }
  writer.kml.KmlEndTrack({});
  writer.kml.KmlClose();
  EXPECT_EQ(ReadAll(folder.File("trip.kml")), kHeader +
                                                  "4.5,50.25,0\r\n"
                                                  "4.5,50.25,0\r\n"
                                                  "-1.25,50.25,0\r\n"
                                                  "-1.25,2,0\r\n"
                                                  "50.8333333333333,0.05,0\r\n"
                                                  "4.5,50.25,0\r\n" +
                                                  kTrailer);
}

// Relative paths, so that only the source's own dots count.
TEST(CreatKmlTest, DerivesTheOutputPathFromTheLastDot) {
  struct Case {
    const char* source;
    const char* output;
  };
  const Case cases[] = {{"trip.nmea", "trip.kml"},
                        {"trip.2024.nmea", "trip.2024.kml"},
                        {"trip", "kml"},
                        {"logs.old/trip", "logs.kml"}};
  TempFolder folder;
  WorkingFolder workingFolder(folder.path());
  for (const Case& c : cases) {
    Writer writer;
    writer.nmeaFile = c.source;
    writer.Convert({{4.5, 50.25}});
    EXPECT_EQ(writer.kml.KmlFile, c.output) << c.source;
    EXPECT_EQ(ReadAll(c.output), kHeader + "4.5,50.25,0\r\n" + kTrailer) << c.source;
  }
}

TEST(CreatKmlTest, NamedOutputIsOpenedUnchangedAndKeepsKmlFile) {
  TempFolder folder;
  Writer writer;
  writer.nmeaFile = folder.File("trip.nmea");
  writer.Convert({});
  writer.kml.KmlOpen(folder.File("other.txt"));
  writer.kml.KmlEndTrack({});
  writer.kml.KmlClose();
  EXPECT_EQ(writer.kml.KmlFile, folder.File("trip.kml"));
  EXPECT_EQ(ReadAll(folder.File("other.txt")), kHeader + kTrailer);
}

TEST(CreatKmlTest, ReplacesAnExistingFileFromItsFirstByte) {
  TempFolder folder;
  folder.Write("trip.kml", std::string(5000, 'x'));
  Writer writer;
  writer.nmeaFile = folder.File("trip.nmea");
  writer.Convert({{-1.25, 2.0}});
  EXPECT_EQ(ReadAll(folder.File("trip.kml")), kHeader + "-1.25,2,0\r\n" + kTrailer);
}

TEST(CreatKmlTest, EachOpenResetsTheTrackPoints) {
  TempFolder folder;
  Writer writer;
  writer.nmeaFile = folder.File("trip.nmea");
  writer.kml.KmlOpen("");
  EXPECT_EQ(writer.kml.TrackPoints.LastColumn(), 0);
  writer.kml.KmlAddPoint("1,5", DateTime{0.5}, {}, 4.5, 50.25, 0);
  const TrackPointTable& points = writer.kml.TrackPoints;
  EXPECT_EQ(points.LastColumn(), 1);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(points.At(0, 1)));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(points.At(1, 0)));
  EXPECT_EQ(Text(points.At(1, 1)), "1,5");
  EXPECT_EQ(std::get<DateTime>(points.At(2, 1)), DateTime{0.5});
  EXPECT_EQ(Text(points.At(4, 1)), "4.5");
  EXPECT_EQ(Text(points.At(5, 1)), "50.25");
  EXPECT_EQ(Text(points.At(6, 1)), "0");
  for (int i = 0; i < 4; ++i) writer.kml.KmlAddPoint("0", DateTime{0.5}, {}, i, 50.0, 0);
  EXPECT_EQ(points.LastColumn(), 5);
  writer.kml.KmlEndTrack({});
  writer.kml.KmlClose();

  // An output that cannot be opened still gets its path and a fresh table.
  writer.nmeaFile = folder.File("missing/trip.nmea");
  EXPECT_THROW(writer.kml.KmlOpen(""), io::FileError);
  EXPECT_EQ(writer.kml.KmlFile, folder.File("missing/trip.kml"));
  EXPECT_EQ(points.LastColumn(), 0);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(points.At(4, 1)));
  writer.kml.KmlAbandon();
}

TEST(CreatKmlTest, DecimalCommaLocaleStillWritesPoints) {
  LocaleRestorer localeRestorer;
  if (std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no decimal-comma locale (fr_FR.UTF-8 or de_DE.UTF-8) is installed";
  }
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  TempFolder folder;
  Writer writer;
  writer.nmeaFile = folder.File("trip.nmea");
  writer.Convert({{4.5, 50.25}});
  EXPECT_EQ(ReadAll(writer.kml.KmlFile), kHeader + "4.5,50.25,0\r\n" + kTrailer);
  EXPECT_EQ(Text(writer.kml.TrackPoints.At(4, 1)), "4.5");
  EXPECT_TRUE(std::holds_alternative<DateTime>(writer.kml.TrackPoints.At(2, 1)));
}

// The companion of a followed log links to its files by relative URLs: a
// name with a blank, a "#" and an accent is percent-encoded, its folder
// separator kept.
TEST(CreatKmlTest, FollowLinkPointsAtTheTrackByItsEncodedName) {
  TempFolder folder;
  Writer writer;
  writer.nmeaFile = folder.Write("mon trajet #2 \u00E9t\u00E9.nmea", "");
  const std::string companion = writer.kml.KmlWriteFollowLink(
      {{"Trajet (suivi, partie 1)", "mon trajet #2 \u00E9t\u00E9.suivi/liste-0.kml", 8},
       {"Trajet (suivi)", "mon trajet #2 \u00E9t\u00E9.suivi/en-cours.kml", 0.5}});
  EXPECT_EQ(companion, folder.File("mon trajet #2 \u00E9t\u00E9.suivi.kml"));
  EXPECT_EQ(ReadAll(companion),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
            "<!-- Genere par Ostrevane -->\r\n"
            "<Document>\r\n"
            "  <NetworkLink>\r\n"
            "    <name>Trajet (suivi, partie 1)</name>\r\n"
            "    <Link>\r\n"
            "      <href>mon%20trajet%20%232%20%C3%A9t%C3%A9.suivi/liste-0.kml</href>\r\n"
            "      <refreshMode>onInterval</refreshMode>\r\n"
            "      <refreshInterval>8</refreshInterval>\r\n"
            "    </Link>\r\n"
            "  </NetworkLink>\r\n"
            "  <NetworkLink>\r\n"
            "    <name>Trajet (suivi)</name>\r\n"
            "    <Link>\r\n"
            "      <href>mon%20trajet%20%232%20%C3%A9t%C3%A9.suivi/en-cours.kml</href>\r\n"
            "      <refreshMode>onInterval</refreshMode>\r\n"
            "      <refreshInterval>0.5</refreshInterval>\r\n"
            "    </Link>\r\n"
            "  </NetworkLink>\r\n"
            "</Document>\r\n"
            "</kml>\r\n");
  EXPECT_EQ(folder.EntryCount(), 2u);
}

TEST(CreatKmlTest, AbandonTouchesOnlyItsOwnUnfinishedOutput) {
  TempFolder folder;
  folder.Write("trip.kml", "earlier");
  Writer writer;
  writer.nmeaFile = folder.File("trip.nmea");
  EXPECT_THROW(writer.kml.KmlCoord(4.5, 50.25, 0), io::FileError);  // nothing open yet
  writer.kml.KmlOpen("");
  writer.kml.KmlCoord(4.5, 50.25, 0);
  writer.kml.KmlAbandon();
  EXPECT_EQ(ReadAll(folder.File("trip.kml")), "earlier");
  EXPECT_EQ(folder.EntryCount(), 1u);

  // Once closed, the number may serve another file, which must survive.
  writer.Convert({});
  writer.files.OpenForOutput(writer.kml.KmlFileNum, folder.File("other.txt"));
  writer.kml.KmlAbandon();
  writer.files.PrintLine(writer.kml.KmlFileNum, "other");
  writer.files.Close(writer.kml.KmlFileNum);
  EXPECT_EQ(ReadAll(folder.File("other.txt")), "other\r\n");
}

}  // namespace
}  // namespace ostrevane::kml
