#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "io/block_ring.h"
#include "os/file_system.h"

namespace ostrevane::io {

// Writes blocks to a file in order, on its own thread. The caller fills one
// block at a time; a failed write is reported at the next hand-over and by
// Finish, and the blocks after it are not written.
class WriteBehind {
 public:
  WriteBehind(os::FileSystem& fileSystem, os::FileSystem::Handle handle, std::size_t blockSize);
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

  os::FileSystem& fileSystem_;
  os::FileSystem::Handle handle_;
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

}  // namespace ostrevane::io
