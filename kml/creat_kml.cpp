// creat_kml: the design's name for the KML writer (README, "Names and shapes from the design").
#include "kml/creat_kml.h"

#include <cstring>

#include "os/system.h"
#include "product/version.h"

namespace ostrevane::kml {
namespace {

// Everything up to and including the last "." of the whole path, folders
// included, then "kml". A path without any "." gives the bare name "kml".
std::string DeriveOutputPath(const std::string& sourcePath, std::string_view extension = "kml") {
  const std::size_t dot = sourcePath.rfind('.');
  std::string path = dot == std::string::npos ? std::string() : sourcePath.substr(0, dot + 1);
  path += extension;
  return path;
}

}  // namespace

// Percent-encoding also keeps the XML around the link well formed.
std::string CreatKML::RelativeLink(std::string_view name) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string link;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      link += c;
    } else {
      link += '%';
      link += kHex[byte >> 4];
      link += kHex[byte & 15];
    }
  }
  return link;
}

namespace {

std::string NameLine() {
  std::string line = "<name>";
  line += product::kName;
  line += " v";
  line += product::kVersion;
  line += "</name>";
  return line;
}

std::string HomePageLine() {
  std::string line = "    <![CDATA[";
  line += product::kHomePage;
  line += "</a><br>]]>";
  return line;
}

}  // namespace

std::string CreatKML::OutputPathOf(const std::string& sourcePath) {
  return DeriveOutputPath(sourcePath);
}

std::string CreatKML::PathBeside(const std::string& sourcePath, std::string_view extension) {
  return DeriveOutputPath(sourcePath, extension);
}

std::string CreatKML::FollowFolderOf(const std::string& sourcePath) {
  return DeriveOutputPath(sourcePath, "suivi");
}

std::string CreatKML::FollowLinkPathOf(const std::string& sourcePath) {
  return DeriveOutputPath(sourcePath, "suivi.kml");
}

CreatKML::CreatKML(io::NumberedFiles& files, const std::string& nmeaFile)
    : files_(files), nmeaFile_(nmeaFile) {
  std::memcpy(cachedLine_, "0,0,0", 5);
}

void CreatKML::KmlOpen(std::string_view outputName) {
  std::string path;
  if (outputName.empty()) {
    KmlFile = DeriveOutputPath(nmeaFile_);
    path = KmlFile;
  } else {
    path = outputName;
  }
  // The table is reset even when the output then fails to open.
  TrackPoints.Reset();
  KmlFileNum = static_cast<std::int16_t>(files_.FreeFile());
  outputOpen_ = false;
  files_.OpenForOutput(KmlFileNum, path);
  outputOpen_ = true;
  WriteHeader();
}

std::vector<std::string> CreatKML::HeaderLines() const {
  return {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
      "<kml xmlns=\"http://earth.google.com/kml/2.0\">",
      "<!-- Genere par Ostrevane -->",
      "<Document>",
      NameLine(),
      "<description>",
      HomePageLine(),
      // One write gives "</description>" and the two empty lines after it.
      "</description>\r\n\r\n",
      "    <Placemark>",
      // The same style reference before and after the name.
      "      <styleUrl>#lineStyle</styleUrl>",
      "      <name>Trajet</name>",
      "      <styleUrl>#lineStyle</styleUrl>",
      "      <Style>",
      "        <LineStyle>",
      // Alpha, blue, green, red: opaque red.
      "          <color>FF0000FF</color>",
      "          <width>3.0</width>",
      "        </LineStyle>",
      "      </Style>",
      "      <MultiGeometry>",
      "        <LineString>",
      "          <coordinates>",
  };
}

void CreatKML::WriteHeader() {
  for (const std::string& line : HeaderLines()) files_.PrintLine(KmlFileNum, line);
}

std::string CreatKML::KmlHeaderText() const {
  std::string text;
  for (const std::string& line : HeaderLines()) text += line + "\r\n";
  return text;
}

void CreatKML::KmlReopen(os::FileSystem::Handle earlier, std::uint64_t length) {
  KmlFileNum = static_cast<std::int16_t>(files_.FreeFile());
  outputOpen_ = false;
  files_.OpenForOutput(KmlFileNum, KmlFile);
  outputOpen_ = true;
  files_.CopyInto(KmlFileNum, earlier, length);
}

std::string CreatKML::KmlWriteFollowLink(const std::vector<FollowLink>& links) {
  const std::string path = FollowLinkPathOf(nmeaFile_);
  std::vector<std::string> lines = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\">",
      "<!-- Genere par Ostrevane -->",
      // Inside a document, as viewers and libraries that read KML as layers
      // (GDAL) want a container at the root.
      "<Document>",
  };
  char interval[text::kDoubleTextCapacity];
  for (const FollowLink& link : links) {
    lines.push_back("  <NetworkLink>");
    lines.push_back("    <name>" + link.name + "</name>");
    lines.push_back("    <Link>");
    lines.push_back("      <href>" + RelativeLink(link.path) + "</href>");
    lines.push_back("      <refreshMode>onInterval</refreshMode>");
    lines.push_back("      <refreshInterval>" +
                    std::string(text::FormatDouble(link.intervalSeconds, interval)) +
                    "</refreshInterval>");
    lines.push_back("    </Link>");
    lines.push_back("  </NetworkLink>");
  }
  lines.push_back("</Document>");
  lines.push_back("</kml>");
  const auto number = files_.FreeFile();
  try {
    files_.OpenForOutput(number, path);
    for (const std::string& line : lines) files_.PrintLine(number, line);
    files_.Close(number);
  } catch (...) {
    files_.Abandon(number);
    throw;
  }
  return path;
}

void CreatKML::KmlAddPoint(std::string_view text, text::DateTime time, std::monostate,
                           double longitude, double latitude, std::int32_t altitude) {
  TrackPoints.Append(text, time, longitude, latitude, altitude);
}

void CreatKML::KmlCoord(double longitude, double latitude, std::int32_t) {
  files_.PrintLine(KmlFileNum, KmlCoordText(longitude, latitude));
}

std::string_view CreatKML::KmlCoordText(double longitude, double latitude) {
  // A fix is seen on several consecutive lines; it is formatted once.
  if (longitude != cachedLongitude_ || latitude != cachedLatitude_) {
    FormatCoordinateLine(longitude, latitude);
  }
  return {cachedLine_, cachedLength_};
}

// The altitude field is always "0". Each number is written in place, so that
// the line costs no copy beyond the digits themselves.
void CreatKML::FormatCoordinateLine(double longitude, double latitude) {
  char* out = text::WriteDouble(longitude, cachedLine_);
  *out++ = ',';
  out = text::WriteDouble(latitude, out);
  std::memcpy(out, ",0", 2);
  cachedLength_ = static_cast<std::size_t>(out + 2 - cachedLine_);
  cachedLongitude_ = longitude;
  cachedLatitude_ = latitude;
}

namespace {

// One write gives "</Placemark>" and the two empty lines after it.
constexpr std::string_view kTrackEnd[] = {"          </coordinates>", "        </LineString>",
                                          "      </MultiGeometry>", "    </Placemark>\r\n\r\n"};
constexpr std::string_view kDocumentEnd[] = {"</Document>", "</kml>"};

}  // namespace

void CreatKML::KmlEndTrack(std::monostate) {
  for (std::string_view line : kTrackEnd) files_.PrintLine(KmlFileNum, line);
}

void CreatKML::KmlClose() {
  for (std::string_view line : kDocumentEnd) files_.PrintLine(KmlFileNum, line);
  // The number is given up even when finishing the file fails.
  outputOpen_ = false;
  files_.Close(KmlFileNum);
}

std::uint64_t CreatKML::KmlClosingSize() {
  std::uint64_t size = 0;
  for (std::string_view line : kTrackEnd) size += line.size() + 2;
  for (std::string_view line : kDocumentEnd) size += line.size() + 2;
  return size;
}

void CreatKML::KmlAbandon() {
  if (!outputOpen_) return;
  outputOpen_ = false;
  files_.Abandon(KmlFileNum);
}

}  // namespace ostrevane::kml
