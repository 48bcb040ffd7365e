#include "os/system.h"

#include <windows.h>

#include <vector>

#include "os/wide_text.h"

namespace ostrevane::os {
namespace {

// Long enough for any path that Windows itself accepts.
constexpr DWORD kLongestPath = 32768;

}  // namespace

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool ToLocalTime(std::time_t time, std::tm& local) { return localtime_s(&local, &time) == 0; }

std::size_t LastSeparator(std::string_view path) { return path.find_last_of("/\\"); }

bool NamesIgnoreCase() { return true; }

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  const std::wstring wide = ToWide(path);
  std::vector<wchar_t> absolute(kLongestPath, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), kLongestPath, absolute.data(), nullptr);
  return length > 0 && length < kLongestPath ? ToUtf8(absolute.data()) : path;
}

}  // namespace ostrevane::os
