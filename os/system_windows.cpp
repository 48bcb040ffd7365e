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

bool ProcessRuns(unsigned long processId) {
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

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

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const std::wstring pattern = WindowsPath(folder.empty() ? std::string(".\\*") : folder + "\\*");
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(ToUtf8(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

}  // namespace ostrevane::os
