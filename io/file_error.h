#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "messages/messages.h"

namespace ostrevane::io {

// A failed file operation. what() is a French sentence for the user that names
// the file and the cause.
class FileError : public std::runtime_error {
 public:
  // The cause is `error` (an errno value) in words.
  FileError(messages::FileAction action, const std::string& path, int error);
  // The cause is `cause`, which the program words itself.
  FileError(messages::FileAction action, const std::string& path, int error,
            std::string_view cause);
  int error() const { return error_; }

 private:
  int error_;
};

}  // namespace ostrevane::io
