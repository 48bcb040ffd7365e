#include "platform/background_io.h"

#include <system_error>

#include "platform/byte_scan.h"

namespace ostrevane::platform {
namespace {

// Working in the caller's thread, one block is all it takes.
std::size_t RingSize(const FileSystem& fileSystem) {
  return fileSystem.CallableFromOtherThreads() ? BlockRing::kMostBlocks : 1;
}

// Runs `work` on a thread of its own where the file system allows it. An
// empty thread otherwise, or where none can be started: the caller then does
// the work itself.
template <typename Work>
std::thread StartThread(const FileSystem& fileSystem, Work work) {
  if (!fileSystem.CallableFromOtherThreads()) return {};
  try {
    return std::thread(work);
  } catch (const std::system_error&) {
    return {};
  }
}

// Asks a thread that waits on `changed` to stop, and waits until it has.
void StopThread(std::mutex& mutex, std::condition_variable& changed, bool& stopping,
                std::thread& thread) {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

}  // namespace

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

ReadAhead::ReadAhead(FileSystem& fileSystem, FileSystem::Handle handle, std::size_t blockSize,
                     char markA, char markB)
    : fileSystem_(fileSystem),
      handle_(handle),
      ring_(blockSize, RingSize(fileSystem), true),
      markA_(markA),
      markB_(markB) {
  // Next reads the first blocks itself: a small file is read before a
  // thread could even start, and starting one costs more than it saves.
}

ReadAhead::~ReadAhead() { StopThread(mutex_, changed_, stopping_, thread_); }

ReadAhead::Chunk ReadAhead::Next(int& error) {
  error = 0;
  if (finished_) return {};
  std::unique_lock lock(mutex_);
  // The block handed out last time may be filled again. The thread, once
  // the ring is full, waits until half of it is free: waking it for every
  // block would cost this thread more than the wait saves.
  if (released_ != taken_) {
    released_ = taken_;
    if (filled_ - released_ == ring_.Count() / 2) changed_.notify_all();
  }
  if (!thread_.joinable()) {
    BlockRing::Block& block = ring_.Prepare(filled_);
    const bool more = ReadBlock(block);
    ++filled_;
    // A full block: the file is large, and reading ahead starts to pay.
    if (more && block.size == ring_.BlockSize() && fileSystem_.CallableFromOtherThreads()) {
      ring_.PrepareAll();
      thread_ = StartThread(fileSystem_, [this] { ReadBlocks(); });
    }
  }
  changed_.wait(lock, [this] { return filled_ > taken_; });
  const BlockRing::Block& block = ring_.At(taken_++);
  error = block.error;
  finished_ = error != 0 || block.size == 0;
  return {{block.bytes.get(), block.size}, block.marks.get()};
}

void ReadAhead::ReadBlocks() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (filled_ - released_ == ring_.Count()) {
      changed_.wait(lock, [this] { return stopping_ || filled_ - released_ <= ring_.Count() / 2; });
    }
    if (stopping_) return;
    BlockRing::Block& block = ring_.At(filled_);
    lock.unlock();
    const bool more = ReadBlock(block);
    lock.lock();
    ++filled_;
    changed_.notify_all();
    if (!more) return;
  }
}

bool ReadAhead::ReadBlock(BlockRing::Block& block) {
  block.size = 0;
  block.error = fileSystem_.Read(handle_, block.bytes.get(), ring_.BlockSize(), block.size);
  if (block.error != 0) block.size = 0;
  MarkEither({block.bytes.get(), block.size}, markA_, markB_, block.marks.get());
  return block.error == 0 && block.size != 0;
}

WriteBehind::WriteBehind(FileSystem& fileSystem, FileSystem::Handle handle, std::size_t blockSize)
    : fileSystem_(fileSystem), handle_(handle), ring_(blockSize, RingSize(fileSystem), false) {
  block_ = ring_.At(0).bytes.get();
  // Submit writes the first block itself and starts the thread only for a
  // second one: most files fit one block, and starting a thread costs more
  // than writing it.
}

WriteBehind::~WriteBehind() { StopThread(mutex_, changed_, stopping_, thread_); }

int WriteBehind::Submit(std::size_t used) {
  std::unique_lock lock(mutex_);
  if (submitted_ == 1 && !thread_.joinable() && fileSystem_.CallableFromOtherThreads()) {
    ring_.PrepareAll();
    thread_ = StartThread(fileSystem_, [this] { WriteBlocks(); });
  }
  ring_.At(submitted_++).size = used;
  if (thread_.joinable()) {
    // The thread is woken once two blocks wait, and then writes all there are.
    if (submitted_ - written_ == kBlocksToWake) changed_.notify_all();
  } else {
    WriteBlock(ring_.At(written_++));
  }
  TakeFreeBlock(lock);
  return error_;
}

int WriteBehind::Finish() {
  std::unique_lock lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return written_ == submitted_; });
  return error_;
}

void WriteBehind::TakeFreeBlock(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return submitted_ - written_ < ring_.Count(); });
  block_ = ring_.Prepare(submitted_).bytes.get();
}

void WriteBehind::WriteBlocks() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (written_ == submitted_) {
      changed_.wait(lock, [this] {
        return stopping_ || submitted_ - written_ >= kBlocksToWake ||
               (finishing_ && written_ < submitted_);
      });
    }
    if (stopping_) return;
    // After a failed write the rest would leave a hole in the file.
    const bool failed = error_ != 0;
    const BlockRing::Block& block = ring_.At(written_);
    lock.unlock();
    const int error = failed ? 0 : Write(block);
    if (!failed && ++sinceWriteback_ == kBlocksPerWriteback) {
      sinceWriteback_ = 0;
      fileSystem_.StartWriteback(handle_);
    }
    lock.lock();
    if (!failed) error_ = error;
    ++written_;
    changed_.notify_all();
  }
}

// Called with the lock held, where there is no thread.
void WriteBehind::WriteBlock(const BlockRing::Block& block) {
  if (error_ == 0) error_ = Write(block);
}

int WriteBehind::Write(const BlockRing::Block& block) {
  return fileSystem_.Write(handle_, block.bytes.get(), block.size);
}

}  // namespace ostrevane::platform
