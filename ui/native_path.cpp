#include "ui/native_path.h"

#include <QFile>

namespace ostrevane::ui {

// Qt's own file-name encoding: UTF-8 on Linux, whatever the locale says.
std::string ToCorePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromCorePath(std::string_view path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

}  // namespace ostrevane::ui
