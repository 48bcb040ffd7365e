#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "run/window.h"

// The one description of the window that every front end draws: where each
// control sits, what it says, how it looks and how it behaves. Positions and
// sizes are in twips (1440 to the inch, 15 to the pixel at 96 DPI), font
// sizes in points, so the window keeps its proportions at any resolution.
// A caption or a position changes here and nowhere else.
namespace ostrevane::ui::form {

struct Rgb {
  std::uint8_t red, green, blue;
};

// Every control of the window; `Control` of run::Window names the ones a run
// reveals.
enum class ControlId {
  CmdOuvrefich,
  Label1,
  LblNbrPoints,
  Label3,
  Image1,
  Label8,
  Label5,
  Shape1,
  Label7,
  Label4,
};
inline constexpr std::size_t kControlCount = 10;

enum class Kind { Button, Label, Image, Shape };
enum class Align { Left, Centre, Right };

// What fills a control's rectangle before its text; the system colours are
// the desktop's own.
enum class Back { None, LightGreen, ButtonGreen, MarkerRed, SystemButtonFace };
enum class TextColour { SystemButtonText, HomePage };

struct Font {
  double points;
  bool bold;
};

struct ControlLayout {
  ControlId id;
  const char* name;
  Kind kind;
  int left, top, width, height;  // twips
  Back back;
  TextColour text;
  Font font;
  Align align;
  bool visibleAtStart;
  // The three controls that react to a click, and the only ones that show
  // the pointing hand.
  bool clickable;
};

// The window itself.
inline constexpr std::string_view kCaption = "    Convertisseur de fichiers.nmea en fichiers .kml";
inline constexpr int kClientWidth = 4590;  // twips
inline constexpr int kClientHeight = 3255;
inline constexpr Rgb kFormBack{192, 192, 192};
// The design font, then Liberation Sans, of near metrics, which the Qt
// window carries with it, so that no wider system font is ever taken.
inline constexpr std::array<std::string_view, 4> kFontFamilies{"MS Sans Serif", "Liberation Sans",
                                                               "Microsoft Sans Serif", "Arial"};
inline constexpr Font kWindowFont{8.25, false};

// Every control, front to back: where two overlap the earlier one shows.
// The background picture lies behind all of them.
std::span<const ControlLayout> ControlsFrontToBack();

const ControlLayout& Layout(ControlId id);
// The control a run reveals, in this table's terms.
ControlId FromRunControl(run::Control control);

// The caption at start (UTF-8); empty for the count and for controls that
// show no text.
std::string Caption(ControlId id);

// What the window says when the desktop has no application for the KML
// file that the globe hands it (UTF-8).
inline constexpr std::string_view kNoViewerTitle = "Ouvrir le fichier .kml";
std::string NoViewerMessage(std::string_view kmlPath);

// The fixed colours; None and SystemButtonFace have none of their own.
Rgb Colour(Back back);
inline constexpr Rgb kHomePageText{128, 0, 0};

// The titles of the boxes that tell the user a conversion failed, or
// something worth knowing about one that succeeded.
inline constexpr std::string_view kErrorTitle = "Conversion impossible";
inline constexpr std::string_view kNoticeTitle = "Conversion termin\u00e9e";

// Design units to pixels of a screen of `dpi` dots per inch.
int TwipsToPixels(int twips, double dpi);
int PointsToPixels(double points, double dpi);

// A control's place in pixels of the client area; each value is rounded on
// its own, so that neighbours that touch in twips touch in pixels.
struct PixelRect {
  int left, top, width, height;
  bool Contains(int x, int y) const;
};
PixelRect PixelBounds(const ControlLayout& control, double dpi);

// Which controls show, indexed by ControlId.
using Shown = std::array<bool, kControlCount>;
Shown ShownAtStart();

// The front-most shown control under the client pixel (x, y), or nullptr over
// the bare picture. A window without child windows for its labels finds the
// target of a click, and the pointer to show, with it.
const ControlLayout* ControlAt(int x, int y, double dpi, const Shown& shown);

}  // namespace ostrevane::ui::form
