#include "kml/route_piece_files.h"

namespace ostrevane::kml {
namespace {

constexpr std::string_view kDocumentHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
    "<Document>\r\n";
constexpr std::string_view kDocumentTail =
    "</Document>\r\n"
    "</kml>\r\n";
// Styled as the track file's line: opaque red, 3 wide.
constexpr std::string_view kLineHead =
    "<name>Trajet</name>\r\n"
    "<Style><LineStyle><color>FF0000FF</color><width>3.0</width></LineStyle></Style>\r\n"
    "<LineString>\r\n"
    "<coordinates>\r\n";
constexpr std::string_view kLineTail =
    "</coordinates>\r\n"
    "</LineString>\r\n"
    "</Placemark>\r\n";
constexpr std::string_view kPlacemark = "<Placemark>\r\n";
// What a reader of the files (and a person) tells from the rest: drawn
// here only until the viewer has it from a list.
constexpr std::string_view kShownElsewhere = " id=\"deja-range\"";

// A viewer reloads a file that says so at most once a year: once following
// ended, never in practice.
constexpr std::string_view kNeverAgain =
    "<NetworkLinkControl><minRefreshPeriod>31536000</minRefreshPeriod></NetworkLinkControl>\r\n";

}  // namespace

std::size_t RoutePieceFiles::CoordinatesOffset() {
  return kDocumentHead.size() + kPlacemark.size() + kLineHead.size();
}

int RoutePieceFiles::Open(const std::string& path) {
  const int number = files_.FreeFile();
  // Not made durable first: a crash that could leave a piece empty ends
  // following too, and the next session writes every piece anew; waiting
  // for the disk at every refresh would slow the live route.
  files_.OpenForOutput(number, path, false);
  return number;
}

void RoutePieceFiles::Finish(int number) {
  files_.Print(number, kDocumentTail);
  const std::uint64_t size = files_.OutputSize(number);
  files_.Close(number);
  bytesWritten_ += size;
}

int RoutePieceFiles::BeginPiece(const std::string& path) {
  const int number = Open(path);
  try {
    files_.Print(number, kDocumentHead);
    files_.Print(number, kPlacemark);
    files_.Print(number, kLineHead);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
  return number;
}

void RoutePieceFiles::EndPiece(int number) {
  try {
    files_.Print(number, kLineTail);
    Finish(number);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
}

void RoutePieceFiles::WritePiece(const std::string& path, std::string_view coordinates) {
  const int number = BeginPiece(path);
  try {
    Add(number, coordinates);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
  EndPiece(number);
}

void RoutePieceFiles::WriteGrowingPiece(const std::string& path, std::string_view shownElsewhere,
                                        std::string_view coordinates) {
  const int number = Open(path);
  try {
    files_.Print(number, kDocumentHead);
    if (!shownElsewhere.empty()) {
      files_.Print(number, "<Placemark");
      files_.Print(number, kShownElsewhere);
      files_.Print(number, ">\r\n");
      files_.Print(number, kLineHead);
      files_.Print(number, shownElsewhere);
      files_.Print(number, kLineTail);
    }
    if (!coordinates.empty()) {
      files_.Print(number, kPlacemark);
      files_.Print(number, kLineHead);
      files_.Print(number, coordinates);
      files_.Print(number, kLineTail);
    }
    Finish(number);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
}

void RoutePieceFiles::WriteList(const std::string& path, const std::vector<std::string>& pieces,
                                const std::vector<std::string>& leaving) {
  const auto link = [&](int number, const std::string& name) {
    files_.Print(number, "<NetworkLink><Link><href>");
    files_.Print(number, name);
    files_.Print(number, "</href></Link></NetworkLink>\r\n");
  };
  const int number = Open(path);
  try {
    files_.Print(number, kDocumentHead);
    for (const std::string& name : pieces) link(number, name);
    if (!leaving.empty()) {
      files_.Print(number, "<Folder");
      files_.Print(number, kShownElsewhere);
      files_.Print(number, ">\r\n");
      for (const std::string& name : leaving) link(number, name);
      files_.Print(number, "</Folder>\r\n");
    }
    Finish(number);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
}

void RoutePieceFiles::WriteLastVersion(const std::string& path, std::string_view link) {
  const int number = Open(path);
  try {
    files_.Print(number,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                 "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n");
    files_.Print(number, kNeverAgain);
    files_.Print(number, "<Document>\r\n");
    if (!link.empty()) {
      files_.Print(number, "<NetworkLink><Link><href>");
      files_.Print(number, link);
      files_.Print(number, "</href></Link></NetworkLink>\r\n");
    }
    Finish(number);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
}

}  // namespace ostrevane::kml
