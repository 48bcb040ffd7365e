#pragma once

#include <QRect>

namespace ostrevane::ui {

// Converts the window's design units to pixels of the screen it is shown on:
// positions and sizes are laid out in twips (1440 to the inch), fonts in
// points (72 to the inch), so the window keeps its proportions at any logical
// DPI (15 twips to the pixel at 96 DPI).
class TwipScale {
 public:
  TwipScale(double dpiX, double dpiY);

  int X(int twips) const;
  int Y(int twips) const;
  // Each of the four values is rounded on its own.
  QRect Rect(int left, int top, int width, int height) const;
  // The pixel height of a font of `points` points.
  int FontPixels(double points) const;

 private:
  double dpiX_;
  double dpiY_;
};

}  // namespace ostrevane::ui
