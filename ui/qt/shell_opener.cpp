#include "ui/qt/shell_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace ostrevane::ui {

namespace {

class DesktopOpener final : public ShellOpener {
 public:
  void Open(const QString& path) override {
    if (path.isEmpty()) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  }
};

}  // namespace

ShellOpener& DesktopShellOpener() {
  static DesktopOpener opener;
  return opener;
}

}  // namespace ostrevane::ui
