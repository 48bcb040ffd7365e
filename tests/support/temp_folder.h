#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace ostrevane::testing {

// Paths in the tests are UTF-8, as in the program; on Windows a plain
// std::string path would be read in the ANSI code page instead.
inline std::filesystem::path Utf8Path(std::string_view text) {
  return std::u8string(text.begin(), text.end());
}

inline std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Removes `path` and everything in it. Windows refuses to delete a read-only
// file, and tests make some: everything is made writable first, or a stale
// folder would meet the next run that gets the same process id.
inline void RemoveTree(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path, ignored);
}

// A fresh folder for one test, removed with everything in it afterwards.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("ostrevane-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    RemoveTree(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { RemoveTree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(std::string_view name) const { return Utf8Text(path_ / Utf8Path(name)); }

  // Writes `bytes` to `name` in the folder and returns its full path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = File(name);
    std::ofstream(Utf8Path(file), std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
    return file;
  }

  // How many entries the folder holds: catches temporary files left behind.
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                  std::filesystem::directory_iterator()));
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& file) {
  std::ifstream in(Utf8Path(file), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace ostrevane::testing
