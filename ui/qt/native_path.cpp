#include "ui/qt/native_path.h"

#include <QFile>
#include <QtGlobal>

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

}  // namespace ostrevane::ui
