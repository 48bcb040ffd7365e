#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "run/conversion_run.h"
#include "run/window.h"
#include "ui/form_layout.h"
#include "ui/win32/form_painter.h"
#include "ui/win32/live_region.h"

namespace ostrevane::ui::win32 {

// The program's one window, in plain Win32: a fixed-size tool window laid
// out from the shared table and painted by the window itself. The controls
// that the keyboard or a screen reader reach are child windows drawn by the
// same painter, pixel for pixel: the green button, the globe and the folder
// line (owner-drawn buttons, in that Tab order), the count's row and the
// banner (owner-drawn statics, whose window text is what a screen reader
// reads). The conversion run drives it through run::Window. Form1 is the
// design's name for the window (README, "Names and shapes from the design").
class Form1 final : public run::Window {
 public:
  explicit Form1(HINSTANCE instance);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window and its child windows; false when Windows refused.
  bool Create();
  // Shows the window centred on the work area, the button holding the focus.
  void ShowCentred(int showCommand);
  // Converts `path` once the message loop runs, as choosing it in the dialog
  // would; a refused name is said in a message box. For "Open with" and
  // drops.
  void ConvertOnStart(std::wstring path);
  // Hands `message` to the window's keyboard handling (Tab, arrows, Enter) or
  // to its window procedure. Every message loop of the program goes through
  // here.
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
  static LRESULT CALLBACK ButtonProcedure(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR subclass, DWORD_PTR form);
  // Painting, the button and the mouse; the rest goes to HandleWindowMessage.
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The window as a whole: activation, closing, and the logs handed to it
  // from outside (a command line, a drop).
  LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool RegisterWindowClass() const;
  bool CreateChildren();
  HWND Child(form::ControlId id) const;

  void OnPaint();
  void OnDrawItem(const DRAWITEMSTRUCT& item) const;
  void PaintFormPart(HDC target, const RECT& area) const;
  RECT FocusRingArea(HWND child) const;
  void OnCommand(int id);
  LRESULT DefaultButtonId() const;
  void ShowFocusRings();
  void GiveFocusBack() const;
  bool OnSetCursor(LPARAM lParam);
  void OnMouseDown(POINT point);
  void OnMouseUp(POINT point);
  void OnClose();
  void OnDestroy();
  // WM_DROPFILES: `drop` is the HDROP of the files dropped on the window.
  void OnDropFiles(WPARAM drop);
  void ConvertNamedLog();
  void Reveal(form::Moment moment);
  void AnnounceEnd() const;
  void ShowMessage(std::string_view title, std::string_view message, UINT icon);

  const form::ControlLayout* ControlUnder(POINT point) const;
  void OpenWithShell(const std::wstring& path) const;
  void OpenKmlFile() const;
  void OpenKmlFolder() const;

  HINSTANCE instance_;
  double dpi_;
  HWND window_ = nullptr;
  // The child windows, by control; null for the controls that are only
  // painted.
  std::array<HWND, form::kControlCount> children_{};
  FormPainter painter_;
  form::Shown shown_ = form::ShownAtStart();
  std::wstring countCaption_;
  // The count that the window shows; -1 before the first.
  std::int64_t lineCount_ = -1;
  // The banner, as the news of a finished run.
  std::unique_ptr<LiveRegion> banner_;
  // The button that has, or last had, the keyboard focus: it gets it back
  // when the window gets the keyboard again.
  HWND focused_ = nullptr;
  // Until the keyboard moves the focus (Tab or an arrow), only the green
  // button shows its focus, in the system's dotted ring, as it always did;
  // from then on every focused button shows a solid ring. The window keeps
  // this itself: Wine never reports the system's own setting.
  bool keyboardUsed_ = false;
  // The log named on the command line, converted once the loop runs.
  std::wstring namedLog_;
  // The clickable control that the left button went down on.
  const form::ControlLayout* pressed_ = nullptr;
  bool closeRequested_ = false;

  // Last, so that the window it drives exists while it does.
  run::ConversionRun run_;
};

}  // namespace ostrevane::ui::win32
