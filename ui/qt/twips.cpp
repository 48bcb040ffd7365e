#include "ui/qt/twips.h"

#include "ui/form_layout.h"

namespace ostrevane::ui {

TwipScale::TwipScale(double dpiX, double dpiY) : dpiX_(dpiX), dpiY_(dpiY) {}

int TwipScale::X(int twips) const { return form::TwipsToPixels(twips, dpiX_); }

int TwipScale::Y(int twips) const { return form::TwipsToPixels(twips, dpiY_); }

QRect TwipScale::Rect(int left, int top, int width, int height) const {
  return QRect(X(left), Y(top), X(width), Y(height));
}

int TwipScale::FontPixels(double points) const { return form::PointsToPixels(points, dpiY_); }

}  // namespace ostrevane::ui
