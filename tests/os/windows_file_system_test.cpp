// What only Windows does to files: paths beyond MAX_PATH, and files that
// another program holds open without sharing them.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "io/file_error.h"
#include "io/numbered_files.h"
#include "os/file_system.h"
#include "os/wide_text.h"
#include "tests/support/temp_folder.h"

namespace ostrevane::os {
namespace {

using io::FileError;
using io::NumberedFiles;
using testing::ReadAll;
using testing::TempFolder;

// Wine ignores MAX_PATH, so the form of the path is checked itself.
TEST(WindowsFileSystemTest, PathsBeyondMaxPathTakeTheLongForm) {
  const std::string folder(200, 'd');
  const std::string name(100, 'n');
  struct PathCase {
    std::string path;
    std::wstring expected;
  };
  const std::wstring wideFolder(folder.begin(), folder.end());
  const std::wstring wideName(name.begin(), name.end());
  const PathCase cases[] = {
      {"C:/court/\u00E9t\u00E9.kml", L"C:/court/\u00E9t\u00E9.kml"},
      {"C:/" + folder + "/./" + name, L"\\\\?\\C:\\" + wideFolder + L"\\" + wideName},
      {"C:/x/../" + folder + "/" + name, L"\\\\?\\C:\\" + wideFolder + L"\\" + wideName},
      {"//serveur/partage/" + folder + "/" + name,
       L"\\\\?\\UNC\\serveur\\partage\\" + wideFolder + L"\\" + wideName},
      {"\\\\?\\C:\\" + folder + "\\" + name, L"\\\\?\\C:\\" + wideFolder + L"\\" + wideName},
  };
  for (const PathCase& c : cases) EXPECT_EQ(WindowsPath(c.path), c.expected) << c.path;

  TempFolder temp;
  const std::string deep = temp.File(folder);
  std::filesystem::create_directories(WindowsPath(deep));
  const std::string kml = deep + "\\" + name + ".kml";
  NumberedFiles files;
  files.OpenForOutput(1, kml);
  files.PrintLine(1, "loin");
  files.Close(1);
  files.OpenForInput(1, kml);
  EXPECT_EQ(files.LineInput(1), "loin");
  files.Close(1);
}

// A KML file open in a viewer, or a log open in a logger, that does not let
// others at it: the user is told that another program holds it.
TEST(WindowsFileSystemTest, FileHeldByAnotherProgramIsSaidSo) {
  TempFolder folder;
  // A viewer lets others read the KML file; a logger lets no one at its log.
  for (const auto& [name, sharing] :
       {std::pair{"tenu.kml", FILE_SHARE_READ}, std::pair{"tenu.nmea", 0}}) {
    const std::string path = folder.Write(name, "avant");
    const HANDLE held =
        CreateFileW(WindowsPath(path).c_str(), GENERIC_READ, static_cast<DWORD>(sharing), nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    NumberedFiles files;
    try {
      if (std::string(name).ends_with(".kml")) {
        files.OpenForOutput(1, path);
        files.PrintLine(1, "apr\u00E8s");
        files.Close(1);
      } else {
        files.OpenForInput(1, path);
      }
      ADD_FAILURE() << name << ": no failure";
    } catch (const FileError& error) {
      EXPECT_NE(std::string(error.what()).find("utilis\u00E9 par un autre programme"),
                std::string::npos)
          << error.what();
    }
    CloseHandle(held);
    EXPECT_EQ(ReadAll(path), "avant") << name;
  }
  EXPECT_EQ(folder.EntryCount(), 2u);
}

// A follower's lock: a second holder, even in the same program, is refused
// until the first lets go; the folder that holds it is made once.
TEST(WindowsFileSystemTest, ALockedFileRefusesASecondHolder) {
  TempFolder folder;
  FileSystem& files = SystemFileSystem();
  const std::string lockFolder = folder.File("live.suivi");
  ASSERT_EQ(files.CreateFolder(lockFolder), 0);
  EXPECT_EQ(files.CreateFolder(lockFolder), 0);
  const std::string lock = lockFolder + "/verrou";
  FileSystem::Handle first = -1;
  FileSystem::Handle second = -1;
  ASSERT_EQ(files.OpenLocked(lock, first), 0);
  EXPECT_EQ(files.OpenLocked(lock, second), EWOULDBLOCK);
  EXPECT_EQ(second, -1);
  files.Close(first);
  ASSERT_EQ(files.OpenLocked(lock, second), 0);
  files.Close(second);
}

}  // namespace
}  // namespace ostrevane::os
