#include "run/log_follower.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "io/file_error.h"
#include "messages/messages.h"
#include "os/system.h"
#include "run/conversion_run.h"

namespace ostrevane::run {

using messages::FileAction;

LogFollower::LogFollower(Window& window, std::string nmeaFile)
    : LogFollower(window, std::move(nmeaFile), Services{}) {}

namespace {

// The pieces' folder beside the log, with the separator its path uses.
std::string FolderBeside(const std::string& nmeaFile) {
  const std::size_t slash = os::LastSeparator(nmeaFile);
  const char separator = slash == std::string::npos ? '/' : nmeaFile[slash];
  return kml::CreatKML::PathBeside(nmeaFile, "suivi") + separator;
}

std::int64_t ToMs(double seconds) { return static_cast<std::int64_t>(seconds * 1000 + 0.5); }

}  // namespace

LogFollower::LogFollower(Window& window, std::string nmeaFile, Services services)
    : window_(window),
      fileSystem_(*services.fileSystem),
      clock_(*services.clock),
      nmeaFile_(std::move(nmeaFile)),
      folder_(FolderBeside(nmeaFile_)),
      files_(fileSystem_),
      nmea_(*services.timeZone),
      kml_(files_, nmeaFile_),
      pieces_(files_, fileSystem_, folder_, ToMs(services.intervalSeconds)),
      scratchPath_(folder_ + "trace.part"),
      rewriter_(fileSystem_, nmeaFile_, kml::CreatKML::OutputPathOf(nmeaFile_), scratchPath_) {
  kml_.KmlFile = kml::CreatKML::OutputPathOf(nmeaFile_);
}

LogFollower::~LogFollower() {
  rewriter_.Wait();
  CloseScratch();
  pieces_.RemovePieces();
}

bool LogFollower::Refresh() {
  LogChange change = LogChange::None;
  foundNews_ = false;
  try {
    change = LookAtLog();
    if (change == LogChange::Grown || change == LogChange::Restarted) {
      const std::int64_t linesBefore = lineCount_;
      ReadLines(false);
      NoteLastBytesRead();
      foundNews_ = change == LogChange::Restarted || lineCount_ != linesBefore;
    }
  } catch (const io::FileError& error) {
    // A failure at the start is said at once: nothing was written yet.
    return Failed(error.what(), kmlWrites_ == 0 && failuresInARow_ == 0, true);
  } catch (const std::bad_alloc&) {
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  kmlWrites_ == 0 && failuresInARow_ == 0, true);
  }
  if (change == LogChange::Grown || change == LogChange::Restarted || writePending_)
    return Publish(false);
  return true;
}

bool LogFollower::CatchUp() { return Publish(true); }

bool LogFollower::Publish(bool exact) {
  if (scratch_ < 0) return true;
  // A write that failed is done again; until it succeeds, failures go on
  // counting in a row.
  const bool retrying = writePending_;
  try {
    FlushScratch();
    // The live pieces first: the viewer hears of the new points at once.
    pieces_.Publish(clock_.MonotonicMs());
    CollectKml();
    // The first KML file of a log is waited for: a failure to write it is
    // then told at once.
    if (exact || KmlLagsTooFar()) WriteKml(exact || kmlPlacedBytes_ == 0);
    if (!retrying || exact) {
      writePending_ = false;
      failuresInARow_ = 0;
    }
    return true;
  } catch (const io::FileError& error) {
    writePending_ = true;
    return Failed(error.what(), kmlWrites_ == 0 && failuresInARow_ == 0, false);
  } catch (const std::bad_alloc&) {
    writePending_ = true;
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  kmlWrites_ == 0 && failuresInARow_ == 0, false);
  }
}

bool LogFollower::ReadAvailable() {
  if (!logOpen_ || !logStatus_.fifo) return false;
  try {
    ReadLines(false);
    return true;
  } catch (const io::FileError& error) {
    return Failed(error.what(), kmlWrites_ == 0 && failuresInARow_ == 0, true);
  } catch (const std::bad_alloc&) {
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  kmlWrites_ == 0 && failuresInARow_ == 0, true);
  }
}

bool LogFollower::Finish() {
  try {
    if (LookAtLog() != LogChange::Gone && logOpen_) {
      ReadLines(true);
      if (!Publish(true)) return false;
      pieces_.Close(kml::CreatKML::RelativeLink("../" + KmlName()));
      ConversionRun::ReportWhatWasLeftOut(window_, nmeaFile_, points_ == 0, nmea_.CorruptSentences);
    }
    CloseLog();
    CloseScratch();
    return true;
  } catch (const io::FileError& error) {
    return Failed(error.what(), true, true);
  } catch (const std::bad_alloc&) {
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  true, true);
  }
}

std::string LogFollower::KmlName() const {
  const std::size_t slash = os::LastSeparator(kml_.KmlFile);
  return slash == std::string::npos ? kml_.KmlFile : kml_.KmlFile.substr(slash + 1);
}

std::string LogFollower::WriteCompanion() {
  MakeFolder();
  std::string folderName = folder_.substr(0, folder_.size() - 1);
  const std::size_t slash = os::LastSeparator(folderName);
  if (slash != std::string::npos) folderName.erase(0, slash + 1);
  return kml_.KmlWriteFollowLink(pieces_.Links(folderName));
}

void LogFollower::MakeFolder() {
  const std::string folder = folder_.substr(0, folder_.size() - 1);
  const int error = fileSystem_.CreateFolder(folder);
  if (error != 0 && error != EEXIST && error != ENOSYS)
    throw io::FileError(FileAction::Create, folder, error);
}

LogFollower::LogChange LogFollower::LookAtLog() {
  if (!logOpen_) {
    const bool wasGone = saidGone_;
    if (!StartOver()) return LogChange::None;
    if (wasGone) window_.ReportNotice(messages::FollowRestarted(nmeaFile_));
    return LogChange::Restarted;
  }
  os::FileSystem::Status atPath;
  const int pathError = fileSystem_.PathStatus(nmeaFile_, atPath);
  if (pathError == ENOENT) {
    // The KML file is then the conversion of every complete line read, and
    // stays so.
    Publish(true);
    CloseLog();
    window_.ReportNotice(messages::FollowLogGone(nmeaFile_));
    saidGone_ = true;
    return LogChange::Gone;
  }
  os::FileSystem::Status read;
  const int readError = files_.InputStatus(kSourceNumber, read);
  if (pathError != 0 || readError != 0) return LogChange::Grown;  // the system can't tell
  const bool replaced = !atPath.SameFile(read);
  const bool truncated = !read.fifo && (read.size < read.offset || LastBytesReadChanged());
  if (replaced || truncated) {
    window_.ReportNotice(messages::FollowRestarted(nmeaFile_));
    CloseLog();
    return StartOver() ? LogChange::Restarted : LogChange::None;
  }
  if (!read.fifo && read.size == read.offset) return LogChange::None;
  return LogChange::Grown;
}

bool LogFollower::StartOver() {
  try {
    files_.OpenForInput(kSourceNumber, nmeaFile_, os::FileSystem::FifoReading::AsDataComes);
  } catch (const io::FileError& error) {
    if (error.error() != ENOENT) throw;
    if (!saidAwaited_ && !saidGone_ && kmlWrites_ == 0) {
      window_.ReportNotice(messages::FollowLogAwaited(nmeaFile_));
      saidAwaited_ = true;
    }
    return false;
  }
  files_.FollowGrowth(kSourceNumber);
  files_.InputStatus(kSourceNumber, logStatus_);
  logOpen_ = true;
  saidGone_ = false;
  // A fresh conversion: no fix carried over, no corrupt sentence counted,
  // and a KML file written even if the new log gives no point.
  nmea_.ClearFix();
  lineCount_ = -1;
  points_ = 0;
  inLongLine_ = false;
  MakeFolder();
  StartScratch();
  pieces_.StartOver();
  return true;
}

void LogFollower::CloseLog() {
  files_.Abandon(kSourceNumber);
  logOpen_ = false;
  lastBytesCount_ = 0;
}

void LogFollower::NoteLastBytesRead() {
  os::FileSystem::Status read;
  lastBytesCount_ = 0;
  if (files_.InputStatus(kSourceNumber, read) != 0 || read.fifo) return;
  lastBytesOffset_ = read.offset < kLastBytesKept ? 0 : read.offset - kLastBytesKept;
  std::size_t got = 0;
  const auto wanted = static_cast<std::size_t>(read.offset - lastBytesOffset_);
  if (files_.InputReadAt(kSourceNumber, lastBytesOffset_, lastBytes_, wanted, got) == 0 &&
      got == wanted) {
    lastBytesCount_ = got;
  }
}

bool LogFollower::LastBytesReadChanged() {
  if (lastBytesCount_ == 0) return false;
  char now[kLastBytesKept];
  std::size_t got = 0;
  if (files_.InputReadAt(kSourceNumber, lastBytesOffset_, now, lastBytesCount_, got) != 0)
    return false;
  return got != lastBytesCount_ || std::memcmp(now, lastBytes_, got) != 0;
}

void LogFollower::ReadLines(bool toTheEnd) {
  files_.ReadOnAfterEnd(kSourceNumber);
  while (!files_.Eof(kSourceNumber)) {
    const std::string_view line = files_.LineInput(kSourceNumber);
    if (files_.LineHeld(kSourceNumber)) break;
    DecodeLine(line, files_.LineGoesOn(kSourceNumber));
  }
  if (!toTheEnd) return;
  // The log ends here: its last line needs no line end, as in a conversion.
  const std::string_view last = files_.ReleaseHeldLine(kSourceNumber);
  if (inLongLine_ || !last.empty()) DecodeLine(last, false);
}

// As a conversion reads a line (ConversionRun::ReadSource), but a line too
// long to be held whole may come in parts across refreshes.
void LogFollower::DecodeLine(std::string_view line, bool goesOn) {
  if (inLongLine_) {
    nmea_.DecodeLinePart(line, false);
    if (goesOn) return;
    nmea_.DecodeLinePart({}, true);
    inLongLine_ = false;
    AddPointIfFix();
    return;
  }
  if (line.empty()) return;
  ++lineCount_;
  if (goesOn) {
    nmea_.DecodeLinePart(line, false);
    inLongLine_ = true;
    return;
  }
  nmea_.NmeaLine = line;
  nmea_.DecodeLine();
  AddPointIfFix();
}

void LogFollower::AddPointIfFix() {
  if (!ConversionRun::AddsPoint(nmea_)) return;
  const std::string_view line = kml_.KmlCoordText(nmea_.Longitude, nmea_.Latitude);
  scratchPending_.append(line);
  scratchPending_ += "\r\n";
  scratchBytes_ += line.size() + 2;
  pieces_.Add(line);
  ++points_;
  // A log that already holds hours is read in one refresh: memory stays
  // bounded all the same.
  if (scratchPending_.size() >= 256 * 1024) FlushScratch();
}

void LogFollower::StartScratch() {
  // A rewrite of the earlier log's KML file reads the scratch file: it ends
  // first, and the new log's file replaces it at once.
  rewriter_.Wait();
  rewriter_.Collect();
  CloseScratch();
  fileSystem_.Remove(scratchPath_);
  if (int error = fileSystem_.CreateExclusive(scratchPath_, scratch_); error != 0) {
    scratch_ = -1;
    throw io::FileError(FileAction::Create, kml_.KmlFile, error);
  }
  scratchPending_ = kml_.KmlHeaderText();
  scratchBytes_ = scratchPending_.size();
  kmlPlacedBytes_ = 0;
}

void LogFollower::FlushScratch() {
  if (scratchPending_.empty()) return;
  if (int error = fileSystem_.Write(scratch_, scratchPending_.data(), scratchPending_.size());
      error != 0) {
    throw io::FileError(FileAction::Write, kml_.KmlFile, error);
  }
  scratchWritten_ += scratchPending_.size();
  scratchPending_.clear();
}

void LogFollower::CloseScratch() {
  if (scratch_ < 0) return;
  fileSystem_.Close(scratch_);
  fileSystem_.Remove(scratchPath_);
  scratch_ = -1;
  scratchPending_.clear();
}

// What the KML file lacks against what it holds: an eighth at most, so that
// its rewrites grow geometrically.
bool LogFollower::KmlLagsTooFar() const {
  if (kmlPlacedBytes_ == 0) return true;
  const std::uint64_t complete = scratchBytes_ + kml::CreatKML::KmlClosingSize();
  return (complete - kmlPlacedBytes_) * 8 >= kmlPlacedBytes_;
}

void LogFollower::WriteKml(bool exact) {
  const std::uint64_t complete = scratchBytes_ + kml::CreatKML::KmlClosingSize();
  if (exact) {
    rewriter_.Wait();
    CollectKml();
  }
  if (kmlPlacedBytes_ == complete) return;
  // While one is under way, the next refresh tries again.
  if (!rewriter_.Start(scratchBytes_)) return;
  if (exact) rewriter_.Wait();
  CollectKml();
}

void LogFollower::CollectKml() {
  const KmlRewriter::Outcome outcome = rewriter_.Collect();
  if (!outcome.finished) return;
  if (outcome.failure) throw *outcome.failure;
  kmlPlacedBytes_ = outcome.placedBytes;
  writePending_ = false;
  failuresInARow_ = 0;
  ++kmlWrites_;
  kmlBytes_ += outcome.placedBytes;
}

bool LogFollower::WaitForKml() {
  rewriter_.Wait();
  try {
    CollectKml();
    return true;
  } catch (const io::FileError& error) {
    writePending_ = true;
    return Failed(error.what(), kmlWrites_ == 0 && failuresInARow_ == 0, false);
  }
}

bool LogFollower::Failed(const std::string& message, bool sayAtOnce, bool startOver) {
  kml_.KmlAbandon();
  if (startOver) {
    CloseLog();
    writePending_ = false;
  }
  ++failuresInARow_;
  if (sayAtOnce || failuresInARow_ == kFailuresBeforeSaying) window_.ReportError(message);
  return false;
}

}  // namespace ostrevane::run
