#pragma once

#include <cstdint>
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
// The first list names the newest pieces, the growing one last, and the
// viewer reloads it, with all it names, at every interval. The growing
// piece is rewritten as points come, until it holds enough to be worth a
// file of its own: it is then finished, never written again, and the next
// points start the next one. Each list holds up to kPiecesPerList finished
// pieces; they are then gathered into one piece of the next list, which the
// viewer reloads kPiecesPerList times less often (pieces that together
// outgrow a piece's size are moved there as they are). The last list keeps
// every piece it gets. Each point is so written a bounded number of times,
// and each list costs the viewer about the same per second.
//
// The viewer reloads each list on its own clock, so pieces moved to the
// next list stay named in the first, marked, until the viewer has surely
// reloaded the next: it may draw them twice a moment, never lose them. A
// piece's file is removed only once no list names it any more. Consecutive
// pieces share their joining point, so the line has no gap: the pieces in
// the lists' order, last list first, their joining points and the marked
// names dropped, give every point of the route once.
class RoutePieces {
 public:
  static constexpr int kLists = 4;
  static constexpr std::size_t kPiecesPerList = 8;

  // `folder` holds the pieces (it ends with the separator); `intervalMs` is
  // the viewer's reloading interval for the first list.
  RoutePieces(io::NumberedFiles& files, os::FileSystem& fileSystem, std::string folder,
              std::int64_t intervalMs);

  // The lists a viewer follows, in the route's order, relative to the
  // folder above `folder`, whose name is `folderName`.
  std::vector<kml::CreatKML::FollowLink> Links(const std::string& folderName) const;

  // One more point: its coordinate line, without its line end.
  void Add(std::string_view coordinateLine);
  // Writes whatever changed, as at time `nowMs` (monotonic). Throws
  // io::FileError; what failed is written again at the next call.
  void Publish(std::int64_t nowMs);
  // A new route: the pieces of the earlier one go.
  void StartOver();
  // Following ends: the first list comes to link `trackLink` (the whole
  // track), the others to name nothing. None of them is reloaded again.
  void Close(std::string_view trackLink);
  // Removes every piece's file once closed: a moment after Close, when a
  // viewer that read a list just before has fetched what it named. Nothing
  // before Close: the lists still name the pieces.
  void RemovePieces();

  // When a list is next due to change with no new point (a piece let go, or
  // removed), on the clock of Publish; -1 for never.
  std::int64_t NextChangeMs() const;

  std::uint64_t BytesWritten() const { return pieceFiles_.BytesWritten(); }

 private:
  struct Piece {
    std::string name;
    std::uint64_t coordinateBytes = 0;
    std::uint64_t firstLineBytes = 0;  // its joining point
    // Named in a list written out: a viewer may hold it from there.
    bool named = false;
  };
  struct Leaving {
    Piece piece;
    std::int64_t keptUntilMs;
    // Moved to the next list as it is: its file stays.
    bool moved = false;
  };
  struct List {
    std::vector<Piece> pieces;
    std::vector<Leaving> leaving;  // in the next list's pieces
    std::vector<Leaving> removed;  // named by no list: removed after a while
    bool changed = true;
  };

  std::int64_t ReloadMs(int list) const;
  std::string Path(const std::string& name) const { return folder_ + name; }
  std::string NextName();
  void WriteGrowing();
  void FinishGrowing();
  void GatherInto(int list);
  void MoveInto(int list);
  void CopyCoordinates(int into, const Piece& piece, bool skipJoiningPoint);
  void LetGo(std::int64_t nowMs);
  void WriteChanged();
  void RemoveDue(std::int64_t nowMs);

  io::NumberedFiles& files_;
  os::FileSystem& fileSystem_;
  kml::RoutePieceFiles pieceFiles_;
  std::string folder_;
  std::int64_t intervalMs_;
  std::int64_t nowMs_ = 0;

  // The growing piece: its joining point first (once a piece was
  // finished), then the points it alone holds; named once it holds one.
  std::string growing_;
  std::string growingName_;
  std::size_t growingNewLines_ = 0;
  bool growingWritten_ = true;
  bool growingNamed_ = false;
  std::string lastLine_;
  List lists_[kLists];
  std::uint64_t nextNumber_ = 1;
  std::unique_ptr<char[]> buffer_;
  bool closed_ = false;
};

}  // namespace ostrevane::run
