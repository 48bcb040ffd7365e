#include "io/numbered_files.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "io/file_error.h"
#include "io/output_file.h"
#include "os/system.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/temp_folder.h"
#include "tests/support/utf16.h"

namespace ostrevane::io {
namespace {

using os::FileSystem;
using os::SystemFileSystem;

using testing::FaultyFileSystem;
using testing::ReadAll;
using testing::TempFolder;
using testing::Utf8Path;

std::vector<std::string> ReadLines(FileSystem& fileSystem, const std::string& path) {
  NumberedFiles files(fileSystem);
  files.OpenForInput(1, path);
  std::vector<std::string> lines;
  bool partOfLastLine = false;
  while (!files.Eof(1)) {
    // A line longer than the buffer comes in parts; they are joined here.
    const std::string_view text = files.LineInput(1);
    if (partOfLastLine) {
      lines.back() += text;
    } else {
      lines.emplace_back(text);
    }
    partOfLastLine = files.LineGoesOn(1);
  }
  files.Close(1);
  return lines;
}

using testing::Utf16;

struct LineCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(NumberedFilesTest, SplitsLinesAtEveryKindOfLineEnd) {
  const std::string longLine(300 * 1024, 'x');
  const std::vector<LineCase> cases = {
      {"empty file", "", {}},
      {"no terminator", "abc", {"abc"}},
      {"crlf", "abc\r\n", {"abc"}},
      {"mixed ends", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"empty lines kept", "a\n\nb\r\n\r\nc", {"a", "", "b", "", "c"}},
      {"only crlf", "\r\n", {""}},
      {"cr cr lf", "a\r\r\nb", {"a", "", "b"}},
      {"lf cr", "a\n\r", {"a", ""}},
      {"blanks are not empty", "  \r\n\t", {"  ", "\t"}},
      {"line longer than the buffer", longLine + "\r\nend", {longLine, "end"}},
      {"line of several buffers, unterminated", longLine + longLine, {longLine + longLine}},
      {"utf-16le, crlf", Utf16(u"a\r\nb\r\n", true), {"a", "b"}},
      {"utf-16be", Utf16(u"a\nb", false), {"a", "b"}},
      // Read 7 bytes at a time, the pair is cut between its two units.
      {"utf-16 beyond ascii",
       Utf16(u"\u00E9\rabc\U0001F6F0x", true),
       {"\xC3\xA9", "abc\xF0\x9F\x9B\xB0x"}},
      {"utf-16 line longer than the buffer",
       Utf16(std::u16string(longLine.begin(), longLine.end()) + u"\r\nend", true),
       {longLine, "end"}},
      {"utf-16 cut inside a code unit", Utf16(u"ab\r\ncd", false).substr(0, 13), {"ab", "c"}},
      {"utf-16le ending with a pair", Utf16(u"a\n\U0001F6F0", true), {"a", "\xF0\x9F\x9B\xB0"}},
      {"utf-16be ending with a pair", Utf16(u"a\n\U0001F6F0", false), {"a", "\xF0\x9F\x9B\xB0"}},
      {"utf-16, a lone low surrogate inside a line",
       Utf16(std::u16string{u'a', char16_t{0xDC00}, u'b', u'\n', u'c'}, true),
       {"a\xEF\xBF\xBD"
        "b",
        "c"}},
      // One byte can't tell a mark: a file of it alone holds no text yet.
      {"a lone byte that may start a mark", "\xFE", {}},
      {"utf-8 mark stays",
       "\xEF\xBB\xBF"
       "a\n",
       {"\xEF\xBB\xBF"
        "a"}},
      {"nul bytes without a mark", std::string("a\0\nb", 4), {std::string("a\0", 2), "b"}},
      {"mark past the start",
       "a\n\xFF\xFE"
       "b",
       {"a",
        "\xFF\xFE"
        "b"}},
  };
  TempFolder folder;
  FaultyFileSystem smallReads;
  for (const LineCase& c : cases) {
    const std::string path = folder.Write("in.nmea", c.bytes);
    EXPECT_EQ(ReadLines(SystemFileSystem(), path), c.lines) << c.name;
    EXPECT_EQ(ReadLines(smallReads, path), c.lines) << c.name << " (small reads)";
  }
}

// The temporary files that runs killed outright left beside a file go;
// those of a run still going, and any other file, stay.
TEST(NumberedFilesTest, StaleTemporariesOfEndedRunsAreRemoved) {
#ifdef _WIN32
  const std::string ended = "3";  // Windows numbers processes by fours
#else
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string ended = std::to_string(child);
#endif
  const std::string running = std::to_string(os::ProcessId());
  TempFolder folder;
  const std::string kml = folder.Write("out.kml", "earlier");
  const std::vector<std::pair<std::string, bool>> names = {
      {".out.kml." + ended + "-0-123456.tmp", false},
      {".out.kml." + ended + "-17-9.tmp", false},
      {".out.kml." + running + "-0-123456.tmp", true},
      {".other.kml." + ended + "-0-123456.tmp", true},
      {".out.kml." + ended + "-0.tmp", true},
      {".out.kml.notes.tmp", true},
      {"out.kml." + ended + "-0-1.tmp", true},
  };
  for (const auto& [name, kept] : names) folder.Write(name, "x");
  io::RemoveStaleTemporaries(SystemFileSystem(), kml);
  for (const auto& [name, kept] : names)
    EXPECT_EQ(std::filesystem::exists(Utf8Path(folder.File(name))), kept) << name;
  EXPECT_EQ(ReadAll(kml), "earlier");
}

TEST(NumberedFilesTest, OutputReplacesTheFileOnlyWhenClosed) {
  TempFolder folder;
  const std::string path = folder.Write("out.kml", "earlier contents that are longer");
  NumberedFiles files;
  files.OpenForOutput(2, path);
  files.PrintLine(2, "one");
  files.PrintLine(2, "");
  EXPECT_EQ(ReadAll(path), "earlier contents that are longer");
  files.Close(2);
  EXPECT_EQ(ReadAll(path), "one\r\n\r\n");
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_FALSE(files.IsOpen(2));
}

#ifndef _WIN32
// An owner and a group other than those a new file of ours gets, which the
// process may give a file: another user's as root, else one of the user's
// other groups; the user's own where there is none.
std::pair<uid_t, gid_t> AnotherOwner() {
  if (::geteuid() == 0) return {65534, 65534};
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  groups.resize(static_cast<std::size_t>(
      std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
  for (const gid_t group : groups)
    if (group != ::getegid()) return {::geteuid(), group};
  return {::geteuid(), ::getegid()};
}

// The user's choices on the earlier file stay: its permissions, owner and
// group, and a symbolic link, whose file is the one replaced. A hard link is
// split: its other name keeps the earlier contents. Both with and without
// unnamed temporaries (the faulty file system has none).
TEST(NumberedFilesTest, ReplacingKeepsPermissionsAndSymbolicLinks) {
  namespace fs = std::filesystem;
  FaultyFileSystem namedTemporaries;
  const auto [owner, group] = AnotherOwner();
  for (FileSystem* fileSystem :
       {&SystemFileSystem(), static_cast<FileSystem*>(&namedTemporaries)}) {
    TempFolder folder;
    fs::create_directory(folder.File("real"));
    const std::string real = folder.Write("real/out.kml", "earlier");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(::chown(real.c_str(), owner, group), 0);
    const std::string link = folder.File("out.kml");
    fs::create_symlink("real/out.kml", link);
    const std::string hardLink = folder.File("other name.kml");
    fs::create_hard_link(real, hardLink);
    NumberedFiles files(*fileSystem);
    files.OpenForOutput(2, link);
    files.PrintLine(2, "new");
    files.Close(2);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadAll(real), "new\r\n");
    EXPECT_EQ(ReadAll(hardLink), "earlier");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    struct stat info;
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, owner);
    EXPECT_EQ(info.st_gid, group);
    EXPECT_EQ(folder.EntryCount(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.File("real")), fs::directory_iterator()),
              1);
  }
}

// A file system that keeps no permissions (FAT through FUSE) refuses to set
// them: the KML is replaced all the same, unless the new file would let others
// read it where the earlier one did not. Other errors still fail.
TEST(NumberedFilesTest, FileSystemsWithoutPermissionsReplaceUnlessLessPrivate) {
  namespace fs = std::filesystem;
  constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;
  constexpr fs::perms kShared = kPrivate | fs::perms::group_read | fs::perms::others_read;
  struct Case {
    int error;
    fs::perms earlier;
    const char* cause;  // nullptr where the file is replaced
  };
  const Case cases[] = {
      {ENOSYS, kShared, nullptr},
      {EOPNOTSUPP, kShared, nullptr},
      {ENOTSUP, kShared, nullptr},
      {EPERM, kShared, nullptr},
      {ENOSYS, kPrivate, "lisible par d'autres"},
      {ENOSYS, kPrivate | fs::perms::group_read, "lisible par d'autres"},
      {EIO, kShared, "entr\u00E9e-sortie"},
  };
  // New files are created as the earlier shared one is.
  const mode_t mask = ::umask(022);
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string path = folder.Write("out.kml", "earlier");
    fs::permissions(path, c.earlier);
    FaultyFileSystem fileSystem;
    fileSystem.Plant(FaultyFileSystem::Operation::Permissions, c.error);
    NumberedFiles files(fileSystem);
    try {
      files.OpenForOutput(2, path);
      files.PrintLine(2, "new");
      files.Close(2);
      EXPECT_EQ(c.cause, nullptr) << c.error << ": replaced";
      EXPECT_EQ(ReadAll(path), "new\r\n") << c.error;
    } catch (const FileError& error) {
      ASSERT_NE(c.cause, nullptr) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.cause), std::string::npos) << error.what();
      EXPECT_EQ(ReadAll(path), "earlier") << c.error;
    }
    EXPECT_EQ(fs::status(path).permissions(), c.earlier) << c.error;
    EXPECT_EQ(folder.EntryCount(), 1u) << c.error;
  }
  ::umask(mask);
}

// Whatever ends the program while it writes, the earlier file stays and no
// temporary file is left; past the file size limit, the write fails instead.
TEST(NumberedFilesTest, InterruptionsLeaveTheEarlierFileAndNoTemporary) {
  FaultyFileSystem namedTemporaries;
  for (FileSystem* fileSystem :
       {&SystemFileSystem(), static_cast<FileSystem*>(&namedTemporaries)}) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
      TempFolder folder;
      const std::string path = folder.Write("out.kml", "earlier");
      const pid_t child = ::fork();
      if (child == 0) {
        // The child never returns into the test program.
        try {
          NumberedFiles files(*fileSystem);
          files.OpenForOutput(2, path);
          files.PrintLine(2, std::string(600 * 1024, 'y'));  // forces writes to disk
          if (signal == SIGXFSZ) {
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            files.PrintLine(2, std::string(600 * 1024, 'z'));
            files.Close(2);
          }
          ::raise(signal);
        } catch (const FileError& error) {
          std::_Exit(std::string(error.what()).find("trop grand") != std::string::npos ? 3 : 4);
        } catch (...) {
        }
        std::_Exit(5);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      if (signal == SIGXFSZ) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
      } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
      }
      EXPECT_EQ(ReadAll(path), "earlier") << signal;
      EXPECT_EQ(folder.EntryCount(), 1u) << signal;
    }
  }
}

#endif

// Outputs that wait for a shared sync replace nothing before it, and a failed
// sync keeps the earlier file of the output it failed for.
TEST(NumberedFilesTest, WaitingOutputsReplaceOnlyOnceSynced) {
  TempFolder folder;
  const std::string kept = folder.Write("kept.kml", "earlier");
  const std::string replaced = folder.Write("replaced.kml", "earlier");
  const std::string created = folder.File("created.kml");
  FaultyFileSystem fileSystem;
  NumberedFiles files(fileSystem);
  files.WaitForSharedSync();
  for (const std::string& path : {kept, replaced, created}) {
    files.OpenForOutput(2, path);
    files.PrintLine(2, "new");
    files.Close(2);
  }
  EXPECT_EQ(ReadAll(kept), "earlier");
  EXPECT_FALSE(std::filesystem::exists(created));
  fileSystem.Plant(FaultyFileSystem::Operation::Sync, EIO);
  const auto placed = files.PutWaitingInPlace();
  ASSERT_EQ(placed.size(), 3u);
  EXPECT_NE(placed[0].failure.find("kept.kml"), std::string::npos) << placed[0].failure;
  EXPECT_EQ(placed[1].failure, "");
  EXPECT_EQ(placed[2].path, created);
  EXPECT_EQ(ReadAll(kept), "earlier");
  EXPECT_EQ(ReadAll(replaced), "new\r\n");
  EXPECT_EQ(ReadAll(created), "new\r\n");
  EXPECT_EQ(folder.EntryCount(), 3u);
  EXPECT_EQ(files.WaitingCount(), 0u);
}

TEST(NumberedFilesTest, AbandonedOutputLeavesTheEarlierFileAndNoTemporary) {
  TempFolder folder;
  const std::string path = folder.Write("out.kml", "earlier");
  NumberedFiles files;
  files.OpenForOutput(2, path);
  files.PrintLine(2, std::string(600 * 1024, 'y'));  // forces writes to disk
  files.Abandon(2);
  EXPECT_EQ(ReadAll(path), "earlier");
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_EQ(files.FreeFile(), 1);
}

// Several megabytes pass through the blocks that are written behind the
// caller: the file holds every line in order, or, after a failed write,
// nothing of it.
TEST(NumberedFilesTest, LongOutputArrivesWholeAndInOrderOrNotAtAll) {
  std::string expected;
  for (int line = 0; line < 200000; ++line) expected += std::to_string(line) + ",48.1,0\r\n";
  for (const int failingWrite : {-1, 0, 2, 5}) {
    TempFolder folder;
    const std::string path = folder.Write("out.kml", "earlier");
    FaultyFileSystem fileSystem;
    if (failingWrite >= 0)
      fileSystem.Plant(FaultyFileSystem::Operation::Write, ENOSPC, failingWrite);
    NumberedFiles files(fileSystem);
    bool failed = false;
    try {
      files.OpenForOutput(2, path);
      for (int line = 0; line < 200000; ++line)
        files.PrintLine(2, std::to_string(line) + ",48.1,0");
      files.Close(2);
    } catch (const FileError& error) {
      failed = true;
      EXPECT_NE(std::string(error.what()).find("disque plein"), std::string::npos) << error.what();
      files.Abandon(2);
    }
    EXPECT_EQ(failed, failingWrite >= 0) << failingWrite;
    EXPECT_EQ(ReadAll(path), failed ? "earlier" : expected) << failingWrite;
    EXPECT_EQ(folder.EntryCount(), 1u) << failingWrite;
  }
}

TEST(NumberedFilesTest, FreeFileIsTheLowestNumberNotInUse) {
  TempFolder folder;
  const std::string source = folder.Write("in.nmea", "x");
  NumberedFiles files;
  EXPECT_EQ(files.FreeFile(), 1);
  files.OpenForInput(1, source);
  EXPECT_EQ(files.FreeFile(), 2);
  files.OpenForOutput(2, folder.File("a.kml"));
  files.OpenForInput(4, source);
  EXPECT_EQ(files.FreeFile(), 3);
  files.Close(1);
  EXPECT_EQ(files.FreeFile(), 1);
  EXPECT_THROW(files.OpenForInput(4, source), FileError);
  EXPECT_THROW(files.OpenForInput(256, source), FileError);
  EXPECT_THROW(files.PrintLine(3, "x"), FileError);
}

struct FailureCase {
  const char* name;
  int expectedError;
  std::string cause;
};

TEST(NumberedFilesTest, FailuresNameTheFileAndTheCauseInFrench) {
  TempFolder folder;
  std::filesystem::create_directory(folder.File("folder.kml"));
  const std::string readOnly = folder.Write("locked.kml", "keep me");
  std::filesystem::permissions(
      readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  NumberedFiles files;

  // The same cause in the same words on every system, whatever words the
  // system itself has for it.
  const std::string overlong = std::string(300, 'n') + ".nmea";
  const FailureCase sources[] = {
      {"missing.nmea", ENOENT, "introuvable"},
      {"folder.kml", EISDIR, "c'est un dossier"},
      {"locked.kml/x.nmea", ENOTDIR, "n'est pas un dossier"},
      {overlong.c_str(), ENAMETOOLONG, "nom trop long"},
  };
  for (const FailureCase& source : sources) {
    try {
      files.OpenForInput(1, folder.File(source.name));
      ADD_FAILURE() << source.name << " opened";
    } catch (const FileError& error) {
      EXPECT_EQ(error.error(), source.expectedError) << source.name;
      EXPECT_NE(std::string(error.what()).find(folder.File(source.name)), std::string::npos);
      EXPECT_NE(std::string(error.what()).find(source.cause), std::string::npos) << error.what();
    }
  }
  for (const auto& [path, error] :
       {std::pair{folder.File("folder.kml"), EISDIR}, std::pair{readOnly, EACCES},
        std::pair{folder.File("no/such/dir/x.kml"), ENOENT}}) {
    try {
      files.OpenForOutput(2, path);
      ADD_FAILURE() << path << " opened for output";
    } catch (const FileError& failure) {
      EXPECT_EQ(failure.error(), error) << path;
      EXPECT_NE(std::string(failure.what()).find(path), std::string::npos);
    }
    EXPECT_FALSE(files.IsOpen(2));
  }
  EXPECT_EQ(ReadAll(readOnly), "keep me");
  EXPECT_EQ(folder.EntryCount(), 2u);
}

TEST(NumberedFilesTest, InjectedFaultsLeaveNothingBehind) {
  struct Fault {
    const char* name;
    FaultyFileSystem::Operation operation;
    int error;
    const char* cause;
  };
  const std::vector<Fault> faults = {
      {"disk full", FaultyFileSystem::Operation::Write, ENOSPC, "disque plein"},
      {"sync fails", FaultyFileSystem::Operation::Sync, EIO, "entr\u00E9e-sortie"},
      {"close fails", FaultyFileSystem::Operation::Close, EIO, "entr\u00E9e-sortie"},
      {"move fails", FaultyFileSystem::Operation::Replace, EACCES, "acc\u00E8s refus\u00E9"},
  };
  for (const Fault& fault : faults) {
    TempFolder folder;
    const std::string path = folder.Write("out.kml", "earlier");
    FaultyFileSystem fileSystem;
    NumberedFiles files(fileSystem);
    files.OpenForOutput(2, path);
    files.PrintLine(2, "new");
    fileSystem.Plant(fault.operation, fault.error);
    try {
      files.Close(2);
      ADD_FAILURE() << fault.name << ": no failure";
    } catch (const FileError& error) {
      EXPECT_NE(std::string(error.what()).find(fault.cause), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << fault.name;
    }
    EXPECT_FALSE(files.IsOpen(2)) << fault.name;
    EXPECT_EQ(ReadAll(path), "earlier") << fault.name;
    EXPECT_EQ(folder.EntryCount(), 1u) << fault.name;
  }
}

// The temporary file's name is longer than the KML file's: where the system
// refuses it, a short name is tried. Windows says "too long" with ENOENT or
// EINVAL.
TEST(NumberedFilesTest, OverlongTemporaryNameFallsBackToAShortOne) {
  for (const int error : {ENAMETOOLONG, ENOENT, EINVAL}) {
    TempFolder folder;
    const std::string path = folder.Write("out.kml", "earlier");
    FaultyFileSystem fileSystem;
    fileSystem.Plant(FaultyFileSystem::Operation::Create, error);
    NumberedFiles files(fileSystem);
    files.OpenForOutput(2, path);
    files.PrintLine(2, "new");
    files.Close(2);
    EXPECT_EQ(ReadAll(path), "new\r\n") << error;
    EXPECT_EQ(folder.EntryCount(), 1u) << error;
  }
}

TEST(NumberedFilesTest, ReadErrorInTheMiddleOfTheSourceIsReported) {
  TempFolder folder;
  const std::string path = folder.Write("in.nmea", "line one\r\nline two\r\nline three\r\n");
  FaultyFileSystem fileSystem;
  NumberedFiles files(fileSystem);
  // Planted first: the file is read ahead from the moment it is opened.
  fileSystem.Plant(FaultyFileSystem::Operation::Read, EIO, 2);
  files.OpenForInput(1, path);
  EXPECT_EQ(files.LineInput(1), "line one");
  EXPECT_THROW(
      {
        while (!files.Eof(1)) files.LineInput(1);
      },
      FileError);
  files.Abandon(1);
  EXPECT_EQ(files.FreeFile(), 1);
}

}  // namespace
}  // namespace ostrevane::io
