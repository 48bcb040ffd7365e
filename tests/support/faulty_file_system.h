#pragma once

#include <cerrno>
#include <cstddef>
#include <mutex>
#include <string>

#include "os/file_system.h"

namespace ostrevane::testing {

// The computer's file system with one fault planted: the chosen operation
// fails with `error` once it has been called `after` times successfully.
class FaultyFileSystem final : public os::FileSystem {
 public:
  enum class Operation { None, Open, Create, Read, Write, Sync, Close, Replace, Permissions };

  void Plant(Operation operation, int error, int after = 0) {
    std::lock_guard lock(mutex_);
    operation_ = operation;
    error_ = error;
    remaining_ = after;
  }

  // The fault is planted under a lock, so files are read and written on
  // threads as they are on the computer's own file system.
  bool CallableFromOtherThreads() const override { return true; }

  int OpenForReading(const std::string& path, Handle& handle) override {
    if (int e = Fault(Operation::Open); e != 0) return e;
    return real_.OpenForReading(path, handle);
  }
  int CreateExclusive(const std::string& path, Handle& handle) override {
    if (int e = Fault(Operation::Create); e != 0) return e;
    return real_.CreateExclusive(path, handle);
  }
  int Read(Handle handle, char* data, std::size_t size, std::size_t& got) override {
    if (int e = Fault(Operation::Read); e != 0) return e;
    // Small reads, so that lines straddle reads and faults land mid-file.
    return real_.Read(handle, data, size < 7 ? size : 7, got);
  }
  int Write(Handle handle, const char* data, std::size_t size) override {
    if (int e = Fault(Operation::Write); e != 0) return e;
    return real_.Write(handle, data, size);
  }
  int Sync(Handle handle) override {
    if (int e = Fault(Operation::Sync); e != 0) return e;
    return real_.Sync(handle);
  }
  int Close(Handle handle) override {
    const int closed = real_.Close(handle);
    if (int e = Fault(Operation::Close); e != 0) return e;
    return closed;
  }
  int Replace(const std::string& from, const std::string& to) override {
    if (int e = Fault(Operation::Replace); e != 0) return e;
    return real_.Replace(from, to);
  }
  int Remove(const std::string& path) override { return real_.Remove(path); }
  int CheckReplaceable(const std::string& path) override { return real_.CheckReplaceable(path); }
  std::string ReplacementTarget(const std::string& path) override {
    return real_.ReplacementTarget(path);
  }
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  // A fault here stands for a file system that keeps no permissions: the
  // new file keeps those it was created with.
  int CopyPermissions(const std::string& model, Handle handle) override {
    if (int e = Fault(Operation::Permissions); e != 0) return e;
    return real_.CopyPermissions(model, handle);
  }
  bool LessPrivateThan(Handle handle, const std::string& model) override {
    return real_.LessPrivateThan(handle, model);
  }
  // No unnamed files: the temporary files have names, as on file systems
  // without them.

 private:
  // Reads and writes come from threads of their own.
  int Fault(Operation operation) {
    std::lock_guard lock(mutex_);
    if (operation != operation_) return 0;
    if (remaining_-- > 0) return 0;
    operation_ = Operation::None;
    return error_;
  }

  os::FileSystem& real_ = os::SystemFileSystem();
  Operation operation_ = Operation::None;
  int error_ = 0;
  int remaining_ = 0;
  std::mutex mutex_;
};

}  // namespace ostrevane::testing
