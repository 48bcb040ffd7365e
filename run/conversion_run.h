#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kml/creat_kml.h"
#include "nmea/rec_nmea.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/numbered_files.h"
#include "platform/time_zone.h"
#include "run/window.h"

namespace ostrevane::run {

// One conversion, from the choice of the log to the closed KML file: the
// handler of the window's one button, and the engine of the command line.
class ConversionRun {
 public:
  enum class Outcome { Refused, Converted, Failed, Stopped };

  // The services it uses; the defaults are the computer's own.
  struct Services {
    platform::FileSystem* fileSystem = &platform::SystemFileSystem();
    platform::Clock* clock = &platform::SystemClock();
    platform::TimeZoneSource* timeZone = &platform::SystemTimeZone();
  };

  explicit ConversionRun(Window& window);
  ConversionRun(Window& window, Services services);

  // The click on the button: asks for a file and converts it. A click while
  // a run is in progress is ignored.
  void OnClick();
  // Converts `path` as a click that chose it would.
  Outcome ConvertFile(const std::string& path);

  // Whether `name` is a log the run accepts: not empty, and ending in
  // ".nmea" (case included) from the last "." of the whole path.
  static bool IsAcceptedName(std::string_view name);
  // Why `name` is refused, in French, for those who gave it without a
  // dialog to filter it: on a command line, or to open the window with.
  static std::string RefusedNameMessage(const std::string& name);
  // What the user is told of a log converted without a single position.
  static std::string EmptyTrackMessage(std::string_view name);

  bool Running() const { return running_; }

  // Full path of the chosen log, as the dialog reported it.
  std::string NmeaFile;
  // Non-empty lines read in the current or latest run, minus one.
  std::int64_t LineCount = -1;

  platform::NumberedFiles Files;
  nmea::RecNMEA Nmea;
  kml::CreatKML Kml;

 private:
  Outcome Convert();
  // Reads the source to its end; false when the user asked to stop.
  bool ReadSource();
  // Decodes a line too long to be held whole, part after part; false when
  // the user asked to stop.
  bool DecodeLongLine(std::string_view firstPart);
  void ShowCount();

  static constexpr int kSourceNumber = 1;

  Window& window_;
  platform::Clock& clock_;
  bool running_ = false;
  std::int64_t lastUpdateMs_ = 0;
};

}  // namespace ostrevane::run
