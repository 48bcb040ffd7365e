#include "io/file_error.h"

namespace ostrevane::io {

FileError::FileError(messages::FileAction action, const std::string& path, int error)
    : FileError(action, path, error, messages::Cause(error)) {}

FileError::FileError(messages::FileAction action, const std::string& path, int error,
                     std::string_view cause)
    : std::runtime_error(messages::FileFailure(action, path, cause)), error_(error) {}

}  // namespace ostrevane::io
