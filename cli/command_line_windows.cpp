#include "cli/command_line.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <algorithm>
#include <string_view>

#include "os/wide_text.h"

namespace ostrevane::cli {

namespace {

bool IsPattern(std::wstring_view argument) {
  return argument.find_first_of(L"*?") != std::wstring_view::npos;
}

// The names that `pattern` matches, folder part kept, in name order; none
// when nothing matches. Wildcards count only in the last part.
std::vector<std::string> Matches(const std::wstring& pattern) {
  const std::size_t slash = pattern.find_last_of(L"\\/:");
  const std::wstring folder = pattern.substr(0, slash == std::wstring::npos ? 0 : slash + 1);
  if (IsPattern(folder)) return {};
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return {};
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(os::ToUtf8(folder + found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i) {
    std::vector<std::string> matches =
        IsPattern(wide[i]) ? Matches(wide[i]) : std::vector<std::string>{};
    if (matches.empty()) {
      arguments.push_back(os::ToUtf8(wide[i]));
    } else {
      arguments.insert(arguments.end(), matches.begin(), matches.end());
    }
  }
  LocalFree(wide);
  return arguments;
}

Utf8Console::Utf8Console() : earlierCodePage_(GetConsoleOutputCP()) { SetConsoleOutputCP(CP_UTF8); }

Utf8Console::~Utf8Console() {
  // The console outlives the program: give it back as it was.
  if (earlierCodePage_ != 0) SetConsoleOutputCP(earlierCodePage_);
}

}  // namespace ostrevane::cli
