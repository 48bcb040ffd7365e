// Runs the real ostrevane-convert program as a user would.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/expected_kml.h"
#include "tests/support/temp_folder.h"

namespace ostrevane {
namespace {

using testing::ExpectedKml;
using testing::ReadAll;
using testing::TempFolder;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Quotes one argument for /bin/sh.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted.append("'\\''");
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

Result Convert(const std::vector<std::string>& arguments, const std::string& environment = "") {
  TempFolder streams;
  std::string command = environment;
  command.append(" ").append(ShellQuoted(OSTREVANE_CONVERT));
  for (const auto& argument : arguments) command.append(" ").append(ShellQuoted(argument));
  command.append(" >").append(ShellQuoted(streams.File("out")));
  command.append(" 2>").append(ShellQuoted(streams.File("err")));
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(streams.File("out")),
          ReadAll(streams.File("err"))};
}

// "-12.5" or "3": an optional minus, digits, and optionally a point and digits.
bool IsPlainNumber(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  const auto point = text.find('.');
  const auto digitsOnly = [](std::string_view part) {
    return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (point == std::string_view::npos) return digitsOnly(text);
  return digitsOnly(text.substr(0, point)) && digitsOnly(text.substr(point + 1));
}

// "lon,lat,0" with both numbers plain.
bool IsCoordinateLine(std::string_view line) {
  const auto first = line.find(',');
  const auto second = line.find(',', first == std::string_view::npos ? first : first + 1);
  if (second == std::string_view::npos) return false;
  return IsPlainNumber(line.substr(0, first)) &&
         IsPlainNumber(line.substr(first + 1, second - first - 1)) && line.substr(second) == ",0";
}

const std::string kLiege = "$GPRMC,080000,A,5015.000,N,00430.000,E,0.0,0.0,010120,,*00\r\n";

TEST(ConvertProgramTest, VersionHelpAndUsageErrors) {
  EXPECT_EQ(Convert({"--version"}).out, "ostrevane-convert 1.0\n");
  const Result help = Convert({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Utilisation"), std::string::npos);
  EXPECT_EQ(Convert({}).status, 2);
  const Result unknown = Convert({"--fast", "x.nmea"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--fast"), std::string::npos);
}

TEST(ConvertProgramTest, ConvertsEachFileAndGoesOnAfterAFailure) {
  TempFolder folder;
  const std::string good = folder.Write("good.nmea", kLiege);
  const std::string dashed = folder.Write("-dash 'quoted' $HOME.nmea", kLiege);
  const std::string refused = folder.Write("upper.NMEA", kLiege);
  const Result result =
      Convert({good, refused, folder.File("missing.nmea"), "--", dashed}, "LC_ALL=fr_FR.UTF-8");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            folder.File("good.kml") + "\n" + folder.File("-dash 'quoted' $HOME.kml") + "\n");
  EXPECT_NE(result.err.find("upper.NMEA"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("missing.nmea"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("introuvable"), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(folder.File("upper.kml")));
  EXPECT_EQ(ReadAll(folder.File("good.kml")), ExpectedKml({"4.5,50.25,0"}));
  EXPECT_EQ(ReadAll(folder.File("-dash 'quoted' $HOME.kml")), ExpectedKml({"4.5,50.25,0"}));
}

TEST(ConvertProgramTest, ALogWithoutPositionsIsConvertedWithAWarning) {
  TempFolder folder;
  const std::string log =
      folder.Write("trajet.nmea", "$GPRMC,000002,V,3351.600,N,15112.600,E,0,0,010120,,*00\r\n");
  const Result result = Convert({log});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, folder.File("trajet.kml") + "\n");
  EXPECT_EQ(result.err, "ostrevane-convert : \u00AB\u00A0" + log +
                            "\u00A0\u00BB ne contient aucune position valide : le trajet est "
                            "vide.\n");
  EXPECT_EQ(ReadAll(folder.File("trajet.kml")), ExpectedKml({}));
}

TEST(ConvertProgramTest, StandardOutputThatCantBeWrittenIsAFailure) {
  TempFolder folder;
  const std::string good = folder.Write("good.nmea", kLiege);
  const std::string command = ShellQuoted(OSTREVANE_CONVERT) + " " + ShellQuoted(good) +
                              " >/dev/full 2>" + ShellQuoted(folder.File("err"));
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
  EXPECT_NE(ReadAll(folder.File("err")).find("sortie standard : disque plein"), std::string::npos)
      << ReadAll(folder.File("err"));
}

// Every real receiver's log converts into a well-formed document whose
// coordinate lines are plain numbers.
TEST(ConvertProgramTest, EveryCorpusLogConverts) {
  const std::filesystem::path corpus = OSTREVANE_CORPUS_DIR;
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus folder at " << corpus;
  TempFolder folder;
  std::vector<std::string> logs;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".nmea") continue;
    const auto copy = folder.path() / entry.path().filename();
    std::filesystem::copy_file(entry.path(), copy);
    logs.push_back(copy.string());
  }
  ASSERT_FALSE(logs.empty());
  const Result result = Convert(logs);
  EXPECT_EQ(result.status, 0) << result.err;

  const std::string empty = ExpectedKml({});
  const std::string head = empty.substr(0, empty.find("          </coordinates>"));
  const std::string tail = empty.substr(head.size());
  int withPoints = 0;
  for (const auto& log : logs) {
    const std::string kml = ReadAll(log.substr(0, log.size() - 4) + "kml");
    ASSERT_GE(kml.size(), empty.size()) << log;
    EXPECT_EQ(kml.substr(0, head.size()), head) << log;
    EXPECT_EQ(kml.substr(kml.size() - tail.size()), tail) << log;
    const std::string body = kml.substr(head.size(), kml.size() - head.size() - tail.size());
    std::size_t start = 0;
    for (std::size_t end; (end = body.find("\r\n", start)) != std::string::npos; start = end + 2)
      ASSERT_TRUE(IsCoordinateLine(body.substr(start, end - start)))
          << log << ": " << body.substr(start, end - start);
    EXPECT_EQ(start, body.size()) << log;
    withPoints += !body.empty();
  }
  // Nearly every log holds RMC sentences of some talker.
  EXPECT_GE(withPoints, static_cast<int>(logs.size()) * 3 / 4);
}

}  // namespace
}  // namespace ostrevane
