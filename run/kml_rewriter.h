#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "io/file_error.h"
#include "os/file_system.h"

namespace ostrevane::run {

// Replaces a followed log's KML file by the first bytes of a scratch file
// (the document up to its last coordinate line) and the closing lines, on
// a thread of its own where the file system allows, so that writing a
// large file never holds up the live route's refreshes. One rewrite at a
// time.
class KmlRewriter {
 public:
  KmlRewriter(os::FileSystem& fileSystem, const std::string& nmeaFile, std::string kmlFile,
              std::string scratchPath);
  ~KmlRewriter();
  KmlRewriter(const KmlRewriter&) = delete;
  KmlRewriter& operator=(const KmlRewriter&) = delete;

  // Starts replacing the KML file by the first `length` bytes of the scratch
  // file, which are written already; false while a rewrite is under way.
  bool Start(std::uint64_t length);
  // Waits for the rewrite under way, if any.
  void Wait();

  // What the last finished rewrite gave, once: whether there is news, then
  // the bytes of the KML file put in place, or the failure.
  struct Outcome {
    bool finished = false;
    std::uint64_t placedBytes = 0;
    std::optional<io::FileError> failure;
  };
  Outcome Collect();

 private:
  void Rewrite(std::uint64_t length);
  void Run();

  os::FileSystem& fileSystem_;
  const std::string& nmeaFile_;
  std::string kmlFile_;
  std::string scratchPath_;
  bool ownThread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t requested_ = 0;  // length of the rewrite asked for; 0 when none
  bool busy_ = false;
  bool stopping_ = false;
  Outcome outcome_;
  std::thread thread_;
};

}  // namespace ostrevane::run
