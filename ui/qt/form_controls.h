#pragma once

#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <optional>

class QMouseEvent;

namespace ostrevane::ui {

// Tells a click (press and release of the left button over the same
// control) from a press that was dragged off before its release.
class ClickTracker {
 public:
  void Press(const QMouseEvent& event);
  // True when this release completes a click inside `area`.
  bool Release(const QMouseEvent& event, const QRect& area);

 private:
  bool pressed_ = false;
};

// A push button painted in its own back colour with a classic raised bevel,
// so that the colour shows whatever the widget style.
class GraphicalButton : public QPushButton {
  Q_OBJECT
 public:
  GraphicalButton(const QString& caption, const QColor& back, QWidget* parent);

  QColor BackColour() const { return back_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor back_;
};

// A caption that never takes the focus, drawn from its top, breaking
// between words where it is wider than the label. Opaque when it has a
// back colour. Emits clicked() when clicked.
class FormLabel : public QLabel {
  Q_OBJECT
 public:
  FormLabel(const QString& caption, std::optional<QColor> back, const QColor& text,
            QWidget* parent);

  // Makes the label exactly as large as its caption on one line, keeping its
  // top-left corner.
  void FitToCaption();

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  ClickTracker click_;
};

// An icon stretched to fill the control. Emits clicked() when clicked.
class IconImage : public QWidget {
  Q_OBJECT
 public:
  IconImage(const QIcon& icon, QWidget* parent);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QIcon icon_;
  ClickTracker click_;
};

// A small marker disc filled with one colour.
class MarkerShape : public QWidget {
  Q_OBJECT
 public:
  MarkerShape(const QColor& fill, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor fill_;
};

}  // namespace ostrevane::ui
