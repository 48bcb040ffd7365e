#include "io/input_file.h"

#include "io/block_ring.h"
#include "io/file_error.h"

namespace ostrevane::io {

using messages::FileAction;

InputFile::InputFile(os::FileSystem& fileSystem, std::string path, os::FileSystem::Handle handle)
    : fileSystem_(fileSystem), path_(std::move(path)), handle_(handle) {
  try {
    readAhead_ = std::make_unique<ReadAhead>(fileSystem, handle, kBlockSize, '\r', '\n');
  } catch (...) {
    // Out of memory for the blocks: the handle is ours to close.
    fileSystem_.Close(handle_);
    throw;
  }
}

InputFile::~InputFile() {
  // The reading thread stops before its handle goes.
  readAhead_.reset();
  fileSystem_.Close(handle_);
}

bool InputFile::CarryRestOfBlock() {
  const std::size_t size = end_ - begin_;
  // A line longer than a block goes out in parts, so that memory stays
  // bounded however long the line.
  if (carried_.size() + size > kBlockSize && !carried_.empty()) {
    goesOn_ = true;
    return false;
  }
  carried_.append(block_ + begin_, size);
  begin_ = end_;
  return true;
}

void InputFile::ReadOnAfterEnd() {
  if (!atEnd_) return;
  readAhead_->ReadOnAfterEnd();
  atEnd_ = false;
}

bool InputFile::Fill() {
  if (atEnd_) return false;
  int error = 0;
  const ReadAhead::Chunk chunk = readAhead_->Next(error);
  if (error != 0) throw FileError(FileAction::Read, path_, error);
  block_ = chunk.bytes.data();
  marks_ = chunk.marks;
  begin_ = 0;
  end_ = chunk.bytes.size();
  atEnd_ = chunk.bytes.empty();
  return !atEnd_;
}

}  // namespace ostrevane::io
