#pragma once

#include <windows.h>

namespace ostrevane::ui::win32 {

// Answers WM_GETOBJECT for one of the window's owner-drawn buttons, so that
// a screen reader finds a push button named by the button's window text,
// whose default action clicks it as the mouse would. The system's own object
// for the button answers everything else (place, parent, navigation).
// Returns 0, which tells the system to use its own object, for any other
// object than the button's client area, or when that object can't be made.
LRESULT ServeButtonObject(HWND button, WPARAM wParam, LPARAM lParam);

}  // namespace ostrevane::ui::win32
