#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/numbered_files.h"
#include "kml/creat_kml.h"
#include "kml/route_piece_files.h"
#include "os/file_system.h"

namespace ostrevane::run {

// A followed route, cut into pieces that a globe viewer reloads each at its
// own pace, so that what is written and read per refresh stays the same
// however long the route grows.
//
// The newest points are in the growing piece, rewritten at each refresh and
// reloaded by the viewer at every interval. Every interval it is cut: its
// points become a finished piece, written once and named in the first list,
// which the viewer reloads at that same interval. Each list holds up to
// kPiecesPerList pieces; the next one is then gathered with them into a
// piece of the next list, reloaded kPiecesPerList times less often; pieces
// that together outgrow a piece's size are moved there as they are. The last
// list keeps every piece it gets. Each point is so written a bounded
// number of times, and each list costs the viewer about the same per
// second.
//
// The viewer reloads each file on its own clock, so points moved from one
// file to another stay in the first, marked, until the viewer has surely
// reloaded the second: it may draw them twice a moment, never lose them. A
// piece is removed only once no file names it any more. Consecutive pieces
// share their joining point, so the line has no gap: the pieces in the
// lists' order, last list first, then the growing piece, their joining
// points and marked parts dropped, give every point of the route once.
class RoutePieces {
 public:
  static constexpr int kLists = 3;
  static constexpr std::size_t kPiecesPerList = 16;

  // `folder` holds the pieces (it ends with the separator); `intervalMs` is
  // the viewer's reloading interval for the growing piece.
  RoutePieces(io::NumberedFiles& files, os::FileSystem& fileSystem, std::string folder,
              std::int64_t intervalMs);

  // The files a viewer follows, in the route's order (the lists, last
  // first, then the growing piece), relative to the folder above `folder`,
  // whose name is `folderName`.
  std::vector<kml::CreatKML::FollowLink> Links(const std::string& folderName) const;

  // One more point: its coordinate line, without its line end.
  void Add(std::string_view coordinateLine);
  // Writes whatever changed, as at time `nowMs` (monotonic). Throws
  // io::FileError; what failed is written again at the next call.
  void Publish(std::int64_t nowMs);
  // A new route: the pieces of the earlier one go.
  void StartOver();
  // Following ends: the growing piece comes to link `trackLink` (the whole
  // track), the lists to name nothing, and the pieces are removed. None of
  // them is reloaded again.
  void Close(std::string_view trackLink);

  // When the next file is due to change with no new point (a point or a
  // piece let go, a piece removed), on the clock of Publish; -1 for never.
  std::int64_t NextChangeMs() const;

  std::uint64_t BytesWritten() const { return pieceFiles_.BytesWritten(); }

 private:
  struct Piece {
    std::string name;
    std::uint64_t coordinateBytes = 0;
    std::uint64_t firstLineBytes = 0;  // its joining point
  };
  struct Leaving {
    Piece piece;
    std::int64_t keptUntilMs;
    // Moved to the next list as it is: its file stays.
    bool moved = false;
  };
  struct List {
    std::vector<Piece> pieces;
    std::vector<Leaving> leaving;  // gathered into the next list's pieces
    std::vector<Leaving> removed;  // named by no file: removed after a while
    bool changed = true;
  };
  struct Retained {
    std::string coordinates;
    std::int64_t keptUntilMs;
  };

  std::int64_t ReloadMs(int list) const;
  std::string Path(const std::string& name) const { return folder_ + name; }
  std::string NextName();
  void Cut();
  void GatherInto(int list);
  void MoveInto(int list);
  void CopyCoordinates(int into, const Piece& piece, bool skipJoiningPoint);
  void LetGo(std::int64_t nowMs);
  void WriteChanged();
  void RemoveDue(std::int64_t nowMs);
  std::string ShownElsewhere() const;

  io::NumberedFiles& files_;
  os::FileSystem& fileSystem_;
  kml::RoutePieceFiles pieceFiles_;
  std::string folder_;
  std::int64_t intervalMs_;
  std::int64_t nowMs_ = 0;
  std::int64_t lastCutMs_ = -1;

  // The growing piece: its joining point first (once a piece was cut), then
  // the points it alone holds.
  std::string growing_;
  std::size_t growingNewLines_ = 0;
  std::string lastLine_;
  std::deque<Retained> retained_;
  std::size_t retainedBytes_ = 0;
  bool growingChanged_ = true;
  List lists_[kLists];
  std::uint64_t nextNumber_ = 1;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace ostrevane::run
