#pragma once

// The files that an interrupted program must remove, shared by the portable
// registry and each system's own way of hearing of the interruption.
namespace ostrevane::os::detail {

// Calls `remove` with the path of every file registered now. Safe in a signal
// handler: it reads lock-free atomics only.
void RemoveRegistered(void (*remove)(const char* path));

}  // namespace ostrevane::os::detail
