// The shared form table: what a run reveals and its count's caption, which
// both windows show, and the hit-testing that a window without child windows
// for its labels uses for clicks and for the pointer.

#include "ui/form_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
      {"the button", 164, 36, false, &Layout(ControlId::ChooseButton)},
      {"the folder line, hidden at start", 100, 170, false, nullptr},
      {"the folder line", 100, 170, true, &Layout(ControlId::FolderLine)},
      {"the marker, in front of the folder line", 277, 164, true, &Layout(ControlId::Marker)},
      {"the globe, in front of the end line", 250, 130, true, &Layout(ControlId::Globe)},
      {"the count, in front of its label", 201, 70, true, &Layout(ControlId::Count)},
  };
  for (const HitCase& hit : cases) {
    const Shown shown = hit.afterARun ? AllShown() : ShownAtStart();
    EXPECT_EQ(ControlAt(hit.x, hit.y, 96.0, shown), hit.expected) << hit.where;
  }
}

std::vector<std::string> DesignNames(Moment moment) {
  std::vector<std::string> names;
  for (ControlId id : RevealedAt(moment)) names.emplace_back(Layout(id).name);
  return names;
}

// The design's order of the reveals: the count row as a run starts, then the
// end line, the folder line, the globe's line, the globe and the marker.
TEST(FormLayoutTest, ARunRevealsItsControlsInTheDesignsOrder) {
  EXPECT_EQ(DesignNames(Moment::RunStarted), (std::vector<std::string>{"Label1", "LblNbrPoints"}));
  EXPECT_EQ(DesignNames(Moment::RunFinished),
            (std::vector<std::string>{"Label3", "Label5", "Label8", "Image1", "Shape1"}));
}

TEST(FormLayoutTest, TheCountShowsBetweenOneBlankAndTwo) {
  EXPECT_EQ(CountCaption(0), " 0  ");
  EXPECT_EQ(CountCaption(41), " 41  ");
  EXPECT_EQ(CountCaption(4999), " 4999  ");
}

}  // namespace
}  // namespace ostrevane::ui::form
