#pragma once

#include <windows.h>

#include "ui/win32/owned.h"

// The GDI resources the window creates, each owned by an Owned, and the two
// changes it makes for a while and undoes (a selection into a device context,
// one WM_PAINT), so that everything is given back however the code that uses
// it returns.
namespace ostrevane::ui::win32 {

// A GDI object: a brush, pen, font or bitmap.
template <typename Handle>
using GdiObject = Owned<Handle, DeleteObject>;
using IconHandle = Owned<HICON, DestroyIcon>;
// A memory device context, from CreateCompatibleDC.
using MemoryDc = Owned<HDC, DeleteDC>;

inline void ReleaseScreenDc(HDC dc) { ReleaseDC(nullptr, dc); }
// The device context of the whole screen, from GetDC(nullptr).
using ScreenDc = Owned<HDC, ReleaseScreenDc>;

// Selects `object` into `dc` for as long as it lives, then puts back what
// was there.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() { SelectObject(dc_, previous_); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// One WM_PAINT: BeginPaint, and EndPaint when it ends.
class PaintSession {
 public:
  explicit PaintSession(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~PaintSession() { EndPaint(window_, &paint_); }
  PaintSession(const PaintSession&) = delete;
  PaintSession& operator=(const PaintSession&) = delete;

  HDC get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

}  // namespace ostrevane::ui::win32
