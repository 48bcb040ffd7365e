#include "ui/qt/native_path.h"

#include <QFile>
#include <QStringList>
#include <QtGlobal>

#include "os/system.h"

namespace ostrevane::ui {

// The core takes paths as the bytes the system's file calls want: Qt's own
// file-name encoding (UTF-8, whatever the locale says).
std::string ToCorePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromCorePath(std::string_view path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string CorePathOfUrl(const QUrl& url) {
  // The URL keeps the name's bytes percent-encoded; decoded here as bytes.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

std::string CorePathFromEnvironment(const char* name) { return qgetenv(name).toStdString(); }

namespace {

// The one entry of `folder` whose name Qt reads as `part`; false when there
// is none, or more than one.
bool EntryReadAs(const std::string& folder, const QString& part, std::string& entry) {
  int matches = 0;
  for (const std::string& name : os::FolderEntries(folder)) {
    if (FromCorePath(name) != part) continue;
    entry = name;
    ++matches;
  }
  return matches == 1;
}

}  // namespace

bool CorePathOfChoice(const QString& chosen, std::string& path) {
  // Bytes that are not UTF-8 are all Qt loses; without them, the path is whole.
  if (!chosen.contains(QChar::ReplacementCharacter)) {
    path = ToCorePath(chosen);
    return true;
  }
  std::string resolved;
  const QStringList parts = chosen.split(u'/');
  for (qsizetype i = 0; i < parts.size(); ++i) {
    if (i > 0) resolved += '/';
    if (!parts[i].contains(QChar::ReplacementCharacter)) {
      resolved += ToCorePath(parts[i]);
      continue;
    }
    std::string entry;
    if (!EntryReadAs(resolved, parts[i], entry)) return false;
    resolved += entry;
  }
  path = resolved;
  return true;
}

}  // namespace ostrevane::ui
