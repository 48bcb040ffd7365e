#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/numbered_files.h"
#include "kml/creat_kml.h"
#include "nmea/rec_nmea.h"
#include "os/clock.h"
#include "os/file_system.h"
#include "os/time_zone.h"
#include "run/window.h"

namespace ostrevane::run {

// One conversion, from the choice of the log to the closed KML file: the
// handler of the window's one button, and the engine of the command line.
class ConversionRun {
 public:
  enum class Outcome { Refused, Converted, Failed, Stopped };

  // The services it uses; the defaults are the computer's own.
  struct Services {
    os::FileSystem* fileSystem = &os::SystemFileSystem();
    os::Clock* clock = &os::SystemClock();
    os::TimeZoneSource* timeZone = &os::SystemTimeZone();
    // Whether a named log is converted from its absolute path: a window hands
    // the KML file's path to the desktop later, whatever the current folder
    // is then, while the command line prints paths as they were given.
    bool absoluteNames = false;
    // A log that is a named pipe: a window refuses it rather than freeze
    // waiting for its writer; the command line waits, as `cat` does.
    os::FileSystem::FifoReading fifoReading = os::FileSystem::FifoReading::Refused;
  };

  explicit ConversionRun(Window& window);
  ConversionRun(Window& window, Services services);

  // The click on the button: asks for a log and converts it; a name that
  // is not a log's ends the click silently, as the dialog offers only logs.
  // A click while a run is in progress is ignored.
  void OnClick();
  // Converts the log named by `name`, given where no dialog filtered it (a
  // command line, a drop, "Open with"), as a click that chose it would.
  // A name that is not a log's is refused, and the user told why.
  Outcome ConvertNamedLog(const std::string& name);

  // Whether `name` is a log the run accepts: not empty, and ending in
  // ".nmea" from the last "." of the whole path, in any case where the
  // system compares names regardless of case (Windows), else exactly.
  static bool IsAcceptedName(std::string_view name);

  bool Running() const { return running_; }

  // Whether the line just decoded adds the current fix to the track: from the
  // first fix on, every non-empty line does. The rule of every conversion of
  // a log, followed or not.
  static bool AddsPoint(const nmea::RecNMEA& nmea) {
    return nmea.Latitude != 0.0 && nmea.Longitude != 0.0;
  }
  // Tells the user of a converted log that gave no track, or whose corrupt
  // sentences were set aside; said once, in one message.
  static void ReportWhatWasLeftOut(Window& window, const std::string& nmeaFile, bool emptyTrack,
                                   std::uint64_t corruptSentences);

  // Full path of the chosen log, as the dialog reported it.
  std::string NmeaFile;
  // Non-empty lines read in the current or latest run, minus one: the design
  // counts from -1, and the window shows that count (README, "Names and shapes from the design").
  std::int64_t LineCount = -1;

  io::NumberedFiles Files;
  nmea::RecNMEA Nmea;
  kml::CreatKML Kml;

 private:
  Outcome Convert();
  Outcome Fail(const std::string& message);
  // Reads the source to its end; false when the user asked to stop.
  bool ReadSource();
  // Decodes a line too long to be held whole, part after part; false when
  // the user asked to stop.
  bool DecodeLongLine(std::string_view firstPart);

  static constexpr int kSourceNumber = 1;

  Window& window_;
  os::Clock& clock_;
  bool absoluteNames_;
  os::FileSystem::FifoReading fifoReading_;
  bool running_ = false;
  std::int64_t lastUpdateMs_ = 0;
};

}  // namespace ostrevane::run
