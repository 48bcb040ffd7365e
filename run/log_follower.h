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
#include "run/kml_rewriter.h"
#include "run/route_pieces.h"
#include "run/window.h"

namespace ostrevane::run {

// Follows one log while a receiver writes it, for a globe viewer to watch
// the route grow. The log is never read again from its start: the decoder
// and the KML writer keep their state from one refresh to the next, and no
// point is kept in memory.
//
// Two things are written. The KML file is, at every moment, what a
// conversion of the log cut after one of its line ends would write, byte for
// byte: it is replaced whenever what it lacks reaches an eighth of what it
// holds (so that its rewrites add up to a few times its final size), once
// the log is idle (CatchUp), and at the end, when it is the conversion of
// the whole log. Between its rewrites the coordinate lines gather in a
// scratch file of our own in the pieces' folder, which the next KML file
// starts with a copy of. And the route in pieces (RoutePieces), in a folder
// beside the log, that the companion links, refreshed at every refresh at a
// cost that doesn't grow with the route.
class LogFollower {
 public:
  struct Services {
    os::FileSystem* fileSystem = &os::SystemFileSystem();
    os::TimeZoneSource* timeZone = &os::SystemTimeZone();
    os::Clock* clock = &os::SystemClock();
    // How often a viewer reloads the growing piece, and a refresh comes.
    double intervalSeconds = 1.0;
  };

  // `window` hears what the user must know: the log truncated, replaced,
  // gone, and failures. `nmeaFile` must be a log's name (see
  // ConversionRun::IsAcceptedName).
  LogFollower(Window& window, std::string nmeaFile, Services services);
  LogFollower(Window& window, std::string nmeaFile);
  ~LogFollower();

  // Reads the complete lines added since the last refresh, publishes the
  // new points and replaces the KML file when it lags too far; notices a log
  // truncated, replaced, removed or back. False when a file could not be
  // written: the next refresh tries again.
  bool Refresh();
  // Whether the last refresh found anything new in the log: a line, or the
  // log started over.
  bool FoundNews() const { return foundNews_; }
  // The log is idle: the KML file catches up with every complete line.
  bool CatchUp();
  // When the pieces are next due to settle, on the services' monotonic
  // clock, though the log stays idle (see Settle); -1 for never.
  std::int64_t NextSettlingMs() const { return scratch_ < 0 ? -1 : pieces_.NextChangeMs(); }
  // Lets go of what the viewer surely holds elsewhere by now: a few small
  // writes once the log falls idle, and then none.
  bool Settle() { return Publish(false); }
  // Waits for a KML file being written on its own thread to be in place;
  // false when writing it failed.
  bool WaitForKml();
  // Whether the last refresh failed to write something, to be tried again
  // even if the log stays idle.
  bool WritePending() const { return writePending_; }
  // Reads the complete lines of a log that is a named pipe as they come,
  // into the KML file that the next refresh puts in place: its writer then
  // never waits on a full pipe between refreshes. False when it read none:
  // the log is no pipe, or is closed after a failure until the next refresh.
  bool ReadAvailable();
  // Ends following: the last line is read even without its line end, the
  // KML file written as the conversion of the whole log, the pieces give way
  // to it, and what was left out of the track told as a conversion tells it.
  // False when the KML file could not be written.
  bool Finish();
  // Removes the pieces once following ended (Finish), a moment after, when a
  // viewer that read a list just before has fetched what it named.
  void RemovePieces() { pieces_.RemovePieces(); }
  // Writes the companion a globe viewer opens (see
  // kml::CreatKML::KmlWriteFollowLink); its path.
  std::string WriteCompanion();

  const std::string& NmeaFile() const { return nmeaFile_; }
  const std::string& KmlFile() const { return kml_.KmlFile; }
  // Non-empty lines read from the log being converted, minus one.
  std::int64_t LineCount() const { return lineCount_; }
  // KML files put in place, and the bytes they held.
  std::uint64_t KmlWrites() const { return kmlWrites_; }
  std::uint64_t KmlBytes() const { return kmlBytes_; }
  // Bytes of everything else written: the pieces and the scratch file.
  std::uint64_t OtherBytes() const { return pieces_.BytesWritten() + scratchWritten_; }

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
  void MakeFolder();
  // The KML file's name, without its folder.
  std::string KmlName() const;
  // The scratch file: the KML file's bytes up to its last coordinate line.
  void StartScratch();
  void FlushScratch();
  void CloseScratch();
  bool KmlLagsTooFar() const;
  // Replaces the KML file by the scratch file's bytes and the closing lines,
  // on the rewriter's thread; `exact`: waits for it to be in place.
  void WriteKml(bool exact);
  // Takes in a rewrite that ended; throws io::FileError if it failed.
  void CollectKml();
  // Writes what the points read call for; `exact`: the KML file too.
  bool Publish(bool exact);
  // A refresh that failed: reported when it keeps failing. `startOver`: the
  // next one converts the log again from its start.
  bool Failed(const std::string& message, bool sayAtOnce, bool startOver);

  Window& window_;
  os::FileSystem& fileSystem_;
  os::Clock& clock_;
  std::string nmeaFile_;
  std::string folder_;  // the pieces' folder, with its separator
  io::NumberedFiles files_;
  nmea::RecNMEA nmea_;
  kml::CreatKML kml_;
  RoutePieces pieces_;

  bool logOpen_ = false;
  os::FileSystem::Status logStatus_;
  static constexpr std::size_t kLastBytesKept = 32;
  char lastBytes_[kLastBytesKept];
  std::size_t lastBytesCount_ = 0;
  std::uint64_t lastBytesOffset_ = 0;
  bool inLongLine_ = false;
  std::int64_t lineCount_ = -1;
  std::int64_t points_ = 0;

  std::string scratchPath_;
  KmlRewriter rewriter_;
  os::FileSystem::Handle scratch_ = -1;
  std::string scratchPending_;
  std::uint64_t scratchBytes_ = 0;    // in the file and pending
  std::uint64_t scratchWritten_ = 0;  // over the whole session
  // The KML file of this conversion in place, and its size: 0 when none.
  std::uint64_t kmlPlacedBytes_ = 0;
  bool writePending_ = false;
  bool foundNews_ = false;

  bool saidGone_ = false;
  bool saidAwaited_ = false;
  int failuresInARow_ = 0;
  std::uint64_t kmlWrites_ = 0;
  std::uint64_t kmlBytes_ = 0;
};

}  // namespace ostrevane::run
