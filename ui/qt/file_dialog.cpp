#include "ui/qt/file_dialog.h"

#include <QFileDialog>
#include <QStringList>

#include "os/system.h"

namespace ostrevane::ui {

namespace {

class QtDialog final : public FileDialog {
 public:
  QString ChooseFile(QWidget* owner, const QString& nameFilter) override {
    QFileDialog dialog(owner, QString(), QString(), nameFilter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog matches its filter regardless of case; the run accepts
    // a name as the system compares names, and the dialog shows the same.
    if (!os::NamesIgnoreCase()) dialog.setFilter(dialog.filter() | QDir::CaseSensitive);
    if (dialog.exec() != QDialog::Accepted) return QString();
    return dialog.selectedFiles().value(0);
  }
};

}  // namespace

FileDialog& QtFileDialog() {
  static QtDialog dialog;
  return dialog;
}

QString ToQtNameFilter(std::string_view filter) {
  const QStringList parts =
      QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(u'|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
    entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return entries.join(QStringLiteral(";;"));
}

}  // namespace ostrevane::ui
