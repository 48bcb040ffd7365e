#include "ui/win32/form1.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <memory>
#include <vector>

#include "messages/messages.h"
#include "os/wide_text.h"
#include "ui/win32/button_accessible.h"
#include "ui/win32/gdi.h"
#include "ui/win32/resource.h"

namespace ostrevane::ui::win32 {

using os::ToUtf8;
using os::ToWide;

namespace {

using form::ControlId;

constexpr wchar_t kClassName[] = L"OstrevaneForm1";
// A fixed-size tool window: a narrow caption with a close button only, no
// taskbar entry.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW;
// The green button is the window's default push button: Enter arrives from
// IsDialogMessage as IDOK unless another button has the focus; Space and the
// mouse come as the button's own click.
constexpr int kButtonId = IDOK;
constexpr int kGlobeId = 101;
constexpr int kFolderId = 102;
constexpr int kCountId = 103;
constexpr int kBannerId = 104;

// The controls that are child windows, made in this order, which is also
// the order of Tab and of the arrows among the buttons. The count's window
// covers its title too, so that both read as one. Statics take no focus.
struct ChildControl {
  ControlId id;
  const wchar_t* windowClass;
  DWORD style;
  int commandId;
};
constexpr std::array<ChildControl, 5> kChildControls{{
    {ControlId::ChooseButton, L"BUTTON", WS_TABSTOP | WS_GROUP | BS_OWNERDRAW, kButtonId},
    {ControlId::Globe, L"BUTTON", WS_TABSTOP | BS_OWNERDRAW, kGlobeId},
    {ControlId::FolderLine, L"BUTTON", WS_TABSTOP | BS_OWNERDRAW, kFolderId},
    {ControlId::Count, L"STATIC", WS_GROUP | SS_OWNERDRAW, kCountId},
    {ControlId::Banner, L"STATIC", SS_OWNERDRAW, kBannerId},
}};
// Posted to the window to convert the log named on the command line once
// the message loop runs.
constexpr UINT kConvertNamedLog = WM_APP + 1;
// Long enough for any path that Windows itself accepts.
constexpr DWORD kLongestPath = 32768;

// The window hands the KML file's path to the shell long after the run: its
// logs are converted from their absolute paths.
run::ConversionRun::Services WithAbsoluteNames() {
  run::ConversionRun::Services services;
  services.absoluteNames = true;
  return services;
}

double ScreenDpi() {
  const ScreenDc screen(GetDC(nullptr));
  const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : 96.0;
}

// "Name|*.a;*.b|..." as GetOpenFileName wants it: pairs separated and ended
// by nulls.
std::wstring OpenFileFilter(std::string_view filter) {
  std::wstring wide = ToWide(filter);
  for (wchar_t& character : wide) {
    if (character == L'|') character = L'\0';
  }
  wide.push_back(L'\0');
  return wide;
}

// The folder that holds `file`, as the shell names it: C:\Traces for
// C:\Traces\a.kml, and the drive's root, separator kept, for C:\a.kml.
std::wstring FolderOf(const std::wstring& file) {
  const std::size_t separator = file.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  const bool isRoot = separator == 0 || file[separator - 1] == L':';
  return file.substr(0, isRoot ? separator + 1 : separator);
}

// The index that asks DragQueryFileW for the number of files dropped.
constexpr UINT kNumberOfFiles = 0xFFFFFFFF;

// The names of a drop, handed back to the system once read.
using Drop = Owned<HDROP, DragFinish>;

// The one file that a drop brings, or "" when it brings several.
std::wstring DroppedFile(const Drop& drop) {
  if (DragQueryFileW(drop.get(), kNumberOfFiles, nullptr, 0) != 1) return {};
  std::wstring name(DragQueryFileW(drop.get(), 0, nullptr, 0), L'\0');
  DragQueryFileW(drop.get(), 0, name.data(), static_cast<UINT>(name.size() + 1));
  return name;
}

RECT ToRect(const form::PixelRect& pixels) {
  return {pixels.left, pixels.top, pixels.left + pixels.width, pixels.top + pixels.height};
}

std::size_t Index(ControlId id) { return static_cast<std::size_t>(id); }

// What a screen reader reads of a child window before any run.
std::string NameAtStart(ControlId id) {
  switch (id) {
    case ControlId::Globe:
      return std::string(messages::kOpenKmlFileName);
    case ControlId::FolderLine:
      return std::string(messages::kOpenKmlFolderName);
    case ControlId::Count: {
      // The title alone, as it shows before a count: "Nombres de points:".
      std::string title = form::Caption(ControlId::CountTitle);
      return title.substr(0, title.find_last_not_of(' ') + 1);
    }
    default:
      return form::Caption(id);
  }
}

// Tab and the arrows move the focus; they are the keyboard user's sign.
bool MovesFocus(const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  return message.wParam == VK_TAB || message.wParam == VK_LEFT || message.wParam == VK_RIGHT ||
         message.wParam == VK_UP || message.wParam == VK_DOWN;
}

}  // namespace

Form1::Form1(HINSTANCE instance)
    : instance_(instance),
      dpi_(ScreenDpi()),
      painter_(instance, dpi_),
      run_(*this, WithAbsoluteNames()) {}

Form1::~Form1() {
  if (window_) DestroyWindow(window_);
}

bool Form1::RegisterWindowClass() const {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_PROGRAM));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool Form1::Create() {
  if (!RegisterWindowClass()) return false;
  RECT frame{0, 0, form::TwipsToPixels(form::kClientWidth, dpi_),
             form::TwipsToPixels(form::kClientHeight, dpi_)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const std::wstring caption = ToWide(form::kCaption);
  window_ = CreateWindowExW(kExStyle, kClassName, caption.c_str(), kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance_, this);
  if (!window_ || !CreateChildren()) return false;
  // A log dropped from the file manager arrives as WM_DROPFILES.
  DragAcceptFiles(window_, TRUE);
  return true;
}

bool Form1::CreateChildren() {
  for (const ChildControl& child : kChildControls) {
    const RECT area = child.id == ControlId::Count
                          ? painter_.CountRowArea({})
                          : ToRect(form::PixelBounds(form::Layout(child.id), dpi_));
    const DWORD shown = form::Layout(child.id).visibleAtStart ? WS_VISIBLE : 0;
    const std::wstring name = ToWide(NameAtStart(child.id));
    HWND made = CreateWindowExW(
        0, child.windowClass, name.c_str(), WS_CHILD | shown | child.style, area.left, area.top,
        area.right - area.left, area.bottom - area.top, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.commandId)), instance_, nullptr);
    if (!made) return false;
    children_[Index(child.id)] = made;
    if (child.style & WS_TABSTOP) {
      SetWindowSubclass(made, ButtonProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    }
  }
  banner_ = std::make_unique<LiveRegion>(Child(ControlId::Banner));
  return true;
}

HWND Form1::Child(ControlId id) const { return children_[Index(id)]; }

void Form1::ShowCentred(int showCommand) {
  RECT workArea{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  RECT frame{};
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, workArea.left + (workArea.right - workArea.left - width) / 2,
               workArea.top + (workArea.bottom - workArea.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  SetFocus(Child(ControlId::ChooseButton));
}

void Form1::Dispatch(MSG& message) {
  const bool ours = window_ && (message.hwnd == window_ || IsChild(window_, message.hwnd));
  // Before the dialog manager moves the focus, so that the control that gets
  // it is drawn with its ring.
  if (ours && !keyboardUsed_ && MovesFocus(message)) ShowFocusRings();
  if (window_ && IsDialogMessageW(window_, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

LRESULT CALLBACK Form1::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    form->window_ = nullptr;
    form->children_.fill(nullptr);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return form->HandleMessage(message, wParam, lParam);
}

// What the three buttons do besides being buttons.
LRESULT CALLBACK Form1::ButtonProcedure(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR /*subclass*/, DWORD_PTR form) {
  auto* self = reinterpret_cast<Form1*>(form);
  switch (message) {
    case WM_NCHITTEST:
      // The form finds the globe or the folder line under the mouse itself,
      // as it always did, so a click on one leaves the focus where it was.
      if (button != self->Child(ControlId::ChooseButton)) return HTTRANSPARENT;
      break;
    case WM_ERASEBKGND:
      return 1;  // WM_DRAWITEM covers every pixel
    case WM_SETFOCUS:
      self->focused_ = button;
      break;
    case WM_GETOBJECT:
      if (const LRESULT object = ServeButtonObject(button, wParam, lParam)) return object;
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(button, ButtonProcedure, 0);
      break;
  }
  return DefSubclassProc(button, message, wParam, lParam);
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_SETCURSOR:
      if (OnSetCursor(lParam)) return TRUE;
      break;
    case WM_LBUTTONDOWN:
      OnMouseDown({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_LBUTTONUP:
      OnMouseUp({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
  }
  return HandleWindowMessage(message, wParam, lParam);
}

LRESULT Form1::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) GiveFocusBack();
      return 0;
    case DM_GETDEFID:
      return DefaultButtonId();
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case kConvertNamedLog:
      ConvertNamedLog();
      return 0;
    case WM_DROPFILES:
      OnDropFiles(wParam);
      return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void Form1::OnPaint() {
  const PaintSession paint(window_);
  RECT client{};
  GetClientRect(window_, &client);
  PaintFormPart(paint.get(), client);
}

// The green button paints itself; every other child window shows the part
// of the form it covers, so that the form looks as if it had none.
void Form1::OnDrawItem(const DRAWITEMSTRUCT& item) const {
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  if (item.hwndItem == Child(ControlId::ChooseButton)) {
    const FocusRing keyboardRing = keyboardUsed_ ? FocusRing::Solid : FocusRing::System;
    painter_.PaintButton(item, focused ? keyboardRing : FocusRing::None);
    return;
  }
  RECT area = item.rcItem;
  MapWindowPoints(item.hwndItem, window_, reinterpret_cast<POINT*>(&area), 2);
  PaintFormPart(item.hDC, area);
  if (focused && keyboardUsed_) painter_.PaintFocusRing(item.hDC, FocusRingArea(item.hwndItem));
}

// Draws `area` of the client area into `target` from its top-left corner.
// Drawn off screen first, so that a count that changes many times a second
// doesn't flicker.
void Form1::PaintFormPart(HDC target, const RECT& area) const {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  const MemoryDc buffer(CreateCompatibleDC(target));
  const GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(target, width, height));
  const Selection selected(buffer.get(), bitmap.get());
  SetViewportOrgEx(buffer.get(), -area.left, -area.top, nullptr);
  RECT client{};
  GetClientRect(window_, &client);
  painter_.PaintForm(buffer.get(), client, shown_, countCaption_);
  BitBlt(target, 0, 0, width, height, buffer.get(), area.left, area.top, SRCCOPY);
}

// A child's own rectangle, cut where it passes the client area's edge (the
// folder line is wider than the window), in the child's coordinates.
RECT Form1::FocusRingArea(HWND child) const {
  RECT client{};
  GetClientRect(window_, &client);
  MapWindowPoints(window_, child, reinterpret_cast<POINT*>(&client), 2);
  RECT own{};
  GetClientRect(child, &own);
  RECT ring{};
  IntersectRect(&ring, &own, &client);
  return ring;
}

void Form1::OnCommand(int id) {
  if (id == kGlobeId) OpenKmlFile();
  if (id == kFolderId) OpenKmlFolder();
  if (id != kButtonId) return;
  // A click during a run is ignored by the run itself.
  run_.OnClick();
  // The window was asked to close while the run went on: now that the run
  // has given up its output, the window goes, and the program with it.
  if (closeRequested_ && !run_.Running() && window_) DestroyWindow(window_);
}

// Asked by IsDialogMessage on Enter: Enter presses the focused button, as
// Space does, and the green one when none of them has the focus.
LRESULT Form1::DefaultButtonId() const {
  const HWND focus = GetFocus();
  const bool isButton = focus && GetParent(focus) == window_ &&
                        (GetWindowLongPtrW(focus, GWL_STYLE) & WS_TABSTOP) != 0;
  return MAKELRESULT(isButton ? GetDlgCtrlID(focus) : kButtonId, DC_HASDEFID);
}

void Form1::ShowFocusRings() {
  keyboardUsed_ = true;
  if (const HWND focus = GetFocus(); focus && IsChild(window_, focus)) {
    InvalidateRect(focus, nullptr, FALSE);
  }
}

// Whenever the window is activated again (Windows does it when a dialog or a
// message box it owns closes, or the user comes back to it), the button that
// had the keyboard focus gets it back: the green one at first, and whenever
// that button is hidden.
void Form1::GiveFocusBack() const {
  const HWND button =
      focused_ && IsWindowVisible(focused_) ? focused_ : Child(ControlId::ChooseButton);
  if (button) SetFocus(button);
}

const form::ControlLayout* Form1::ControlUnder(POINT point) const {
  return form::ControlAt(point.x, point.y, dpi_, shown_);
}

bool Form1::OnSetCursor(LPARAM lParam) {
  if (LOWORD(lParam) != HTCLIENT) return false;
  POINT point{};
  GetCursorPos(&point);
  ScreenToClient(window_, &point);
  const form::ControlLayout* control = ControlUnder(point);
  SetCursor(LoadCursorW(nullptr, control && control->clickable ? IDC_HAND : IDC_ARROW));
  return true;
}

void Form1::OnMouseDown(POINT point) {
  const form::ControlLayout* control = ControlUnder(point);
  pressed_ = control && control->clickable ? control : nullptr;
  if (pressed_) SetCapture(window_);
}

void Form1::OnMouseUp(POINT point) {
  const form::ControlLayout* pressed = pressed_;
  pressed_ = nullptr;
  if (!pressed) return;
  ReleaseCapture();
  // A click is a press and a release on the same control.
  if (ControlUnder(point) != pressed) return;
  if (pressed->id == ControlId::Globe) OpenKmlFile();
  if (pressed->id == ControlId::FolderLine) OpenKmlFolder();
}

void Form1::OnClose() {
  if (!run_.Running()) {
    DestroyWindow(window_);
    return;
  }
  // A run in progress sees the request at its next pause for events, gives
  // up its output and returns; OnCommand then destroys the window. Hidden
  // meanwhile, the window closes at once for the user.
  closeRequested_ = true;
  ShowWindow(window_, SW_HIDE);
}

void Form1::OnDestroy() {
  // While the banner still exists.
  banner_.reset();
  PostQuitMessage(0);
}

void Form1::ConvertOnStart(std::wstring path) {
  namedLog_ = std::move(path);
  PostMessageW(window_, kConvertNamedLog, 0, 0);
}

void Form1::OnDropFiles(WPARAM drop) {
  std::wstring file = DroppedFile(Drop(reinterpret_cast<HDROP>(drop)));
  // Taken as a click would be: not during a run, nor while a dialog or a
  // message box holds the window; several files at once are not a log.
  if (file.empty() || run_.Running() || !IsWindowEnabled(window_)) return;
  // Converted once the drop has returned, so that the program the file came
  // from carries on meanwhile. Windows took the drop whatever its name: a
  // name that is not a log's is refused with the reason.
  ConvertOnStart(std::move(file));
}

void Form1::ConvertNamedLog() {
  run_.ConvertNamedLog(ToUtf8(namedLog_));
  if (closeRequested_ && !run_.Running() && window_) DestroyWindow(window_);
}

void Form1::OpenWithShell(const std::wstring& path) const {
  if (path.empty()) return;
  // Whatever the shell can't open, it reports itself, owned by the window.
  ShellExecuteW(window_, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Form1::OpenKmlFile() const { OpenWithShell(ToWide(run_.Kml.KmlFile)); }

void Form1::OpenKmlFolder() const {
  // Nothing names the folder on its own; it is the one the KML file is in.
  OpenWithShell(FolderOf(ToWide(run_.Kml.KmlFile)));
}

std::optional<std::string> Form1::ChooseLog() {
  const std::wstring filter = OpenFileFilter(messages::kLogDialogFilter);
  std::vector<wchar_t> name(kLongestPath, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = kLongestPath;
  dialog.Flags =
      OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return ToUtf8(name.data());
}

void Form1::RunStarted() { Reveal(form::Moment::RunStarted); }

void Form1::LineCountChanged(std::int64_t lineCount) {
  lineCount_ = lineCount;
  countCaption_ = ToWide(form::CountCaption(lineCount));
  const HWND count = Child(ControlId::Count);
  if (!count) return;
  // The row grows with the count, as its painted caption does.
  const RECT row = painter_.CountRowArea(countCaption_);
  SetWindowPos(count, nullptr, row.left, row.top, row.right - row.left, row.bottom - row.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextW(count, ToWide(messages::CountName(lineCount)).c_str());
  InvalidateRect(window_, nullptr, FALSE);
  InvalidateRect(count, nullptr, FALSE);
}

void Form1::RunFinished() {
  Reveal(form::Moment::RunFinished);
  AnnounceEnd();
}

void Form1::Reveal(form::Moment moment) {
  for (ControlId id : form::RevealedAt(moment)) {
    shown_[Index(id)] = true;
    if (const HWND child = Child(id)) ShowWindow(child, SW_SHOWNA);
  }
  // The child windows too: each shows the part of the form it covers.
  if (window_) RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// Once a run is over, and only then, a screen reader says it is over and
// how many lines it counted, without moving the keyboard focus.
void Form1::AnnounceEnd() const {
  const HWND count = Child(ControlId::Count);
  if (!count || !banner_) return;
  const std::string status =
      lineCount_ >= 0 ? messages::RunFinishedStatus(lineCount_) : form::Caption(ControlId::Banner);
  SetWindowTextW(Child(ControlId::Banner), ToWide(status).c_str());
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, count, OBJID_CLIENT, CHILDID_SELF);
  banner_->Announce();
}

void Form1::ProcessEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The outer message loop ends the program; it must see this too.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(message);
  }
}

bool Form1::StopRequested() { return closeRequested_; }

void Form1::ReportError(std::string_view message) {
  ShowMessage(messages::kErrorTitle, message, MB_ICONERROR);
}

void Form1::ReportNotice(std::string_view message) {
  ShowMessage(messages::kNoticeTitle, message, MB_ICONINFORMATION);
}

void Form1::ShowMessage(std::string_view title, std::string_view message, UINT icon) {
  const std::wstring wideTitle = ToWide(title);
  const std::wstring text = ToWide(message);
  MessageBoxW(window_, text.c_str(), wideTitle.c_str(), MB_OK | icon);
}

}  // namespace ostrevane::ui::win32
