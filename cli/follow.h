#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run/window.h"

namespace ostrevane::cli {

// ostrevane-convert --suivre: follows each named log while it is written,
// until the user asks to stop (Ctrl-C, SIGTERM, SIGHUP, or closing the
// console on Windows); `window` hears every message. Prints the path of each
// KML file and of its companion once, with which to open in a viewer.
// Answers the program's exit status: 0 when every log was followed and its
// last KML file written, 1 otherwise.
int FollowLogs(const std::vector<std::string>& names, double intervalSeconds, run::Window& window);

// Reads the value of --intervalle: digits, optionally a "." and digits, at
// least 0.1 and at most a day. False when it is not.
bool ReadInterval(std::string_view text, double& seconds);

inline constexpr double kDefaultIntervalSeconds = 1.0;

}  // namespace ostrevane::cli
