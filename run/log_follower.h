#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/numbered_files.h"
#include "kml/creat_kml.h"
#include "nmea/rec_nmea.h"
#include "os/file_system.h"
#include "os/time_zone.h"
#include "run/window.h"

namespace ostrevane::run {

// Follows one log while a receiver writes it. After each refresh its KML
// file is what a conversion of the log cut after its last line end would
// write, byte for byte; after Finish, what a conversion of the whole log
// writes. The log is never read again from its start: the decoder and the
// KML writer keep their state from one refresh to the next, and each new
// KML file starts with a copy of the unchanged part of the one before (its
// header and coordinates so far), made by the system, before the new
// coordinate lines and the closing lines. Memory stays bounded: no point is
// kept, and a line without its end waits in a bounded buffer.
class LogFollower {
 public:
  struct Services {
    os::FileSystem* fileSystem = &os::SystemFileSystem();
    os::TimeZoneSource* timeZone = &os::SystemTimeZone();
  };

  // `window` hears what the user must know: the log truncated, replaced,
  // gone, and failures. `nmeaFile` must be a log's name (see
  // ConversionRun::IsAcceptedName).
  LogFollower(Window& window, std::string nmeaFile, Services services);
  LogFollower(Window& window, std::string nmeaFile);

  // Reads the complete lines added since the last refresh and replaces the
  // KML file when they change it; notices a log truncated, replaced,
  // removed or back. False when the KML file could not be written: the next
  // refresh tries again.
  bool Refresh();
  // Reads the complete lines of a log that is a named pipe as they come,
  // into the KML file that the next refresh puts in place: its writer then
  // never waits on a full pipe between refreshes. False when it read none:
  // the log is no pipe, or is closed after a failure until the next refresh.
  bool ReadAvailable();
  // Ends following: the last line is read even without its line end, the
  // KML file written if that changed it, and what was left out of the track
  // told as a conversion tells it. False when the KML file could not be
  // written.
  bool Finish();
  // Writes the companion a globe viewer opens (see
  // kml::CreatKML::KmlWriteFollowLink); its path.
  std::string WriteCompanion(double intervalSeconds);

  const std::string& NmeaFile() const { return nmeaFile_; }
  const std::string& KmlFile() const { return kml_.KmlFile; }
  // Non-empty lines read from the log being converted, minus one.
  std::int64_t LineCount() const { return lineCount_; }
  // KML files put in place, and the bytes they held.
  std::uint64_t KmlWrites() const { return kmlWrites_; }
  std::uint64_t KmlBytes() const { return kmlBytes_; }

 private:
  static constexpr int kSourceNumber = 1;
  // Failed refreshes in a row before the user hears of it: a viewer that
  // holds the file a moment (Windows) is not worth a word.
  static constexpr int kFailuresBeforeSaying = 3;

  // Opens the log and starts a fresh conversion of it; false when absent.
  bool StartOver();
  void CloseLog();
  // The last bytes read of the log, kept to tell a log cut and written
  // again past where it was read from one that only grew.
  void NoteLastBytesRead();
  bool LastBytesReadChanged();
  // Whether the open log is still the file of its name, as long as read.
  enum class LogChange { None, Grown, Restarted, Gone };
  LogChange LookAtLog();
  // Decodes the lines available now: complete ones only, unless `toTheEnd`.
  void ReadLines(bool toTheEnd);
  void DecodeLine(std::string_view line, bool goesOn);
  void AddPointIfFix();
  void OpenOutputIfNeeded();
  // Ends the KML file and puts it in place; keeps a handle on it to copy
  // from next time.
  void PutKmlInPlace();
  void DropEarlierKml();
  // A refresh that failed: reported when it keeps failing, and the next one
  // converts the log again from its start, the chain of KML files broken.
  bool Failed(const std::string& message, bool sayAtOnce);

  Window& window_;
  os::FileSystem& fileSystem_;
  std::string nmeaFile_;
  io::NumberedFiles files_;
  nmea::RecNMEA nmea_;
  kml::CreatKML kml_;

  bool logOpen_ = false;
  os::FileSystem::Status logStatus_;
  static constexpr std::size_t kLastBytesKept = 32;
  char lastBytes_[kLastBytesKept];
  std::size_t lastBytesCount_ = 0;
  std::uint64_t lastBytesOffset_ = 0;
  bool inLongLine_ = false;
  std::int64_t lineCount_ = -1;
  std::int64_t points_ = 0;
  // The KML file no longer matches the conversion: written at the refresh's end.
  bool kmlChanged_ = false;
  bool outputOpen_ = false;
  // The KML file put in place last, its length, and where its closing lines
  // start.
  os::FileSystem::Handle earlierKml_ = -1;
  std::uint64_t earlierSize_ = 0;
  std::uint64_t earlierBodyLength_ = 0;
  bool saidGone_ = false;
  bool saidAwaited_ = false;
  int failuresInARow_ = 0;
  std::uint64_t kmlWrites_ = 0;
  std::uint64_t kmlBytes_ = 0;
};

}  // namespace ostrevane::run
