#pragma once

#include <string>
#include <string_view>

// The core keeps text and paths in UTF-8; Win32's wide calls take UTF-16.
namespace ostrevane::ui::win32 {

std::wstring ToWide(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);

}  // namespace ostrevane::ui::win32
