#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <oleacc.h>

#include "ui/win32/owned.h"

namespace ostrevane::ui::win32 {

// A control whose news a screen reader says without moving the keyboard
// focus: marked "polite" for UI Automation's live regions while this object
// lives, and announced on request. The control must outlive this object.
class LiveRegion {
 public:
  explicit LiveRegion(HWND control);
  ~LiveRegion();
  LiveRegion(const LiveRegion&) = delete;
  LiveRegion& operator=(const LiveRegion&) = delete;

  // Tells assistive technology that the control's text is news.
  void Announce() const;

 private:
  HWND control_;
  // Null where the system has no annotation service.
  ComRef<IAccPropServices> annotations_;
};

}  // namespace ostrevane::ui::win32
