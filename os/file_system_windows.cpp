#include "os/file_system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "os/descriptor_loops.h"
#include "os/wide_text.h"

namespace ostrevane::os {
namespace {

std::wstring Wide(const std::string& path) { return WindowsPath(path); }

// Names tried for an unnamed file before giving up.
constexpr int kNameAttempts = 100;
// The longest name of one file or folder that Windows' file systems take.
constexpr std::size_t kLongestName = 255;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
// A Win32 handle, closed when it goes; empty when the call that made it failed.
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

OwnedHandle Owned(HANDLE handle) {
  return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// Whether the system removes the file when its last handle closes, however
// the program ends: its delete disposition, which needs DELETE access. (A
// file opened with FILE_FLAG_DELETE_ON_CLOSE goes whatever is set later.)
bool SetRemovedOnClose(HANDLE file, bool removed) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = removed;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Gives the open file the absolute name `path`, over a file there when
// `replace`.
bool RenameOpenFile(HANDLE file, const std::wstring& path, bool replace) {
  const auto nameBytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  // The name goes at the end of the record; zeroed, so a NUL follows it.
  std::vector<unsigned char> record(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(record.data());
  rename->ReplaceIfExists = replace;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = nameBytes;
  std::memcpy(rename->FileName, path.c_str(), nameBytes);
  return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                    static_cast<DWORD>(record.size()));
}

// A name in `folder` for an unnamed file, apart from every other program's.
std::string UnnamedFileName(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  return folder + ".ostrevane-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1)) + ".tmp";
}

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

// Whether a name in `path` is longer than any file system takes.
bool HasOverlongName(const std::wstring& path) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find_first_of(L"\\/", start);
    if ((end == std::wstring::npos ? path.size() : end) - start > kLongestName) return true;
    if (end == std::wstring::npos) return false;
    start = end + 1;
  }
}

// Whether the nearest part of `path` that exists is a file, not a folder.
bool GoesThroughAFile(std::wstring path) {
  for (;;) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0) return false;
    path.resize(separator);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
}

// Windows says "access denied" for a folder, and "not found" for a path
// through a file or with a name too long, where POSIX names the cause: the
// user gets the same words on every system.
int OpeningError(const std::wstring& path, int error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : error;
  if (error != ENOENT) return error;
  if (HasOverlongName(path)) return ENAMETOOLONG;
  return GoesThroughAFile(path) ? ENOTDIR : ENOENT;
}

// Whether another program holds `path` open without letting others delete
// or replace it. Replacing such a file fails as "access denied", as for a
// file that may not be written at all.
bool HeldOpen(const std::wstring& path) {
  const OwnedHandle handle = Owned(
      CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !handle && HeldByAnotherProgram(GetLastError());
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
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// The errno value for a failed move over `target`.
int ReplacementError(unsigned long windowsError, const std::wstring& target) {
  return windowsError == ERROR_ACCESS_DENIED && HeldOpen(target) ? ETXTBSY
                                                                 : Win32Error(windowsError);
}

// Creates `name` for writing, removed when its handle closes; ENOSYS where
// the file system can't remove it so (the caller then names a temporary).
int CreateRemovedOnClose(const std::wstring& name, FileSystem::Handle& handle) {
  OwnedHandle file = Owned(CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                       nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Win32Error(GetLastError());
  if (!SetRemovedOnClose(file.get(), true)) {
    file.reset();
    DeleteFileW(name.c_str());
    return ENOSYS;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_BINARY);
  if (fd < 0) return EMFILE;
  file.release();  // the descriptor closes it
  handle = fd;
  return 0;
}

// Makes the unnamed file at `handle` stay once closed, under the name
// `path`; on failure it is removed on close again.
int KeepAs(FileSystem::Handle handle, const std::string& path, bool replace) {
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(handle)));
  if (file == INVALID_HANDLE_VALUE) return EBADF;
  const std::wstring target = AbsoluteWindowsPath(path);
  // Cleared first: a file renamed while still to be removed would take the
  // name with it when closed.
  if (!SetRemovedOnClose(file, false)) return Win32Error(GetLastError());
  if (RenameOpenFile(file, target, replace)) return 0;
  const DWORD error = GetLastError();
  SetRemovedOnClose(file, true);
  return ReplacementError(error, target);
}

class SystemFiles final : public FileSystem {
 public:
  bool CallableFromOtherThreads() const override { return true; }

  int OpenForReading(const std::string& path, Handle& handle) override {
    if (IsUnmatchedPattern(path)) return ENOENT;
    const std::wstring wide = Wide(path);
    // Shared every way, delete included: a logger may go on writing the log,
    // or replace or remove it (a new recording), while it is read.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return OpeningError(wide, Win32Error(GetLastError()));
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
      CloseHandle(file);
      return EMFILE;
    }
    if (int error = RefuseFolder(fd); error != 0) {
      CloseFd(fd);
      return error;
    }
    handle = fd;
    return 0;
  }

  int PathStatus(const std::string& path, Status& status) override {
    // No access asked: a log held open by its writer, whatever its sharing,
    // still answers.
    const OwnedHandle file = Owned(
        CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // A file removed while another program (this one) still reads it lingers
    // until closed, but is gone for the user.
    if (!file) return GetLastError() == ERROR_DELETE_PENDING ? ENOENT : Win32Error(GetLastError());
    return StatusOf(file.get(), status);
  }

  int HandleStatus(Handle handle, Status& status) override {
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(handle)));
    if (file == INVALID_HANDLE_VALUE) return EBADF;
    if (int error = StatusOf(file, status); error != 0) return error;
    const __int64 offset = _telli64(static_cast<int>(handle));
    status.offset = offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
    return 0;
  }

  // The handle's position is put back: no other thread reads it meanwhile.
  int ReadAt(Handle handle, std::uint64_t offset, char* data, std::size_t size,
             std::size_t& got) override {
    const int fd = static_cast<int>(handle);
    const __int64 position = _telli64(fd);
    if (position < 0 || _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return errno;
    const int error = Read(handle, data, size, got);
    _lseeki64(fd, position, SEEK_SET);
    return error;
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
    return ReplacementError(GetLastError(), target);
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

  bool Exists(const std::string& path) override {
    if (GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }

  int CreateFolder(const std::string& path) override {
    const std::wstring folder = Wide(path);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return 0;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return 0;
    return Win32Error(error);
  }

  int OpenLocked(const std::string& path, Handle& handle) override {
    OwnedHandle file = Owned(CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Win32Error(GetLastError());
    OVERLAPPED at{};
    const bool locked =
        LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    const DWORD error = locked ? 0 : GetLastError();
    // A C library descriptor, as every handle here: Close releases both.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDWR | _O_BINARY);
    if (fd < 0) return EMFILE;
    file.release();
    if (locked) {
      handle = fd;
      return 0;
    }
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
      handle = fd;
      return ENOSYS;
    }
    CloseFd(fd);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                      : Win32Error(error);
  }

  int CreateUnnamed(const std::string& folder, Handle& handle) override {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const int error = CreateRemovedOnClose(Wide(UnnamedFileName(folder)), handle);
      if (error != EEXIST) return error;
    }
    return EEXIST;
  }

  int Link(Handle handle, const std::string& path) override { return KeepAs(handle, path, false); }

  int LinkOver(Handle handle, const std::string& path) override {
    return KeepAs(handle, path, true);
  }

 private:
  static int CloseFd(int fd) { return _close(fd) == 0 ? 0 : errno; }

  static int StatusOf(HANDLE file, Status& status) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return Win32Error(GetLastError());
    status.device = information.dwVolumeSerialNumber;
    status.file = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    status.size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    status.fifo = false;
    return 0;
  }

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
