#pragma once

#include <cstddef>
#include <memory>

#include "os/file_system.h"

namespace ostrevane::io {

// The text of a file, as the UTF-8 bytes that the rest of the reading
// expects. Windows tools write text in UTF-16 (PowerShell 5's ">", Notepad's
// "Unicode"), always with a byte-order mark: a file that starts with one is
// read as the UTF-16 text it holds, big- or little-endian. Every other file,
// UTF-8 with or without its own mark included, is handed out byte for byte,
// through one test of the reading's encoding.
class TextSource {
 public:
  // `blockSize`: the most bytes that one Read asks for.
  TextSource(os::FileSystem& fileSystem, os::FileSystem::Handle handle, std::size_t blockSize);

  // Reads the next bytes of text, up to `size` (at least 4, a character's
  // longest form); `got` is 0 at the end of the file. A code unit or a
  // surrogate pair cut by the end of the file is held back: the text read
  // before it is kept, and a file that grows later completes it. So is a
  // first byte that may start a mark: one byte can't tell, the second does.
  int Read(char* data, std::size_t size, std::size_t& got) {
    if (encoding_ == Encoding::Bytes) return fileSystem_.Read(handle_, data, size, got);
    return encoding_ == Encoding::Unknown ? ReadFirst(data, size, got) : ReadUtf16(data, size, got);
  }

 private:
  enum class Encoding { Unknown, Bytes, Utf16Le, Utf16Be };

  // Reads the start of the file, where alone a byte-order mark counts.
  int ReadFirst(char* data, std::size_t size, std::size_t& got);
  int ReadUtf16(char* data, std::size_t size, std::size_t& got);
  // Decodes the UTF-16 bytes held into `data`, as many whole characters as
  // fit in `size`; how many bytes of UTF-8 they gave.
  std::size_t Decode(char* data, std::size_t size);
  unsigned UnitAt(std::size_t offset) const;

  os::FileSystem& fileSystem_;
  os::FileSystem::Handle handle_;
  std::size_t blockSize_;
  Encoding encoding_ = Encoding::Unknown;
  // The file's only byte so far, when it may start a byte-order mark.
  bool firstByteHeld_ = false;
  char firstByte_ = 0;
  // UTF-16 bytes read and not decoded yet, from held_[begin_] to
  // held_[end_]. Only a UTF-16 file has them.
  std::unique_ptr<char[]> held_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace ostrevane::io
