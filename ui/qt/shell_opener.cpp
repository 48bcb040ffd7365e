#include "ui/qt/shell_opener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>
#include <utility>

namespace ostrevane::ui {

namespace {

#if defined(Q_OS_LINUX) || defined(Q_OS_MACOS)
#ifdef Q_OS_MACOS
constexpr char kOpenCommand[] = "open";
#else
constexpr char kOpenCommand[] = "xdg-open";
#endif

// Runs the desktop's open command and waits for its verdict without
// blocking: Qt's own opener only says whether the command started, not
// whether it found an application.
class DesktopOpener final : public ShellOpener {
 public:
  void Open(const QString& path, Failed failed) override {
    if (path.isEmpty()) return;
    // Unparented: the command may outlive the window (xdg-open waits for the
    // viewer on some desktops), and must not be killed with it.
    auto* command = new QProcess;
    command->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(command, &QProcess::finished, command,
                     [command, failed](int status, QProcess::ExitStatus how) {
                       if ((how != QProcess::NormalExit || status != 0) && failed)
                         failed(Failure::NoApplication);
                       command->deleteLater();
                     });
    QObject::connect(command, &QProcess::errorOccurred, command,
                     [command, failed](QProcess::ProcessError error) {
                       if (error != QProcess::FailedToStart) return;
                       if (failed) failed(Failure::NoOpener);
                       command->deleteLater();
                     });
    command->start(QString::fromLatin1(kOpenCommand), {path});
    command->closeWriteChannel();
  }
};
#else
class DesktopOpener final : public ShellOpener {
 public:
  void Open(const QString& path, Failed failed) override {
    if (path.isEmpty()) return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)) && failed)
      failed(Failure::NoApplication);
  }
};
#endif

}  // namespace

ShellOpener& DesktopShellOpener() {
  static DesktopOpener opener;
  return opener;
}

}  // namespace ostrevane::ui
