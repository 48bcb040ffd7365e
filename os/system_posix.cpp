#include "os/system.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace ostrevane::os {

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool ProcessRuns(unsigned long processId) {
  const auto id = static_cast<pid_t>(processId);
  if (id <= 0 || static_cast<unsigned long>(id) != processId) return false;
  // EPERM: it runs, as another user.
  return ::kill(id, 0) == 0 || errno == EPERM;
}

bool ToLocalTime(std::time_t time, std::tm& local) {
  return ::localtime_r(&time, &local) != nullptr;
}

std::size_t LastSeparator(std::string_view path) { return path.rfind('/'); }

bool NamesIgnoreCase() { return false; }

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  char folder[PATH_MAX];
  if (::getcwd(folder, sizeof folder) == nullptr) return path;
  // The bytes of the name are kept as they are, whatever their encoding.
  std::string absolute = folder;
  if (absolute.back() != '/') absolute += '/';
  return absolute + path;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* entries = ::opendir(folder.empty() ? "." : folder.c_str());
  if (entries == nullptr) return names;
  while (const dirent* entry = ::readdir(entries)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(entries);
  return names;
}

}  // namespace ostrevane::os
