#pragma once

#include <QString>
#include <string_view>

class QWidget;

namespace ostrevane::ui {

// The modal open-file dialog that the button shows. Tests replace it with
// one that answers at once.
class FileDialog {
 public:
  virtual ~FileDialog() = default;
  // Shows the dialog over `owner` with Qt's `nameFilter` ("Fichier nmea
  // (*.nmea)") and returns the chosen file's full path, or "" on cancel.
  virtual QString ChooseFile(QWidget* owner, const QString& nameFilter) = 0;
};

// Qt's open-file dialog (the desktop's own where the platform offers one).
FileDialog& QtFileDialog();

// Turns a filter written as "description|patterns|description|patterns...",
// the patterns of one entry separated by ";", into Qt's name filter form
// "description (patterns);;description (patterns)".
QString ToQtNameFilter(std::string_view filter);

}  // namespace ostrevane::ui
