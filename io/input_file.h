#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/read_ahead.h"
#include "os/file_system.h"

namespace ostrevane::io {

// A source read line by line, a block at a time, read ahead on another
// thread which also marks the line ends. Lines that lie inside a block are
// handed out in place; only a line that straddles two blocks is copied.
class InputFile {
 public:
  InputFile(os::FileSystem& fileSystem, std::string path, os::FileSystem::Handle handle);
  ~InputFile();
  bool Eof();
  bool LineGoesOn() const { return goesOn_; }
  std::string_view ReadLine();

 private:
  // A CR followed by LF ends one line, not two.
  void SkipLfAfterCr();
  bool HaveData();

  bool Fill();
  os::FileSystem& fileSystem_;
  std::string path_;
  os::FileSystem::Handle handle_;
  std::unique_ptr<ReadAhead> readAhead_;
  const char* block_ = nullptr;
  // Where the line ends lie in the block, marked while it was read.
  const std::uint64_t* marks_ = nullptr;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool lfMayFollow_ = false;
  // The last line handed out was only a part; the next one continues it.
  bool goesOn_ = false;
  std::string carried_;
};

}  // namespace ostrevane::io
