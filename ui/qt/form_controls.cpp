#include "ui/qt/form_controls.h"

#include <qdrawutil.h>

#include <QMouseEvent>
#include <QPainter>
#include <QPen>
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

}  // namespace

void ClickTracker::Press(const QMouseEvent& event) { pressed_ = event.button() == Qt::LeftButton; }

bool ClickTracker::Release(const QMouseEvent& event, const QRect& area) {
  const bool wasPressed = pressed_;
  pressed_ = false;
  return wasPressed && event.button() == Qt::LeftButton &&
         area.contains(event.position().toPoint());
}

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

void FormLabel::mousePressEvent(QMouseEvent* event) {
  click_.Press(*event);
  event->accept();
}

void FormLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (click_.Release(*event, rect())) emit clicked();
  event->accept();
}

IconImage::IconImage(const QIcon& icon, QWidget* parent) : QWidget(parent), icon_(icon) {}

void IconImage::paintEvent(QPaintEvent* /*event*/) {
  const QSize target = (QSizeF(size()) * devicePixelRatioF()).toSize();
  const QSize chosen = SmallestCovering(icon_.availableSizes(), target);
  if (!chosen.isValid()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(rect(), icon_.pixmap(chosen, 1.0));
}

void IconImage::mousePressEvent(QMouseEvent* event) {
  click_.Press(*event);
  event->accept();
}

void IconImage::mouseReleaseEvent(QMouseEvent* event) {
  if (click_.Release(*event, rect())) emit clicked();
  event->accept();
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
