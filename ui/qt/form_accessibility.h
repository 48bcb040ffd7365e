#pragma once

namespace ostrevane::ui {

// Teaches Qt what assistive technology (a screen reader, through AT-SPI)
// reads of the window: the window itself as a window named by its caption,
// its controls front-most first where a point is asked about, without the
// ones that say nothing on their own (Form1::AccessibleStandIn), and each
// label with the role its FormLabel gives it. Before the window is built:
// Qt asks for a control's interface as soon as it gets its text. Installs
// once however often it is called.
void InstallFormAccessibility();

}  // namespace ostrevane::ui
