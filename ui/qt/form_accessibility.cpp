#include "ui/qt/form_accessibility.h"

#include <QAccessibleWidget>
#include <QList>
#include <ranges>

#include "ui/qt/form1.h"
#include "ui/qt/form_controls.h"

namespace ostrevane::ui {

namespace {

// The window: a window rather than Qt's default "client", named by its
// caption without the blanks that centre it in the caption bar.
class FormAccessible final : public QAccessibleWidget {
 public:
  explicit FormAccessible(Form1* form) : QAccessibleWidget(form, QAccessible::Window) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name) return widget()->windowTitle().trimmed();
    return QAccessibleWidget::text(kind);
  }
  int childCount() const override { return int(ExposedControls().size()); }
  QAccessibleInterface* child(int index) const override {
    const QList<QWidget*> controls = ExposedControls();
    if (index < 0 || index >= controls.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(controls[index]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    QObject* object = child != nullptr ? child->object() : nullptr;
    if (object == nullptr || !object->isWidgetType()) return -1;
    return int(ExposedControls().indexOf(static_cast<QWidget*>(object)));
  }
  QAccessibleInterface* childAt(int x, int y) const override;

 private:
  Form1& form() const { return *static_cast<Form1*>(widget()); }
  // Back to front, as Qt stacks them.
  QList<QWidget*> Controls() const {
    return form().findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  }
  QList<QWidget*> ExposedControls() const;
};

QList<QWidget*> FormAccessible::ExposedControls() const {
  QList<QWidget*> exposed;
  for (QWidget* control : Controls()) {
    if (!control->isWindow() && form().AccessibleStandIn(control) == control) exposed << control;
  }
  return exposed;
}

// Front-most first: the globe lies over the line that points at it, which
// Qt's own search, back to front, would give.
QAccessibleInterface* FormAccessible::childAt(int x, int y) const {
  const QList<QWidget*> controls = Controls();
  for (QWidget* control : controls | std::views::reverse) {
    if (control->isWindow() || !control->isVisible()) continue;
    if (!QRect(control->mapToGlobal(QPoint(0, 0)), control->size()).contains(x, y)) continue;
    if (QWidget* standIn = form().AccessibleStandIn(control))
      return QAccessible::queryAccessibleInterface(standIn);
  }
  return nullptr;
}

// A label: named by its caption unless it was given a name of its own, with
// the role its FormLabel says. Decided when asked, not when made: Qt makes
// the interface while the label is built, before it is told its role.
class FormLabelAccessible final : public QAccessibleWidget {
 public:
  explicit FormLabelAccessible(FormLabel* label)
      : QAccessibleWidget(label, QAccessible::StaticText) {}

  QAccessible::Role role() const override { return label().AccessibleRole(); }
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name && label().accessibleName().isEmpty())
      return label().text().trimmed();
    return QAccessibleWidget::text(kind);
  }

 private:
  FormLabel& label() const { return *static_cast<FormLabel*>(widget()); }
};

// Qt asks with the class names of the object, most derived first; a
// subclass without a class name of its own (a test's) comes as its base.
QAccessibleInterface* FormInterface(const QString& className, QObject* object) {
  if (className == QLatin1String(Form1::staticMetaObject.className()))
    return new FormAccessible(static_cast<Form1*>(object));
  if (className == QLatin1String(FormLabel::staticMetaObject.className()))
    return new FormLabelAccessible(static_cast<FormLabel*>(object));
  return nullptr;
}

}  // namespace

void InstallFormAccessibility() { QAccessible::installFactory(FormInterface); }

}  // namespace ostrevane::ui
