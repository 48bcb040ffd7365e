#pragma once

#include <string>
#include <vector>

namespace ostrevane::cli {

// The program's arguments (without its own name) in UTF-8. On Windows they
// are read again from the wide command line, since argv comes in the ANSI
// code page, and names with * or ? in their last part are expanded there as
// a POSIX shell would (cmd.exe and PowerShell leave that to the program). A
// pattern that matches nothing stays as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// While it lives, the console shows the program's UTF-8 output as such
// (Windows consoles start in an OEM code page); does nothing elsewhere.
class Utf8Console {
 public:
  Utf8Console();
  ~Utf8Console();
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  [[maybe_unused]] unsigned earlierCodePage_ = 0;  // Windows only
};

}  // namespace ostrevane::cli
