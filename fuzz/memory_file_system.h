#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "os/file_system.h"

namespace ostrevane::testing {

// A file system held in memory, for runs that must not touch the disk and
// must be repeatable: files are strings by path, and a handle is the index of
// its open-file record. There are no folders, so every path may be replaced.
// Every call comes from the caller's thread: files are not read ahead.
class MemoryFileSystem final : public os::FileSystem {
 public:
  std::map<std::string, std::string> files;
  // The most bytes one Read hands out; a small value makes lines straddle
  // reads.
  std::size_t maxRead = std::numeric_limits<std::size_t>::max();

  int OpenForReading(const std::string& path, Handle& handle) override {
    if (!files.contains(path)) return ENOENT;
    handle = Open(path, false);
    return 0;
  }
  int CreateExclusive(const std::string& path, Handle& handle) override {
    if (!files.emplace(path, std::string()).second) return EEXIST;
    handle = Open(path, true);
    return 0;
  }
  int Read(Handle handle, char* data, std::size_t size, std::size_t& got) override {
    OpenFile* open = Find(handle, false);
    if (open == nullptr) return EBADF;
    const auto file = files.find(open->path);
    if (file == files.end()) return EIO;
    const std::string& bytes = file->second;
    const std::size_t offset = std::min(open->offset, bytes.size());
    got = std::min({size, maxRead, bytes.size() - offset});
    std::memcpy(data, bytes.data() + offset, got);
    open->offset = offset + got;
    return 0;
  }
  int Write(Handle handle, const char* data, std::size_t size) override {
    OpenFile* open = Find(handle, true);
    if (open == nullptr) return EBADF;
    const auto file = files.find(open->path);
    if (file == files.end()) return EIO;
    file->second.append(data, size);
    return 0;
  }
  int Sync(Handle handle) override { return Find(handle, true) != nullptr ? 0 : EBADF; }
  int Close(Handle handle) override {
    OpenFile* open = Find(handle);
    if (open == nullptr) return EBADF;
    open->isOpen = false;
    return 0;
  }
  int Replace(const std::string& from, const std::string& to) override {
    const auto source = files.find(from);
    if (source == files.end()) return ENOENT;
    if (from == to) return 0;
    std::string bytes = std::move(source->second);
    files.erase(source);
    files[to] = std::move(bytes);
    return 0;
  }
  int Remove(const std::string& path) override { return files.erase(path) == 1 ? 0 : ENOENT; }
  int CheckReplaceable(const std::string&) override { return 0; }

  // Handles not closed yet: catches a file left open.
  std::size_t OpenHandles() const {
    return static_cast<std::size_t>(std::count_if(
        records_.begin(), records_.end(), [](const OpenFile& open) { return open.isOpen; }));
  }

 private:
  struct OpenFile {
    std::string path;
    bool forWriting = false;
    bool isOpen = true;
    std::size_t offset = 0;
  };

  Handle Open(const std::string& path, bool forWriting) {
    records_.push_back({path, forWriting});
    return static_cast<Handle>(records_.size() - 1);
  }

  // The record of `handle` while it is open, or nullptr.
  OpenFile* Find(Handle handle) {
    if (handle < 0 || static_cast<std::size_t>(handle) >= records_.size()) return nullptr;
    OpenFile& open = records_[static_cast<std::size_t>(handle)];
    return open.isOpen ? &open : nullptr;
  }

  // The same, only when the handle was opened in the given direction.
  OpenFile* Find(Handle handle, bool forWriting) {
    OpenFile* open = Find(handle);
    return open != nullptr && open->forWriting == forWriting ? open : nullptr;
  }

  std::vector<OpenFile> records_;
};

}  // namespace ostrevane::testing
