#pragma once

#include <string>
#include <string_view>

namespace ostrevane::testing {

// The checksum of a sentence's body, the text between its "$" and its "*":
// the XOR of every byte, worked out byte by byte.
inline unsigned ChecksumOf(std::string_view body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  return sum;
}

// `sentence` ("$GPRMC,..." up to its last field, its "$" optional) followed
// by "*" and its checksum in two upper-case hexadecimal digits, as a receiver
// sends it. Every test sentence that is built or edited gets its checksum here.
inline std::string WithChecksum(std::string_view sentence) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const unsigned sum = ChecksumOf(sentence.starts_with('$') ? sentence.substr(1) : sentence);
  std::string checked(sentence);
  checked += '*';
  checked += kHex[sum >> 4];
  checked += kHex[sum & 0xF];
  return checked;
}

}  // namespace ostrevane::testing
