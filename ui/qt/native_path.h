#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace ostrevane::ui {

// Paths cross between the window (QString) and the conversion core
// (std::string of the bytes the operating system uses for file names).
std::string ToCorePath(const QString& path);
QString FromCorePath(std::string_view path);

}  // namespace ostrevane::ui
