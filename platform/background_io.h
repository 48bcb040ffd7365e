#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/file_system.h"

namespace ostrevane::platform {

// Reading ahead of the converting thread and writing behind it. Copying a log
// in and a KML file out through the system takes about a third of a
// conversion; on a second processor it overlaps with the conversion itself.
// Where no thread can be started, both do their work in the caller's thread.

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

// Reads a file from start to end, a block at a time, on its own thread, and
// marks where two given bytes lie in each block (a text's line ends), so that
// the reader need not search for them.
class ReadAhead {
 public:
  struct Chunk {
    std::string_view bytes;
    const std::uint64_t* marks;  // the offsets of the two bytes, as MarkEither sets them
  };

  ReadAhead(FileSystem& fileSystem, FileSystem::Handle handle, std::size_t blockSize, char markA,
            char markB);
  // Stops reading; waits for a read in progress to end.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next bytes of the file, empty at its end, valid until the next call.
  // A read that failed gives its error once, and then the end.
  Chunk Next(int& error);

 private:
  void ReadBlocks();
  // Reads one block; false when it ends the file (its end, or an error).
  bool ReadBlock(BlockRing::Block& block);

  FileSystem& fileSystem_;
  FileSystem::Handle handle_;
  BlockRing ring_;
  const char markA_;
  const char markB_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t filled_ = 0;    // blocks read by the thread
  std::uint64_t taken_ = 0;     // blocks handed to the consumer
  std::uint64_t released_ = 0;  // blocks the consumer is done with
  bool finished_ = false;       // the consumer has seen the end
  bool stopping_ = false;
  std::thread thread_;
};

// Writes blocks to a file in order, on its own thread. The caller fills one
// block at a time; a failed write is reported at the next hand-over and by
// Finish, and the blocks after it are not written.
class WriteBehind {
 public:
  WriteBehind(FileSystem& fileSystem, FileSystem::Handle handle, std::size_t blockSize);
  // Stops writing; blocks not yet written are dropped.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // The block being filled, and its size.
  char* Block() { return block_; }
  std::size_t BlockSize() const { return ring_.BlockSize(); }
  // Queues the first `used` bytes of the block for writing and starts a new
  // block. Answers the error of an earlier write, or 0.
  int Submit(std::size_t used);
  // Waits until every queued block is written; answers the first error.
  int Finish();

 private:
  void WriteBlocks();
  void WriteBlock(const BlockRing::Block& block);
  int Write(const BlockRing::Block& block);
  // Waits for a free block and makes it the one being filled.
  void TakeFreeBlock(std::unique_lock<std::mutex>& lock);

  FileSystem& fileSystem_;
  FileSystem::Handle handle_;
  BlockRing ring_;
  char* block_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t submitted_ = 0;  // blocks handed to the thread
  std::uint64_t written_ = 0;    // blocks the thread is done with
  int error_ = 0;                // the first failed write
  bool finishing_ = false;       // Finish waits: write even a single block
  // Blocks queued before the thread is woken: waking it for each costs the
  // converting thread more than the wait saves.
  static constexpr std::uint64_t kBlocksToWake = 2;
  // Blocks written between two requests to start sending them to the disk:
  // the final sync then finds little left to do.
  static constexpr int kBlocksPerWriteback = 4;
  int sinceWriteback_ = 0;  // used by the thread alone
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace ostrevane::platform
