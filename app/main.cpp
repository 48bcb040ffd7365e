// The window program: shows the converter's window and ends when it closes.
// `ostrevane FICHIER.nmea` (a desktop's "Open with") converts that log at
// once, as if it had been chosen in the dialog; without an argument the
// window waits for the button. Qt's own options such as -platform are still
// understood.
//
// For benchmarks, OSTREVANE_AUTORUN=<path of a .nmea log> makes the window
// convert that log as soon as it shows, print "<seconds> s" to stderr and end
// the program: status 0 when the log was converted, 1 otherwise. A failure,
// a refused name or a log without positions is then printed instead of being
// shown in a message box.

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "messages/messages.h"
#include "ui/qt/form1.h"
#include "ui/qt/native_path.h"

namespace {

using ostrevane::ui::Form1;

// Messages that Qt gives while it connects to the display. Without a display
// Qt ends with a fatal message and an abort; the user gets one clear line and
// an exit status instead. Once the display is open, the messages held back
// go out as usual.
std::vector<std::pair<QtMsgType, QString>> heldMessages;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& /*context*/,
                           const QString& message) {
  if (type == QtFatalMsg) {
    std::fwrite(ostrevane::messages::kNoDisplay.data(), 1, ostrevane::messages::kNoDisplay.size(),
                stderr);
    std::fputs("\n", stderr);
    std::_Exit(1);
  }
  heldMessages.emplace_back(type, message);
}

void ReleaseHeldMessages() {
  qInstallMessageHandler(nullptr);
  for (const auto& [type, message] : heldMessages) {
    qt_message_output(type, QMessageLogContext(), message);
  }
  heldMessages.clear();
}

// The standard dialogs (the open-file dialog above all) speak French, as the
// window does, whatever the user's language.
void InstallFrenchTranslations(QApplication& app, QTranslator& translator) {
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  if (translator.load(QStringLiteral("qtbase_fr"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    app.installTranslator(&translator);
  }
}

void PrintToStderr(const QString& text) { std::fputs(text.toLocal8Bit().constData(), stderr); }

// OSTREVANE_AUTORUN: converts the log once the window shows, then quits.
// The path is taken as the bytes of its name, as the command line takes it.
void ScheduleAutorun(Form1& form, const std::string& path) {
  QTimer::singleShot(0, &form, [&form, path] {
    QElapsedTimer timer;
    timer.start();
    const auto outcome = form.ConvertNamedLog(path);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    PrintToStderr(QString::number(seconds, 'f', 3) + QStringLiteral(" s\n"));
    QCoreApplication::exit(outcome == ostrevane::run::ConversionRun::Outcome::Converted ? 0 : 1);
  });
}

// The logs named on the command line, converted once the window shows (the
// first; the window says that the others are not). Their names are taken as
// bytes, as the file system gives them: QApplication has already taken its
// own options out of argv.
void ScheduleNamedLogs(Form1& form, int argc, char** argv) {
  if (argc < 2) return;
  const std::vector<std::string> paths(argv + 1, argv + argc);
  QTimer::singleShot(0, &form, [&form, paths] { form.ConvertNamedLogs(paths); });
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(StartupMessageHandler);
  QApplication app(argc, argv);
  ReleaseHeldMessages();

  QApplication::setApplicationName(QStringLiteral("ostrevane"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ostrevane/ostrevane-32.png")));
  QTranslator translator;
  InstallFrenchTranslations(app, translator);

  const std::string autorunPath = ostrevane::ui::CorePathFromEnvironment("OSTREVANE_AUTORUN");
  const bool autorun = !autorunPath.empty();
  Form1::Services services;
  if (autorun) {
    services.errorNotice = [](QWidget*, const QString& message) {
      PrintToStderr(message + QStringLiteral("\n"));
    };
    services.infoNotice = services.errorNotice;
  }
  Form1 form(std::move(services));
  form.ShowCentred();
  if (autorun)
    ScheduleAutorun(form, autorunPath);
  else
    ScheduleNamedLogs(form, argc, argv);
  return app.exec();
}
