#pragma once

#include <stdexcept>
#include <string>

namespace ostrevane::platform {

// What a file operation was doing when it failed; chooses the wording.
enum class FileAction { Open, Read, Create, Write, Replace, NoFreeNumber, BadNumber };

// A failed file operation. what() is a French sentence for the user that names
// the file and the cause.
class FileError : public std::runtime_error {
 public:
  FileError(FileAction action, const std::string& path, int error);
  FileAction action() const { return action_; }
  int error() const { return error_; }

 private:
  FileAction action_;
  int error_;
};

// The cause of a failure in French: "fichier introuvable", "disque plein"...
std::string FrenchCause(int error);

}  // namespace ostrevane::platform
