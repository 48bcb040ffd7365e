#include "kml/route_piece_files.h"

namespace ostrevane::kml {
namespace {

// A piece is rewritten at every refresh while it grows, so it carries no
// more than a viewer needs: no declaration, no name.
constexpr std::string_view kKml = "<kml xmlns=\"http://www.opengis.net/kml/2.2\">";
constexpr std::string_view kEnd = "</kml>\r\n";
// Styled as the track file's line: opaque red, 3 wide.
constexpr std::string_view kLineHead =
    "<Document><Placemark><Style><LineStyle><color>FF0000FF</color><width>3.0</width>"
    "</LineStyle></Style><LineString><coordinates>\r\n";
constexpr std::string_view kLineTail = "</coordinates></LineString></Placemark></Document>";
// What a reader of the files (and a person) tells from the rest: named
// here only until the viewer has them from another list.
constexpr std::string_view kElsewhere = "<Folder id=\"deja-range\">\r\n";
// A viewer reloads a file that says so at most once a year: once following
// ended, never in practice.
constexpr std::string_view kNeverAgain =
    "<NetworkLinkControl><minRefreshPeriod>31536000</minRefreshPeriod></NetworkLinkControl>\r\n";

}  // namespace

std::size_t RoutePieceFiles::CoordinatesOffset() { return kKml.size() + kLineHead.size(); }

int RoutePieceFiles::Open(const std::string& path) {
  const int number = files_.FreeFile();
  // Not made durable first: a crash that could leave a piece empty ends
  // following too, and the next session writes every piece anew; waiting
  // for the disk at every refresh would slow the live route.
  files_.OpenForOutput(number, path, false);
  return number;
}

void RoutePieceFiles::Finish(int number) {
  files_.Print(number, kEnd);
  const std::uint64_t size = files_.OutputSize(number);
  files_.Close(number);
  bytesWritten_ += size;
}

// Runs `writing` on the open file `number`. On a failure the file is
// abandoned, so its earlier version stays in place, and the failure goes on.
template <typename Writing>
void RoutePieceFiles::WriteOrAbandon(int number, Writing&& writing) {
  try {
    writing();
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
}

int RoutePieceFiles::BeginPiece(const std::string& path) {
  const int number = Open(path);
  WriteOrAbandon(number, [&] {
    files_.Print(number, kKml);
    files_.Print(number, kLineHead);
  });
  return number;
}

void RoutePieceFiles::EndPiece(int number) {
  WriteOrAbandon(number, [&] {
    files_.Print(number, kLineTail);
    Finish(number);
  });
}

void RoutePieceFiles::WritePiece(const std::string& path, std::string_view coordinates) {
  const int number = BeginPiece(path);
  WriteOrAbandon(number, [&] { Add(number, coordinates); });
  EndPiece(number);
}

void RoutePieceFiles::Link(int number, std::string_view href) {
  files_.Print(number, "<NetworkLink><Link><href>");
  files_.Print(number, href);
  files_.Print(number, "</href></Link></NetworkLink>\r\n");
}

void RoutePieceFiles::WriteList(const std::string& path, const std::vector<std::string>& pieces,
                                const std::vector<std::string>& leaving) {
  const int number = Open(path);
  WriteOrAbandon(number, [&] {
    files_.Print(number, kKml);
    files_.Print(number, "<Document>\r\n");
    for (const std::string& name : pieces) Link(number, name);
    if (!leaving.empty()) {
      files_.Print(number, kElsewhere);
      for (const std::string& name : leaving) Link(number, name);
      files_.Print(number, "</Folder>\r\n");
    }
    files_.Print(number, "</Document>");
    Finish(number);
  });
}

void RoutePieceFiles::WriteLastVersion(const std::string& path, std::string_view link) {
  const int number = Open(path);
  WriteOrAbandon(number, [&] {
    files_.Print(number, kKml);
    files_.Print(number, "\r\n");
    files_.Print(number, kNeverAgain);
    files_.Print(number, "<Document>\r\n");
    if (!link.empty()) Link(number, link);
    files_.Print(number, "</Document>");
    Finish(number);
  });
}

}  // namespace ostrevane::kml
