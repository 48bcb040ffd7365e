#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/read_ahead.h"
#include "os/file_system.h"
#include "text/byte_scan.h"

namespace ostrevane::io {

// A source read line by line, a block at a time, read ahead on another
// thread which also marks the line ends. Lines that lie inside a block are
// handed out in place; only a line that straddles two blocks is copied.
// The reading of lines is defined here, inline: it runs for every line of
// every log.
class InputFile {
 public:
  InputFile(os::FileSystem& fileSystem, std::string path, os::FileSystem::Handle handle);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // At the end of the source: no further line.
  bool Eof() { return !HaveData(); }
  // Whether the text that ReadLine gave last is only a part of its line.
  bool LineGoesOn() const { return goesOn_; }

  // Follows a log that is still being written: at the end, a line without
  // its line end waits for the rest instead of being handed out (LineHeld),
  // and ReadOnAfterEnd reads on from there.
  void FollowGrowth() { followsGrowth_ = true; }
  // Whether the last ReadLine met the end before the line's end: it gave
  // nothing, and keeps the text read so far for the next call.
  bool LineHeld() const { return held_; }
  // The file may have grown since its end was met: reads go on from there.
  void ReadOnAfterEnd();
  // Which file is read, its size and how far it was read; 0 or an errno.
  int Status(os::FileSystem::Status& status) { return fileSystem_.HandleStatus(handle_, status); }
  // Reads bytes at `offset` of the file, its reading position unchanged.
  int ReadAt(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) {
    return fileSystem_.ReadAt(handle_, offset, data, size, got);
  }
  // The text held at the end, as the last line of a log whose following
  // ends; empty when none.
  std::string_view ReleaseHeldLine() {
    if (!held_) return {};
    held_ = false;
    return carried_;
  }

  // The next line without its terminator, valid until the next call.
  std::string_view ReadLine() {
    const bool resumes = held_;
    if (!resumes) carried_.clear();
    held_ = false;
    goesOn_ = false;
    bool straddles = resumes;
    while (HaveData()) {
      const std::size_t lineEnd = text::NextMark(marks_, begin_, end_);
      if (lineEnd == std::string_view::npos) {
        if (!CarryRestOfBlock()) return carried_;
        straddles = true;
        continue;
      }
      const char* start = block_ + begin_;
      const std::size_t length = lineEnd - begin_;
      begin_ = lineEnd + 1;
      if (start[length] == '\r') SkipLfAfterCr();
      if (!straddles) return {start, length};
      carried_.append(start, length);
      return carried_;
    }
    if (followsGrowth_ && !goesOn_) {
      held_ = true;
      return {};
    }
    return carried_;
  }

 private:
  // A CR followed by LF ends one line, not two.
  void SkipLfAfterCr() {
    if (begin_ == end_) {
      lfMayFollow_ = true;
    } else if (block_[begin_] == '\n') {
      ++begin_;
    }
  }

  bool HaveData() {
    for (;;) {
      if (begin_ == end_ && !Fill()) return false;
      if (!lfMayFollow_) return true;
      lfMayFollow_ = false;
      if (block_[begin_] == '\n') ++begin_;
    }
  }

  // Keeps the rest of the block, where no line ends, for the line that goes
  // on in the next one; false when the line is handed out in parts instead.
  bool CarryRestOfBlock();
  // Takes the next block; false at the end of the file.
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
  bool followsGrowth_ = false;
  bool held_ = false;
  std::string carried_;
};

}  // namespace ostrevane::io
