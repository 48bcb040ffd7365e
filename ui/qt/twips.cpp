#include "ui/qt/twips.h"

#include <cmath>

namespace ostrevane::ui {

namespace {
constexpr double kTwipsPerInch = 1440.0;
constexpr double kPointsPerInch = 72.0;
}  // namespace

TwipScale::TwipScale(double dpiX, double dpiY) : dpiX_(dpiX), dpiY_(dpiY) {}

int TwipScale::X(int twips) const {
  return static_cast<int>(std::lround(twips * dpiX_ / kTwipsPerInch));
}

int TwipScale::Y(int twips) const {
  return static_cast<int>(std::lround(twips * dpiY_ / kTwipsPerInch));
}

QRect TwipScale::Rect(int left, int top, int width, int height) const {
  return QRect(X(left), Y(top), X(width), Y(height));
}

int TwipScale::FontPixels(double points) const {
  return static_cast<int>(std::lround(points * dpiY_ / kPointsPerInch));
}

}  // namespace ostrevane::ui
