// The shared form table's hit-testing, which a window without child windows
// for its labels uses for clicks and for the pointer.

#include "ui/form_layout.h"

#include <gtest/gtest.h>

namespace ostrevane::ui::form {
namespace {

Shown AllShown() {
  Shown shown{};
  shown.fill(true);
  return shown;
}

struct HitCase {
  const char* where;
  int x, y;  // client pixels at 96 DPI
  bool afterARun;
  const ControlLayout* expected;
};

TEST(FormLayoutTest, ThePointFindsTheFrontMostShownControl) {
  const HitCase cases[] = {
      {"the button", 164, 36, false, &Layout(ControlId::CmdOuvrefich)},
      {"the folder line, hidden at start", 100, 170, false, nullptr},
      {"the folder line", 100, 170, true, &Layout(ControlId::Label5)},
      {"the marker, in front of the folder line", 277, 164, true, &Layout(ControlId::Shape1)},
      {"the globe, in front of the end line", 250, 130, true, &Layout(ControlId::Image1)},
      {"the count, in front of its label", 201, 70, true, &Layout(ControlId::LblNbrPoints)},
  };
  for (const HitCase& hit : cases) {
    const Shown shown = hit.afterARun ? AllShown() : ShownAtStart();
    EXPECT_EQ(ControlAt(hit.x, hit.y, 96.0, shown), hit.expected) << hit.where;
  }
}

}  // namespace
}  // namespace ostrevane::ui::form
