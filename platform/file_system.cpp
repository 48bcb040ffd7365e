#include "platform/file_system.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/wide_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

// A log or KML file past 2 GiB must open on 32-bit systems too; the build
// asks for 64-bit offsets (_FILE_OFFSET_BITS=64), and emulators that run
// 32-bit programs on a 64-bit kernel would not notice their absence.
static_assert(sizeof(off_t) == 8, "build with -D_FILE_OFFSET_BITS=64");
#endif

namespace ostrevane::platform {
namespace {

#ifdef _WIN32
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
#endif

#ifndef _WIN32
constexpr int kMostLinks = 40;
#endif

class SystemFiles final : public FileSystem {
 public:
  bool CallableFromOtherThreads() const override { return true; }

  int OpenForReading(const std::string& path, Handle& handle) override {
#ifdef _WIN32
    if (IsUnmatchedPattern(path)) return ENOENT;
    int fd = _wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) return PathCallError();
#else
    // Without O_NONBLOCK a FIFO that no program writes to would block here,
    // and the window with it; its reads then find the end at once.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#endif
    if (int error = RefuseFolder(fd); error != 0) {
      CloseFd(fd);
      return error;
    }
    handle = fd;
    return 0;
  }

  int CreateExclusive(const std::string& path, Handle& handle) override {
#ifdef _WIN32
    int fd = _wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0) return PathCallError();
#else
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
#endif
    handle = fd;
    return 0;
  }

  int Read(Handle handle, char* data, std::size_t size, std::size_t& got) override {
    for (;;) {
#ifdef _WIN32
      auto n = _read(static_cast<int>(handle), data, static_cast<unsigned>(size));
#else
      auto n = ::read(static_cast<int>(handle), data, size);
#endif
      if (n >= 0) {
        got = static_cast<std::size_t>(n);
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  int Write(Handle handle, const char* data, std::size_t size) override {
    while (size > 0) {
#ifdef _WIN32
      auto n = _write(static_cast<int>(handle), data, static_cast<unsigned>(size));
#else
      auto n = ::write(static_cast<int>(handle), data, size);
#endif
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) return ENOSPC;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return 0;
  }

  void StartWriteback(Handle handle) override {
#ifdef __linux__
    ::sync_file_range(static_cast<int>(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)handle;
#endif
  }

  int Sync(Handle handle) override {
#ifdef _WIN32
    return _commit(static_cast<int>(handle)) == 0 ? 0 : errno;
#else
    return ::fsync(static_cast<int>(handle)) == 0 ? 0 : errno;
#endif
  }

#ifdef __linux__
  // One sync of each file system that holds the files, rather than one per
  // file: the disk is waited for once. (Linux reports through syncfs the
  // write errors of every file on it since the handle was opened.) A lone
  // file is synced by itself: a whole file system's sync would also wait for
  // other programs' writes.
  void SyncAll(const Handle* handles, int* errors, std::size_t count) override {
    if (count == 1) {
      errors[0] = Sync(handles[0]);
      return;
    }
    std::vector<dev_t> synced;
    std::vector<int> results;
    for (std::size_t i = 0; i < count; ++i) {
      const int fd = static_cast<int>(handles[i]);
      struct stat info;
      if (::fstat(fd, &info) != 0) {
        errors[i] = Sync(handles[i]);
        continue;
      }
      const auto found = std::find(synced.begin(), synced.end(), info.st_dev);
      if (found != synced.end()) {
        errors[i] = results[static_cast<std::size_t>(found - synced.begin())];
        continue;
      }
      errors[i] = ::syncfs(fd) == 0 ? 0 : errno;
      synced.push_back(info.st_dev);
      results.push_back(errors[i]);
    }
  }
#endif

  int Close(Handle handle) override { return CloseFd(static_cast<int>(handle)); }

  int Replace(const std::string& from, const std::string& to) override {
#ifdef _WIN32
    const std::wstring target = Wide(to);
    if (MoveFileExW(Wide(from).c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED && HeldOpen(target) ? ETXTBSY : Win32Error(error);
#else
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#endif
  }

  int Remove(const std::string& path) override {
#ifdef _WIN32
    return _wunlink(Wide(path).c_str()) == 0 ? 0 : PathCallError();
#else
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
#endif
  }

  int CheckReplaceable(const std::string& path) override {
#ifdef _WIN32
    struct _stat64 info;
    if (_wstat64(Wide(path).c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    if (info.st_mode & _S_IFDIR) return EISDIR;
    if (!(info.st_mode & _S_IWRITE)) return EACCES;
    return 0;
#else
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return EINVAL;
    // A read-only file is refused even where the folder would let us
    // rename over it (and even for root): the user marked it so on purpose.
    if ((info.st_mode & 0222) == 0) return EACCES;
    if (::access(path.c_str(), W_OK) != 0) return errno;
    return 0;
#endif
  }

#ifndef _WIN32
  std::string ReplacementTarget(const std::string& path) override {
    std::string current = path;
    // As many links as the system itself follows; beyond, the path is used
    // as given and its opening reports the loop.
    for (int links = 0; links < kMostLinks; ++links) {
      struct stat info;
      if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
      char target[PATH_MAX];
      const auto length = ::readlink(current.c_str(), target, sizeof target);
      if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return path;
      const std::string next(target, static_cast<std::size_t>(length));
      // A relative link leads from the folder that holds it.
      const auto slash = current.rfind('/');
      current = next.front() == '/' || slash == std::string::npos
                    ? next
                    : current.substr(0, slash + 1) + next;
    }
    return path;
  }

  bool Exists(const std::string& path) override {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
  }

  int CopyPermissions(const std::string& model, Handle handle) override {
    struct stat info;
    if (::stat(model.c_str(), &info) != 0) return errno;
    const int fd = static_cast<int>(handle);
    // Owner and group where allowed (root, or a group the user belongs to);
    // otherwise the file becomes the user's own, as any file they create.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0) (void)::fchown(fd, -1, info.st_gid);
    // After the owner: changing it may clear the set-ID bits. A file system
    // that keeps no permissions (FAT on a memory stick) refuses; its files
    // all have the same anyway.
    if (::fchmod(fd, info.st_mode & 07777) == 0 || errno == EPERM || errno == EOPNOTSUPP) return 0;
    return errno;
  }

  int CreateUnnamed(const std::string& folder, Handle& handle) override {
#ifdef O_TMPFILE
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    handle = fd;
    return 0;
#else
    (void)folder;
    (void)handle;
    return ENOSYS;
#endif
  }

  int Link(Handle handle, const std::string& path) override {
#ifdef __linux__
    // The process's own view of the file, which needs no privilege to link.
    const std::string self = "/proc/self/fd/" + std::to_string(handle);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    return errno;
#else
    (void)handle;
    (void)path;
    return ENOSYS;
#endif
  }
#endif

 private:
  static int CloseFd(int fd) {
#ifdef _WIN32
    return _close(fd) == 0 ? 0 : errno;
#else
    return ::close(fd) == 0 ? 0 : errno;
#endif
  }

  // A folder opens for reading on POSIX but gives no lines; say so at once.
  static int RefuseFolder(int fd) {
#ifdef _WIN32
    struct _stat64 info;
    if (_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFDIR)) return EISDIR;
#else
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) return EISDIR;
#endif
    return 0;
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static SystemFiles files;
  return files;
}

#ifdef _WIN32
std::wstring WindowsPath(const std::string& path) {
  std::wstring wide = ToWide(path);
  if (wide.size() < MAX_PATH || wide.starts_with(L"\\\\?\\")) return wide;
  // The \\?\ form turns the system's own path parsing off: the path must
  // be absolute, with backslashes and without "." or "..", beforehand.
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), size, full.data(), nullptr));
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}
#endif

}  // namespace ostrevane::platform
