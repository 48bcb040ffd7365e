#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrevane::os {

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

  // Never waits, not even for a named pipe's writer: see PrepareFifo.
  virtual int OpenForReading(const std::string& path, Handle& handle) = 0;
  // How a log that turns out to be a named pipe (FIFO) is read. Until a
  // writer connects, its reads find the end at once.
  enum class FifoReading {
    // ESPIPE: a window must not freeze waiting for a writer.
    Refused,
    // Waits for the first writer, as `cat` does, then reads as any file.
    FromWriter,
    // Never waits: a read with nothing there gets nothing, as at the end.
    AsDataComes,
  };
  // Prepares `handle`, just opened by OpenForReading, for how a named pipe is
  // read; nothing for any other file.
  virtual int PrepareFifo(Handle /*handle*/, FifoReading /*reading*/) { return 0; }

  // What a follower needs to know of a log: which file it is (a name may
  // come to lead to another), how long it is and how far it has been read.
  struct Status {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;  // of a handle only
    bool fifo = false;
    bool SameFile(const Status& other) const {
      return device == other.device && file == other.file;
    }
  };
  // ENOENT when nothing is at `path`; ENOSYS where the system can't tell.
  virtual int PathStatus(const std::string& /*path*/, Status& /*status*/) { return ENOSYS; }
  virtual int HandleStatus(Handle /*handle*/, Status& /*status*/) { return ENOSYS; }

  // Reads up to `size` bytes at `offset` without moving the handle's own
  // position; ENOSYS where the system can't.
  virtual int ReadAt(Handle /*handle*/, std::uint64_t /*offset*/, char* /*data*/,
                     std::size_t /*size*/, std::size_t& /*got*/) {
    return ENOSYS;
  }

  // Appends the next `length` bytes of `from` to `to`: EIO when `from` ends
  // first. Here through the program's memory; a system that can copy inside
  // the kernel does so.
  virtual int CopyRange(Handle from, Handle to, std::uint64_t length);
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
  // Syncs `count` files at once, their errors (or 0) in `errors`: a file
  // system may then wait for the disk once for all of them.
  virtual void SyncAll(const Handle* handles, int* errors, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) errors[i] = Sync(handles[i]);
  }
  virtual int Close(Handle handle) = 0;
  // Moves `from` over `to` in one step, replacing a file already there.
  virtual int Replace(const std::string& from, const std::string& to) = 0;
  virtual int Remove(const std::string& path) = 0;
  // 0 when `path` is absent or a regular file that may be replaced;
  // EISDIR for a folder, EACCES for a read-only file, or the error met.
  virtual int CheckReplaceable(const std::string& path) = 0;

  // The file that writing to `path` must replace: where a symbolic link
  // leads, through every link, so that the link stays and its file changes.
  virtual std::string ReplacementTarget(const std::string& path) { return path; }
  // Whether something is at `path`; a file system that can't tell says yes,
  // so that a replacement is always made durable first.
  virtual bool Exists(const std::string&) { return true; }
  // Gives the file at `handle` the permission bits of the file at `model`,
  // and its owner and group where the process may set them. The error is
  // that of setting the bits: ENOSYS, EOPNOTSUPP or EPERM where the file
  // system keeps none.
  virtual int CopyPermissions(const std::string& /*model*/, Handle) { return 0; }
  // Whether the file at `handle` lets its group or everyone do something
  // that the file at `model` doesn't; yes when either can't be looked at.
  virtual bool LessPrivateThan(Handle, const std::string& /*model*/) { return false; }
  // Creates a file without a name in `folder` ("" for the current one), for
  // writing; Link names it once it is complete, so an interrupted program
  // leaves nothing behind. Where every file has a name (Windows), one that
  // the system removes when its handle closes, however the program ends.
  // ENOSYS where the file system has no such files.
  virtual int CreateUnnamed(const std::string& /*folder*/, Handle&) { return ENOSYS; }
  // Creates the folder `path`; 0 when it exists already.
  virtual int CreateFolder(const std::string& /*path*/) { return ENOSYS; }
  // Whether new files may be created in `folder` ("" for the current one):
  // 0, or why not (EACCES, EROFS...); 0 where the system can't tell.
  virtual int FolderAcceptsFiles(const std::string& /*folder*/) { return 0; }
  // Creates the file at `path` if need be, opens it and takes an advisory
  // lock on it that no other handle, in this program or another, can take
  // while `handle` stays open; closing it releases the lock, and so does the
  // end of the program, however it ends. EWOULDBLOCK when another handle
  // holds it; ENOLCK, ENOSYS or EOPNOTSUPP where the file system keeps no
  // locks: then `handle` is still open, without a lock. On any other
  // failure nothing stays open.
  virtual int OpenLocked(const std::string& /*path*/, Handle& /*handle*/) { return ENOSYS; }

  // Gives the unnamed file at `handle` the name `path`, which must be free.
  // On failure the file stays unnamed.
  virtual int Link(Handle, const std::string& /*path*/) { return ENOSYS; }
  // The same, over the file at `path`, which it replaces in one step.
  // ENOSYS where an unnamed file can only take a free name (Linux).
  virtual int LinkOver(Handle, const std::string& /*path*/) { return ENOSYS; }
};

// The computer's own file system (POSIX, or Win32 on Windows).
FileSystem& SystemFileSystem();

}  // namespace ostrevane::os
