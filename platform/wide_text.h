#pragma once

#include <string>
#include <string_view>

// The program keeps text and paths in UTF-8; Windows' wide calls take
// UTF-16. Windows only.
namespace ostrevane::platform {

std::wstring ToWide(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);

}  // namespace ostrevane::platform
