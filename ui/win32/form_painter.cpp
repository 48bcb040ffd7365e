#include "ui/win32/form_painter.h"

#include <algorithm>

#include "os/wide_text.h"
#include "ui/win32/resource.h"

namespace ostrevane::ui::win32 {

using os::ToUtf8;
using os::ToWide;

namespace {

using form::ControlId;

constexpr std::array<int, 3> kGlobeSizes{16, 32, 48};
// Black: at least 8:1 against the button's green and 18:1 against the light
// green of the labels.
constexpr COLORREF kFocusRingColour = RGB(0, 0, 0);
// One pixel at 96 DPI, growing with the screen.
constexpr int kFocusRingTwips = 15;

std::size_t Index(ControlId id) { return static_cast<std::size_t>(id); }

COLORREF ToColorRef(form::Rgb colour) { return RGB(colour.red, colour.green, colour.blue); }

COLORREF BackColour(form::Back back) {
  return back == form::Back::SystemButtonFace ? GetSysColor(COLOR_BTNFACE)
                                              : ToColorRef(form::Colour(back));
}

COLORREF TextColour(form::TextColour text) {
  return text == form::TextColour::HomePage ? ToColorRef(form::kHomePageText)
                                            : GetSysColor(COLOR_BTNTEXT);
}

UINT DrawTextAlignment(form::Align align) {
  switch (align) {
    case form::Align::Left:
      return DT_LEFT;
    case form::Align::Centre:
      return DT_CENTER;
    case form::Align::Right:
      return DT_RIGHT;
  }
  return DT_LEFT;
}

void FillWith(HDC dc, const RECT& area, COLORREF colour) {
  const GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
  FillRect(dc, &area, brush.get());
}

// The smallest image of the icon at least `target` pixels wide keeps the most
// detail when Windows scales it down; the largest when none is that wide.
int GlobeImageSize(int target) {
  for (int size : kGlobeSizes) {
    if (size >= target) return size;
  }
  return kGlobeSizes.back();
}

HICON LoadGlobe(HINSTANCE instance, double dpi) {
  const int size = GlobeImageSize(form::TwipsToPixels(form::Layout(ControlId::Globe).width, dpi));
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_GLOBE), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

HFONT CreateDesignFont(form::Font font, double dpi) {
  const std::wstring family = ToWide(form::kFontFamilies.front());
  return CreateFontW(-form::PointsToPixels(font.points, dpi), 0, 0, 0,
                     font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, family.c_str());
}

}  // namespace

FormPainter::FormPainter(HINSTANCE instance, double dpi)
    : dpi_(dpi),
      background_(static_cast<HBITMAP>(
          LoadImageW(instance, MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0))),
      globe_(LoadGlobe(instance, dpi)) {
  for (const form::ControlLayout& control : form::ControlsFrontToBack()) {
    controlFonts_[Index(control.id)] = FontOf(control.font);
    captions_[Index(control.id)] = ToWide(form::Caption(control.id));
  }
}

HFONT FormPainter::FontOf(form::Font design) {
  for (const auto& [known, font] : fonts_) {
    if (known.points == design.points && known.bold == design.bold) return font.get();
  }
  fonts_.emplace_back(design, CreateDesignFont(design, dpi_));
  return fonts_.back().second.get();
}

void FormPainter::PaintForm(HDC dc, const RECT& client, const form::Shown& shown,
                            std::wstring_view count) const {
  FillWith(dc, client, ToColorRef(form::kFormBack));
  PaintBackground(dc);
  SetBkMode(dc, TRANSPARENT);
  const auto controls = form::ControlsFrontToBack();
  // Back to front, so that where two overlap the front one is drawn last.
  for (auto control = controls.rbegin(); control != controls.rend(); ++control) {
    if (control->kind == form::Kind::Button || !shown[Index(control->id)]) continue;
    PaintControl(dc, *control, count);
  }
}

void FormPainter::PaintBackground(HDC dc) const {
  if (!background_) return;
  BITMAP picture{};
  GetObjectW(background_.get(), sizeof picture, &picture);
  const MemoryDc source(CreateCompatibleDC(dc));
  const Selection selected(source.get(), background_.get());
  // Unscaled from the top-left corner; what lies beyond the client area is
  // clipped.
  BitBlt(dc, 0, 0, picture.bmWidth, picture.bmHeight, source.get(), 0, 0, SRCCOPY);
}

RECT FormPainter::PixelArea(const form::ControlLayout& control) const {
  const form::PixelRect pixels = form::PixelBounds(control, dpi_);
  return {pixels.left, pixels.top, pixels.left + pixels.width, pixels.top + pixels.height};
}

// The count takes the size of its caption on one line, from its own
// top-left corner, so a growing count widens it to the right.
RECT FormPainter::CountArea(HDC dc, const form::ControlLayout& control,
                            std::wstring_view count) const {
  RECT area = PixelArea(control);
  if (count.empty()) return {area.left, area.top, area.left, area.top};
  const Selection font(dc, controlFonts_[Index(control.id)]);
  DrawTextW(dc, count.data(), static_cast<int>(count.size()), &area,
            DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  return area;
}

void FormPainter::PaintControl(HDC dc, const form::ControlLayout& control,
                               std::wstring_view count) const {
  switch (control.kind) {
    case form::Kind::Label:
      if (control.id == ControlId::Count) {
        PaintLabel(dc, control, CountArea(dc, control, count), count, DT_SINGLELINE);
      } else {
        PaintLabel(dc, control, PixelArea(control), captions_[Index(control.id)], DT_WORDBREAK);
      }
      break;
    case form::Kind::Image:
      PaintGlobe(dc, PixelArea(control));
      break;
    case form::Kind::Shape:
      PaintMarker(dc, control, PixelArea(control));
      break;
    case form::Kind::Button:
      break;
  }
}

void FormPainter::PaintLabel(HDC dc, const form::ControlLayout& control, RECT area,
                             std::wstring_view caption, UINT format) const {
  if (area.right <= area.left) return;
  if (control.back != form::Back::None) FillWith(dc, area, BackColour(control.back));
  const Selection font(dc, controlFonts_[Index(control.id)]);
  SetTextColor(dc, TextColour(control.text));
  // DrawText clips to the label's rectangle, as a label clips its caption.
  DrawTextW(dc, caption.data(), static_cast<int>(caption.size()), &area,
            format | DrawTextAlignment(control.align) | DT_TOP | DT_NOPREFIX);
}

void FormPainter::PaintGlobe(HDC dc, const RECT& area) const {
  if (!globe_.get()) return;
  DrawIconEx(dc, area.left, area.top, globe_.get(), area.right - area.left, area.bottom - area.top,
             0, nullptr, DI_NORMAL);
}

void FormPainter::PaintMarker(HDC dc, const form::ControlLayout& control, const RECT& area) const {
  const form::Rgb fill = form::Colour(control.back);
  const GdiObject<HBRUSH> brush(CreateSolidBrush(ToColorRef(fill)));
  // A darker rim, as on the Qt window.
  const GdiObject<HPEN> pen(
      CreatePen(PS_SOLID, 1, RGB(fill.red * 2 / 3, fill.green * 2 / 3, fill.blue * 2 / 3)));
  const Selection brushSelected(dc, brush.get());
  const Selection penSelected(dc, pen.get());
  Ellipse(dc, area.left, area.top, area.right, area.bottom);
}

RECT FormPainter::CountRowArea(std::wstring_view count) const {
  const ScreenDc screen(GetDC(nullptr));
  const RECT title = PixelArea(form::Layout(ControlId::CountTitle));
  const RECT digits = CountArea(screen.get(), form::Layout(ControlId::Count), count);
  RECT row{};
  UnionRect(&row, &title, &digits);
  return row;
}

void FormPainter::PaintFocusRing(HDC dc, const RECT& area) const {
  const GdiObject<HBRUSH> brush(CreateSolidBrush(kFocusRingColour));
  const int width = std::max(1, form::TwipsToPixels(kFocusRingTwips, dpi_));
  for (int inset = 0; inset < width; ++inset) {
    RECT edge = area;
    InflateRect(&edge, -inset, -inset);
    FrameRect(dc, &edge, brush.get());
  }
}

void FormPainter::PaintButton(const DRAWITEMSTRUCT& item, FocusRing ring) const {
  const form::ControlLayout& button = form::Layout(ControlId::ChooseButton);
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  HDC dc = item.hDC;
  RECT face = item.rcItem;
  FillWith(dc, face, BackColour(button.back));
  DrawEdge(dc, &face, pushed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_ADJUST);

  const std::wstring& caption = captions_[Index(button.id)];
  RECT text = face;
  if (pushed) OffsetRect(&text, 1, 1);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, TextColour(button.text));
  {
    const Selection font(dc, controlFonts_[Index(button.id)]);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }

  RECT focus = text;
  InflateRect(&focus, -2, -2);
  if (ring == FocusRing::System) DrawFocusRect(dc, &focus);
  if (ring == FocusRing::Solid) PaintFocusRing(dc, focus);
}

}  // namespace ostrevane::ui::win32
