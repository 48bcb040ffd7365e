#include "os/interrupts.h"

namespace ostrevane::os {

// Windows has none of these signals; what an interrupted program leaves
// there is the file system's to prevent.
void PrepareForInterruption() {}

}  // namespace ostrevane::os
