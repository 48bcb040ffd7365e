#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/numbered_files.h"

namespace ostrevane::kml {

// The small KML files through which a globe viewer watches a followed route
// grow without reading it whole again and again: pieces of the route, each
// one red line styled as the track, and lists of pieces that the viewer
// reloads at intervals of their own. Every file replaces its earlier
// version only once complete. Coordinate lines are given with their line
// ends, as the track file holds them.
class RoutePieceFiles {
 public:
  explicit RoutePieceFiles(io::NumberedFiles& files) : files_(files) {}

  // Where a piece's coordinate lines start in its file.
  static std::size_t CoordinatesOffset();

  // A piece of the route: one line through `coordinates`.
  void WritePiece(const std::string& path, std::string_view coordinates);
  // The same, written part by part (for pieces gathered from others):
  // BeginPiece, then Add any number of times, then EndPiece.
  int BeginPiece(const std::string& path);
  void Add(int number, std::string_view coordinates) { files_.Print(number, coordinates); }
  void EndPiece(int number);

  // A list of pieces by their names in the same folder, in the route's
  // order; `leaving` are pieces already in another list, named here too
  // until the viewer surely reloaded that one, marked so.
  void WriteList(const std::string& path, const std::vector<std::string>& pieces,
                 const std::vector<std::string>& leaving);

  // The last version of a list, when following ends: it links `link` (a
  // relative URL; none when empty) and asks the viewer never to reload it.
  void WriteLastVersion(const std::string& path, std::string_view link);

  // Bytes of the files written so far.
  std::uint64_t BytesWritten() const { return bytesWritten_; }

 private:
  int Open(const std::string& path);
  void Link(int number, std::string_view href);
  void Finish(int number);
  template <typename Writing>
  void WriteOrAbandon(int number, Writing&& writing);

  io::NumberedFiles& files_;
  std::uint64_t bytesWritten_ = 0;
};

}  // namespace ostrevane::kml
