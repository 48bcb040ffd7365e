#include "os/file_system.h"

#include <algorithm>
#include <memory>

namespace ostrevane::os {

int FileSystem::CopyRange(Handle from, Handle to, std::uint64_t length) {
  constexpr std::size_t kPiece = 64 * 1024;
  const auto piece = std::make_unique<char[]>(kPiece);
  while (length > 0) {
    std::size_t got = 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, kPiece));
    if (int error = Read(from, piece.get(), wanted, got); error != 0) return error;
    if (got == 0) return EIO;
    if (int error = Write(to, piece.get(), got); error != 0) return error;
    length -= got;
  }
  return 0;
}

}  // namespace ostrevane::os
