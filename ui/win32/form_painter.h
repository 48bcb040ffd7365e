#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/form_layout.h"
#include "ui/win32/gdi.h"

namespace ostrevane::ui::win32 {

// How a focused button shows its focus: the system's dotted ring, drawn
// before the keyboard was used, as the window always showed it; a solid black
// one, plain on the greens, once the keyboard was used.
enum class FocusRing { None, System, Solid };

// Draws the window from the shared table: the background picture, then the
// windowless controls (labels, globe, marker) back to front, then, on its own
// request, the owner-drawn button. Holds the fonts, the picture and the icon
// for the window's lifetime.
class FormPainter {
 public:
  FormPainter(HINSTANCE instance, double dpi);
  FormPainter(const FormPainter&) = delete;
  FormPainter& operator=(const FormPainter&) = delete;

  // The whole client area; `count` is the count's caption.
  void PaintForm(HDC dc, const RECT& client, const form::Shown& shown,
                 std::wstring_view count) const;
  // The green button, for WM_DRAWITEM.
  void PaintButton(const DRAWITEMSTRUCT& item, FocusRing ring) const;
  // The solid ring along the inside of `area`.
  void PaintFocusRing(HDC dc, const RECT& area) const;
  // The row of the count's title and the count `count`, in client pixels.
  RECT CountRowArea(std::wstring_view count) const;

 private:
  HFONT FontOf(form::Font font);
  void PaintBackground(HDC dc) const;
  void PaintControl(HDC dc, const form::ControlLayout& control, std::wstring_view count) const;
  void PaintLabel(HDC dc, const form::ControlLayout& control, RECT area, std::wstring_view caption,
                  UINT format) const;
  void PaintGlobe(HDC dc, const RECT& area) const;
  void PaintMarker(HDC dc, const form::ControlLayout& control, const RECT& area) const;
  RECT PixelArea(const form::ControlLayout& control) const;
  RECT CountArea(HDC dc, const form::ControlLayout& control, std::wstring_view count) const;

  double dpi_;
  GdiObject<HBITMAP> background_;
  IconHandle globe_;
  std::vector<std::pair<form::Font, GdiObject<HFONT>>> fonts_;
  std::array<HFONT, form::kControlCount> controlFonts_{};
  std::array<std::wstring, form::kControlCount> captions_;
};

}  // namespace ostrevane::ui::win32
