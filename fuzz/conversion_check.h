#pragma once

#include <string>
#include <string_view>

namespace ostrevane::fuzz {

// Converts `logBytes` as a .nmea log held in memory and checks what a
// conversion must give for any bytes at all: the run succeeds without an
// error, the output is the track document with only plain coordinate lines
// between its header and trailer, it holds no more points than the log has
// non-empty lines, nothing else is left behind, and the output is the same
// however the log's reads are cut; a sentence whose checksum is wrong
// changes nothing but the count of corrupt sentences; and a follower fed
// the log in appends of random sizes writes, after each refresh, the
// conversion of the complete lines so far, and at the end that of the whole
// log. Returns false with the
// reason in `why` (when not null) otherwise.
bool ConvertAndCheck(std::string_view logBytes, std::string* why);

}  // namespace ostrevane::fuzz
