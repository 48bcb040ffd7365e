#pragma once

class QWidget;

namespace ostrevane::ui {

// Asks the window manager to leave `window` out of the taskbar, as a tool
// window should be; Qt marks such a window as a utility on X11, which
// taskbars list all the same. Before the window is first shown; does
// nothing away from X11.
void KeepOffTaskbar(QWidget& window);

// Shows `window` with its frame, caption bar included, centred on its
// screen. Qt centres only the client area, and the frame is added below;
// the frame's size is known once the window manager has framed the window,
// so the window moves there when it is first exposed.
void ShowWithFrameCentred(QWidget& window);

}  // namespace ostrevane::ui
