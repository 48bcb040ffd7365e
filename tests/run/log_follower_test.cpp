#include "run/log_follower.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include "os/wide_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/expected_kml.h"
#include "fuzz/fake_services.h"
#include "fuzz/nmea_checksum.h"
#include "fuzz/route_reader.h"
#include "tests/support/temp_folder.h"

namespace ostrevane::run {
namespace {

using testing::ExpectedKml;
using testing::ReadAll;
using testing::TempFolder;
using testing::WithChecksum;

// 50.25 N, 4.5 E; 48.1173 N, 11.5166666666667 E; and their coordinate lines.
const std::string kLiege = WithChecksum("$GPRMC,080000,A,5015.000,N,00430.000,E,0.0,0.0,010120,,");
const std::string kMunich = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
const std::string kVoid = WithChecksum("$GPRMC,080001,V,5015.000,N,00430.000,E,0.0,0.0,010120,,");
const std::string kCorruptLiege = "$GPRMC,080000,A,5015.000,N,00430.000,E,0.0,0.0,010120,,*00";
constexpr const char* L = "4.5,50.25,0";
constexpr const char* M = "11.5166666666667,48.1173,0";

// ASCII `text` in UTF-16BE, without its mark.
std::string Utf16BeUnits(std::string_view text) {
  std::string bytes;
  for (const char c : text) bytes += {'\0', c};
  return bytes;
}

// Records what the follower tells the user.
class Recorder final : public Window {
 public:
  std::vector<std::string> said;
  void ReportError(std::string_view message) override {
    said.push_back("error " + std::string(message));
  }
  void ReportNotice(std::string_view message) override {
    said.push_back("notice " + std::string(message));
  }
  void ReportRemark(std::string_view message) override {
    said.push_back("remark " + std::string(message));
  }
};

// What happens to the log before a refresh.
enum class Change {
  Append,    // `bytes` are added at its end
  Truncate,  // it is cut to nothing in place, then `bytes` written
  Replace,   // a new file holding `bytes` is renamed over it
  Remove,    // it is removed
  Idle,      // nothing: the log has been idle a while
  Finish,    // following ends, after `bytes` are added
};

struct Step {
  Change change;
  std::string bytes;
  // The coordinate lines of the route after the refresh, and whether
  // anything was written (at the end: whether the KML file was).
  std::vector<std::string> coordinates;
  bool written;
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
  // How the last thing said ends, as a conversion of the whole log says it;
  // "" when nothing is said.
  std::string lastSaid;
  // How much time goes by between two looks at the clock: with none, the
  // route is cut into a piece once, at its first point.
  std::int64_t msPerLook = 0;
};

// Twenty points a second for longer than the first two lists hold: pieces
// finished, gathered into the next lists, let go and removed.
Scenario ALongRoute() {
  Scenario scenario{"a long route in pieces", {}, "", 1000};
  std::vector<std::string> route;
  for (int second = 0; second < 220; ++second) {
    std::string bytes;
    for (int i = 0; i < 20; ++i) {
      const bool liege = (second + i) % 3 != 0;
      route.push_back(liege ? L : M);
      bytes += (liege ? kLiege : kMunich) + "\n";
    }
    scenario.steps.push_back({Change::Append, bytes, route, true});
  }
  scenario.steps.push_back({Change::Idle, "", route, true});
  scenario.steps.push_back({Change::Finish, "", route, false});
  return scenario;
}

// A log that already holds hours when following starts: read in one
// refresh, cut into pieces by size, which are large enough to be moved to
// the next list as they are rather than gathered.
Scenario ALogOfHours() {
  const std::size_t lines = 25 * RoutePieces::kPiecesPerList * 1024;
  std::string bytes;
  bytes.reserve(lines * (kLiege.size() + 1));
  for (std::size_t i = 0; i < lines; ++i) bytes += kLiege + "\n";
  const std::vector<std::string> route(lines, L);
  std::vector<std::string> more = route;
  more.push_back(M);
  return {"a log that already holds hours",
          {{Change::Append, bytes, route, true},
           {Change::Append, kMunich + "\n", more, true},
           {Change::Finish, "", more, true}},
          "",
          1000};
}

void Apply(const TempFolder& folder, const std::string& log, const Step& step) {
  switch (step.change) {
    case Change::Append:
    case Change::Finish:
      std::ofstream(log, std::ios::binary | std::ios::app) << step.bytes;
      break;
    case Change::Truncate:
      std::ofstream(log, std::ios::binary | std::ios::trunc) << step.bytes;
      break;
    case Change::Replace:
      std::filesystem::rename(folder.Write("next.nmea.part", step.bytes), log);
      break;
    case Change::Remove:
      std::filesystem::remove(log);
      break;
    case Change::Idle:
      break;
  }
}

std::size_t LineBytes(const std::vector<std::string>& lines, std::size_t from) {
  std::size_t bytes = 0;
  for (std::size_t i = from; i < lines.size(); ++i) bytes += lines[i].size() + 2;
  return bytes;
}

// Whether `kml` is the conversion of the first lines of `route`, lacking
// less than an eighth of its own size.
bool LagsLittle(const std::string& kml, const std::vector<std::string>& route) {
  const auto start = kml.find("<coordinates>\r\n");
  const auto end = kml.find("          </coordinates>");
  if (start == kml.npos || end == kml.npos) return false;
  std::size_t held = 0;
  for (auto at = kml.find("\r\n", start + 15); at != kml.npos && at < end;
       at = kml.find("\r\n", at + 2))
    ++held;
  if (held > route.size()) return false;
  const std::vector<std::string> prefix(route.begin(), route.begin() + static_cast<long>(held));
  return kml == ExpectedKml(prefix) && LineBytes(route, held) * 8 < kml.size();
}

std::vector<std::string> Route(const TempFolder& folder) {
  return testing::RouteReader(ReadAll, folder.File("live.suivi/")).Coordinates(RoutePieces::kLists);
}

// After each refresh the KML file is what a conversion of the log cut after
// its last line end writes; after Finish, what one of the whole log writes.
TEST(LogFollowerTest, EveryRefreshWritesTheConversionOfTheCompleteLines) {
  const std::string splitMunich = kMunich.substr(0, 20);
  const Scenario scenarios[] = {
      ALongRoute(),
      ALogOfHours(),
      {"lines split everywhere",
       {{Change::Append, "", {}, true},
        {Change::Append, kLiege.substr(0, 1), {}, false},
        {Change::Append, kLiege.substr(1, 30), {}, false},
        {Change::Append, kLiege.substr(31) + "\r", {L}, true},
        // The LF of a CR LF split across two writes ends no second line.
        {Change::Append, "\n", {L}, false},
        {Change::Append, "\n\r\n", {L}, false},
        {Change::Append, kGga + "\r\n" + splitMunich, {L, L}, true},
        {Change::Append, kMunich.substr(20) + "\n" + kGga, {L, L, M}, true},
        {Change::Append, "\r", {L, L, M, M}, true},
        {Change::Idle, "", {L, L, M, M}, true},
        {Change::Finish, "\n" + kLiege, {L, L, M, M, L}, true}},
       ""},
      {"corrupt and void sentences",
       {{Change::Append, kMunich + "\n" + kCorruptLiege + "\n", {M, M}, true},
        // A void fix is no fix: its line adds no point, and the file stays.
        {Change::Append, kVoid + "\n", {M, M}, false},
        {Change::Append, kGga + "\n", {M, M}, false},
        {Change::Idle, "", {M, M}, true},
        {Change::Finish, kLiege, {M, M, L}, true}},
       " : 1 phrase corrompue ignor\u00E9e (somme de contr\u00F4le fausse)."},
      {"no fix at all",
       {{Change::Append, kVoid + "\n", {}, true}, {Change::Finish, kGga, {}, false}},
       " ne contient aucune position valide : le trajet est vide."},
      {"truncated, then replaced",
       {{Change::Append, kLiege + "\n" + kLiege + "\n", {L, L}, true},
        // The fix is not carried into the new log: its GGA line adds nothing.
        {Change::Truncate, kGga + "\n", {}, true},
        {Change::Append, kMunich + "\n", {M}, true},
        {Change::Replace, kGga + "\n" + kLiege + "\n", {L}, true},
        {Change::Finish, "", {L}, false}},
       "reprend depuis le d\u00E9but."},
      // The mark's second byte comes with a later write: one byte can't
      // tell a UTF-16 log from bytes.
      {"a UTF-16 mark split between two writes",
       {{Change::Append, "\xFE", {}, true},
        {Change::Append, "\xFF" + Utf16BeUnits(kLiege + "\r\n"), {L}, true},
        {Change::Finish, Utf16BeUnits(kMunich), {L, M}, true}},
       ""},
      {"removed, then created again",
       {{Change::Append, kLiege + "\n", {L}, true},
        {Change::Remove, "", {L}, false},
        {Change::Append, kMunich + "\n", {M}, true},
        {Change::Finish, kGga, {M, M}, true}},
       "reprend depuis le d\u00E9but."},
  };
  for (const Scenario& scenario : scenarios) {
#ifdef _WIN32
    // The follower holds the log open between refreshes, and Windows then
    // neither replaces it nor frees its name when it is removed.
    const std::string_view name = scenario.name;
    if (name.find("replaced") != name.npos || name.find("removed") != name.npos) continue;
#endif
    TempFolder folder;
    const std::string log = folder.Write("live.nmea", "");
    Recorder window;
    testing::UtcZone zone;
    testing::FakeClock clock(scenario.msPerLook);
    LogFollower follower(window, log, {&os::SystemFileSystem(), &zone, &clock});
    const std::string kml = folder.File("live.kml");
    for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
      const Step& step = scenario.steps[i];
      Apply(folder, log, step);
      const std::uint64_t kmlBefore = follower.KmlWrites();
      const std::uint64_t bytesBefore = follower.KmlBytes() + follower.OtherBytes();
      bool fine = false;
      switch (step.change) {
        case Change::Finish:
          fine = follower.Finish();
          follower.RemovePieces();
          EXPECT_EQ(follower.KmlWrites() > kmlBefore, step.written)
              << scenario.name << ", step " << i;
          EXPECT_EQ(ReadAll(kml), ExpectedKml(step.coordinates)) << scenario.name << ", step " << i;
          break;
        case Change::Idle:
          fine = follower.CatchUp();
          EXPECT_EQ(ReadAll(kml), ExpectedKml(step.coordinates)) << scenario.name << ", step " << i;
          break;
        default:
          fine = follower.Refresh() && follower.WaitForKml();
          EXPECT_EQ(follower.KmlBytes() + follower.OtherBytes() > bytesBefore, step.written)
              << scenario.name << ", step " << i;
          EXPECT_TRUE(LagsLittle(ReadAll(kml), step.coordinates))
              << scenario.name << ", step " << i;
      }
      EXPECT_TRUE(fine) << scenario.name << ", step " << i;
      EXPECT_EQ(Route(folder), step.coordinates) << scenario.name << ", step " << i;
    }
    // The log, its KML file and the pieces' folder, which keeps only the
    // files that an open viewer reloads: no piece, no temporary file.
    EXPECT_EQ(folder.EntryCount(), 3u) << scenario.name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.File("live.suivi")),
                            std::filesystem::directory_iterator()),
              RoutePieces::kLists)
        << scenario.name;
    for (const std::string& said : window.said)
      EXPECT_EQ(said.rfind("error", 0), std::string::npos) << scenario.name << ": " << said;
    if (scenario.lastSaid.empty()) {
      EXPECT_TRUE(window.said.empty()) << scenario.name;
    } else {
      ASSERT_FALSE(window.said.empty()) << scenario.name;
      EXPECT_TRUE(window.said.back().ends_with(scenario.lastSaid))
          << scenario.name << ": " << window.said.back();
    }
  }
}

// A refresh that fails is said at once when nothing was written yet, and
// otherwise only when it fails a third time in a row: a viewer that holds
// the file a moment is not worth a word. Then never again while it fails.
TEST(LogFollowerTest, AFailingRefreshIsSaidAtOnceOrOnTheThirdFailureInARow) {
  const struct {
    const char* name;
    bool writtenFirst;
    std::vector<int> saidAfter;  // the refreshes after which it is said
  } cases[] = {
      {"nothing written yet", false, {1, 3}},
      {"after a good refresh", true, {3}},
  };
  for (const auto& c : cases) {
#ifdef _WIN32
    // The follower holds the KML file it wrote: Windows keeps its name.
    if (c.writtenFirst) continue;
#endif
    TempFolder folder;
    const std::string log = folder.Write("live.nmea", kLiege + "\n");
    Recorder window;
    LogFollower follower(window, log);
    if (c.writtenFirst) {
      ASSERT_TRUE(follower.Refresh() && follower.WaitForKml()) << c.name;
      std::filesystem::remove(folder.File("live.kml"));
      std::ofstream(log, std::ios::binary | std::ios::app) << kMunich << "\n";
    }
    // The KML file's path is a folder: every refresh, with the catch-up of
    // the log idle after it, fails.
    std::filesystem::create_directory(folder.File("live.kml"));
    std::vector<int> saidAfter;
    for (int refresh = 1; refresh <= 6; ++refresh) {
      const std::size_t before = window.said.size();
      EXPECT_FALSE(follower.Refresh() && follower.CatchUp()) << c.name << ", refresh " << refresh;
      if (window.said.size() > before) saidAfter.push_back(refresh);
    }
    EXPECT_EQ(saidAfter, c.saidAfter) << c.name;
    for (const std::string& said : window.said)
      EXPECT_TRUE(said.starts_with("error ") && said.find("live.kml") != std::string::npos)
          << c.name << ": " << said;
  }
}

// A log not there yet is said once, however many refreshes wait for it, and
// its coming says nothing more.
TEST(LogFollowerTest, ALogAwaitedIsSaidOnce) {
  TempFolder folder;
  const std::string log = folder.File("live.nmea");
  Recorder window;
  LogFollower follower(window, log);
  for (int refresh = 0; refresh < 5; ++refresh) EXPECT_TRUE(follower.Refresh());
  folder.Write("live.nmea", kLiege + "\n");
  ASSERT_TRUE(follower.Refresh() && follower.WaitForKml());
  EXPECT_EQ(ReadAll(folder.File("live.kml")), ExpectedKml({L}));
  ASSERT_TRUE(follower.Finish());
  EXPECT_EQ(
      window.said,
      (std::vector<std::string>{"notice \u00AB\u00A0" + log +
                                "\u00A0\u00BB n'existe pas encore : le suivi commencera d\u00E8s "
                                "qu'il appara\u00EEtra."}));
}

#ifndef _WIN32  // see above: Windows keeps the name of an open file removed
// Each change of the log under the follower is said once.
TEST(LogFollowerTest, ALogTruncatedRemovedOrBackIsSaidOnce) {
  TempFolder folder;
  const std::string log = folder.Write("live.nmea", kLiege + "\n");
  Recorder window;
  LogFollower follower(window, log);
  follower.Refresh();
  std::ofstream(log, std::ios::binary | std::ios::trunc) << kMunich << "\n";
  follower.Refresh();
  follower.Refresh();
  std::filesystem::remove(log);
  follower.Refresh();
  follower.Refresh();
  folder.Write("live.nmea", kLiege + "\n");
  follower.Refresh();
  follower.Finish();
  const std::string name = "\u00AB\u00A0" + log + "\u00A0\u00BB";
  EXPECT_EQ(window.said,
            (std::vector<std::string>{
                "notice " + name +
                    " a \u00E9t\u00E9 tronqu\u00E9 ou remplac\u00E9 : la conversion reprend depuis "
                    "le d\u00E9but.",
                "notice " + name +
                    " a disparu : le dernier fichier KML est gard\u00E9, et le suivi reprendra "
                    "d\u00E8s qu'un fichier de ce nom appara\u00EEtra.",
                "notice " + name +
                    " a \u00E9t\u00E9 tronqu\u00E9 ou remplac\u00E9 : la conversion reprend depuis "
                    "le d\u00E9but."}));
}
#endif

#ifdef _WIN32
// A viewer that holds the KML file open without letting it be replaced (no
// delete sharing) doesn't end following: the refresh fails quietly, and the
// next one, once the viewer let go, writes the whole track.
TEST(LogFollowerTest, AKmlFileHeldByAViewerIsWrittenAtTheNextRefresh) {
  TempFolder folder;
  const std::string log = folder.Write("live.nmea", kLiege + "\n");
  Recorder window;
  LogFollower follower(window, log);
  ASSERT_TRUE(follower.Refresh());
  ASSERT_TRUE(follower.WaitForKml());
  const HANDLE viewer =
      CreateFileW(os::WindowsPath(folder.File("live.kml")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  std::ofstream(log, std::ios::binary | std::ios::app) << kMunich << "\n";
  EXPECT_TRUE(follower.Refresh());
  EXPECT_FALSE(follower.CatchUp());
  EXPECT_TRUE(follower.WritePending());
  CloseHandle(viewer);
  EXPECT_TRUE(window.said.empty());
  std::ofstream(log, std::ios::binary | std::ios::app) << kGga << "\n";
  ASSERT_TRUE(follower.Refresh());
  ASSERT_TRUE(follower.CatchUp());
  EXPECT_EQ(ReadAll(folder.File("live.kml")), ExpectedKml({L, M, M}));
  EXPECT_EQ(folder.EntryCount(), 3u);
}
#else
// A named pipe is read as the data comes, and when its writer leaves, the
// next writer carries on the same log.
TEST(LogFollowerTest, ANamedPipeIsReadAsItComesFromWriterToWriter) {
  TempFolder folder;
  const std::string log = folder.File("live.nmea");
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  Recorder window;
  LogFollower follower(window, log);
  ASSERT_TRUE(follower.Refresh());
  ASSERT_TRUE(follower.WaitForKml());
  EXPECT_EQ(ReadAll(folder.File("live.kml")), ExpectedKml({}));
  const auto write = [&](int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  };
  int writer = ::open(log.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  write(writer, kLiege + "\r\n" + kMunich.substr(0, 10));
  ASSERT_TRUE(follower.Refresh());
  EXPECT_EQ(Route(folder), (std::vector<std::string>{L}));
  ::close(writer);
  ASSERT_TRUE(follower.Refresh());
  writer = ::open(log.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  write(writer, kMunich.substr(10) + "\n" + kGga);
  ASSERT_TRUE(follower.Refresh());
  EXPECT_EQ(Route(folder), (std::vector<std::string>{L, M}));
  ASSERT_TRUE(follower.Finish());
  ::close(writer);
  EXPECT_EQ(ReadAll(folder.File("live.kml")), ExpectedKml({L, M, M}));
  EXPECT_TRUE(window.said.empty());
}
#endif

}  // namespace
}  // namespace ostrevane::run
