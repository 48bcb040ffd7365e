#pragma once

#include <string>
#include <string_view>

namespace ostrevane::run {

// The controls that a conversion run reveals.
enum class Control { Label1, LblNbrPoints, Label3, Label5, Label8, Image1, Shape1 };

// What a conversion run needs of the window: the file-open dialog, showing
// controls, the running count, the event pump and a way to report a failure.
// The real window implements it with Qt; tests and the command line with
// plain objects.
class Window {
 public:
  virtual ~Window() = default;

  // The file-open dialog.
  virtual void SetDialogFilter(std::string_view filter) = 0;
  virtual void ShowOpen() = 0;
  // The chosen file's full path, or "" when nothing was chosen.
  virtual std::string DialogFileName() = 0;

  virtual void ShowControl(Control control) = 0;
  virtual void SetCountCaption(std::string_view caption) = 0;
  // Lets the window handle all pending events, then returns.
  virtual void ProcessEvents() = 0;
  // True once the user has asked to stop, for instance by closing the window.
  virtual bool StopRequested() { return false; }
  // Tells the user that the run failed; `message` is a French sentence.
  virtual void ReportError(std::string_view message) = 0;
  // Tells the user something worth knowing about a run that succeeded (a
  // log without a single position); `message` is a French sentence. By
  // default the window says nothing.
  virtual void ReportNotice(std::string_view /*message*/) {}
};

}  // namespace ostrevane::run
