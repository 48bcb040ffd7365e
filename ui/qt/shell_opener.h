#pragma once

#include <QString>

namespace ostrevane::ui {

// Hands a path to the desktop, which opens it with the application it
// associates with the path (a viewer for a file, a file manager for a
// folder) and returns at once. Tests replace it to see which path went out.
class ShellOpener {
 public:
  virtual ~ShellOpener() = default;
  // A failure is the desktop's to report; the caller carries on regardless.
  virtual void Open(const QString& path) = 0;
};

// The desktop's own associations (xdg-open on Linux). The path goes out as a
// file URL, never through a command line, so blanks and accents are safe.
ShellOpener& DesktopShellOpener();

}  // namespace ostrevane::ui
