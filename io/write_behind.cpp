#include "io/write_behind.h"

namespace ostrevane::io {

WriteBehind::WriteBehind(os::FileSystem& fileSystem, os::FileSystem::Handle handle,
                         std::size_t blockSize)
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

}  // namespace ostrevane::io
