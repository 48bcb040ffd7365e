#pragma once

#include <cerrno>
#include <cstddef>

// The loops around reading and writing a file descriptor, the same on every
// system; each system's file passes its own call.
namespace ostrevane::os::detail {

// Calls `read` (which answers a byte count, or -1 with errno set) again
// while a signal interrupts it; `got` is 0 at the end of the file.
template <typename Read>
int ReadRetrying(Read read, std::size_t& got) {
  for (;;) {
    const auto n = read();
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

// Calls write(data, size) until all `size` bytes are written; a call that
// writes nothing means the disk is full.
template <typename Write>
int WriteAll(Write write, const char* data, std::size_t size) {
  while (size > 0) {
    const auto n = write(data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace ostrevane::os::detail
