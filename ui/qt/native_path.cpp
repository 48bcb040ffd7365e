#include "ui/qt/native_path.h"

#include <QFile>
#include <QtGlobal>

namespace ostrevane::ui {

// The core takes paths as the bytes the system's file calls want: Qt's own
// file-name encoding on POSIX (UTF-8, whatever the locale says), and UTF-8 on
// Windows, where the core widens them for the wide-character file calls.
std::string ToCorePath(const QString& path) {
#ifdef _WIN32
  return path.toUtf8().toStdString();
#else
  return QFile::encodeName(path).toStdString();
#endif
}

QString FromCorePath(std::string_view path) {
  const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
#ifdef _WIN32
  return QString::fromUtf8(bytes);
#else
  return QFile::decodeName(bytes);
#endif
}

std::string CorePathOfUrl(const QUrl& url) {
#ifdef _WIN32
  return ToCorePath(url.toLocalFile());
#else
  // The URL keeps the name's bytes percent-encoded; decoded here as bytes.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
#endif
}

std::string CorePathFromEnvironment(const char* name) {
#ifdef _WIN32
  return ToCorePath(qEnvironmentVariable(name));
#else
  return qgetenv(name).toStdString();
#endif
}

}  // namespace ostrevane::ui
