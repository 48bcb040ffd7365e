#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrevane::platform {

// The handful of operating-system file calls that numbered files are built
// on. Every call answers 0 on success or an errno value (ENOENT, EACCES,
// ENOSPC...) on failure. Tests replace it to inject faults.
class FileSystem {
 public:
  using Handle = std::intptr_t;

  virtual ~FileSystem() = default;

  // Whether Read and Write may be called from other threads, at the same time
  // as other calls for other handles. Files are then read ahead and written
  // behind on threads of their own; otherwise all in the caller's thread.
  virtual bool CallableFromOtherThreads() const { return false; }

  virtual int OpenForReading(const std::string& path, Handle& handle) = 0;
  // Creates `path`, which must not exist yet, for writing.
  virtual int CreateExclusive(const std::string& path, Handle& handle) = 0;
  // Reads up to `size` bytes; `got` is 0 at the end of the file.
  virtual int Read(Handle handle, char* data, std::size_t size, std::size_t& got) = 0;
  // Writes all `size` bytes or fails.
  virtual int Write(Handle handle, const char* data, std::size_t size) = 0;
  // Starts sending what was written so far to the disk without waiting for
  // it, so that a later Sync has less left to wait for. Only a hint.
  virtual void StartWriteback(Handle) {}
  // Makes what was written durable before the file replaces another.
  virtual int Sync(Handle handle) = 0;
  virtual int Close(Handle handle) = 0;
  // Moves `from` over `to` in one step, replacing a file already there.
  virtual int Replace(const std::string& from, const std::string& to) = 0;
  virtual int Remove(const std::string& path) = 0;
  // 0 when `path` is absent or a regular file that may be replaced;
  // EISDIR for a folder, EACCES for a read-only file, or the error met.
  virtual int CheckReplaceable(const std::string& path) = 0;
};

// The computer's own file system (POSIX, or Win32 on Windows).
FileSystem& SystemFileSystem();

#ifdef _WIN32
// A UTF-8 path as the wide Win32 calls take it. Beyond MAX_PATH (260) it is
// made absolute in the \\?\ form, which has no such limit.
std::wstring WindowsPath(const std::string& path);
#endif

}  // namespace ostrevane::platform
