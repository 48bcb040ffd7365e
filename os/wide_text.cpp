#include "os/wide_text.h"

#include <windows.h>

namespace ostrevane::os {

std::wstring ToWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string ToUtf8(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

namespace {

// `path` made absolute from the current folder, with backslashes and without
// "." or ".."; empty where the system can't say.
std::wstring FullPathName(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
  return full;
}

}  // namespace

std::wstring WindowsPath(const std::string& path) {
  std::wstring wide = ToWide(path);
  if (wide.size() < MAX_PATH || wide.starts_with(L"\\\\?\\")) return wide;
  // The \\?\ form turns the system's own path parsing off: the path must
  // be absolute, with backslashes and without "." or "..", beforehand.
  const std::wstring full = FullPathName(wide);
  if (full.empty()) return wide;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring AbsoluteWindowsPath(const std::string& path) {
  std::wstring wide = WindowsPath(path);
  if (wide.starts_with(L"\\\\?\\")) return wide;
  std::wstring full = FullPathName(wide);
  return full.empty() ? wide : full;
}

}  // namespace ostrevane::os
