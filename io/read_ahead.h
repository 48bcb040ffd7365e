#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>

#include "io/block_ring.h"
#include "io/text_source.h"
#include "os/file_system.h"

namespace ostrevane::io {

// Reads a text file from start to end, a block at a time, on its own thread,
// as UTF-8 (see TextSource), and marks where two given bytes lie in each block
// (a text's line ends), so that the reader need not search for them.
class ReadAhead {
 public:
  struct Chunk {
    std::string_view bytes;
    const std::uint64_t* marks;  // the offsets of the two bytes, as MarkEither sets them
  };

  ReadAhead(os::FileSystem& fileSystem, os::FileSystem::Handle handle, std::size_t blockSize,
            char markA, char markB);
  // Stops reading; waits for a read in progress to end.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next bytes of the file, empty at its end, valid until the next call.
  // A read that failed gives its error once, and then the end.
  Chunk Next(int& error);
  // After the end, or an error: the next call reads on from where the file
  // ended then, for what was added since.
  void ReadOnAfterEnd();

 private:
  void ReadBlocks();
  // Reads one block; false when it ends the file (its end, or an error).
  bool ReadBlock(BlockRing::Block& block);

  os::FileSystem& fileSystem_;
  TextSource text_;
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

}  // namespace ostrevane::io
