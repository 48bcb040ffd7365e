#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "os/file_system.h"

namespace ostrevane::io {

// Reading ahead of the converting thread and writing behind it. Copying a log
// in and a KML file out through the system takes about a third of a
// conversion; on a second processor it overlaps with the conversion itself.
// Where no thread can be started, both do their work in the caller's thread.

// The size of every block that files are read and written in: large enough
// that a 100 MB log takes a few hundred system calls.
inline constexpr std::size_t kBlockSize = 256 * 1024;

// Fixed-size blocks handed between one producing and one consuming thread.
class BlockRing {
 public:
  // Enough for one thread to work ahead of the other.
  static constexpr std::size_t kMostBlocks = 4;

  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    int error = 0;
    // Where the bytes that the reader looks for lie; see MarkEither.
    std::unique_ptr<std::uint64_t[]> marks;
  };

  // `count` blocks (at most kMostBlocks); `withMarks`: each also has room to
  // mark its bytes. Only the first is allocated at once: a small file needs
  // no more, and many small files would pay for memory they never use.
  BlockRing(std::size_t blockSize, std::size_t count, bool withMarks);

  std::size_t BlockSize() const { return blockSize_; }
  std::size_t Count() const { return count_; }
  Block& At(std::uint64_t sequence) { return blocks_[sequence % count_]; }
  // Allocates the block of `sequence` if it is not yet. Called only by the
  // thread that owns the ring, before handing the block to another thread,
  // so that a failed allocation throws where it can be reported.
  Block& Prepare(std::uint64_t sequence);
  void PrepareAll();

 private:
  std::size_t blockSize_;
  std::size_t count_;
  bool withMarks_;
  std::array<Block, kMostBlocks> blocks_;
};

// How many blocks a ring needs for `fileSystem`: working in the caller's
// thread, one block is all it takes.
std::size_t RingSize(const os::FileSystem& fileSystem);

// Runs `work` on a thread of its own where the file system allows it. An
// empty thread otherwise, or where none can be started: the caller then does
// the work itself.
std::thread StartThread(const os::FileSystem& fileSystem, std::function<void()> work);

// Asks a thread that waits on `changed` to stop, and waits until it has.
void StopThread(std::mutex& mutex, std::condition_variable& changed, bool& stopping,
                std::thread& thread);

}  // namespace ostrevane::io
