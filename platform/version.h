#pragma once

namespace ostrevane::platform {

// The application's own version numbers.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;

}  // namespace ostrevane::platform
