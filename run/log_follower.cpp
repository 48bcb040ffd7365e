#include "run/log_follower.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "io/file_error.h"
#include "messages/messages.h"
#include "run/conversion_run.h"

namespace ostrevane::run {

using messages::FileAction;

LogFollower::LogFollower(Window& window, std::string nmeaFile)
    : LogFollower(window, std::move(nmeaFile), Services{}) {}

LogFollower::LogFollower(Window& window, std::string nmeaFile, Services services)
    : window_(window),
      fileSystem_(*services.fileSystem),
      nmeaFile_(std::move(nmeaFile)),
      files_(fileSystem_),
      nmea_(*services.timeZone),
      kml_(files_, nmeaFile_) {
  kml_.KmlFile = kml::CreatKML::OutputPathOf(nmeaFile_);
}

bool LogFollower::Refresh() {
  try {
    const LogChange change = LookAtLog();
    if (change == LogChange::None || change == LogChange::Gone) return true;
    ReadLines(false);
    NoteLastBytesRead();
    if (kmlChanged_ || outputOpen_) PutKmlInPlace();
    failuresInARow_ = 0;
    return true;
  } catch (const io::FileError& error) {
    // A failure at the start is said at once: nothing was written yet.
    return Failed(error.what(), kmlWrites_ == 0 && failuresInARow_ == 0);
  } catch (const std::bad_alloc&) {
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  kmlWrites_ == 0 && failuresInARow_ == 0);
  }
}

bool LogFollower::ReadAvailable() {
  if (!logOpen_ || !logStatus_.fifo) return false;
  try {
    ReadLines(false);
    return true;
  } catch (const io::FileError& error) {
    return Failed(error.what(), kmlWrites_ == 0 && failuresInARow_ == 0);
  } catch (const std::bad_alloc&) {
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  kmlWrites_ == 0 && failuresInARow_ == 0);
  }
}

bool LogFollower::Finish() {
  try {
    if (LookAtLog() != LogChange::Gone && logOpen_) {
      ReadLines(true);
      if (kmlChanged_ || outputOpen_) PutKmlInPlace();
      ConversionRun::ReportWhatWasLeftOut(window_, nmeaFile_, points_ == 0, nmea_.CorruptSentences);
    }
    CloseLog();
    DropEarlierKml();
    return true;
  } catch (const io::FileError& error) {
    return Failed(error.what(), true);
  } catch (const std::bad_alloc&) {
    return Failed(messages::FileFailure(FileAction::Convert, nmeaFile_, messages::Cause(ENOMEM)),
                  true);
  }
}

std::string LogFollower::WriteCompanion(double intervalSeconds) {
  return kml_.KmlWriteFollowLink(intervalSeconds);
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
    // The KML file stays as the last refresh left it.
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
  kml_.KmlAbandon();
  outputOpen_ = false;
  DropEarlierKml();
  kmlChanged_ = true;
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
  OpenOutputIfNeeded();
  kml_.KmlCoord(nmea_.Longitude, nmea_.Latitude, 0);
  ++points_;
}

void LogFollower::OpenOutputIfNeeded() {
  if (outputOpen_) return;
  if (earlierKml_ < 0) {
    kml_.KmlOpen("");
    outputOpen_ = true;
    return;
  }
  // Another program may have written over the file we put in place: then
  // the log is converted again from its start.
  os::FileSystem::Status earlier;
  if (fileSystem_.HandleStatus(earlierKml_, earlier) == 0 && earlier.size != earlierSize_)
    throw io::FileError(FileAction::Read, kml_.KmlFile, EIO);
  outputOpen_ = true;
  kml_.KmlReopen(earlierKml_, earlierBodyLength_);
  // Closed before the new file replaces it: Windows refuses to replace a
  // file that is held open.
  DropEarlierKml();
}

void LogFollower::PutKmlInPlace() {
  OpenOutputIfNeeded();
  const std::uint64_t bodyLength = kml_.KmlSize();
  kml_.KmlEndTrack({});
  kml_.KmlClose();
  outputOpen_ = false;
  kmlChanged_ = false;
  ++kmlWrites_;
  os::FileSystem::Handle placed = -1;
  os::FileSystem::Status status;
  if (fileSystem_.OpenForReading(kml_.KmlFile, placed) != 0) {
    // Without it the next file can't start from this one: convert again.
    CloseLog();
    return;
  }
  if (fileSystem_.HandleStatus(placed, status) != 0) status.size = 0;
  earlierKml_ = placed;
  earlierSize_ = status.size;
  earlierBodyLength_ = bodyLength;
  kmlBytes_ += status.size;
}

void LogFollower::DropEarlierKml() {
  if (earlierKml_ < 0) return;
  fileSystem_.Close(earlierKml_);
  earlierKml_ = -1;
}

bool LogFollower::Failed(const std::string& message, bool sayAtOnce) {
  kml_.KmlAbandon();
  outputOpen_ = false;
  DropEarlierKml();
  CloseLog();
  ++failuresInARow_;
  if (sayAtOnce || failuresInARow_ == kFailuresBeforeSaying) window_.ReportError(message);
  return false;
}

}  // namespace ostrevane::run
