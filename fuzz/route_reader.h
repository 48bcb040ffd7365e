#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane::testing {

// Reads a followed route as a globe viewer finds it through the companion:
// the lists of pieces, the last list first, each piece's coordinate lines
// with the joining point it shares with the piece before dropped, and what
// is marked as named elsewhere left out. A list that links the track file
// reads that file's coordinates.
// `read` gives a file's bytes by path ("" when absent); `folder` is the
// pieces' folder, with its separator.
class RouteReader {
 public:
  using Read = std::function<std::string(const std::string& path)>;

  RouteReader(Read read, std::string folder) : read_(std::move(read)), folder_(std::move(folder)) {}

  // The coordinate lines of the route, or a single line starting with
  // "error:" that says what is wrong.
  std::vector<std::string> Coordinates(int lists) {
    lines_.clear();
    pieces_ = 0;
    // The folder above the pieces' folder, where the track file is.
    const std::string above =
        folder_.substr(0, folder_.find_last_of("/\\", folder_.size() - 2) + 1);
    for (int list = lists - 1; list >= 0; --list) {
      const std::string text = read_(folder_ + "liste-" + std::to_string(list) + ".kml");
      if (text.empty()) return Error("liste-" + std::to_string(list) + ".kml missing");
      std::string_view own = text;
      if (const auto marked = own.find("<Folder id=\"deja-range\">"); marked != own.npos)
        own = own.substr(0, marked);
      for (std::size_t at = own.find("<href>"); at != own.npos; at = own.find("<href>", at)) {
        at += 6;
        const std::string name(own.substr(at, own.find("</href>", at) - at));
        const bool track = name.rfind("../", 0) == 0;
        const std::string piece = read_(track ? above + name.substr(3) : folder_ + name);
        if (piece.empty()) return Error(name + " missing");
        AddPiece(piece);
      }
    }
    return lines_;
  }

 private:
  std::vector<std::string> Error(const std::string& what) { return {"error: " + what}; }

  // The coordinate lines of a piece or of the track file.
  void AddPiece(std::string_view text) {
    auto at = text.find("<coordinates>\r\n");
    if (at == text.npos) return;
    at += 15;
    const auto end = text.find("</coordinates>", at);
    std::string_view coordinates = text.substr(at, end - at);
    bool first = true;
    while (!coordinates.empty()) {
      const auto lineEnd = coordinates.find("\r\n");
      const std::string_view line = coordinates.substr(0, lineEnd);
      const bool trimmed = line.find_first_not_of(' ') == line.npos;
      if (!trimmed && !(first && pieces_ > 0)) lines_.emplace_back(line);
      if (!trimmed) first = false;
      coordinates.remove_prefix(lineEnd == coordinates.npos ? coordinates.size() : lineEnd + 2);
    }
    if (!first) ++pieces_;
  }

  Read read_;
  std::string folder_;
  std::vector<std::string> lines_;
  int pieces_ = 0;
};

}  // namespace ostrevane::testing
