// Runs the real ostrevane-convert program as a user would.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "fuzz/expected_kml.h"
#include "fuzz/nmea_checksum.h"
#include "os/wide_text.h"
#include "tests/support/temp_folder.h"

namespace ostrevane {
namespace {

using testing::ExpectedKml;
using testing::ReadAll;
using testing::TempFolder;
using testing::Utf8Path;
using testing::WithChecksum;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

#ifdef _WIN32
using os::ToWide;

// Quotes one argument as CommandLineToArgvW and the C runtime read it back:
// backslashes count only before a double quote.
std::wstring CommandLineQuoted(const std::wstring& text) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : text) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') quoted.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    quoted.push_back(c);
  }
  quoted.append(backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

// Console output ends its lines with CR LF on Windows, as it should there.
std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

// A file that the child process writes its output to.
HANDLE InheritableOutput(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs the program directly, without a shell: the arguments reach it as
// they are, and only the program itself may expand * and ?. The environment
// setting is for POSIX shells; the messages are French whatever it is.
Result Convert(const std::vector<std::string>& arguments, const std::string& = "") {
  TempFolder streams;
  std::wstring command = CommandLineQuoted(ToWide(OSTREVANE_CONVERT));
  for (const auto& argument : arguments)
    command.append(L" ").append(CommandLineQuoted(ToWide(argument)));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritableOutput(streams.File("out"));
  startup.hStdError = InheritableOutput(streams.File("err"));
  PROCESS_INFORMATION process{};
  DWORD status = static_cast<DWORD>(-1);
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  return {static_cast<int>(status), WithoutCarriageReturns(ReadAll(streams.File("out"))),
          WithoutCarriageReturns(ReadAll(streams.File("err")))};
}
#else
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
#ifdef OSTREVANE_CONVERT_EMULATOR
  command.append(" ").append(OSTREVANE_CONVERT_EMULATOR);
#endif
  command.append(" ").append(ShellQuoted(OSTREVANE_CONVERT));
  for (const auto& argument : arguments) command.append(" ").append(ShellQuoted(argument));
  command.append(" >").append(ShellQuoted(streams.File("out")));
  command.append(" 2>").append(ShellQuoted(streams.File("err")));
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(streams.File("out")),
          ReadAll(streams.File("err"))};
}
#endif

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

const std::string kLiege =
    WithChecksum("$GPRMC,080000,A,5015.000,N,00430.000,E,0.0,0.0,010120,,") + "\r\n";

TEST(ConvertProgramTest, VersionHelpAndUsageErrors) {
  EXPECT_EQ(Convert({"--version"}).out, "ostrevane-convert 1.0\n");
  const Result help = Convert({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Utilisation"), std::string::npos);
  EXPECT_EQ(Convert({}).status, 2);
  const Result unknown = Convert({"--fast", "x.nmea"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--fast"), std::string::npos);
  // The interval is seconds with a point, at least 0.1, and only for following.
  for (const char* interval :
       {"--intervalle=0,5", "--intervalle=0.05", "--intervalle=", "--intervalle=1e3"}) {
    const Result bad = Convert({"--suivre", interval, "x.nmea"});
    EXPECT_EQ(bad.status, 2) << interval;
    EXPECT_NE(bad.err.find("intervalle invalide"), std::string::npos) << bad.err;
  }
  EXPECT_EQ(Convert({"--intervalle=0.5", "x.nmea"}).status, 2);
  // The value may also come as the next word.
  const Result spaced = Convert({"--intervalle", "0.5", "x.nmea"});
  EXPECT_EQ(spaced.status, 2);
  EXPECT_NE(spaced.err.find("ne sert qu'avec --suivre"), std::string::npos) << spaced.err;
  const Result spacedBad = Convert({"--suivre", "--intervalle", "0,5", "x.nmea"});
  EXPECT_EQ(spacedBad.status, 2);
  EXPECT_NE(spacedBad.err.find("intervalle invalide \u00AB\u00A00,5"), std::string::npos)
      << spacedBad.err;
}

TEST(ConvertProgramTest, ConvertsEachFileAndGoesOnAfterAFailure) {
  TempFolder folder;
  const std::string good = folder.Write("good.nmea", kLiege);
  const std::string dashed = folder.Write("-dash 'quoted' $HOME.nmea", kLiege);
  const std::string upper = folder.Write("upper.NMEA", kLiege);
  const Result result =
      Convert({good, upper, folder.File("missing.nmea"), "--", dashed}, "LC_ALL=fr_FR.UTF-8");
  EXPECT_EQ(result.status, 1);
#ifdef _WIN32
  // Windows compares names regardless of case, and so does the program there.
  EXPECT_EQ(result.out, folder.File("good.kml") + "\n" + folder.File("upper.kml") + "\n" +
                            folder.File("-dash 'quoted' $HOME.kml") + "\n");
  EXPECT_EQ(ReadAll(folder.File("upper.kml")), ExpectedKml({"4.5,50.25,0"}));
#else
  EXPECT_EQ(result.out,
            folder.File("good.kml") + "\n" + folder.File("-dash 'quoted' $HOME.kml") + "\n");
  EXPECT_NE(result.err.find("upper.NMEA"), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(folder.File("upper.kml")));
#endif
  EXPECT_NE(result.err.find("missing.nmea"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("introuvable"), std::string::npos) << result.err;
  EXPECT_EQ(ReadAll(folder.File("good.kml")), ExpectedKml({"4.5,50.25,0"}));
  EXPECT_EQ(ReadAll(folder.File("-dash 'quoted' $HOME.kml")), ExpectedKml({"4.5,50.25,0"}));
}

// A log without a position, or with corrupt sentences set aside, is still
// converted; the user reads why on one line of standard error.
TEST(ConvertProgramTest, ALogWithoutPositionsOrWithCorruptSentencesIsConvertedWithAWarning) {
  std::string damaged = kLiege;  // 5015.000 N became 1015.000 N, the checksum stayed
  damaged.replace(damaged.find("5015"), 4, "1015");
  const struct {
    std::string bytes;
    std::string kml;
    std::string warning;
  } logs[] = {
      {WithChecksum("$GPRMC,000002,V,3351.600,N,15112.600,E,0,0,010120,,") + "\r\n",
       ExpectedKml({}), " ne contient aucune position valide : le trajet est vide.\n"},
      {kLiege + damaged, ExpectedKml({"4.5,50.25,0", "4.5,50.25,0"}),
       " : 1 phrase corrompue ignor\u00E9e (somme de contr\u00F4le fausse).\n"},
  };
  for (const auto& log : logs) {
    TempFolder folder;
    const Result result = Convert({folder.Write("trajet.nmea", log.bytes)});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, folder.File("trajet.kml") + "\n");
    const std::string line = "ostrevane-convert : \u00AB\u00A0" + folder.File("trajet.nmea") +
                             "\u00A0\u00BB" + log.warning;
    const auto found = result.err.find(line);
    EXPECT_NE(found, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(log.warning, found + line.size()), std::string::npos) << result.err;
    EXPECT_EQ(ReadAll(folder.File("trajet.kml")), log.kml);
  }
}

#ifndef _WIN32
// /dev/full: a standard output on which every write fails.
TEST(ConvertProgramTest, StandardOutputThatCantBeWrittenIsAFailure) {
  TempFolder folder;
  const std::string good = folder.Write("good.nmea", kLiege);
  std::string command;
#ifdef OSTREVANE_CONVERT_EMULATOR
  command.append(OSTREVANE_CONVERT_EMULATOR).append(" ");
#endif
  command += ShellQuoted(OSTREVANE_CONVERT) + " " + ShellQuoted(good) + " >/dev/full 2>" +
             ShellQuoted(folder.File("err"));
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
  EXPECT_NE(ReadAll(folder.File("err")).find("sortie standard : disque plein"), std::string::npos)
      << ReadAll(folder.File("err"));
}
#endif

#ifndef _WIN32
// A log that is a named pipe is read from its writer, however late it
// comes, as `cat` reads it: not taken for an empty log.
TEST(ConvertProgramTest, WaitsForTheWriterOfANamedPipe) {
  TempFolder folder;
  const std::string fifo = folder.File("live.nmea");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Result result;
  std::atomic<bool> ended{false};
  std::thread convert([&] {
    result = Convert({fifo});
    ended = true;
  });
  // The writer comes once the converter has opened the pipe (before that,
  // opening without a reader fails with ENXIO). A converter that ends
  // without waiting for it fails at once.
  int writer = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && !ended &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (writer < 0) {
    if (ended)
      convert.join();
    else
      convert.detach();
    FAIL() << "no reader came; " << (ended ? "the converter ended: " + result.err : "");
  }
  const std::string log = kLiege + kLiege;
  EXPECT_EQ(::write(writer, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  ::close(writer);
  convert.join();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadAll(folder.File("live.kml")), ExpectedKml({"4.5,50.25,0", "4.5,50.25,0"}));
}

// Writes all of `bytes` to the non-blocking `fd` unless it stays full for
// `most`; false then.
bool WriteWithin(int fd, std::string_view bytes, std::chrono::seconds most) {
  const auto deadline = std::chrono::steady_clock::now() + most;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written > 0) bytes.remove_prefix(static_cast<std::size_t>(written));
    if (written < 0 && errno != EAGAIN) return false;
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (written < 0) {
      pollfd room{fd, POLLOUT, 0};
      ::poll(&room, 1, 10);
    }
  }
  return true;
}

// A follower started in the background, its standard streams in files.
struct Follower {
  pid_t pid = -1;
  std::string out;
  std::string err;
};

struct FollowerOptions {
  // NAME=value, set for the follower only.
  std::string environment;
  // SIGHUP ignored, as nohup starts a program.
  bool ignoringHangUp = false;
  // Run as a user who may not write in the test's folders (as root, nobody).
  bool unprivileged = false;
};

Follower StartFollowing(const TempFolder& folder, const std::string& tag,
                        const std::vector<std::string>& arguments,
                        const FollowerOptions& options = {}) {
  Follower follower{-1, folder.File(tag + ".out"), folder.File(tag + ".err")};
  std::vector<std::string> words;
#ifdef OSTREVANE_CONVERT_EMULATOR
  // The emulator takes the program's place, so that signals reach it.
  words = {"/bin/sh", "-c", "exec " OSTREVANE_CONVERT_EMULATOR " \"$0\" \"$@\""};
#endif
  words.push_back(OSTREVANE_CONVERT);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  follower.pid = ::fork();
  if (follower.pid == 0) {
    ::freopen(follower.out.c_str(), "w", stdout);
    ::freopen(follower.err.c_str(), "w", stderr);
    if (!options.environment.empty()) ::putenv(const_cast<char*>(options.environment.c_str()));
    if (options.ignoringHangUp) ::signal(SIGHUP, SIG_IGN);
    if (options.unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return follower;
}

// Its exit status, or 128 + the signal that ended it; -1 when it is still
// running after `seconds`, and then it is ended.
int ExitStatus(const Follower& follower, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (::waitpid(follower.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(follower.pid, SIGKILL);
      ::waitpid(follower.pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Stop(const Follower& follower, int signal = SIGTERM) {
  ::kill(follower.pid, signal);
  return ExitStatus(follower);
}

// Waits until `done`, at most 10 s (a refresh comes within a tenth of a
// second, a few under an emulator), but no longer than the follower runs or
// stays silent: a follower that ended, or said something on standard error
// when `quiet`, fails at once.
template <typename Done>
bool WaitUntil(const Follower& follower, Done done, bool quiet = true) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (quiet && !ReadAll(follower.err).empty()) return false;
    siginfo_t ended{};
    if (::waitid(P_PID, static_cast<id_t>(follower.pid), &ended, WEXITED | WNOHANG | WNOWAIT) ==
            0 &&
        ended.si_pid == follower.pid)
      return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// `count` points of Liège, as the KML file holds them.
std::string LiegeKml(std::size_t count) {
  return ExpectedKml(std::vector<std::string>(count, "4.5,50.25,0"));
}

std::string OpenLine(const std::string& companion) {
  return "Ouvrez \u00AB\u00A0" + companion +
         "\u00A0\u00BB dans un visualiseur de globe (Google Earth...) pour voir le trajet "
         "grandir ; Ctrl-C arr\u00EAte le suivi.\n";
}

// The number of a process that has ended.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// Following ends on each of the user's signals: the last line, without its
// line end, is in the final KML file, the status is 0, and nothing but the
// log, its KML file, the companion and the follow folder is left, not even
// the temporary file that a run killed outright left on a file system
// without unnamed files. Started with SIGHUP ignored (nohup), it keeps
// following after one.
TEST(ConvertProgramTest, FollowingEndsOnEachSignalWithTheFinalFile) {
  const struct {
    int signal;
    bool ignoringHangUp;
  } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGTERM, true}};
  for (const auto& c : cases) {
    TempFolder folder;
    const std::string log = folder.Write("live.nmea", kLiege);
    const std::string kml = folder.File("live.kml");
    folder.Write(".live.kml." + std::to_string(EndedProcess()) + "-0-123.tmp", "<kml");
    FollowerOptions options;
    options.ignoringHangUp = c.ignoringHangUp;
    const Follower follower =
        StartFollowing(folder, "live", {"--suivre", "--intervalle=0.1", log}, options);
    // A wait that fails ends the test at once: the next cases would fail
    // the same way, each after its whole wait.
    const auto holds = [&](std::size_t points) {
      if (WaitUntil(follower, [&] { return ReadAll(kml) == LiegeKml(points); })) return true;
      Stop(follower, SIGKILL);
      return false;
    };
    ASSERT_TRUE(holds(1)) << c.signal << ": " << ReadAll(follower.err);
    if (c.ignoringHangUp) {
      ::kill(follower.pid, SIGHUP);
      std::ofstream(log, std::ios::binary | std::ios::app) << kLiege;
      ASSERT_TRUE(holds(2)) << "after SIGHUP: " << ReadAll(follower.err);
    }
    std::ofstream(log, std::ios::binary | std::ios::app)
        << kLiege << kLiege.substr(0, kLiege.size() - 2);
    const std::size_t before = c.ignoringHangUp ? 2 : 1;
    ASSERT_TRUE(holds(before + 1)) << c.signal << ": " << ReadAll(follower.err);
    EXPECT_EQ(Stop(follower, c.signal), 0) << c.signal;
    EXPECT_EQ(ReadAll(kml), LiegeKml(before + 2)) << c.signal;
    const std::string companion = folder.File("live.suivi.kml");
    EXPECT_EQ(ReadAll(follower.out), kml + "\n" + companion + "\n" + OpenLine(companion));
    EXPECT_EQ(ReadAll(follower.err), "");
    // With the follow folder and the follower's two streams; the folder keeps
    // only the small files that an open viewer still reloads, and the lock.
    EXPECT_EQ(folder.EntryCount(), 6u) << c.signal;
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("live.suivi")))
      kept.push_back(entry.path().filename().string());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"liste-0.kml", "liste-1.kml", "liste-2.kml",
                                              "liste-3.kml", "verrou"}))
        << c.signal;
  }
}

// How following ends when a log can't be followed, or never was: status 1,
// and what went wrong on standard error.
TEST(ConvertProgramTest, FollowingFailuresEndWithStatusOne) {
  const struct {
    const char* name;
    // Makes what is followed in `folder`; the arguments after --suivre.
    std::function<std::vector<std::string>(const TempFolder&)> make;
    bool stopped;  // ended by SIGTERM rather than by itself
    std::string said;
    bool unprivileged = false;
  } cases[] = {
      {"a folder named as a log, stopped",
       [](const TempFolder& folder) {
         std::filesystem::create_directory(folder.File("x.nmea"));
         return std::vector<std::string>{"--intervalle=0.1", folder.File("x.nmea")};
       },
       true, "x.nmea\u00A0\u00BB : c'est un dossier.\n"},
      {"a name that is no log's",
       [](const TempFolder& folder) {
         return std::vector<std::string>{folder.Write("trajet.txt", kLiege)};
       },
       false, "trajet.txt"},
      {"an interval, and a name that is no log's",
       [](const TempFolder& folder) {
         return std::vector<std::string>{"--intervalle=0.1", folder.Write("trajet.txt", kLiege)};
       },
       false, "trajet.txt"},
      {"a log that never came, stopped",
       [](const TempFolder& folder) {
         return std::vector<std::string>{"--intervalle=0.1", folder.File("absent.nmea")};
       },
       true,
       "absent.nmea\u00A0\u00BB n'est jamais apparu : aucun fichier KML n'a \u00E9t\u00E9 "
       "\u00E9crit.\n"},
      {"a folder that takes no new file",
       [](const TempFolder& folder) {
         const std::string log = folder.Write("trajet.nmea", kLiege);
         std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_write,
                                      std::filesystem::perm_options::remove);
         return std::vector<std::string>{log};
       },
       false, "trajet.kml\u00A0\u00BB : impossible d'\u00E9crire dans le dossier", true},
  };
  for (const auto& c : cases) {
    TempFolder streams;
    TempFolder folder;
    // Readable by the user the follower runs as, where it is another.
    std::filesystem::permissions(
        folder.path(), std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
        std::filesystem::perm_options::add);
    std::vector<std::string> arguments = c.make(folder);
    arguments.insert(arguments.begin(), "--suivre");
    FollowerOptions options;
    options.unprivileged = c.unprivileged;
    const Follower follower = StartFollowing(streams, "follow", arguments, options);
    if (c.stopped) {
      // Once it has said what it says at the start.
      WaitUntil(
          follower, [&] { return !ReadAll(follower.out).empty(); }, false);
    }
    EXPECT_EQ(c.stopped ? Stop(follower) : ExitStatus(follower, 10), 1) << c.name;
    const std::string err = ReadAll(follower.err);
    EXPECT_NE(err.find(c.said), std::string::npos) << c.name << ": " << err;
    if (c.stopped) {
      // The reason is the last word, at the end.
      EXPECT_TRUE(err.ends_with(c.said)) << c.name << ": " << err;
    } else {
      // Refused at once, in one message, and nothing to open.
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.name << ": " << err;
      EXPECT_EQ(ReadAll(follower.out), "") << c.name;
    }
  }
}

// One follower per KML file: a second one, even through another spelling
// of the log's name, is refused at once, and the first goes on; once the
// first has ended, its lock is gone.
TEST(ConvertProgramTest, ASecondFollowerOfTheSameKmlFileIsRefused) {
  TempFolder folder;
  const std::string log = folder.Write("live.nmea", kLiege);
  const std::string kml = folder.File("live.kml");
  const Follower first = StartFollowing(folder, "first", {"--suivre", "--intervalle=0.1", log});
  ASSERT_TRUE(WaitUntil(first, [&] { return ReadAll(kml) == LiegeKml(1); }));
  const std::string otherSpelling = folder.path().string() + "/./live.nmea";
  const Follower second = StartFollowing(folder, "second", {"--suivre", otherSpelling});
  // Refused at once, not after following.
  EXPECT_EQ(ExitStatus(second, 10), 1);
  EXPECT_EQ(ReadAll(second.err),
            "ostrevane-convert : Impossible de suivre \u00AB\u00A0" + otherSpelling +
                "\u00A0\u00BB : un autre suivi (ostrevane-convert --suivre) \u00E9crit "
                "d\u00E9j\u00E0 \u00AB\u00A0" +
                folder.path().string() + "/./live.kml\u00A0\u00BB ; arr\u00EAtez-le d'abord.\n");
  EXPECT_EQ(ReadAll(second.out), "");
  std::ofstream(log, std::ios::binary | std::ios::app) << kLiege;
  EXPECT_TRUE(WaitUntil(first, [&] { return ReadAll(kml) == LiegeKml(2); }));
  EXPECT_EQ(Stop(first), 0);
  EXPECT_EQ(ReadAll(first.err), "");
  const Follower third = StartFollowing(folder, "third", {"--suivre", "--intervalle=0.1", log});
  std::ofstream(log, std::ios::binary | std::ios::app) << kLiege;
  EXPECT_TRUE(WaitUntil(third, [&] { return ReadAll(kml) == LiegeKml(3); }));
  EXPECT_EQ(Stop(third), 0);
}

// Refreshes come however the log is reached: through a symbolic link, in a
// folder that comes later or is moved away and made again, from a named
// pipe whose writer stays, or where the system tells of no change.
TEST(ConvertProgramTest, FollowingNeverGoesSilent) {
  const struct {
    const char* name;
    // Prepares the folder before the follower starts; the log's path.
    std::function<std::string(const TempFolder&)> prepare;
    // What happens while it follows; what standard error then holds.
    std::function<void(const TempFolder&, const std::string& log)> change;
    std::size_t points;
    std::string environment = {};
    std::string said = {};
    // The interval: a long one leaves the points to the last KML file.
    std::string interval = "0.1";
    // What is said may be said again (a failure on its third time in a row).
    bool saidAgain = false;
  } cases[] = {
      {"a log reached through a symbolic link",
       [](const TempFolder& folder) {
         std::filesystem::create_directory(folder.File("store"));
         folder.Write("store/rec.nmea", kLiege);
         std::filesystem::create_symlink("store/rec.nmea", folder.File("current.nmea"));
         return folder.File("current.nmea");
       },
       [](const TempFolder& folder, const std::string&) {
         std::ofstream(folder.File("store/rec.nmea"), std::ios::binary | std::ios::app) << kLiege;
       },
       2},
      {"a log whose folder comes later",
       [](const TempFolder& folder) { return folder.File("card/logs/rec.nmea"); },
       [](const TempFolder& folder, const std::string&) {
         std::filesystem::create_directories(folder.File("card/logs"));
         folder.Write("card/logs/rec.nmea", kLiege + kLiege);
       },
       2, "", "n'existe pas encore : le suivi commencera d\u00E8s qu'il appara\u00EEtra.\n"},
      {"a log whose folder is moved away and made again",
       [](const TempFolder& folder) {
         std::filesystem::create_directories(folder.File("card/logs"));
         return folder.Write("card/logs/rec.nmea", kLiege);
       },
       [](const TempFolder& folder, const std::string&) {
         std::filesystem::rename(folder.File("card"), folder.File("card.old"));
         std::filesystem::create_directories(folder.File("card/logs"));
         folder.Write("card/logs/rec.nmea", kLiege + kLiege);
       },
       2, "", "reprend depuis le d\u00E9but.\n"},
      // The log stays as it is: the failed refresh is tried again anyway.
      {"a KML file that could not be written at first",
       [](const TempFolder& folder) {
         std::filesystem::create_directory(folder.File("rec.kml"));
         return folder.Write("rec.nmea", kLiege);
       },
       [](const TempFolder& folder, const std::string&) {
         // Once it failed a third time in a row, which is said again.
         const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         std::string err;
         while ((err = ReadAll(folder.File("follow.err"))).find("dossier") ==
                    err.rfind("dossier") &&
                std::chrono::steady_clock::now() < deadline) {
           std::this_thread::sleep_for(std::chrono::milliseconds(2));
         }
         std::filesystem::remove(folder.File("rec.kml"));
       },
       1, "", "rec.kml\u00A0\u00BB : c'est un dossier", "0.1", true},
      {"no change notification to be had",
       [](const TempFolder& folder) { return folder.Write("rec.nmea", kLiege); },
       [](const TempFolder&, const std::string& log) {
         std::ofstream(log, std::ios::binary | std::ios::app) << kLiege;
       },
       2, "OSTREVANE_NO_INOTIFY=1",
       "le syst\u00E8me ne signale pas les changements de \u00AB\u00A0"},
      // More than a pipe holds, with the writer still there and no refresh
      // due for a minute: the writes end all the same, and every line
      // reaches the last KML file.
      {"a named pipe whose writer stays",
       [](const TempFolder& folder) {
         const std::string log = folder.File("rec.nmea");
         ::mkfifo(log.c_str(), 0600);
         return log;
       },
       [](const TempFolder&, const std::string& log) {
         // Kept open: the follower ends first, and the writer never leaves.
         static std::vector<int> keptOpen;
         keptOpen.push_back(::open(log.c_str(), O_WRONLY | O_NONBLOCK));
         std::string lines;
         for (int i = 0; i < 4000; ++i) lines += kLiege;
         EXPECT_TRUE(WriteWithin(keptOpen.back(), lines, std::chrono::seconds(10)));
       },
       4000, "", "", "60"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    const std::string log = c.prepare(folder);
    FollowerOptions options;
    options.environment = c.environment;
    const Follower follower =
        StartFollowing(folder, "follow", {"--suivre", "--intervalle", c.interval, log}, options);
    const std::string kml = log.substr(0, log.size() - 4) + "kml";
    const auto started = [&] { return !ReadAll(follower.out).empty(); };
    const auto converted = [&] { return ReadAll(kml) == LiegeKml(c.points); };
    // Once it has started: it says where its files are.
    WaitUntil(follower, started, false);
    c.change(folder, log);
    if (c.interval == "0.1") {
      EXPECT_TRUE(WaitUntil(follower, converted, false)) << c.name;
    }
    EXPECT_EQ(Stop(follower), 0) << c.name;
    EXPECT_EQ(ReadAll(kml), LiegeKml(c.points)) << c.name;
    const std::string err = ReadAll(follower.err);
    if (c.said.empty()) {
      EXPECT_EQ(err, "") << c.name;
    } else {
      EXPECT_NE(err.find(c.said), std::string::npos) << c.name << ": " << err;
      if (!c.saidAgain) {
        EXPECT_EQ(err.find(c.said), err.rfind(c.said)) << c.name << ", said twice: " << err;
      }
    }
  }
}
#endif

#ifdef _WIN32
// A notice reaches standard error as it is said, though it is a file, which
// the C library would otherwise hold in its buffer until the follower ends.
TEST(ConvertProgramTest, NoticesReachARedirectedStandardErrorAsTheyAreSaid) {
  TempFolder folder;
  const std::string err = folder.File("err.txt");
  std::wstring command = CommandLineQuoted(ToWide(OSTREVANE_CONVERT)) +
                         L" --suivre --intervalle=0.1 " +
                         CommandLineQuoted(ToWide(folder.File("absent.nmea")));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritableOutput(folder.File("out.txt"));
  startup.hStdError = InheritableOutput(err);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process));
  const std::string notice = "n'existe pas encore";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadAll(err).find(notice) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline &&
         WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
  }
  const std::string said = ReadAll(err);
  TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  EXPECT_NE(said.find(notice), std::string::npos) << said;
}
#endif

// A log can outgrow 2 GiB, the limit of 32-bit file offsets: its sentences
// past that point are read too. Here a sparse file, which costs no disk: the
// first fix, a hole of zero bytes (one long line that repeats it), and past
// 2 GiB a line end and the second fix.
TEST(ConvertProgramTest, ReadsSentencesPastTwoGibibytes) {
  TempFolder folder;
  const std::string log = folder.Write("loin.nmea", kLiege);
  std::filesystem::resize_file(Utf8Path(log), std::uintmax_t{1} << 31);
  std::ofstream(Utf8Path(log), std::ios::binary | std::ios::app)
      << "\r\n" + WithChecksum("$GPRMC,090000,A,5015.000,N,00430.000,W,0.0,0.0,010120,,") + "\r\n";
  const Result result = Convert({log});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadAll(folder.File("loin.kml")),
            ExpectedKml({"4.5,50.25,0", "4.5,50.25,0", "-4.5,50.25,0"}));
}

// Names with accents reach the program intact (Windows hands argv over in
// the ANSI code page), and on Windows, where no shell expands * and ?, the
// program does; a pattern that matches nothing is a missing file.
TEST(ConvertProgramTest, TakesAccentedNamesAndExpandsPatternsOnWindows) {
  TempFolder folder;
  const std::string accentedFolder = folder.path().string() + "/\u00E9t\u00E9";
  const std::string accented = accentedFolder + "/trajet \u00E0 l'\u00E9t\u00E9.nmea";
  std::filesystem::create_directory(Utf8Path(accentedFolder));
  std::ofstream(Utf8Path(accented), std::ios::binary) << kLiege;
  const std::string kml = accented.substr(0, accented.size() - 4) + "kml";
  const Result named = Convert({accented});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out, kml + "\n");
#ifdef _WIN32
  folder.Write("a.nmea", kLiege);
  folder.Write("b.nmea", kLiege);
  const Result expanded = Convert({folder.File("?.nmea"), folder.File("rien*.nmea")});
  EXPECT_EQ(expanded.status, 1);
  EXPECT_EQ(expanded.out, folder.File("a.kml") + "\n" + folder.File("b.kml") + "\n");
  EXPECT_NE(expanded.err.find("rien*.nmea\u00A0\u00BB : fichier ou dossier introuvable"),
            std::string::npos)
      << expanded.err;
#endif
}

// The length of the UTF-8 character at the start of `text`, or 0 where it
// starts with no such character.
std::size_t Utf8Length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || text.size() < length) return 0;
  // The shortest form only, and no surrogate or code point past U+10FFFF.
  const unsigned char second = at(1);
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if ((at(i) & 0xC0) != 0x80) return 0;
  return length;
}

// `text` in UTF-16 with its byte-order mark, as PowerShell 5's ">" writes it;
// `utf8` gets the text it holds in UTF-8: `text` itself, but for bytes that
// are no UTF-8 (binary packets), taken as Latin-1 characters.
std::string Utf16(std::string_view text, bool littleEndian, std::string& utf8) {
  std::string utf16 = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  const auto put = [&](unsigned unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    utf16 += littleEndian ? std::string{low, high} : std::string{high, low};
  };
  utf8.clear();
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = Utf8Length(text.substr(i));
    unsigned codePoint = static_cast<unsigned char>(text[i]);
    if (length == 0) {
      utf8 += static_cast<char>(0xC0 | codePoint >> 6);
      utf8 += static_cast<char>(0x80 | (codePoint & 0x3F));
      length = 1;
    } else {
      if (length > 1) codePoint &= 0x7F >> length;
      for (std::size_t k = 1; k < length; ++k)
        codePoint = codePoint << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      utf8.append(text.substr(i, length));
    }
    if (codePoint >= 0x10000) {
      put(0xD800 + ((codePoint - 0x10000) >> 10));
      put(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    } else {
      put(codePoint);
    }
    i += length;
  }
  return utf16;
}

// Every real receiver's log converts into a well-formed document whose
// coordinate lines are plain numbers; the same log in UTF-16, as Windows
// tools write it, into the very same document.
TEST(ConvertProgramTest, EveryCorpusLogConverts) {
  const std::filesystem::path corpus = OSTREVANE_CORPUS_DIR;
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus folder at " << corpus;
  TempFolder folder;
  std::vector<std::string> logs;
  // Each log in UTF-16, then the log in UTF-8 whose document it must give.
  std::vector<std::pair<std::string, std::string>> utf16Logs;
  std::vector<std::string> converted;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".nmea") continue;
    const auto copy = folder.path() / entry.path().filename();
    std::filesystem::copy_file(entry.path(), copy);
    logs.push_back(copy.string());
    const std::string stem = entry.path().stem().string();
    std::string utf8;
    const std::string utf16 = Utf16(ReadAll(copy.string()), logs.size() % 2 == 0, utf8);
    utf16Logs.emplace_back(folder.Write(stem + "-utf16.nmea", utf16), copy.string());
    converted.push_back(utf16Logs.back().first);
    if (utf8 == ReadAll(copy.string())) continue;
    utf16Logs.back().second = folder.Write(stem + "-utf8.nmea", utf8);
    converted.push_back(utf16Logs.back().second);
  }
  ASSERT_FALSE(logs.empty());
  converted.insert(converted.begin(), logs.begin(), logs.end());
  const Result result = Convert(converted);
  EXPECT_EQ(result.status, 0) << result.err;
  const auto kmlOf = [](const std::string& log) {
    return ReadAll(log.substr(0, log.size() - 4) + "kml");
  };
  for (const auto& [utf16, utf8] : utf16Logs) EXPECT_EQ(kmlOf(utf16), kmlOf(utf8)) << utf16;

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
