#include "run/conversion_run.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>

#include "io/file_error.h"
#include "messages/messages.h"
#include "os/system.h"

namespace ostrevane::run {
namespace {

constexpr std::string_view kAcceptedExtension = ".nmea";

// The window is refreshed on a time budget rather than after every line:
// handling the window's events costs far more than converting a line.
constexpr std::int64_t kRefreshIntervalMs = 15;
// How many lines go by between two looks at the clock.
constexpr std::uint32_t kLinesBetweenClockChecks = 64;

// Marks a run as in progress for as long as it lasts, however it ends.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningFlag() { flag_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

ConversionRun::ConversionRun(Window& window) : ConversionRun(window, Services{}) {}

ConversionRun::ConversionRun(Window& window, Services services)
    : Files(*services.fileSystem),
      Nmea(*services.timeZone),
      Kml(Files, NmeaFile),
      window_(window),
      clock_(*services.clock),
      absoluteNames_(services.absoluteNames),
      fifoReading_(services.fifoReading) {}

bool ConversionRun::IsAcceptedName(std::string_view name) {
  const auto dot = name.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? name : name.substr(dot);
  if (name.empty() || extension.size() != kAcceptedExtension.size()) return false;
  // The dialog's filter and the file type match as the system compares names.
  if (!os::NamesIgnoreCase()) return extension == kAcceptedExtension;
  return std::equal(extension.begin(), extension.end(), kAcceptedExtension.begin(),
                    [](char given, char expected) {
                      return (given >= 'A' && given <= 'Z' ? given - 'A' + 'a' : given) == expected;
                    });
}

void ConversionRun::OnClick() {
  // The button stays enabled during a run; a second run inside the first
  // would find the source's file number taken, so the click is ignored.
  if (running_) return;
  NmeaFile = window_.ChooseLog().value_or(std::string());
  if (!IsAcceptedName(NmeaFile)) return;
  Convert();
}

ConversionRun::Outcome ConversionRun::ConvertNamedLog(const std::string& name) {
  if (running_) return Outcome::Refused;
  if (!IsAcceptedName(name)) {
    window_.ReportError(messages::RefusedName(name));
    return Outcome::Refused;
  }
  NmeaFile = absoluteNames_ ? os::AbsolutePath(name) : name;
  return Convert();
}

ConversionRun::Outcome ConversionRun::Convert() {
  RunningFlag running(running_);
  try {
    Files.OpenForInput(kSourceNumber, NmeaFile, fifoReading_);
    Kml.KmlOpen("");
    // Each log's track holds only its own positions.
    Nmea.ClearFix();
    LineCount = -1;
    window_.RunStarted();
    if (!ReadSource()) {
      Kml.KmlAbandon();
      Files.Abandon(kSourceNumber);
      return Outcome::Stopped;
    }
    Files.Close(kSourceNumber);
    // The output is finished before the window announces the end, so that a
    // failure to finish it is never shown as a success.
    Kml.KmlEndTrack({});
    Kml.KmlClose();
    window_.RunFinished();
    // The design reads its point table only here, through its last column
    // (README, "Names and shapes from the design").
    ReportWhatWasLeftOut(window_, NmeaFile, Kml.TrackPoints.LastColumn() == 0,
                         Nmea.CorruptSentences);
    return Outcome::Converted;
  } catch (const io::FileError& error) {
    return Fail(error.what());
  } catch (const std::bad_alloc&) {
    return Fail(
        messages::FileFailure(messages::FileAction::Convert, NmeaFile, messages::Cause(ENOMEM)));
  }
}

void ConversionRun::ReportWhatWasLeftOut(Window& window, const std::string& nmeaFile,
                                         bool emptyTrack, std::uint64_t corruptSentences) {
  // The document is right, but the user would look for a route in vain; the
  // corrupt sentences, if any, are part of why. Said once, in one message.
  if (emptyTrack) {
    window.ReportNotice(messages::EmptyTrack(nmeaFile, corruptSentences));
  } else if (corruptSentences > 0) {
    window.ReportRemark(messages::CorruptSentences(nmeaFile, corruptSentences));
  }
}

ConversionRun::Outcome ConversionRun::Fail(const std::string& message) {
  Kml.KmlAbandon();
  Files.Abandon(kSourceNumber);
  window_.ReportError(message);
  return Outcome::Failed;
}

bool ConversionRun::ReadSource() {
  lastUpdateMs_ = clock_.MonotonicMs();
  std::uint32_t linesSinceClockCheck = 0;
  while (!Files.Eof(kSourceNumber)) {
    const std::string_view line = Files.LineInput(kSourceNumber);
    if (line.empty()) continue;
    ++LineCount;
    if (Files.LineGoesOn(kSourceNumber)) {
      if (!DecodeLongLine(line)) return false;
    } else {
      Nmea.NmeaLine = line;
      Nmea.DecodeLine();
    }
    if (AddsPoint(Nmea)) {
      Kml.KmlAddPoint("0", clock_.TimeOfDay(), {}, Nmea.Longitude, Nmea.Latitude, 0);
      Kml.KmlCoord(Nmea.Longitude, Nmea.Latitude, 0);
    }
    const bool firstLine = LineCount == 0;
    if (!firstLine && ++linesSinceClockCheck < kLinesBetweenClockChecks) continue;
    linesSinceClockCheck = 0;
    const std::int64_t now = clock_.MonotonicMs();
    if (!firstLine && now - lastUpdateMs_ < kRefreshIntervalMs) continue;
    lastUpdateMs_ = now;
    window_.LineCountChanged(LineCount);
    window_.ProcessEvents();
    if (window_.StopRequested()) return false;
  }
  // The count shown at the end is exact. A log without a single line keeps
  // whatever the label showed before.
  if (LineCount >= 0) window_.LineCountChanged(LineCount);
  window_.ProcessEvents();
  return !window_.StopRequested();
}

bool ConversionRun::DecodeLongLine(std::string_view firstPart) {
  Nmea.DecodeLinePart(firstPart, false);
  while (Files.LineGoesOn(kSourceNumber) && !Files.Eof(kSourceNumber)) {
    const std::string_view part = Files.LineInput(kSourceNumber);
    Nmea.DecodeLinePart(part, false);
    // A line without end (a device read as a log) must not keep the window
    // from answering, nor from closing.
    window_.ProcessEvents();
    if (window_.StopRequested()) return false;
  }
  Nmea.DecodeLinePart({}, true);
  return true;
}

}  // namespace ostrevane::run
