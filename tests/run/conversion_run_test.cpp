#include "run/conversion_run.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <filesystem>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/expected_kml.h"
#include "fuzz/fake_services.h"
#include "fuzz/nmea_checksum.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/temp_folder.h"

namespace ostrevane::run {
namespace {

using testing::ExpectedKml;
using testing::FaultyFileSystem;
using testing::ReadAll;
using testing::TempFolder;
using testing::WithChecksum;

// Records what the run asks of the window, in order.
class FakeWindow final : public Window {
 public:
  std::string fileName;
  std::vector<std::string> calls;
  std::function<void()> onEvents;
  bool stop = false;

  std::optional<std::string> ChooseLog() override {
    calls.push_back("dialog");
    if (fileName.empty()) return std::nullopt;
    return fileName;
  }
  void RunStarted() override { calls.push_back("started"); }
  void LineCountChanged(std::int64_t lineCount) override {
    calls.push_back("count " + std::to_string(lineCount));
  }
  void RunFinished() override { calls.push_back("finished"); }
  void ProcessEvents() override {
    calls.push_back("events");
    if (onEvents) onEvents();
  }
  bool StopRequested() override { return stop; }
  void ReportError(std::string_view message) override {
    calls.push_back("error " + std::string(message));
  }
  void ReportNotice(std::string_view message) override {
    calls.push_back("notice " + std::string(message));
  }
  void ReportRemark(std::string_view message) override {
    calls.push_back("remark " + std::string(message));
  }

  std::vector<std::string> Counts() const { return Matching("count"); }
  std::vector<std::string> Errors() const { return Matching("error"); }

 private:
  std::vector<std::string> Matching(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& call : calls)
      if (call.rfind(prefix, 0) == 0) found.push_back(call);
    return found;
  }
};

// The fix of the worked example: 48.1173 N, 11.5166666666667 E.
const std::string kMunich = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
// 50.25 N, 4.5 E.
const std::string kLiege = WithChecksum("$GPRMC,080000,A,5015.000,N,00430.000,E,0.0,0.0,010120,,");
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

class ConversionRunTest : public ::testing::Test {
 protected:
  ConversionRun::Services Services(os::FileSystem& fileSystem) {
    return {&fileSystem, &clock, &zone};
  }
  std::string Source(const std::string& bytes, const std::string& name = "trip.nmea") {
    return folder.Write(name, bytes);
  }

  TempFolder folder;
  testing::FakeClock clock{100};
  testing::UtcZone zone;
  FakeWindow window;
  ConversionRun run{window, Services(os::SystemFileSystem())};
};

TEST_F(ConversionRunTest, AcceptsOnlyNamesEndingInDotNmea) {
  const std::vector<std::pair<std::string, bool>> names = {
      {"", false},
      {"/logs/trip.nmea", true},
      {"/logs/my.logs/trip.2024.nmea", true},
#ifdef _WIN32
      // Windows' dialog and file type match names regardless of case.
      {"C:\\logs\\TRACK.NMEA", true},
      {"/logs/track.Nmea", true},
#else
      {"/logs/TRACK.NMEA", false},
      {"/logs/track.Nmea", false},
#endif
      {"/logs/track.nmea.bak", false},
      {"/home/me/my.logs/track", false},
      {"/logs/.nmea", true},
      {".nmea", true},
      {"nmea", false},
  };
  for (const auto& [name, accepted] : names)
    EXPECT_EQ(ConversionRun::IsAcceptedName(name), accepted) << name;
}

TEST_F(ConversionRunTest, RefusedChoiceChangesNothingButTheName) {
  Source(kMunich + "\r\n", "track.nmea.bak");
  window.fileName = folder.File("track.nmea.bak");
  run.OnClick();
  EXPECT_EQ(window.calls, (std::vector<std::string>{"dialog"}));
  EXPECT_EQ(run.NmeaFile, folder.File("track.nmea.bak"));
  EXPECT_EQ(folder.EntryCount(), 1u);

  window.fileName = "";
  run.OnClick();
  EXPECT_EQ(run.NmeaFile, "");
  EXPECT_EQ(window.calls.size(), 2u);
}

TEST_F(ConversionRunTest, ThreeLinesShowTheCountAndRevealTheEndControlsInOrder) {
  window.fileName = Source(kGga + "\r\n\r\n" + kMunich + "\r\n\r\n" + kGga);
  run.OnClick();
  EXPECT_EQ(window.calls, (std::vector<std::string>{"dialog", "started", "count 0", "events",
                                                    "count 2", "events", "finished"}));
  EXPECT_EQ(run.LineCount, 2);
  EXPECT_EQ(run.Kml.KmlFile, folder.File("trip.kml"));
  EXPECT_EQ(ReadAll(folder.File("trip.kml")),
            ExpectedKml({"11.5166666666667,48.1173,0", "11.5166666666667,48.1173,0"}));
}

TEST_F(ConversionRunTest, EveryLineAfterAFixRepeatsIt) {
  // P1, two other sentences, P2: four points P1, P1, P1, P2.
  window.fileName = Source(kMunich + "\r\n" + kGga + "\r\nnot nmea at all\r\n" + kLiege + "\r\n");
  run.OnClick();
  EXPECT_EQ(ReadAll(folder.File("trip.kml")),
            ExpectedKml({"11.5166666666667,48.1173,0", "11.5166666666667,48.1173,0",
                         "11.5166666666667,48.1173,0", "4.5,50.25,0"}));
  EXPECT_EQ(run.Kml.TrackPoints.LastColumn(), 4);
}

// A line of megabytes is decoded in parts as a short one is whole: its last
// sentence counts; a piece of more than 64 KiB between two "$" is no sentence.
TEST_F(ConversionRunTest, LinesOfMegabytesDecodeAsShortOnes) {
  const std::string noise(3 * 1024 * 1024, '\0');
  window.fileName =
      Source(kMunich + "\r\n" + noise + kGga + kLiege + "\r\n" + kMunich + noise + "\r\n" + kGga);
  run.OnClick();
  EXPECT_EQ(
      ReadAll(folder.File("trip.kml")),
      ExpectedKml({"11.5166666666667,48.1173,0", "4.5,50.25,0", "4.5,50.25,0", "4.5,50.25,0"}));
}

TEST_F(ConversionRunTest, EachRunStartsWithoutAFix) {
  window.fileName = Source(kMunich + "\r\n", "first.nmea");
  run.OnClick();
  window.fileName = Source(kGga + "\r\n" + kGga + "\r\n" + kLiege + "\r\n", "second.nmea");
  run.OnClick();
  EXPECT_EQ(ReadAll(folder.File("second.kml")), ExpectedKml({"4.5,50.25,0"}));
}

TEST_F(ConversionRunTest, PositionsAreSignedAndZeroMeansNoFix) {
  window.fileName =
      Source(WithChecksum("$GPRMC,000000,A,3351.600,S,15112.600,W,0,0,010120,,") + "\r\n" +
             WithChecksum("$GPRMC,000001,A,0000.000,N,15112.600,E,0,0,010120,,") + "\r\n" +
             WithChecksum("$GPRMC,000002,V,3351.600,N,15112.600,E,0,0,010120,,") + "\r\n" +
             WithChecksum("$GNRMC,000003,A,3351.600,N,00003.000,E,0,0,010120,,") + "\r\n");
  run.OnClick();
  EXPECT_EQ(ReadAll(folder.File("trip.kml")), ExpectedKml({"-151.21,-33.86,0", "0.05,33.86,0"}));
  EXPECT_EQ(run.LineCount, 3);
}

// A log without a single position gives the bare document, and the user is
// told so once the end-of-run controls show.
TEST_F(ConversionRunTest, EmptySourceWritesTheBareDocument) {
  for (const std::string& bytes :
       {std::string(), std::string("\r\n\r\n\n\r"),
        WithChecksum("$GPRMC,000002,V,3351.600,N,15112.600,E,0,0,010120,,") + "\r\n"}) {
    FakeWindow quiet;
    ConversionRun fresh(quiet, Services(os::SystemFileSystem()));
    quiet.fileName = Source(bytes, "empty.nmea");
    fresh.OnClick();
    EXPECT_EQ(quiet.Counts().empty(), bytes.find('$') == std::string::npos);
    ASSERT_GE(quiet.calls.size(), 2u);
    EXPECT_EQ(quiet.calls[quiet.calls.size() - 2], "finished");
    EXPECT_EQ(quiet.calls.back(), "notice \u00AB\u00A0" + quiet.fileName +
                                      "\u00A0\u00BB ne contient aucune position valide : le "
                                      "trajet est vide.");
    EXPECT_EQ(ReadAll(folder.File("empty.kml")), ExpectedKml({}));
  }
}

// A sentence whose checksum is wrong is left out, and its line repeats the fix
// before it. Each log counts its own, and says so once: in the notice of an
// empty track where there is one.
TEST_F(ConversionRunTest, CorruptSentencesAreLeftOutAndToldOncePerLog) {
  std::string damaged = kLiege;  // 5015.000 N became 1015.000 N on its way
  damaged.replace(damaged.find("5015"), 4, "1015");
  const std::string corrupt = " (somme de contr\u00F4le fausse).";
  const std::string name = "\u00AB\u00A0" + folder.File("trip.nmea") + "\u00A0\u00BB";
  const std::string munich = "11.5166666666667,48.1173,0";
  const struct {
    std::string bytes;
    std::string kml;
    std::vector<std::string> told;
  } logs[] = {
      {kMunich + "\r\n" + damaged + "\r\n" + kLiege + "\r\n",
       ExpectedKml({munich.c_str(), munich.c_str(), "4.5,50.25,0"}),
       {"remark " + name + " : 1 phrase corrompue ignor\u00E9e" + corrupt}},
      {damaged + "\r\n" + kGga + "\r\n" + damaged + "\r\n",
       ExpectedKml({}),
       {"notice " + name + " ne contient aucune position valide : le trajet est vide. " +
        "2 phrases corrompues ignor\u00E9es" + corrupt}},
      {kLiege + "\r\n", ExpectedKml({"4.5,50.25,0"}), {}},
  };
  for (const auto& log : logs) {
    window.calls.clear();
    window.fileName = Source(log.bytes);
    run.OnClick();
    EXPECT_EQ(ReadAll(folder.File("trip.kml")), log.kml) << log.bytes;
    const auto finished = std::find(window.calls.begin(), window.calls.end(), "finished");
    ASSERT_NE(finished, window.calls.end()) << log.bytes;
    EXPECT_EQ(std::vector<std::string>(finished + 1, window.calls.end()), log.told) << log.bytes;
  }
}

TEST_F(ConversionRunTest, BytesDoNotDependOnTheLocale) {
  for (const char* locale : {"C", "fr_FR.UTF-8", "de_DE.UTF-8"}) {
    if (!std::setlocale(LC_ALL, locale)) {
      std::printf("locale %s is not installed: skipped\n", locale);
      continue;
    }
    window.fileName = Source(kLiege + "\r\n" + kMunich + "\r\n");
    run.OnClick();
    EXPECT_EQ(ReadAll(folder.File("trip.kml")),
              ExpectedKml({"4.5,50.25,0", "11.5166666666667,48.1173,0"}))
        << locale;
  }
  std::setlocale(LC_ALL, "C");
}

TEST_F(ConversionRunTest, CountIsPacedButExactAtTheEnd) {
  std::string many;
  for (int i = 0; i < 5000; ++i) many += kMunich + "\n";
  testing::FakeClock slow{1};
  ConversionRun paced(window, {&os::SystemFileSystem(), &slow, &zone});
  window.fileName = Source(many);
  paced.OnClick();
  const auto counts = window.Counts();
  ASSERT_GE(counts.size(), 2u);
  EXPECT_LT(counts.size(), 500u);
  EXPECT_EQ(counts.front(), "count 0");
  EXPECT_EQ(counts.back(), "count 4999");
}

TEST_F(ConversionRunTest, ClickDuringARunIsIgnored) {
  window.fileName = Source(kMunich + "\r\n" + kGga + "\r\n");
  int nested = 0;
  window.onEvents = [&] {
    if (nested++ == 0) run.OnClick();
  };
  run.OnClick();
  int dialogs = 0;
  for (const auto& call : window.calls) dialogs += call == "dialog";
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(ReadAll(folder.File("trip.kml")),
            ExpectedKml({"11.5166666666667,48.1173,0", "11.5166666666667,48.1173,0"}));
}

TEST_F(ConversionRunTest, StopRequestLeavesTheEarlierFileAndNothingOpen) {
  const std::string earlier = folder.Write("trip.kml", "earlier");
  window.fileName = Source(kMunich + "\r\n" + kGga + "\r\n");
  window.onEvents = [&] { window.stop = true; };
  run.OnClick();
  EXPECT_EQ(ReadAll(earlier), "earlier");
  EXPECT_EQ(folder.EntryCount(), 2u);
  EXPECT_TRUE(window.Errors().empty());
  EXPECT_EQ(run.Files.FreeFile(), 1);
  EXPECT_FALSE(run.Running());
}

TEST_F(ConversionRunTest, FailuresReportOnceAndLeaveTheUserFilesAsTheyWere) {
  struct Failure {
    const char* name;
    FaultyFileSystem::Operation operation;
    int error;
    int after;
    const char* cause;
  };
  const std::vector<Failure> failures = {
      {"source missing", FaultyFileSystem::Operation::Open, ENOENT, 0, "introuvable"},
      {"read error mid-file", FaultyFileSystem::Operation::Read, EIO, 3, "lire"},
      {"output folder refuses", FaultyFileSystem::Operation::Create, EACCES, 0,
       "\u00E9crire dans le dossier"},
      {"disk full", FaultyFileSystem::Operation::Write, ENOSPC, 0, "disque plein"},
      {"final move fails", FaultyFileSystem::Operation::Replace, EXDEV, 0, "remplacer"},
  };
  for (const Failure& failure : failures) {
    TempFolder here;
    const std::string earlier = here.Write("trip.kml", "earlier");
    const std::string source = here.Write("trip.nmea", kMunich + "\r\n" + kGga + "\r\n");
    FaultyFileSystem fileSystem;
    FakeWindow failing;
    ConversionRun faulty(failing, Services(fileSystem));
    failing.fileName = source;
    fileSystem.Plant(failure.operation, failure.error, failure.after);
    faulty.OnClick();

    const auto errors = failing.Errors();
    ASSERT_EQ(errors.size(), 1u) << failure.name;
    EXPECT_NE(errors[0].find(failure.cause), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("trip."), std::string::npos) << errors[0];
    EXPECT_NE(failing.calls.back(), "finished") << failure.name;
    EXPECT_EQ(ReadAll(earlier), "earlier") << failure.name;
    EXPECT_EQ(here.EntryCount(), 2u) << failure.name;
    EXPECT_EQ(faulty.Files.FreeFile(), 1) << failure.name;

    faulty.OnClick();  // the fault was a one-off: the next run succeeds
    EXPECT_EQ(ReadAll(earlier),
              ExpectedKml({"11.5166666666667,48.1173,0", "11.5166666666667,48.1173,0"}))
        << failure.name;
  }
}

TEST_F(ConversionRunTest, HostileNamesConvertOrFailClearly) {
  const std::string longest(255 - 5, 'n');  // the longest name a folder entry may have
  std::vector<std::string> names = {
      "$HOME $(touch pwned) `id`.nmea",
      "-leading dash.nmea",
      "accent \u00E9t\u00E9.nmea",
      longest + ".nmea",
  };
#ifndef _WIN32
  // Windows allows neither quotes nor line breaks in names, and holds them
  // in UTF-16.
  names.insert(names.end(),
               {"it's \"quoted\".nmea", "line\nbreak.nmea", "\xff\xfe not utf-8 \xe9.nmea"});
#endif
  for (const std::string& name : names) {
    const std::string source = Source(kLiege + "\r\n", name);
    ASSERT_EQ(run.ConvertNamedLog(source), ConversionRun::Outcome::Converted) << name;
    const std::string output = source.substr(0, source.size() - 4) + "kml";
    EXPECT_EQ(ReadAll(output), ExpectedKml({"4.5,50.25,0"})) << name;
    std::filesystem::remove(testing::Utf8Path(source));
    std::filesystem::remove(testing::Utf8Path(output));
  }
  EXPECT_EQ(folder.EntryCount(), 0u);
  EXPECT_TRUE(window.Errors().empty());
  EXPECT_FALSE(std::filesystem::exists(folder.File("pwned")));

  // A path longer than the system takes fails with a message that says so.
  // Windows takes paths of up to 32767 characters: there the folders are
  // simply missing.
  std::string deep = folder.path().string();
  while (deep.size() < 5000) deep += "/" + std::string(200, 'd');
  EXPECT_EQ(run.ConvertNamedLog(deep + "/trip.nmea"), ConversionRun::Outcome::Failed);
  ASSERT_EQ(window.Errors().size(), 1u);
#ifdef _WIN32
  const char* cause = "introuvable";
#else
  const char* cause = "nom trop long";
#endif
  EXPECT_NE(window.Errors()[0].find(cause), std::string::npos) << window.Errors()[0];

#ifndef _WIN32
  // A socket's cause is said in words; a newline in a name is shown escaped.
  const std::string socketPath = folder.File("socket.nmea");
  const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(run.ConvertNamedLog(socketPath), ConversionRun::Outcome::Failed);
  EXPECT_EQ(run.ConvertNamedLog(folder.File("missing\nline.nmea")), ConversionRun::Outcome::Failed);
  ::close(socketFd);
  ASSERT_EQ(window.Errors().size(), 3u);
  EXPECT_NE(window.Errors()[1].find("pas un fichier ordinaire"), std::string::npos)
      << window.Errors()[1];
  EXPECT_NE(window.Errors()[2].find("missing\\nline.nmea"), std::string::npos)
      << window.Errors()[2];

  // A FIFO is refused, with the reason, rather than block the run and the
  // window with it, or read as an empty log before its writer comes.
  const std::string fifo = folder.File("fifo.nmea");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(run.ConvertNamedLog(fifo), ConversionRun::Outcome::Failed);
  ASSERT_EQ(window.Errors().size(), 4u);
  EXPECT_NE(window.Errors()[3].find("tube nomm\u00E9"), std::string::npos) << window.Errors()[3];
  EXPECT_FALSE(std::filesystem::exists(folder.File("fifo.kml")));
#endif
}

#ifdef __GLIBC__
// Heap bytes in use, from the allocator's own books.
std::size_t HeapInUse() { return mallinfo2().uordblks; }

TEST_F(ConversionRunTest, TwoHundredRunsInARowKeepMemoryFlat) {
  std::string log;
  for (int i = 0; i < 2000; ++i) log += kMunich + "\r\n" + kGga + "\r\n" + kLiege + "\r\n";
  window.fileName = Source(log);
  std::size_t afterWarmUp = 0;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(window.Errors().empty()) << "run " << i;
    window.calls.clear();
    window.calls.shrink_to_fit();
    run.OnClick();
    if (i == 9) afterWarmUp = HeapInUse();
  }
  EXPECT_LE(HeapInUse(), afterWarmUp + 64 * 1024);
  EXPECT_TRUE(window.Errors().empty());
  EXPECT_EQ(run.Kml.TrackPoints.LastColumn(), 6000);
  const std::string kml = ReadAll(folder.File("trip.kml"));
  EXPECT_EQ(kml.size(), ExpectedKml({}).size() + 2000 * (2 * 28 + 13));
}
#endif

}  // namespace
}  // namespace ostrevane::run
