#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrevane::run {

// What a conversion run needs of the window, told in what the user sees
// happen: a log is chosen, a run starts, counts its lines and finishes, and
// the user is told what went wrong or is worth knowing. Each window decides
// how it shows each moment; by default a moment shows nothing, as on the
// command line.
class Window {
 public:
  virtual ~Window() = default;

  // Asks the user for a log in the open-file dialog: the chosen file's full
  // path, or nothing when the user cancelled, or when the window, having told
  // the user why, can't say which file was chosen.
  virtual std::optional<std::string> ChooseLog() { return std::nullopt; }
  // The run has opened its log and its KML file, and starts counting lines.
  virtual void RunStarted() {}
  // The run's count of non-empty lines changed. It counts from 0: the first
  // line read makes it 0, the second 1.
  virtual void LineCountChanged(std::int64_t /*lineCount*/) {}
  // The run has read its log to the end and finished its KML file.
  virtual void RunFinished() {}
  // Lets the window handle all pending events, then returns.
  virtual void ProcessEvents() {}
  // True once the user has asked to stop, for instance by closing the window.
  virtual bool StopRequested() { return false; }
  // Tells the user that the run failed; `message` is a French sentence.
  virtual void ReportError(std::string_view message) = 0;
  // Tells the user something worth knowing about a run that succeeded (a
  // log without a single position); `message` is a French sentence.
  virtual void ReportNotice(std::string_view /*message*/) {}
  // Tells the user something about a run that succeeded that is worth a
  // remark but not an interruption: sentences set aside in a log that still
  // gave a track. `message` is a French sentence. The command line prints it;
  // a window, whose form has no place for it, may show nothing.
  virtual void ReportRemark(std::string_view /*message*/) {}
};

}  // namespace ostrevane::run
