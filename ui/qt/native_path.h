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
// The bytes of the path that Qt's file dialog answered as `chosen`. Qt reads
// names as UTF-8 and turns bytes that are not (an old Latin-1 name) into
// U+FFFD, which no longer names the file. Each part of the path that holds
// one is looked for among the entries of its folder: the one entry that Qt
// reads as that part gives its bytes. False where no entry, or more than one,
// reads so: the dialog's answer can't say which file was chosen.
bool CorePathOfChoice(const QString& chosen, std::string& path);

}  // namespace ostrevane::ui
