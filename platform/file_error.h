#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrevane::platform {

// What a file operation was doing when it failed; chooses the wording.
enum class FileAction {
  Open,
  Read,
  Create,
  // Creating the file failed because its folder may not be written to.
  CreateInFolder,
  Write,
  Replace,
  NoFreeNumber,
  BadNumber
};

// A failed file operation. what() is a French sentence for the user that names
// the file and the cause.
class FileError : public std::runtime_error {
 public:
  // `folder`: the folder in question for CreateInFolder.
  FileError(FileAction action, const std::string& path, int error, const std::string& folder = {});
  FileAction action() const { return action_; }
  int error() const { return error_; }

 private:
  FileAction action_;
  int error_;
};

// The cause of a failure in French: "fichier introuvable", "disque plein"...
// always in words, never a bare number.
std::string FrenchCause(int error);

// A file's name between French quotes, as every message shows it. Control
// characters (a newline in a name...) are shown escaped, as \n or \x1B, so
// that a message stays one line and shows what the name holds.
std::string QuotedName(std::string_view name);

}  // namespace ostrevane::platform
