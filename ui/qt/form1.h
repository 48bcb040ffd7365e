#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "run/conversion_run.h"
#include "run/window.h"
#include "ui/form_layout.h"
#include "ui/qt/twips.h"

class QMimeData;

namespace ostrevane::ui {

class FileDialog;
class FormLabel;
class GraphicalButton;
class IconImage;
class MarkerShape;
class ShellOpener;

// Tells the user, in a window owned by `owner`, that a conversion failed.
using ErrorNotice = std::function<void(QWidget* owner, const QString& message)>;

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
    ErrorNotice errorNotice;
    // Tells the user something worth knowing about a finished conversion;
    // by default an information box.
    ErrorNotice infoNotice;
    // Tells the user that the desktop has no application for KML files.
    ErrorNotice noViewerNotice;
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

  // Converts `path` as choosing it in the dialog would, name test included;
  // Refused when the name is refused or a conversion is already running.
  run::ConversionRun::Outcome ConvertFile(const QString& path);
  // The same for a path given as the bytes of its name (see native_path.h).
  run::ConversionRun::Outcome ConvertCorePath(const std::string& path);
  // Converts a log named to the program when it started ("Open with"): as
  // ConvertFile, from the absolute path, and tells the user why a refused
  // name is refused, since no dialog filtered it.
  run::ConversionRun::Outcome ConvertNamedFile(const std::string& path);

  const run::ConversionRun& Run() const { return run_; }

  // run::Window, for the conversion run.
  void SetDialogFilter(std::string_view filter) override;
  void ShowOpen() override;
  std::string DialogFileName() override;
  void ShowControl(run::Control control) override;
  void SetCountCaption(std::string_view caption) override;
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
  QWidget* Control(form::ControlId id) const;
  QFont WindowFont(form::Font design) const;
  // The one local log path of a drag, or "" when the drag carries anything else.
  std::string DroppedLog(const QMimeData* data) const;
  QString KmlPath() const;
  void OpenKmlFile();
  void ReportNoViewer(const QString& kmlPath);
  void OpenKmlFolder();

  TwipScale scale_;
  FileDialog& dialog_;
  ShellOpener& opener_;
  ErrorNotice errorNotice_;
  ErrorNotice infoNotice_;
  ErrorNotice noViewerNotice_;
  QPixmap background_;
  std::string dialogFilter_;
  std::string dialogFileName_;
  bool closeRequested_ = false;

  // Indexed by form::ControlId; children of the window, which deletes them.
  std::array<QWidget*, form::kControlCount> controls_{};
  GraphicalButton* cmdOuvrefich_ = nullptr;
  FormLabel* lblNbrPoints_ = nullptr;

  // Last, so that the controls it drives exist while it does.
  run::ConversionRun run_;
};

}  // namespace ostrevane::ui
