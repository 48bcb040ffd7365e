#include "ui/qt/form_controls.h"

#include <qdrawutil.h>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPen>
#include <QStyle>
#include <algorithm>

namespace ostrevane::ui {

namespace {

// The smallest of `sizes` at least as wide as `target`, which keeps the most
// detail when scaled down; the largest when none is wide enough.
QSize SmallestCovering(QList<QSize> sizes, const QSize& target) {
  if (sizes.isEmpty()) return {};
  std::sort(sizes.begin(), sizes.end(),
            [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
  for (const QSize& size : sizes) {
    if (size.width() >= target.width()) return size;
  }
  return sizes.back();
}

// One pixel of black just inside `area`: on the light green (18:1) and on
// the globe's own pixels (3.3:1 at the least at 96 DPI) it stays above the
// 3:1 that a focus indicator needs; a white line beside it would add nothing
// there. Filled rather than stroked: where Qt scales the window by 1.5
// (144 DPI), a stroked line on the control's edge is rounded off it.
void PaintFocusRing(QPainter& painter, const QRect& area) {
  const QColor ink(Qt::black);
  painter.fillRect(QRect(area.left(), area.top(), area.width(), 1), ink);
  painter.fillRect(QRect(area.left(), area.bottom(), area.width(), 1), ink);
  painter.fillRect(QRect(area.left(), area.top(), 1, area.height()), ink);
  painter.fillRect(QRect(area.right(), area.top(), 1, area.height()), ink);
}

}  // namespace

GraphicalButton::GraphicalButton(const QString& caption, const QColor& back, QWidget* parent)
    : QPushButton(caption, parent), back_(back) {
  // Enter presses the focused button too, as Space does.
  setAutoDefault(true);
}

void GraphicalButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const bool sunken = isDown();
  const QBrush fill(back_);
  qDrawWinButton(&painter, rect(), palette(), sunken, &fill);

  QRect textArea = rect().adjusted(2, 2, -2, -2);
  if (sunken) textArea.translate(1, 1);
  painter.setPen(palette().color(QPalette::ButtonText));
  painter.drawText(textArea, Qt::AlignCenter | Qt::TextSingleLine, text());

  if (hasFocus()) {
    QPen dotted(palette().color(QPalette::ButtonText), 1, Qt::DotLine);
    painter.setPen(dotted);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(3, 3, -4, -4).translated(sunken ? 1 : 0, sunken ? 1 : 0));
  }
}

FormLabel::FormLabel(const QString& caption, std::optional<QColor> back, const QColor& text,
                     QWidget* parent)
    : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setFocusPolicy(Qt::NoFocus);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, text);
  if (back) colours.setColor(QPalette::Window, *back);
  setPalette(colours);
  setAutoFillBackground(back.has_value());
  setText(caption);
}

void FormLabel::FitToCaption() {
  const QFontMetrics metrics = fontMetrics();
  resize(metrics.horizontalAdvance(text()), metrics.height());
}

KeyboardReachableButton::KeyboardReachableButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::TabFocus);
}

void KeyboardReachableButton::focusInEvent(QFocusEvent* event) {
  switch (event->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
      keyboardFocus_ = true;
      break;
    case Qt::ActiveWindowFocusReason:  // the window has the keyboard back: as before
    case Qt::PopupFocusReason:
      break;
    default:
      keyboardFocus_ = false;
  }
  QAbstractButton::focusInEvent(event);
}

void KeyboardReachableButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    click();
    return;
  }
  QAbstractButton::keyPressEvent(event);  // Space, on its release
}

IconButton::IconButton(const QIcon& icon, QWidget* parent)
    : KeyboardReachableButton(parent), icon_(icon) {}

void IconButton::paintEvent(QPaintEvent* /*event*/) {
  // The icon's own size nearest above the control's, scaled by hand: an
  // icon's own scaling (QIcon::paint) changes hundreds of the globe's pixels.
  const QSize target = (QSizeF(size()) * devicePixelRatioF()).toSize();
  const QSize chosen = SmallestCovering(icon_.availableSizes(), target);
  if (!chosen.isValid()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(rect(), icon_.pixmap(chosen, 1.0));
  if (ShowsFocusRing()) PaintFocusRing(painter, rect());
}

CaptionButton::CaptionButton(const QString& caption, const QColor& back, const QColor& text,
                             QWidget* parent)
    : KeyboardReachableButton(parent) {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, text);
  colours.setColor(QPalette::Window, back);
  setPalette(colours);
  // A button fills itself with the button colour; this one is a label's line.
  setBackgroundRole(QPalette::Window);
  setAutoFillBackground(true);
  setText(caption);
}

int CaptionButton::TextFlags() const {
  // What QLabel draws plain text with, word wrap included.
  return int(QStyle::visualAlignment(layoutDirection(), alignment_)) | Qt::TextWordWrap |
         Qt::TextForceLeftToRight;
}

void CaptionButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), TextFlags(), palette(), isEnabled(), text(),
                        QPalette::WindowText);
  if (!ShowsFocusRing()) return;
  // Round the caption rather than the whole line, whose edge touches the
  // letters, and inside what the window shows: the line is wider than it.
  // The caption's trailing blank keeps the right side off the last letter
  // and off the marker beyond it.
  QRect ring =
      fontMetrics().boundingRect(contentsRect(), TextFlags(), text()).adjusted(-3, 0, 0, 3);
  ring &= rect() & QRect(mapFromParent(QPoint(0, 0)), parentWidget()->size());
  PaintFocusRing(painter, ring);
}

MarkerShape::MarkerShape(const QColor& fill, QWidget* parent) : QWidget(parent), fill_(fill) {}

void MarkerShape::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(fill_.darker(150), 1.0));
  painter.setBrush(fill_);
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace ostrevane::ui
