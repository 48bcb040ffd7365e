#include "ui/qt/bundled_fonts.h"

#include <QFontDatabase>
#include <QString>

namespace ostrevane::ui {

void RegisterBundledFonts() {
  static const bool registered = [] {
    for (const char* file : {":/ostrevane/fonts/LiberationSans-Regular.ttf",
                             ":/ostrevane/fonts/LiberationSans-Bold.ttf"}) {
      QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    }
    return true;
  }();
  (void)registered;
}

}  // namespace ostrevane::ui
