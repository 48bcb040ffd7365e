#include "io/block_ring.h"

#include <system_error>

namespace ostrevane::io {

std::size_t RingSize(const os::FileSystem& fileSystem) {
  return fileSystem.CallableFromOtherThreads() ? BlockRing::kMostBlocks : 1;
}

std::thread StartThread(const os::FileSystem& fileSystem, std::function<void()> work) {
  if (!fileSystem.CallableFromOtherThreads()) return {};
  try {
    return std::thread(std::move(work));
  } catch (const std::system_error&) {
    return {};
  }
}

void StopThread(std::mutex& mutex, std::condition_variable& changed, bool& stopping,
                std::thread& thread) {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

BlockRing::BlockRing(std::size_t blockSize, std::size_t count, bool withMarks)
    : blockSize_(blockSize), count_(count), withMarks_(withMarks) {
  Prepare(0);
}

BlockRing::Block& BlockRing::Prepare(std::uint64_t sequence) {
  Block& block = At(sequence);
  if (!block.bytes) {
    block.bytes.reset(new char[blockSize_]);
    if (withMarks_) block.marks.reset(new std::uint64_t[(blockSize_ + 63) / 64]);
  }
  return block;
}

void BlockRing::PrepareAll() {
  for (std::size_t i = 0; i < count_; ++i) Prepare(i);
}

}  // namespace ostrevane::io
