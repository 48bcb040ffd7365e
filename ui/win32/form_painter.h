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
  void PaintButton(const DRAWITEMSTRUCT& item) const;

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
