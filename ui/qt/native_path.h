#pragma once

#include <QString>
#include <QUrl>
#include <string>
#include <string_view>

namespace ostrevane::ui {

// Paths cross between the window (QString) and the conversion core
// (std::string of the bytes the operating system uses for file names).
std::string ToCorePath(const QString& path);
QString FromCorePath(std::string_view path);
// The path of a local file's URL, as the bytes of its name: a name that is
// not valid UTF-8 (an old Latin-1 name) keeps its bytes, which a QString
// would lose.
std::string CorePathOfUrl(const QUrl& url);
// The path held by an environment variable, its bytes kept likewise.
std::string CorePathFromEnvironment(const char* name);

}  // namespace ostrevane::ui
