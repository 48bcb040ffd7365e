#pragma once

#include <string>
#include <string_view>

namespace ostrevane::testing {

// `text` as a Windows tool writes it in UTF-16: its byte-order mark first.
inline std::string Utf16(std::u16string_view text, bool littleEndian) {
  std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += littleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

}  // namespace ostrevane::testing
