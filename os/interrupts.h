#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace ostrevane::os {

// Makes sure that a program ended by Ctrl-C, a closed terminal (SIGHUP) or
// SIGTERM leaves no named temporary file behind, and that one writing past
// the file size limit (SIGXFSZ) gets a write error instead of dying. The
// handlers are installed once, and only for signals the program has left at
// their default action. Does nothing on Windows.
void PrepareForInterruption();

// A file removed if the program is ended by one of those signals while the
// object lives. Best effort: beyond a fixed number of files at once, or for
// an overlong path, nothing is registered.
class RemovedOnInterruption {
 public:
  explicit RemovedOnInterruption(const std::string& path);
  ~RemovedOnInterruption();
  RemovedOnInterruption(const RemovedOnInterruption&) = delete;
  RemovedOnInterruption& operator=(const RemovedOnInterruption&) = delete;

 private:
  std::unique_ptr<char[]> path_;
  std::size_t slot_;
};

}  // namespace ostrevane::os
