#include "io/read_ahead.h"

#include "text/byte_scan.h"

namespace ostrevane::io {

ReadAhead::ReadAhead(os::FileSystem& fileSystem, os::FileSystem::Handle handle,
                     std::size_t blockSize, char markA, char markB)
    : fileSystem_(fileSystem),
      text_(fileSystem, handle, blockSize),
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

void ReadAhead::ReadOnAfterEnd() {
  if (!finished_) return;
  // The thread, if any, returned once it read the end.
  if (thread_.joinable()) thread_.join();
  finished_ = false;
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
  block.error = text_.Read(block.bytes.get(), ring_.BlockSize(), block.size);
  if (block.error != 0) block.size = 0;
  text::MarkEither({block.bytes.get(), block.size}, markA_, markB_, block.marks.get());
  return block.error == 0 && block.size != 0;
}

}  // namespace ostrevane::io
