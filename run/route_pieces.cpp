#include "run/route_pieces.h"

#include <algorithm>
#include <cstdio>

#include "io/file_error.h"

namespace ostrevane::run {
namespace {

// A viewer counts its interval from the end of a reload, which takes a
// while (a list, then each piece it names, one request each): the margin
// before a piece leaves a list that named it. A piece's file stays longer
// still, for a viewer that read a list just before it changed and fetches
// what it names slowly.
constexpr std::int64_t kMarginMs = 2000;
constexpr std::int64_t kRemovalDelayMs = 10000;
// The growing piece is finished once it holds this much of its own: small
// enough that rewriting it at each refresh costs little, large enough that
// its file is worth the lists' naming it. A refresh that brings much at
// once (a log that already holds hours) finishes pieces of the largest
// size, beyond which pieces are not gathered either.
constexpr std::size_t kFinishedPiece = 640;
constexpr std::size_t kLargestPiece = 256 * 1024;
constexpr std::size_t kCopyBuffer = 64 * 1024;

std::string ListName(int list) { return "liste-" + std::to_string(list) + ".kml"; }

std::size_t FirstLineBytes(std::string_view coordinates) {
  const std::size_t end = coordinates.find('\n');
  return end == std::string_view::npos ? coordinates.size() : end + 1;
}

}  // namespace

RoutePieces::RoutePieces(io::NumberedFiles& files, os::FileSystem& fileSystem, std::string folder,
                         std::int64_t intervalMs)
    : files_(files),
      fileSystem_(fileSystem),
      pieceFiles_(files),
      folder_(std::move(folder)),
      intervalMs_(intervalMs),
      buffer_(std::make_unique<char[]>(kCopyBuffer)) {}

std::int64_t RoutePieces::ReloadMs(int list) const {
  std::int64_t reload = intervalMs_;
  for (int i = 0; i < list; ++i) reload *= static_cast<std::int64_t>(kPiecesPerList);
  return reload;
}

std::vector<kml::CreatKML::FollowLink> RoutePieces::Links(const std::string& folderName) const {
  std::vector<kml::CreatKML::FollowLink> links;
  for (int list = kLists - 1; list >= 0; --list) {
    links.push_back({list == 0 ? std::string("Trajet (suivi)")
                               : "Trajet (suivi, partie " + std::to_string(kLists - list) + ")",
                     folderName + "/" + ListName(list),
                     static_cast<double>(ReloadMs(list)) / 1000});
  }
  return links;
}

std::string RoutePieces::NextName() {
  char name[32];
  std::snprintf(name, sizeof name, "%06llu.kml", static_cast<unsigned long long>(nextNumber_));
  return name;
}

void RoutePieces::Add(std::string_view coordinateLine) {
  if (growingName_.empty()) {
    growingName_ = NextName();
    ++nextNumber_;
    lists_[0].changed = true;
  }
  growing_.append(coordinateLine);
  growing_ += "\r\n";
  lastLine_.assign(coordinateLine);
  ++growingNewLines_;
  growingWritten_ = false;
  if (growing_.size() >= kLargestPiece) {
    WriteGrowing();
    FinishGrowing();
  }
}

void RoutePieces::Publish(std::int64_t nowMs) {
  nowMs_ = nowMs;
  if (!growingWritten_) WriteGrowing();
  if (growingNewLines_ > 0 && growing_.size() - FirstLineBytes(growing_) >= kFinishedPiece)
    FinishGrowing();
  LetGo(nowMs);
  // The lists name the growing piece only once its file is there.
  WriteChanged();
  RemoveDue(nowMs);
}

void RoutePieces::WriteGrowing() {
  pieceFiles_.WritePiece(Path(growingName_), growing_);
  growingWritten_ = true;
}

// The growing piece's file, as it is, becomes a finished piece of the first
// list; the next points start the next piece from its last one.
void RoutePieces::FinishGrowing() {
  const Piece piece{growingName_, growing_.size(), FirstLineBytes(growing_), growingNamed_};
  // A piece of the largest size (a log that already holds hours, read at
  // once) goes straight to the highest list that holds nothing newer, where
  // it would end anyway: no viewer draws it twice on its way there.
  int list = 0;
  if (piece.coordinateBytes >= kLargestPiece) {
    while (list + 1 < kLists && lists_[list].pieces.empty()) ++list;
  }
  lists_[list].pieces.push_back(piece);
  lists_[list].changed = true;
  lists_[0].changed = true;
  growingNamed_ = false;
  growingName_.clear();
  growing_ = lastLine_ + "\r\n";
  growingNewLines_ = 0;
  for (int list = 1; list < kLists; ++list) {
    if (lists_[list - 1].pieces.size() >= kPiecesPerList) GatherInto(list);
  }
}

// The pieces of the list before `list` become one piece of `list`: each
// point is so written once per list.
void RoutePieces::GatherInto(int list) {
  List& from = lists_[list - 1];
  std::uint64_t bytes = 0;
  for (const Piece& piece : from.pieces) bytes += piece.coordinateBytes;
  if (bytes > kLargestPiece) return MoveInto(list);
  const std::string name = NextName();
  const int number = pieceFiles_.BeginPiece(Path(name));
  Piece gathered{name, 0, from.pieces.front().firstLineBytes};
  try {
    for (std::size_t i = 0; i < from.pieces.size(); ++i) {
      const Piece& piece = from.pieces[i];
      CopyCoordinates(number, piece, i > 0);
      gathered.coordinateBytes += piece.coordinateBytes - (i > 0 ? piece.firstLineBytes : 0);
    }
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
  pieceFiles_.EndPiece(number);
  ++nextNumber_;
  lists_[list].pieces.push_back(gathered);
  lists_[list].changed = true;
  const std::int64_t keptUntil = nowMs_ + ReloadMs(list) + kMarginMs;
  for (Piece& piece : from.pieces) {
    // Pieces no viewer could see yet (a log that already holds hours, read
    // at once) go at once.
    if (piece.named)
      from.leaving.push_back({std::move(piece), keptUntil});
    else
      fileSystem_.Remove(Path(piece.name));
  }
  from.pieces.clear();
  from.changed = true;
}

// Pieces already as large as a piece gets are not written again: the next
// list names them instead.
void RoutePieces::MoveInto(int list) {
  List& from = lists_[list - 1];
  const std::int64_t keptUntil = nowMs_ + ReloadMs(list) + kMarginMs;
  for (Piece& piece : from.pieces) {
    lists_[list].pieces.push_back(piece);
    if (piece.named) from.leaving.push_back({std::move(piece), keptUntil, true});
  }
  from.pieces.clear();
  from.changed = true;
  lists_[list].changed = true;
}

// Through the program's memory, a buffer at a time: pieces are files of our
// own, read back once each time they are gathered.
void RoutePieces::CopyCoordinates(int into, const Piece& piece, bool skipJoiningPoint) {
  os::FileSystem::Handle handle = -1;
  const std::string path = Path(piece.name);
  if (int error = fileSystem_.OpenForReading(path, handle); error != 0)
    throw io::FileError(messages::FileAction::Read, path, error);
  std::uint64_t skip =
      kml::RoutePieceFiles::CoordinatesOffset() + (skipJoiningPoint ? piece.firstLineBytes : 0);
  std::uint64_t left = piece.coordinateBytes - (skipJoiningPoint ? piece.firstLineBytes : 0);
  int error = 0;
  while (left > 0 && error == 0) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBuffer, skip > 0 ? skip : left));
    std::size_t got = 0;
    error = fileSystem_.Read(handle, buffer_.get(), wanted, got);
    if (error == 0 && got == 0) error = EIO;
    if (error != 0) break;
    if (skip > 0) {
      skip -= got;
      continue;
    }
    pieceFiles_.Add(into, std::string_view(buffer_.get(), got));
    left -= got;
  }
  fileSystem_.Close(handle);
  if (error != 0) throw io::FileError(messages::FileAction::Read, path, error);
}

void RoutePieces::LetGo(std::int64_t nowMs) {
  for (int list = 0; list < kLists; ++list) {
    List& each = lists_[list];
    const auto due = std::stable_partition(each.leaving.begin(), each.leaving.end(),
                                           [&](const Leaving& l) { return l.keptUntilMs > nowMs; });
    if (due == each.leaving.end()) continue;
    // Named by no list once this one is written; a viewer that reloaded it
    // just before may still be fetching them.
    for (auto it = due; it != each.leaving.end(); ++it) {
      if (!it->moved)
        each.removed.push_back(
            {std::move(it->piece), nowMs + 2 * ReloadMs(list) + kRemovalDelayMs});
    }
    each.leaving.erase(due, each.leaving.end());
    each.changed = true;
  }
}

void RoutePieces::WriteChanged() {
  for (int list = kLists - 1; list >= 0; --list) {
    List& each = lists_[list];
    if (!each.changed) continue;
    std::vector<std::string> names;
    std::vector<std::string> leaving;
    for (const Piece& piece : each.pieces) names.push_back(piece.name);
    if (list == 0 && growingNewLines_ > 0) names.push_back(growingName_);
    for (const Leaving& piece : each.leaving) leaving.push_back(piece.piece.name);
    pieceFiles_.WriteList(Path(ListName(list)), names, leaving);
    if (list == 0 && growingNewLines_ > 0) growingNamed_ = true;
    for (Piece& piece : each.pieces) piece.named = true;
    each.changed = false;
  }
}

void RoutePieces::RemoveDue(std::int64_t nowMs) {
  for (List& each : lists_) {
    const auto due = std::stable_partition(each.removed.begin(), each.removed.end(),
                                           [&](const Leaving& l) { return l.keptUntilMs > nowMs; });
    for (auto it = due; it != each.removed.end(); ++it) fileSystem_.Remove(Path(it->piece.name));
    each.removed.erase(due, each.removed.end());
  }
}

std::int64_t RoutePieces::NextChangeMs() const {
  std::int64_t next = -1;
  const auto consider = [&](std::int64_t due) {
    if (next < 0 || due < next) next = due;
  };
  for (const List& each : lists_) {
    for (const Leaving& piece : each.leaving) consider(piece.keptUntilMs);
    for (const Leaving& piece : each.removed) consider(piece.keptUntilMs);
  }
  return next;
}

void RoutePieces::StartOver() {
  for (int list = 0; list < kLists; ++list) {
    List& each = lists_[list];
    const std::int64_t keptUntil = nowMs_ + 2 * ReloadMs(list) + kRemovalDelayMs;
    for (Piece& piece : each.pieces) each.removed.push_back({std::move(piece), keptUntil});
    for (Leaving& piece : each.leaving) {
      if (!piece.moved) each.removed.push_back({std::move(piece.piece), keptUntil});
    }
    each.pieces.clear();
    each.leaving.clear();
    each.changed = true;
  }
  if (!growingName_.empty())
    lists_[0].removed.push_back({{growingName_}, nowMs_ + 2 * ReloadMs(0) + kRemovalDelayMs});
  growingName_.clear();
  growingNamed_ = false;
  growing_.clear();
  lastLine_.clear();
  growingNewLines_ = 0;
  growingWritten_ = true;
}

void RoutePieces::Close(std::string_view trackLink) {
  // The whole track first, then the other lists let go of their pieces: a
  // viewer never misses a point, though it may draw some twice until it
  // reloaded every list.
  for (int list = 0; list < kLists; ++list)
    pieceFiles_.WriteLastVersion(Path(ListName(list)), list == 0 ? trackLink : "");
  closed_ = true;
}

void RoutePieces::RemovePieces() {
  if (!closed_) return;
  if (!growingName_.empty()) fileSystem_.Remove(Path(growingName_));
  for (List& each : lists_) {
    for (const Piece& piece : each.pieces) fileSystem_.Remove(Path(piece.name));
    for (const Leaving& piece : each.leaving) {
      if (!piece.moved) fileSystem_.Remove(Path(piece.piece.name));
    }
    for (const Leaving& piece : each.removed) fileSystem_.Remove(Path(piece.piece.name));
    each = List{};
    each.changed = false;
  }
  growingName_.clear();
  growingNamed_ = false;
  growing_.clear();
  growingNewLines_ = 0;
  growingWritten_ = true;
}

}  // namespace ostrevane::run
