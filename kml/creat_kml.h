#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "io/numbered_files.h"
#include "kml/track_points.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace ostrevane::kml {

// The file, the class and its Kml* members keep the design's names and calls
// (README, "Names and shapes from the design"): they are meant, not misspelt.
//
// Writes a conversion's KML document while the log is read: the header, one
// coordinate line per point, the track and document trailers. Beside the file
// it keeps the points in TrackPoints.
//
// Calling order: KmlOpen; KmlAddPoint and KmlCoord any number of times;
// KmlEndTrack; KmlClose. File failures throw io::FileError; the caller
// then calls KmlAbandon.
class CreatKML {
 public:
  // `nmeaFile` is the source path that the output path is derived from.
  CreatKML(io::NumberedFiles& files, const std::string& nmeaFile);

  // Full path of the output of the latest conversion.
  std::string KmlFile;
  // File number of the output; kept after the file is closed.
  std::int16_t KmlFileNum = 0;
  TrackPointTable TrackPoints;

  // The output path of a source: everything up to and including the last "."
  // of `sourcePath`, then "kml".
  static std::string OutputPathOf(const std::string& sourcePath);
  // The folder, beside the KML file, that holds what following a log needs
  // besides it: everything up to and including the last "." of
  // `sourcePath`, then "suivi".
  static std::string FollowFolderOf(const std::string& sourcePath);
  // The path of the companion that KmlWriteFollowLink writes.
  static std::string FollowLinkPathOf(const std::string& sourcePath);

  // Derives the output path from the source path when `outputName` is empty
  // (everything up to and including the last "." of the source path, then
  // "kml"), resets TrackPoints, opens the output under the lowest free number
  // and writes the header.
  void KmlOpen(std::string_view outputName);
  // Opens the output at KmlFile again, for a document that goes on from an
  // earlier one: its first `length` bytes (up to the end of its coordinates)
  // are copied from `earlier`, and coordinate lines then follow them. The
  // coordinate line kept for a repeated fix stays valid across.
  void KmlReopen(os::FileSystem::Handle earlier, std::uint64_t length);
  // A link of the document that a globe viewer opens to watch a followed
  // log: the file at `path`, relative to that document, reloaded every
  // `intervalSeconds`.
  struct FollowLink {
    std::string name;
    std::string path;
    double intervalSeconds;
  };
  // Writes that document, its links in the order given. Its path is the
  // source path up to and including its last ".", then "suivi.kml";
  // returned.
  std::string KmlWriteFollowLink(const std::vector<FollowLink>& links);
  // The path of a source's companion file of the given extension: everything
  // up to and including the last "." of `sourcePath`, then `extension`.
  static std::string PathBeside(const std::string& sourcePath, std::string_view extension);
  // A file's path as a relative URL: every byte but letters, digits, "/"
  // and "-._~" percent-encoded.
  static std::string RelativeLink(std::string_view path);

  // The document's bytes up to its first coordinate line, as KmlOpen writes
  // them.
  std::string KmlHeaderText() const;
  // The coordinate line of a point, without its line end, as KmlCoord
  // writes it; valid until the next call.
  std::string_view KmlCoordText(double longitude, double latitude);

  // Appends one point to TrackPoints. The design's call has an argument it
  // always leaves empty: std::monostate keeps its place, so the call keeps
  // its shape (KmlAddPoint("0", time, {}, longitude, latitude, 0)).
  void KmlAddPoint(std::string_view text, text::DateTime time, std::monostate extra,
                   double longitude, double latitude, std::int32_t altitude);
  // Writes one coordinate line: longitude, latitude, 0.
  void KmlCoord(double longitude, double latitude, std::int32_t altitude);
  // Closes the coordinates, the line string, the geometry and the placemark.
  // Its empty argument keeps the design's call, as KmlAddPoint's does.
  void KmlEndTrack(std::monostate unused);
  // Ends the document and closes the output, which then replaces any file at
  // KmlFile.
  void KmlClose();
  // Bytes that KmlEndTrack and KmlClose write.
  static std::uint64_t KmlClosingSize();
  // Gives up the output after a failure: closed, nothing left behind, any
  // earlier file at KmlFile untouched. Never throws.
  void KmlAbandon();

 private:
  void WriteHeader();
  std::vector<std::string> HeaderLines() const;
  void FormatCoordinateLine(double longitude, double latitude);

  io::NumberedFiles& files_;
  const std::string& nmeaFile_;
  // Whether KmlFileNum still names our unfinished output; once it is closed
  // the number may belong to another file, which KmlAbandon must not touch.
  bool outputOpen_ = false;
  // The last coordinate line, reused while the fix repeats. It starts as the
  // line of the fix 0, 0 so that it always matches the cached values.
  double cachedLongitude_ = 0.0;
  double cachedLatitude_ = 0.0;
  // Room for two numbers, two commas and the "0" of the altitude.
  char cachedLine_[2 * text::kDoubleTextCapacity + 3];
  std::size_t cachedLength_ = 5;
};

}  // namespace ostrevane::kml
