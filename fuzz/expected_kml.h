#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace ostrevane::testing {

// The KML document that a conversion must write for the given coordinate
// lines, spelled out line by line from the file layout.
inline std::string ExpectedKml(const std::vector<std::string>& coordinateLines) {
  std::string kml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<kml xmlns=\"http://earth.google.com/kml/2.0\">\r\n"
      "<!-- Genere par Ostrevane -->\r\n"
      "<Document>\r\n"
      "<name>Ostrevane v1.0</name>\r\n"
      "<description>\r\n"
      "    <![CDATA[ostrevane.local</a><br>]]>\r\n"
      "</description>\r\n"
      "\r\n"
      "\r\n"
      "    <Placemark>\r\n"
      "      <styleUrl>#lineStyle</styleUrl>\r\n"
      "      <name>Trajet</name>\r\n"
      "      <styleUrl>#lineStyle</styleUrl>\r\n"
      "      <Style>\r\n"
      "        <LineStyle>\r\n"
      "          <color>FF0000FF</color>\r\n"
      "          <width>3.0</width>\r\n"
      "        </LineStyle>\r\n"
      "      </Style>\r\n"
      "      <MultiGeometry>\r\n"
      "        <LineString>\r\n"
      "          <coordinates>\r\n";
  for (const std::string& line : coordinateLines) kml += line + "\r\n";
  kml +=
      "          </coordinates>\r\n"
      "        </LineString>\r\n"
      "      </MultiGeometry>\r\n"
      "    </Placemark>\r\n"
      "\r\n"
      "\r\n"
      "</Document>\r\n"
      "</kml>\r\n";
  return kml;
}

inline std::string ExpectedKml(std::initializer_list<const char*> coordinateLines) {
  return ExpectedKml(std::vector<std::string>(coordinateLines.begin(), coordinateLines.end()));
}

}  // namespace ostrevane::testing
