#pragma once

namespace ostrevane::ui {

// Makes the fonts compiled into the program available to it, once, so that
// the captions keep their designed widths on a machine whose own fonts are
// wider (Liberation Sans has the metrics of the design font's family).
void RegisterBundledFonts();

}  // namespace ostrevane::ui
