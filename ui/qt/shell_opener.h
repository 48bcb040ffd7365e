#pragma once

#include <QString>
#include <functional>

namespace ostrevane::ui {

// Hands a path to the desktop, which opens it with the application it
// associates with the path (a viewer for a file, a file manager for a
// folder) and returns at once. Tests replace it to see which path went out.
class ShellOpener {
 public:
  // Why the desktop opened nothing: no application for the path's type, or
  // no opener at all to ask (xdg-open is missing).
  enum class Failure { NoApplication, NoOpener };
  // Runs on the window's thread, later, when the desktop reports that it
  // could not open the path.
  using Failed = std::function<void(Failure)>;

  virtual ~ShellOpener() = default;
  // The caller carries on at once; `failed` may be empty.
  virtual void Open(const QString& path, Failed failed) = 0;
};

// The desktop's own associations (xdg-open on Linux, open on macOS). The
// path goes out as one argument, never through a command line, so blanks
// and accents are safe.
ShellOpener& DesktopShellOpener();

}  // namespace ostrevane::ui
