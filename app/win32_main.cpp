// The window program on Windows: shows the converter's native window and
// ends when it closes.

// form1.h first: it brings in the core's headers before windows.h.
// clang-format off
#include "ui/win32/form1.h"
#include <objbase.h>
// clang-format on

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int showCommand) {
  // ShellExecute may hand the path to shell extensions, which need COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  int status = 1;
  {
    ostrevane::ui::win32::Form1 form(instance);
    if (form.Create()) {
      form.ShowCentred(showCommand);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) form.Dispatch(message);
      status = message.message == WM_QUIT ? static_cast<int>(message.wParam) : 1;
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
