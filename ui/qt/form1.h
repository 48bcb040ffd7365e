#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/conversion_run.h"
#include "run/window.h"
#include "ui/form_layout.h"
#include "ui/qt/shell_opener.h"
#include "ui/qt/twips.h"

class QMimeData;

namespace ostrevane::ui {

class FileDialog;
class FormLabel;
class GraphicalButton;

// Tells the user something, in a window owned by `owner`: that a conversion
// failed, or something worth knowing about one.
using Notice = std::function<void(QWidget* owner, const QString& message)>;

// Form1 and its controls' object names are the design's (README, "Names and shapes from the
// design").
//
// The program's one window: a button that converts a chosen log, a running
// line count, the end-of-run line and two items that hand the KML file and
// its folder to the desktop. Laid out in twips and points so that it keeps
// its proportions at any screen resolution.
class Form1 : public QWidget, public run::Window {
  Q_OBJECT
 public:
  // What the window talks to; left empty, the computer's own.
  struct Services {
    FileDialog* dialog = nullptr;
    ShellOpener* opener = nullptr;
    // Tells the user that a conversion failed; by default an error box.
    Notice errorNotice;
    // Tells the user something worth knowing about a finished conversion;
    // by default an information box.
    Notice infoNotice;
    // Tells the user that the desktop has no application for KML files, or
    // no opener at all.
    Notice noViewerNotice;
    // Tells the user that the desktop could not open the KML file's folder.
    Notice noFolderViewerNotice;
    run::ConversionRun::Services run;
    // The logical DPI to lay the window out for; 0 takes the screen's.
    double dpiX = 0.0;
    double dpiY = 0.0;
  };

  Form1();
  explicit Form1(Services services);
  ~Form1() override;

  // Shows the window, frame included, centred on its screen and out of the
  // taskbar, the button holding the focus.
  void ShowCentred();

  // Converts a log named without the dialog (dropped, or named to the
  // program when it started, as "Open with" does), given as the bytes of its
  // name (see native_path.h); a refused name is said in an error box.
  // Refused too while a conversion is running.
  run::ConversionRun::Outcome ConvertNamedLog(const std::string& path);
  // The logs named to the program: the window converts one at a time, so
  // the names after the first are refused in one error box, then the first
  // is converted. `paths` is not empty.
  run::ConversionRun::Outcome ConvertNamedLogs(const std::vector<std::string>& paths);

  const run::ConversionRun& Run() const { return run_; }

  // What assistive technology reads in place of one of the window's
  // controls: the count together with its title, as one thing; nothing at
  // all (nullptr) for the one-pixel strip and the red marker, which say
  // nothing; any other control itself.
  QWidget* AccessibleStandIn(QWidget* control) const;

  // run::Window, for the conversion run.
  std::optional<std::string> ChooseLog() override;
  void RunStarted() override;
  void LineCountChanged(std::int64_t lineCount) override;
  void RunFinished() override;
  void ProcessEvents() override;
  bool StopRequested() override;
  void ReportError(std::string_view message) override;
  void ReportNotice(std::string_view message) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void SetUpWindow();
  QWidget* CreateControl(const form::ControlLayout& layout);
  void CreateControls();
  void ConnectActions();
  void SetUpKeyboardAndNames();
  QWidget* Control(form::ControlId id) const;
  void Reveal(form::Moment moment);
  // Gives the keyboard back to the window, and with it the focus to the
  // control that had it, once a dialog or message box over it has closed.
  void TakeKeyboardBack();
  QFont WindowFont(form::Font design) const;
  // The one local log path of a drag, or "" when the drag carries anything else.
  std::string DroppedLog(const QMimeData* data) const;
  QString KmlPath() const;
  void OpenKmlFile();
  void ReportNoViewer(const QString& kmlPath, ShellOpener::Failure failure);
  void OpenKmlFolder();
  void ReportNoFolderViewer(const QString& folder, ShellOpener::Failure failure);

  TwipScale scale_;
  FileDialog& dialog_;
  ShellOpener& opener_;
  Notice errorNotice_;
  Notice infoNotice_;
  Notice noViewerNotice_;
  Notice noFolderViewerNotice_;
  QPixmap background_;
  bool closeRequested_ = false;

  // Indexed by form::ControlId; children of the window, which deletes them.
  std::array<QWidget*, form::kControlCount> controls_{};
  GraphicalButton* chooseButton_ = nullptr;
  FormLabel* count_ = nullptr;
  // The count the window shows, once a run has shown one.
  std::optional<std::int64_t> shownCount_;

  // Last, so that the controls it drives exist while it does.
  run::ConversionRun run_;
};

}  // namespace ostrevane::ui
