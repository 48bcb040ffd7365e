#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run/conversion_run.h"
#include "run/window.h"
#include "ui/form_layout.h"
#include "ui/win32/form_painter.h"

namespace ostrevane::ui::win32 {

// The program's one window, in plain Win32: a fixed-size tool window laid
// out from the shared table, whose labels, globe and marker are painted by
// the window itself and whose one child window is the owner-drawn green
// button. The conversion run drives it through run::Window.
class Form1 final : public run::Window {
 public:
  explicit Form1(HINSTANCE instance);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window and its button; false when Windows refused.
  bool Create();
  // Shows the window centred on the work area, the button holding the focus.
  void ShowCentred(int showCommand);
  // Converts `path` once the message loop runs, as choosing it in the dialog
  // would; a refused name is said in a message box. For "Open with" and
  // drops.
  void ConvertOnStart(std::wstring path);
  // Hands `message` to the window's keyboard handling (Tab, Enter) or to its
  // window procedure. Every message loop of the program goes through here.
  void Dispatch(MSG& message);

  // run::Window, for the conversion run.
  std::optional<std::string> ChooseLog() override;
  void RunStarted() override;
  void LineCountChanged(std::int64_t lineCount) override;
  void RunFinished() override;
  void ProcessEvents() override;
  bool StopRequested() override;
  void ReportError(std::string_view message) override;
  void ReportNotice(std::string_view message) override;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Painting, the button and the mouse; the rest goes to HandleWindowMessage.
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The window as a whole: activation, closing, and the logs handed to it
  // from outside (a command line, a drop).
  LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool RegisterWindowClass() const;
  bool CreateButton();

  void OnPaint();
  void OnCommand(int id);
  bool OnSetCursor(LPARAM lParam);
  void OnMouseDown(POINT point);
  void OnMouseUp(POINT point);
  void OnClose();
  // WM_DROPFILES: `drop` is the HDROP of the files dropped on the window.
  void OnDropFiles(WPARAM drop);
  void ConvertNamedLog();
  void Reveal(form::Moment moment);
  void ShowMessage(std::string_view title, std::string_view message, UINT icon);

  const form::ControlLayout* ControlUnder(POINT point) const;
  void OpenWithShell(const std::wstring& path) const;
  void OpenKmlFile() const;
  void OpenKmlFolder() const;

  HINSTANCE instance_;
  double dpi_;
  HWND window_ = nullptr;
  HWND button_ = nullptr;
  FormPainter painter_;
  form::Shown shown_ = form::ShownAtStart();
  std::wstring countCaption_;
  // The log named on the command line, converted once the loop runs.
  std::wstring namedLog_;
  // The clickable control that the left button went down on.
  const form::ControlLayout* pressed_ = nullptr;
  bool closeRequested_ = false;

  // Last, so that the window it drives exists while it does.
  run::ConversionRun run_;
};

}  // namespace ostrevane::ui::win32
