#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The one description of the window that every front end draws: where each
// control sits, what it says, how it looks and how it behaves. Positions and
// sizes are in twips (1440 to the inch, 15 to the pixel at 96 DPI), font
// sizes in points, so the window keeps its proportions at any resolution.
// A caption or a position changes here and nowhere else.
namespace ostrevane::ui::form {

struct Rgb {
  std::uint8_t red, green, blue;
};

// Every control of the window, by what it is; the table gives each its name
// in the design ("CmdOuvrefich", "Label3"...).
enum class ControlId {
  ChooseButton,  // "Choisir un fichier *.nmea"
  CountTitle,    // "Nombres de points: "
  Count,         // the running count of lines
  Banner,        // "OPERATION TERMINEE"
  Globe,         // opens the KML file
  GlobeLine,     // the line that points at the globe
  FolderLine,    // opens the KML file's folder
  Marker,        // the red disc at the end of the folder line
  HomePage,      // the home page's address
  Strip,         // a one-pixel strip of the design
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

// The moments of a run that change what the window shows, and the controls
// each reveals, in the order it reveals them. Nothing hides them again.
enum class Moment { RunStarted, RunFinished };
std::span<const ControlId> RevealedAt(Moment moment);

// The caption at start (UTF-8); empty for the count and for controls that
// show no text.
std::string Caption(ControlId id);
// The count's caption for a run's line count: one blank, the digits, two
// blanks (" 41  ").
std::string CountCaption(std::int64_t lineCount);

// The fixed colours; None and SystemButtonFace have none of their own.
Rgb Colour(Back back);
inline constexpr Rgb kHomePageText{128, 0, 0};

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
