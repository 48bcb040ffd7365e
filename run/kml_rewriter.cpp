#include "run/kml_rewriter.h"

#include <cerrno>
#include <new>

#include "io/file_error.h"
#include "io/numbered_files.h"
#include "kml/creat_kml.h"
#include "messages/messages.h"

namespace ostrevane::run {

KmlRewriter::KmlRewriter(os::FileSystem& fileSystem, const std::string& nmeaFile,
                         std::string kmlFile, std::string scratchPath)
    : fileSystem_(fileSystem),
      nmeaFile_(nmeaFile),
      kmlFile_(std::move(kmlFile)),
      scratchPath_(std::move(scratchPath)),
      ownThread_(fileSystem.CallableFromOtherThreads()) {
  if (ownThread_) thread_ = std::thread(&KmlRewriter::Run, this);
}

KmlRewriter::~KmlRewriter() {
  if (!ownThread_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool KmlRewriter::Start(std::uint64_t length) {
  if (!ownThread_) {
    Rewrite(length);
    return true;
  }
  {
    std::lock_guard lock(mutex_);
    if (busy_) return false;
    busy_ = true;
    requested_ = length;
  }
  changed_.notify_all();
  return true;
}

void KmlRewriter::Wait() {
  if (!ownThread_) return;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !busy_; });
}

KmlRewriter::Outcome KmlRewriter::Collect() {
  std::lock_guard lock(mutex_);
  if (busy_) return {};
  Outcome outcome = std::move(outcome_);
  outcome_ = Outcome{};
  return outcome;
}

void KmlRewriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || requested_ != 0; });
    if (requested_ == 0) return;
    const std::uint64_t length = requested_;
    requested_ = 0;
    lock.unlock();
    Rewrite(length);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

// Files of its own, so that nothing is shared with the follower's thread
// but the file system.
void KmlRewriter::Rewrite(std::uint64_t length) {
  Outcome outcome{true, 0, std::nullopt};
  os::FileSystem::Handle scratch = -1;
  try {
    io::NumberedFiles files(fileSystem_);
    kml::CreatKML kml(files, nmeaFile_);
    kml.KmlFile = kmlFile_;
    if (int error = fileSystem_.OpenForReading(scratchPath_, scratch); error != 0)
      throw io::FileError(messages::FileAction::Read, kmlFile_, error);
    try {
      kml.KmlReopen(scratch, length);
      kml.KmlEndTrack({});
      kml.KmlClose();
    } catch (...) {
      kml.KmlAbandon();
      throw;
    }
    outcome.placedBytes = length + kml::CreatKML::KmlClosingSize();
  } catch (const io::FileError& error) {
    outcome.failure = error;
  } catch (const std::bad_alloc&) {
    outcome.failure = io::FileError(messages::FileAction::Write, kmlFile_, ENOMEM);
  }
  if (scratch >= 0) fileSystem_.Close(scratch);
  std::lock_guard lock(mutex_);
  outcome_ = std::move(outcome);
}

}  // namespace ostrevane::run
