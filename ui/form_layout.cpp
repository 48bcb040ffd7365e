#include "ui/form_layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "product/version.h"

namespace ostrevane::ui::form {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kPointsPerInch = 72.0;

constexpr Font kBoldWindowFont{8.25, true};
constexpr Font kTitleFont{12.0, true};

using enum ControlId;
using enum Kind;
using B = Back;
using T = TextColour;
using A = Align;

// clang-format off
constexpr std::array<ControlLayout, kControlCount> kControls{{
//  id            name            kind    left  top   width height back            text                 font             align     shown  click
  {ChooseButton, "CmdOuvrefich", Button, 1200,  360, 2535, 375, B::ButtonGreen, T::SystemButtonText, kBoldWindowFont, A::Centre, true,  true},
  {Marker,       "Shape1",       Shape,  4100, 2400,  135, 135, B::MarkerRed,   T::SystemButtonText, kWindowFont,     A::Left,   false, false},
  {Globe,        "Image1",       Image,  3600, 1920,  360, 360, B::None,        T::SystemButtonText, kWindowFont,     A::Left,   false, true},
  {GlobeLine,    "Label8",       Label,     0, 1980, 4935, 375, B::LightGreen,  T::SystemButtonText, kWindowFont,     A::Left,   false, false},
  {HomePage,     "Label7",       Label,    90,    0, 1815, 255, B::LightGreen,  T::HomePage,         kBoldWindowFont, A::Centre, true,  false},
  {FolderLine,   "Label5",       Label,     0, 2355, 4600, 330, B::LightGreen,  T::SystemButtonText, kWindowFont,     A::Centre, false, true},
  {Banner,       "Label3",       Label,     0, 1560, 4600, 420, B::LightGreen,  T::SystemButtonText, kTitleFont,      A::Centre, false, false},
  {Count,        "LblNbrPoints", Label,  3000,  960,   45, 200, B::LightGreen,  T::SystemButtonText, kWindowFont,     A::Left,   false, false},
  {Strip,        "Label4",       Label,  2040, 2760,  135,  15, B::SystemButtonFace, T::SystemButtonText, kWindowFont, A::Left,  true,  false},
  {CountTitle,   "Label1",       Label,  1440,  960, 1575, 200, B::LightGreen,  T::SystemButtonText, kWindowFont,     A::Right,  false, false},
}};
// clang-format on

// A run shows its count as it starts, and what the finished KML file offers
// once it ends, in this order.
constexpr ControlId kRevealedAtStart[] = {CountTitle, Count};
constexpr ControlId kRevealedAtFinish[] = {Banner, FolderLine, GlobeLine, Globe, Marker};

}  // namespace

std::span<const ControlLayout> ControlsFrontToBack() { return kControls; }

const ControlLayout& Layout(ControlId id) {
  return *std::find_if(kControls.begin(), kControls.end(),
                       [id](const ControlLayout& control) { return control.id == id; });
}

std::span<const ControlId> RevealedAt(Moment moment) {
  return moment == Moment::RunStarted ? std::span<const ControlId>(kRevealedAtStart)
                                      : std::span<const ControlId>(kRevealedAtFinish);
}

std::string Caption(ControlId id) {
  switch (id) {
    case ChooseButton:
      return "Choisir un fichier *.nmea";
    case CountTitle:
      return "Nombres de points: ";
    case Banner:
      return "OPERATION TERMINEE";
    case GlobeLine:
      return "           --  Ouvrir le fichier avec Google Earth  ---> ";
    case FolderLine:
      return "--  Retrouvez  le fichier \"*.kml\" dans son r\u00e9pertoire ";
    case HomePage:
      return " " + std::string(product::kHomePage);
    case Strip:
      return "Label4";
    case Count:
    case Globe:
    case Marker:
      return {};
  }
  return {};
}

std::string CountCaption(std::int64_t lineCount) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, lineCount).ptr;
  return " " + std::string(digits, end) + "  ";
}

Rgb Colour(Back back) {
  switch (back) {
    case Back::LightGreen:
      return {192, 255, 192};
    case Back::ButtonGreen:
      return {0, 192, 0};
    case Back::MarkerRed:
      return {255, 0, 0};
    case Back::None:
    case Back::SystemButtonFace:
      break;
  }
  return kFormBack;
}

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

int PointsToPixels(double points, double dpi) {
  return static_cast<int>(std::lround(points * dpi / kPointsPerInch));
}

bool PixelRect::Contains(int x, int y) const {
  return x >= left && x < left + width && y >= top && y < top + height;
}

PixelRect PixelBounds(const ControlLayout& control, double dpi) {
  return {TwipsToPixels(control.left, dpi), TwipsToPixels(control.top, dpi),
          TwipsToPixels(control.width, dpi), TwipsToPixels(control.height, dpi)};
}

Shown ShownAtStart() {
  Shown shown{};
  for (const ControlLayout& control : kControls) {
    shown[static_cast<std::size_t>(control.id)] = control.visibleAtStart;
  }
  return shown;
}

const ControlLayout* ControlAt(int x, int y, double dpi, const Shown& shown) {
  for (const ControlLayout& control : kControls) {
    if (shown[static_cast<std::size_t>(control.id)] && PixelBounds(control, dpi).Contains(x, y)) {
      return &control;
    }
  }
  return nullptr;
}

}  // namespace ostrevane::ui::form
