#include "os/file_system.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "os/descriptor_loops.h"

// A log or KML file past 2 GiB must open on 32-bit systems too; the build
// asks for 64-bit offsets (_FILE_OFFSET_BITS=64), and emulators that run
// 32-bit programs on a 64-bit kernel would not notice their absence.
static_assert(sizeof(off_t) == 8, "build with -D_FILE_OFFSET_BITS=64");

namespace ostrevane::os {
namespace {

constexpr int kMostLinks = 40;

class SystemFiles final : public FileSystem {
 public:
  bool CallableFromOtherThreads() const override { return true; }

  int OpenForReading(const std::string& path, Handle& handle) override {
    // Without O_NONBLOCK a FIFO that no program writes to would block here,
    // and the window with it; see PrepareFifo for what its reads then find.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (int error = RefuseFolder(fd); error != 0) {
      CloseFd(fd);
      return error;
    }
    handle = fd;
    return 0;
  }

  int PrepareFifo(Handle handle, FifoReading reading) override {
    const int fd = static_cast<int>(handle);
    struct stat info;
    if (::fstat(fd, &info) != 0) return errno;
    if (!S_ISFIFO(info.st_mode)) return 0;
    switch (reading) {
      case FifoReading::Refused:
        return ESPIPE;
      case FifoReading::AsDataComes:
        return ReadAsDataComes(fd);
      case FifoReading::FromWriter:
        break;
    }
    // A reader opened without waiting sees no hang-up before a first writer
    // has come (Linux keeps count of writers for this): the poll ends when a
    // writer has written, or has come and gone without a word.
    pollfd wanted{fd, POLLIN, 0};
    while (::poll(&wanted, 1, -1) < 0) {
      if (errno != EINTR) return errno;
    }
    return 0;
  }

  int PathStatus(const std::string& path, Status& status) override {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return errno;
    status = StatusOf(info);
    return 0;
  }

  int HandleStatus(Handle handle, Status& status) override {
    struct stat info;
    if (::fstat(static_cast<int>(handle), &info) != 0) return errno;
    status = StatusOf(info);
    const off_t offset = ::lseek(static_cast<int>(handle), 0, SEEK_CUR);
    status.offset = offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
    return 0;
  }

  int ReadAt(Handle handle, std::uint64_t offset, char* data, std::size_t size,
             std::size_t& got) override {
    return detail::ReadRetrying(
        [&] { return ::pread(static_cast<int>(handle), data, size, static_cast<off_t>(offset)); },
        got);
  }

#ifdef __linux__
  // Inside the kernel, sharing the blocks where the file system can (Btrfs,
  // XFS); elsewhere, or where it refuses, through memory.
  int CopyRange(Handle from, Handle to, std::uint64_t length) override {
    bool copiedAny = false;
    while (length > 0) {
      const auto copied = ::copy_file_range(static_cast<int>(from), nullptr, static_cast<int>(to),
                                            nullptr, length, 0);
      if (copied < 0 && errno == EINTR) continue;
      if (copied < 0 && !copiedAny &&
          (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        return FileSystem::CopyRange(from, to, length);
      }
      if (copied < 0) return errno;
      if (copied == 0) return EIO;
      copiedAny = true;
      length -= static_cast<std::uint64_t>(copied);
    }
    return 0;
  }
#endif

  int CreateExclusive(const std::string& path, Handle& handle) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    handle = fd;
    return 0;
  }

  int Read(Handle handle, char* data, std::size_t size, std::size_t& got) override {
    const int error =
        detail::ReadRetrying([&] { return ::read(static_cast<int>(handle), data, size); }, got);
    // A named pipe read as the data comes: nothing there yet.
    if (error == EAGAIN) {
      got = 0;
      return 0;
    }
    return error;
  }

  int Write(Handle handle, const char* data, std::size_t size) override {
    return detail::WriteAll(
        [handle](const char* bytes, std::size_t count) {
          return ::write(static_cast<int>(handle), bytes, count);
        },
        data, size);
  }

  void StartWriteback(Handle handle) override {
#ifdef __linux__
    ::sync_file_range(static_cast<int>(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)handle;
#endif
  }

  int Sync(Handle handle) override { return ::fsync(static_cast<int>(handle)) == 0 ? 0 : errno; }

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
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  }

  int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

  int CheckReplaceable(const std::string& path) override {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return EINVAL;
    // A read-only file is refused even where the folder would let us
    // rename over it (and even for root): the user marked it so on purpose.
    if ((info.st_mode & 0222) == 0) return EACCES;
    if (::access(path.c_str(), W_OK) != 0) return errno;
    return 0;
  }

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
    // After the owner: changing it may clear the set-ID bits.
    return ::fchmod(fd, info.st_mode & 07777) == 0 ? 0 : errno;
  }

  bool LessPrivateThan(Handle handle, const std::string& model) override {
    struct stat created;
    struct stat earlier;
    if (::fstat(static_cast<int>(handle), &created) != 0 || ::stat(model.c_str(), &earlier) != 0)
      return true;
    return (created.st_mode & ~earlier.st_mode & 077) != 0;
  }

  int CreateFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    const int error = errno;
    struct stat info;
    if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return 0;
    return error;
  }

  int FolderAcceptsFiles(const std::string& folder) override {
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
  }

  int OpenLocked(const std::string& path, Handle& handle) override {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    handle = fd;
    // flock's lock belongs to this open file: a second opening, even in the
    // same program, is refused it.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      const int error = errno == EAGAIN ? EWOULDBLOCK : errno;
      if (error != ENOLCK && error != ENOSYS && error != EOPNOTSUPP && error != ENOTSUP) {
        CloseFd(fd);
        handle = -1;
      }
      return error;
    }
    return 0;
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

 private:
  static int CloseFd(int fd) { return ::close(fd) == 0 ? 0 : errno; }

  static Status StatusOf(const struct stat& info) {
    Status status;
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.file = static_cast<std::uint64_t>(info.st_ino);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.fifo = S_ISFIFO(info.st_mode);
    return status;
  }

  // The pipe is opened again for reading and writing in place of `fd`: as
  // its own writer, the reader never meets the end when a writer leaves, and
  // the next one carries on. Reads then never wait: nothing there is nothing.
  static int ReadAsDataComes(int fd) {
#ifdef __linux__
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int both = ::open(self.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (both < 0) return errno;
    const int moved = ::dup3(both, fd, O_CLOEXEC);
    const int error = moved < 0 ? errno : 0;
    CloseFd(both);
    return error;
#else
    return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0 ? 0 : errno;
#endif
  }

  // A folder opens for reading on POSIX but gives no lines; say so at once.
  static int RefuseFolder(int fd) {
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) return EISDIR;
    return 0;
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static SystemFiles files;
  return files;
}

}  // namespace ostrevane::os
