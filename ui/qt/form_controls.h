#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <optional>

namespace ostrevane::ui {

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
// back colour.
class FormLabel : public QLabel {
  Q_OBJECT
 public:
  FormLabel(const QString& caption, std::optional<QColor> back, const QColor& text,
            QWidget* parent);

  // Makes the label exactly as large as its caption on one line, keeping its
  // top-left corner.
  void FitToCaption();

  // What assistive technology takes the label for: static text, unless it
  // tells of something that just happened (a notification).
  QAccessible::Role AccessibleRole() const { return accessibleRole_; }
  void SetAccessibleRole(QAccessible::Role role) { accessibleRole_ = role; }

 private:
  QAccessible::Role accessibleRole_ = QAccessible::StaticText;
};

// A control that looks like a picture or a line of text and acts as a
// button: the mouse clicks it, the keyboard reaches it with Tab only, so that
// a click leaves the focus (and the main button's ring) where it was; Return
// and Enter press it, as Space does. Its focus ring shows only while the
// focus came from the keyboard, so that a mouse user sees the design's pixels.
class KeyboardReachableButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit KeyboardReachableButton(QWidget* parent);

 protected:
  bool ShowsFocusRing() const { return hasFocus() && keyboardFocus_; }
  void focusInEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool keyboardFocus_ = false;
};

// An icon stretched to fill the control; its focus ring is its edge.
class IconButton : public KeyboardReachableButton {
  Q_OBJECT
 public:
  IconButton(const QIcon& icon, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QIcon icon_;
};

// A caption drawn exactly as an opaque FormLabel draws it; its focus ring
// goes round the caption.
class CaptionButton : public KeyboardReachableButton {
  Q_OBJECT
 public:
  CaptionButton(const QString& caption, const QColor& back, const QColor& text, QWidget* parent);

  void SetAlignment(Qt::Alignment alignment) { alignment_ = alignment; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int TextFlags() const;

  Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignTop;
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
