#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/conversion_check.h"
#include "fuzz/nmea_checksum.h"
#include "tests/support/temp_folder.h"
#include "tests/support/utf16.h"

namespace ostrevane::fuzz {
namespace {

struct HostileLog {
  const char* name;
  std::string bytes;
};

std::string Repeated(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

using testing::Utf16;

std::string Utf16Le(std::string_view text) {
  return Utf16(std::u16string(text.begin(), text.end()), true);
}

constexpr std::string_view kFix =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

const std::u16string kFix16(kFix.begin(), kFix.end());

std::u16string Repeated(std::u16string_view piece, std::size_t times) {
  std::u16string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

std::vector<HostileLog> HostileLogs() {
  using namespace std::string_literals;
  return {
      {"empty", ""},
      {"only a dollar", "$"},
      {"only commas", std::string(300, ',')},
      {"NUL bytes", std::string(64, '\0')},
      {"NUL bytes inside a sentence after a fix", std::string(kFix) + "$GPRMC,1235\0"s
                                                                      "19,A,48\0"s
                                                                      "07.038,N,011\0"s
                                                                      "31.000,E,,,,,\r\n"},
      {"200 KB without a line end", Repeated("$GPRMC,123519,A,4807.038,N,01131.000,E,", 5300)},
      {"a line of 2 MB, sentences and NUL bytes",
       Repeated(std::string(kFix.substr(0, kFix.size() - 2)) + std::string(70000, '\0'), 30)},
      {"RMC fields of 1e400",
       testing::WithChecksum("$GPRMC,1e400,A,1e400,N,1e400,E,1e400,1e400,1e400,1e400,1e400") +
           "\r\n$GPRMC,123519,A,-1e400,S,1e-400,W,,,,,\r\n"},
      {"CR storms around a fix", std::string(5000, '\r') + std::string(kFix) +
                                     Repeated("\r\r\n\n\r", 2000) + std::string(kFix) + "\r"},
      {"a line of 40000 dollars", std::string(40000, '$') + "\r\n"},
      {"positions off the Earth after a fix",
       std::string(kFix) +
           "$GPRMC,123519,A,36000.0000,N,72000.0000,E,,,,,\r\n"
           "$GPRMC,123519,A,4807.038,N," +
           std::string(300, '9') + ",E,,,,,\r\n"},
      {"digits beyond any double after a fix", std::string(kFix) + "$GPRMC,123519,A," +
                                                   std::string(400, '9') + ",S," +
                                                   std::string(400, '9') + ".5,W,,,,,\r\n"},
      // As many points as lines: the bound is tight, and the last line counts
      // without its line end.
      {"a fix on every line, the last unterminated",
       Repeated(kFix, 3) + std::string(kFix.substr(0, kFix.size() - 2))},
      {"corrupt sentences among sound ones, checksums of either case",
       std::string(kFix) +
           "$GPRMC,123519,A,1807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n" +
           "$GPRMC,123519,A,4807.038,S,01131.000,E,022.4,084.4,230394,003.1,W*6a\r\n" +
           Repeated("$GPRMC,123519,A,4807.038,N,01131.000,E,,,,,*6A", 2000) + "\r\n"},
      // Decoded before it is read: its corrupt sentence is found in the text.
      {"UTF-16 with a corrupt sentence, a pair cut by the end",
       Utf16Le(std::string(kFix) +
               "$GPRMC,123519,A,1807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n") +
           "\x3D\xD8"},
      // The lengths make the follower's first refresh meet the mark's
      // first byte alone.
      {"UTF-16BE whose mark comes in two writes",
       Utf16(u"" + std::u16string(302, u' ') + u"\r\n" + Repeated(kFix16, 3), false)},
      // The lengths make a refresh come right after the character U+0D0A,
      // whose bytes are those of CR and LF, inside a line still unended.
      {"UTF-16LE with CR and LF bytes inside a character",
       Utf16(std::u16string(15, u' ') + u"\r\n" + kFix16 + kFix16.substr(0, kFix16.size() - 2) +
                 u"\u0D0A\r\n" + kFix16,
             true)},
      {"tiny and signed positions",
       "$GPRMC,000000,A,0.00000000000000000000001,N,-0.0000000000000000000001,E,,,,,\n"
       "$GPRMC,235959,A,-4807.038,S,-01131.000,W,,,,,\n"},
  };
}

TEST(ConversionCheck, HostileLogsConvertIntoSoundDocuments) {
  for (const HostileLog& log : HostileLogs()) {
    std::string why;
    EXPECT_TRUE(ConvertAndCheck(log.bytes, &why)) << log.name << ": " << why;
  }
}

// Inputs that the fuzzer or a developer kept: each once broke, or nearly
// broke, a conversion.
TEST(ConversionCheck, KeptInputsConvertIntoSoundDocuments) {
  std::size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(OSTREVANE_FUZZ_INPUTS_DIR)) {
    if (!entry.is_regular_file()) continue;
    std::string why;
    EXPECT_TRUE(ConvertAndCheck(testing::ReadAll(entry.path().string()), &why))
        << entry.path().filename() << ": " << why;
    ++replayed;
  }
  EXPECT_GT(replayed, 0u) << "no kept inputs in " << OSTREVANE_FUZZ_INPUTS_DIR;
}

}  // namespace
}  // namespace ostrevane::fuzz
