// The window program on Windows: shows the converter's native window and
// ends when it closes. `ostrevane.exe FILE.nmea` ("Open with") converts that
// log at once, as choosing it in the dialog would.

#include <windows.h>
// After windows.h, which they build on.
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <utility>

#include "ui/win32/form1.h"

namespace {

// The log that "Open with" names: the first argument, if any.
std::wstring NamedLog() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return {};
  std::wstring log = count > 1 ? arguments[1] : L"";
  LocalFree(arguments);
  return log;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int showCommand) {
  // ShellExecute may hand the path to shell extensions, which need COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  int status = 1;
  {
    ostrevane::ui::win32::Form1 form(instance);
    if (form.Create()) {
      form.ShowCentred(showCommand);
      if (std::wstring log = NamedLog(); !log.empty()) form.ConvertOnStart(std::move(log));
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) form.Dispatch(message);
      status = message.message == WM_QUIT ? static_cast<int>(message.wParam) : 1;
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
