#pragma once

#include <string>
#include <string_view>

// The program keeps text and paths in UTF-8; Windows' wide calls take
// UTF-16. Windows only.
namespace ostrevane::os {

std::wstring ToWide(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);

// A UTF-8 path as the wide Win32 calls take it. Beyond MAX_PATH (260) it is
// made absolute in the \\?\ form, which has no such limit.
std::wstring WindowsPath(const std::string& path);
// The same, always absolute, for the calls that take no relative path (a
// rename through an open handle).
std::wstring AbsoluteWindowsPath(const std::string& path);

}  // namespace ostrevane::os
