#pragma once

#include <string_view>

namespace ostrevane::platform {

// The application's own version numbers.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;

// The program's home page, as a bare host name of our own that no one else
// can own: shown in the window and written into every KML file.
inline constexpr std::string_view kHomePage = "ostrevane.local";

}  // namespace ostrevane::platform
