#include "os/file_system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "os/descriptor_loops.h"
#include "os/wide_text.h"

namespace ostrevane::os {
namespace {

std::wstring Wide(const std::string& path) { return WindowsPath(path); }

// Another program holds the file open without sharing it (a viewer showing
// the KML file, say): Windows' sharing and lock violations, which the C
// library reports as a mere EACCES and MoveFileExW as an error of its own.
bool HeldByAnotherProgram(unsigned long windowsError) {
  return windowsError == ERROR_SHARING_VIOLATION || windowsError == ERROR_LOCK_VIOLATION;
}

// No Windows file name holds * or ?: such a name is a pattern that the
// command line found nothing for, so the file is missing.
bool IsUnmatchedPattern(const std::string& path) {
  const std::size_t name = path.find_last_of("/\\");
  return path.find_first_of("*?", name == std::string::npos ? 0 : name + 1) != std::string::npos;
}

// The errno value for a failed C library call on a path.
int PathCallError() { return HeldByAnotherProgram(_doserrno) ? ETXTBSY : errno; }

// Whether another program holds `path` open without letting others delete
// or replace it. Replacing such a file fails as "access denied", as for a
// file that may not be written at all.
bool HeldOpen(const std::wstring& path) {
  const HANDLE handle =
      CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HeldByAnotherProgram(GetLastError());
  CloseHandle(handle);
  return false;
}

// The errno value for a failed Win32 call.
int Win32Error(unsigned long windowsError) {
  if (HeldByAnotherProgram(windowsError)) return ETXTBSY;
  switch (windowsError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

class SystemFiles final : public FileSystem {
 public:
  bool CallableFromOtherThreads() const override { return true; }

  int OpenForReading(const std::string& path, Handle& handle) override {
    if (IsUnmatchedPattern(path)) return ENOENT;
    int fd = _wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) return PathCallError();
    if (int error = RefuseFolder(fd); error != 0) {
      CloseFd(fd);
      return error;
    }
    handle = fd;
    return 0;
  }

  int CreateExclusive(const std::string& path, Handle& handle) override {
    int fd = _wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0) return PathCallError();
    handle = fd;
    return 0;
  }

  int Read(Handle handle, char* data, std::size_t size, std::size_t& got) override {
    return detail::ReadRetrying(
        [&] { return _read(static_cast<int>(handle), data, static_cast<unsigned>(size)); }, got);
  }

  int Write(Handle handle, const char* data, std::size_t size) override {
    return detail::WriteAll(
        [handle](const char* bytes, std::size_t count) {
          return _write(static_cast<int>(handle), bytes, static_cast<unsigned>(count));
        },
        data, size);
  }

  int Sync(Handle handle) override { return _commit(static_cast<int>(handle)) == 0 ? 0 : errno; }

  int Close(Handle handle) override { return CloseFd(static_cast<int>(handle)); }

  int Replace(const std::string& from, const std::string& to) override {
    const std::wstring target = Wide(to);
    if (MoveFileExW(Wide(from).c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED && HeldOpen(target) ? ETXTBSY : Win32Error(error);
  }

  int Remove(const std::string& path) override {
    return _wunlink(Wide(path).c_str()) == 0 ? 0 : PathCallError();
  }

  int CheckReplaceable(const std::string& path) override {
    struct _stat64 info;
    if (_wstat64(Wide(path).c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    if (info.st_mode & _S_IFDIR) return EISDIR;
    if (!(info.st_mode & _S_IWRITE)) return EACCES;
    return 0;
  }

 private:
  static int CloseFd(int fd) { return _close(fd) == 0 ? 0 : errno; }

  // A folder gives no lines; say so at once.
  static int RefuseFolder(int fd) {
    struct _stat64 info;
    if (_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFDIR)) return EISDIR;
    return 0;
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static SystemFiles files;
  return files;
}

}  // namespace ostrevane::os
