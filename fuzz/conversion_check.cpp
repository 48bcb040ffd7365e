#include "fuzz/conversion_check.h"

#include <fast_float/fast_float.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/expected_kml.h"
#include "fuzz/fake_services.h"
#include "fuzz/memory_file_system.h"
#include "fuzz/nmea_checksum.h"
#include "fuzz/route_reader.h"
#include "run/conversion_run.h"
#include "run/log_follower.h"

namespace ostrevane::fuzz {
namespace {

using Outcome = run::ConversionRun::Outcome;
using Files = std::map<std::string, std::string>;

const std::string kLogPath = "/memory/track.nmea";
// The log's path up to and including its last ".", then "kml".
const std::string kKmlPath = "/memory/track.kml";
constexpr std::string_view kCoordinatesEnd = "          </coordinates>\r\n";
// How much of an offending line a reason quotes.
constexpr std::size_t kQuotedLength = 60;

// A window that nobody looks at; it keeps the errors that the run reports.
class SilentWindow final : public run::Window {
 public:
  std::vector<std::string> errors;

  void ReportError(std::string_view message) override { errors.emplace_back(message); }
};

struct Conversion {
  Outcome outcome = Outcome::Refused;
  std::vector<std::string> errors;
  std::size_t handlesLeftOpen = 0;
  std::uint64_t corruptSentences = 0;
  Files files;
};

// The document's fixed parts: everything before the first coordinate line,
// and everything after the last.
const std::string& Header() {
  static const std::string header = [] {
    const std::string empty = testing::ExpectedKml({});
    return empty.substr(0, empty.find(kCoordinatesEnd));
  }();
  return header;
}

const std::string& Trailer() {
  static const std::string trailer = [] {
    const std::string empty = testing::ExpectedKml({});
    return empty.substr(empty.find(kCoordinatesEnd));
  }();
  return trailer;
}

// `text` cut short and with control bytes spelled out, fit for a reason.
std::string Quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (unsigned char byte : text.substr(0, kQuotedLength)) {
    if (byte >= 0x20 && byte < 0x7f) {
      quoted += static_cast<char>(byte);
    } else {
      quoted += "\\x";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 0xf];
    }
  }
  quoted += text.size() > kQuotedLength ? "\"..." : "\"";
  return quoted;
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Refused:
      return "Refused";
    case Outcome::Converted:
      return "Converted";
    case Outcome::Failed:
      return "Failed";
    case Outcome::Stopped:
      return "Stopped";
  }
  return "?";
}

// The text that a log holds, worked out plainly: after a UTF-16 byte-order
// mark, its code units in UTF-8, a surrogate without its pair as U+FFFD and a
// character cut by the end left out; without a mark, its bytes. A lone first
// byte that may start a mark is not yet text.
std::string TextOf(std::string_view bytes) {
  if (bytes == "\xFF" || bytes == "\xFE") return {};
  const bool little = bytes.substr(0, 2) == "\xFF\xFE";
  if (!little && bytes.substr(0, 2) != "\xFE\xFF") return std::string(bytes);
  std::vector<unsigned> units;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const unsigned first = static_cast<unsigned char>(bytes[i]);
    const unsigned second = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(little ? first | second << 8 : first << 8 | second);
  }
  std::string text;
  for (std::size_t k = 0; k < units.size(); ++k) {
    unsigned codePoint = units[k];
    const auto isLow = [](unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
      if (k + 1 == units.size()) break;
      codePoint = isLow(units[k + 1])
                      ? 0x10000 + ((codePoint - 0xD800) << 10) + (units[++k] - 0xDC00)
                      : 0xFFFD;
    } else if (isLow(codePoint)) {
      codePoint = 0xFFFD;
    }
    if (codePoint < 0x80) {
      text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
      text += static_cast<char>(0xC0 | codePoint >> 6);
      text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
      text += static_cast<char>(0xE0 | codePoint >> 12);
      text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | codePoint >> 18);
      text += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
      text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
  }
  return text;
}

// Non-empty lines of the log, split the way the run reads it: CR LF, a lone
// CR and a lone LF each end a line.
std::size_t CountNonEmptyLines(std::string_view bytes) {
  std::size_t count = 0;
  std::size_t length = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') {
      ++length;
      continue;
    }
    if (length > 0) ++count;
    length = 0;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
  }
  return length > 0 ? count + 1 : count;
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// An optional "-", digits, and optionally "." and more digits: no exponent,
// no comma, no "inf" or "nan" that a KML reader would choke on.
bool IsPlainNumber(std::string_view text) {
  if (text.starts_with('-')) text.remove_prefix(1);
  const auto point = text.find('.');
  if (point == std::string_view::npos) return IsDigits(text);
  return IsDigits(text.substr(0, point)) && IsDigits(text.substr(point + 1));
}

// A plain number whose magnitude is at most `most`: a place on Earth.
bool IsPlainNumberUpTo(std::string_view text, double most) {
  if (!IsPlainNumber(text)) return false;
  double value = 0;
  const auto result = fast_float::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc{} && value >= -most && value <= most;
}

// "longitude,latitude,0", a place on Earth.
bool IsCoordinateLine(std::string_view line) {
  const auto first = line.find(',');
  if (first == std::string_view::npos) return false;
  const auto second = line.find(',', first + 1);
  if (second == std::string_view::npos) return false;
  return IsPlainNumberUpTo(line.substr(0, first), 180.0) &&
         IsPlainNumberUpTo(line.substr(first + 1, second - first - 1), 90.0) &&
         line.substr(second + 1) == "0";
}

// Checks the lines between header and trailer; counts them into `lines`.
std::string CheckCoordinates(std::string_view body, std::size_t& lines) {
  lines = 0;
  while (!body.empty()) {
    const auto end = body.find("\r\n");
    if (end == std::string_view::npos) return "unterminated line " + Quoted(body);
    const std::string_view line = body.substr(0, end);
    ++lines;
    if (!IsCoordinateLine(line))
      return "coordinate line " + std::to_string(lines) + " is " + Quoted(line);
    body.remove_prefix(end + 2);
  }
  return {};
}

std::string CheckDocument(std::string_view kml, std::size_t nonEmptyLines) {
  if (!kml.starts_with(Header())) return "the output does not begin with the header";
  if (kml.size() < Header().size() + Trailer().size() || !kml.ends_with(Trailer()))
    return "the output does not end with the trailer";
  const std::string_view body =
      kml.substr(Header().size(), kml.size() - Header().size() - Trailer().size());
  std::size_t coordinateLines = 0;
  if (std::string reason = CheckCoordinates(body, coordinateLines); !reason.empty()) return reason;
  if (coordinateLines > nonEmptyLines)
    return std::to_string(coordinateLines) + " coordinate lines from " +
           std::to_string(nonEmptyLines) + " non-empty lines";
  return {};
}

// Only the log, unchanged, and the output may be left.
std::string CheckFiles(const Files& files, std::string_view logBytes) {
  for (const auto& [path, bytes] : files)
    if (path != kLogPath && path != kKmlPath) return "left behind: " + Quoted(path);
  const auto log = files.find(kLogPath);
  if (log == files.end() || log->second != logBytes) return "the log was changed";
  if (!files.contains(kKmlPath)) return "no output at " + kKmlPath;
  return {};
}

std::string CheckConversion(const Conversion& conversion, std::string_view logBytes) {
  if (conversion.outcome != Outcome::Converted)
    return std::string("outcome ") + OutcomeName(conversion.outcome) +
           (conversion.errors.empty() ? "" : ": " + conversion.errors.front());
  if (!conversion.errors.empty()) return "error reported: " + conversion.errors.front();
  if (conversion.handlesLeftOpen != 0)
    return std::to_string(conversion.handlesLeftOpen) + " file(s) left open";
  if (std::string reason = CheckFiles(conversion.files, logBytes); !reason.empty()) return reason;
  return CheckDocument(conversion.files.at(kKmlPath), CountNonEmptyLines(TextOf(logBytes)));
}

int HexDigitValue(char c) {
  const auto digits = std::string_view("0123456789ABCDEFabcdef");
  const auto at = digits.find(c);
  if (at == std::string_view::npos) return -1;
  return static_cast<int>(at < 16 ? at : at - 6);
}

// The checksum rule, worked out plainly: a piece of a line (the text between
// two "$" or line ends) whose first "*" followed by two hexadecimal digits
// comes after a body, everything before it, whose XOR is another number.
bool HasWrongChecksum(std::string_view piece) {
  for (std::size_t star = piece.find('*'); star != std::string_view::npos;
       star = piece.find('*', star + 1)) {
    if (star + 2 >= piece.size()) return false;
    const int high = HexDigitValue(piece[star + 1]);
    const int low = HexDigitValue(piece[star + 2]);
    if (high >= 0 && low >= 0)
      return testing::ChecksumOf(piece.substr(0, star)) != static_cast<unsigned>(high * 16 + low);
  }
  return false;
}

// `bytes` with every piece that has a wrong checksum turned into no sentence
// at all: its first byte becomes a lower-case letter, which no sentence
// begins with, and every line keeps its length. Counts them into `count`.
std::string WithoutCorruptPieces(std::string_view bytes, std::uint64_t& count) {
  std::string cleaned(bytes);
  count = 0;
  std::size_t start = 0;
  for (std::size_t end = 0; end <= cleaned.size(); ++end) {
    if (end < cleaned.size() && cleaned[end] != '$' && cleaned[end] != '\r' && cleaned[end] != '\n')
      continue;
    if (HasWrongChecksum(std::string_view(cleaned).substr(start, end - start))) {
      cleaned[start] = 'x';
      ++count;
    }
    start = end + 1;
  }
  return cleaned;
}

// One conversion in a fresh memory file system whose reads hand out at most
// `maxRead` bytes.
Conversion Convert(std::string_view logBytes, std::size_t maxRead) {
  testing::MemoryFileSystem fileSystem;
  fileSystem.maxRead = maxRead;
  fileSystem.files[kLogPath] = std::string(logBytes);
  // Time moves on at every look, so that the running count is refreshed too.
  testing::FakeClock clock(16);
  testing::UtcZone zone;
  SilentWindow window;
  Conversion conversion;
  {
    run::ConversionRun run(window, {&fileSystem, &clock, &zone});
    conversion.outcome = run.ConvertNamedLog(kLogPath);
    conversion.handlesLeftOpen = fileSystem.OpenHandles();
    conversion.corruptSentences = run.Nmea.CorruptSentences;
  }
  conversion.errors = std::move(window.errors);
  conversion.files = std::move(fileSystem.files);
  return conversion;
}

// A corrupt sentence changes nothing but the count of them: the log with
// every piece whose checksum is wrong made into no sentence gives the same
// document, without a single corrupt sentence. Only RMC sentences are counted,
// so the count may be lower than that of wrong pieces.
std::string CheckCorruptSentences(std::string_view logBytes, const Conversion& whole) {
  std::uint64_t wrongPieces = 0;
  const std::string cleaned = WithoutCorruptPieces(TextOf(logBytes), wrongPieces);
  if (whole.corruptSentences > wrongPieces)
    return std::to_string(whole.corruptSentences) + " corrupt sentences from " +
           std::to_string(wrongPieces) + " pieces with a wrong checksum";
  if (wrongPieces == 0) return {};
  const Conversion clean = Convert(cleaned, std::numeric_limits<std::size_t>::max());
  if (std::string reason = CheckConversion(clean, cleaned); !reason.empty())
    return "without its corrupt sentences: " + reason;
  if (clean.corruptSentences != 0) return "corrupt sentences counted where none are left";
  if (clean.files.at(kKmlPath) != whole.files.at(kKmlPath))
    return "corrupt sentences changed the output";
  return {};
}

// The log's complete lines: its text up to just past its last line end.
// Judged on the text, since the bytes of UTF-16 hold CR and LF bytes inside
// other characters.
std::string CompleteLines(std::string_view bytes) {
  std::string text = TextOf(bytes);
  const std::size_t lastEnd = text.find_last_of("\r\n");
  text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  return text;
}

// The coordinate lines of a KML file.
std::vector<std::string> CoordinateLines(std::string_view kml) {
  std::vector<std::string> lines;
  auto at = kml.find("<coordinates>\r\n");
  if (at == kml.npos) return lines;
  at += 15;
  const auto end = kml.find("          </coordinates>", at);
  while (at < end) {
    const auto lineEnd = kml.find("\r\n", at);
    lines.emplace_back(kml.substr(at, lineEnd - at));
    at = lineEnd + 2;
  }
  return lines;
}

// Whether `kml` is `complete` cut after one of its coordinate lines, its
// closing lines kept, and lacks less than an eighth of its own size.
bool LagsLittleBehind(const std::string& kml, const std::string& complete) {
  const std::size_t closing = kml::CreatKML::KmlClosingSize();
  if (kml.size() < closing || kml.size() > complete.size()) return false;
  const std::size_t body = kml.size() - closing;
  return kml.compare(0, body, complete, 0, body) == 0 &&
         kml.compare(body, closing, complete, complete.size() - closing, closing) == 0 &&
         body > 0 && kml[body - 1] == '\n' && (complete.size() - kml.size()) * 8 < kml.size();
}

// Follows the log as a writer appends it in pieces of sizes drawn from the
// bytes' length, a second going by at each look at the clock: after each
// refresh the pieces a viewer follows hold the route of the complete lines
// so far, and the KML file is the conversion of some of them, never far
// behind; at the end, both are the conversion of the whole log.
std::string FollowAndExplain(std::string_view logBytes, const Conversion& whole) {
  constexpr int kMostAppends = 6;
  testing::MemoryFileSystem fileSystem;
  fileSystem.files[kLogPath] = "";
  testing::UtcZone zone;
  testing::FakeClock clock(1000);
  SilentWindow window;
  run::LogFollower follower(window, kLogPath, {&fileSystem, &zone, &clock});
  const auto read = [&](const std::string& path) {
    const auto file = fileSystem.files.find(path);
    return file == fileSystem.files.end() ? std::string() : file->second;
  };
  testing::RouteReader route(read, kml::CreatKML::PathBeside(kLogPath, "suivi/"));
  std::uint64_t draw = logBytes.size() * 2654435761u + 1;
  std::size_t written = 0;
  for (int append = 0; append < kMostAppends && written < logBytes.size(); ++append) {
    draw = draw * 6364136223846793005u + 1442695040888963407u;
    const std::size_t left = logBytes.size() - written;
    const std::size_t size = append + 1 == kMostAppends ? left : 1 + (draw >> 33) % left;
    fileSystem.files[kLogPath].append(logBytes.substr(written, size));
    written += size;
    if (!follower.Refresh()) return "a refresh failed";
    const std::string_view soFar = logBytes.substr(0, written);
    const Conversion prefix =
        Convert(CompleteLines(soFar), std::numeric_limits<std::size_t>::max());
    const std::string& expected = prefix.files.at(kKmlPath);
    if (!LagsLittleBehind(fileSystem.files[kKmlPath], expected))
      return "following: after " + std::to_string(written) +
             " bytes the KML file is not the conversion of some complete lines, or lags too far";
    if (route.Coordinates(run::RoutePieces::kLists) != CoordinateLines(expected))
      return "following: after " + std::to_string(written) +
             " bytes the route in pieces is not that of the complete lines";
  }
  if (!follower.Finish()) return "following: the end failed";
  follower.RemovePieces();
  if (!window.errors.empty()) return "following: " + window.errors.front();
  if (fileSystem.files[kKmlPath] != whole.files.at(kKmlPath))
    return "following: the final KML file is not the conversion of the whole log";
  if (route.Coordinates(run::RoutePieces::kLists) != CoordinateLines(whole.files.at(kKmlPath)))
    return "following: at the end the companion doesn't show the whole route";
  for (const auto& [path, bytes] : fileSystem.files) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (path != kLogPath && path != kKmlPath && name.rfind("liste-", 0) != 0)
      return "following: left behind: " + Quoted(path);
  }
  return {};
}

std::string ConvertAndExplain(std::string_view logBytes) {
  const Conversion whole = Convert(logBytes, std::numeric_limits<std::size_t>::max());
  if (std::string reason = CheckConversion(whole, logBytes); !reason.empty()) return reason;
  if (std::string reason = CheckCorruptSentences(logBytes, whole); !reason.empty()) return reason;
  // A small read size that follows the log's length, so that across inputs
  // line ends fall at every place relative to the edges of reads.
  const std::size_t smallRead = 1 + logBytes.size() % 16;
  const Conversion piecemeal = Convert(logBytes, smallRead);
  if (std::string reason = CheckConversion(piecemeal, logBytes); !reason.empty())
    return "with reads of " + std::to_string(smallRead) + " bytes: " + reason;
  if (piecemeal.files.at(kKmlPath) != whole.files.at(kKmlPath) ||
      piecemeal.corruptSentences != whole.corruptSentences)
    return "reads of " + std::to_string(smallRead) + " bytes give another output";
  return FollowAndExplain(logBytes, whole);
}

}  // namespace

bool ConvertAndCheck(std::string_view logBytes, std::string* why) {
  std::string reason;
  try {
    reason = ConvertAndExplain(logBytes);
  } catch (const std::exception& error) {
    reason = std::string("exception: ") + error.what();
  }
  if (why != nullptr) *why = reason;
  return reason.empty();
}

}  // namespace ostrevane::fuzz
