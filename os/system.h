#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The small services of the operating system that the rest of the program
// needs, each answered in the one file of each system.
namespace ostrevane::os {

// The running program's process number, which keeps its temporary names
// apart from those of other programs.
unsigned long ProcessId();
// Whether a process of that number runs (or may: yes where the system can't
// tell).
bool ProcessRuns(unsigned long processId);

// `time` in the computer's local zone; false where the system cannot say.
bool ToLocalTime(std::time_t time, std::tm& local);

// Where the last folder separator of `path` is ("/", and "\" too on
// Windows), or npos for a bare name.
std::size_t LastSeparator(std::string_view path);

// Whether the system takes two names that differ only by the case of their
// letters for the same name: Windows, in its dialogs, its file types and its
// file systems, yes; POSIX systems, whose file managers tell file types by
// the exact name, no.
bool NamesIgnoreCase();

// `path` made absolute from the current folder, so that it names the same
// file whatever folder the program later works in; `path` itself when it is
// empty or the system cannot say.
std::string AbsolutePath(const std::string& path);

// The names of the entries of `folder` ("" for the current one), as the
// bytes the system gives them, whatever their encoding, "." and ".." left
// out; none where the folder can't be read. On Windows, the names in UTF-8.
std::vector<std::string> FolderEntries(const std::string& folder);

}  // namespace ostrevane::os
