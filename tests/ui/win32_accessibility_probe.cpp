// What a screen reader finds of the native window, asked from another
// process as one would ask: MSAA objects under points of the window, the
// control with the keyboard focus, and the events the window raises.
//
// usage: win32_accessibility_probe at X Y [X Y...]
//          one line per client point: name, role number, default action
//        win32_accessibility_probe focus
//          the window text of the control with the keyboard focus
//        win32_accessibility_probe watch SECONDS
//          prints "hooked", then one line per name or live-region event of
//          the window's own objects ("name" or "live", the object's name);
//          ends 2 s after the first live-region event, or after SECONDS
//        win32_accessibility_probe client
//          the window's client area: its left and top in screen coordinates,
//          its width and height (the frame around it is Wine's, and differs
//          between Wine releases)
//        win32_accessibility_probe filename PATH
//          puts PATH in the file-name box of the dialog the window opened,
//          as automation tools set a box's value: typing a path through X
//          loses or shifts keys on a loaded machine
// Exits 2 on a usage error, 1 when the window (or its dialog) isn't there.
#include <windows.h>
// After windows.h, which they build on.
#include <dlgs.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kFormClass[] = L"OstrevaneForm1";

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

std::string Taken(BSTR text) {
  std::string bytes = text ? Utf8(std::wstring(text, SysStringLen(text))) : "-";
  SysFreeString(text);
  return bytes;
}

std::string Name(IAccessible* object, VARIANT child) {
  BSTR name = nullptr;
  return object->get_accName(child, &name) == S_OK ? Taken(name) : "-";
}

std::string Described(IAccessible* object, VARIANT child) {
  VARIANT role;
  VariantInit(&role);
  object->get_accRole(child, &role);
  const long number = role.vt == VT_I4 ? role.lVal : -1;
  VariantClear(&role);
  BSTR action = nullptr;
  const std::string actionText =
      object->get_accDefaultAction(child, &action) == S_OK ? Taken(action) : "-";
  return Name(object, child) + "\t" + std::to_string(number) + "\t" + actionText;
}

int At(HWND form, int count, wchar_t** coordinates) {
  for (int i = 0; i + 1 < count; i += 2) {
    POINT point{_wtoi(coordinates[i]), _wtoi(coordinates[i + 1])};
    ClientToScreen(form, &point);
    IAccessible* object = nullptr;
    VARIANT child;
    VariantInit(&child);
    if (AccessibleObjectFromPoint(point, &object, &child) != S_OK || !object) {
      std::printf("none\n");
      continue;
    }
    std::printf("%s\n", Described(object, child).c_str());
    object->Release();
    VariantClear(&child);
  }
  return 0;
}

int Focus(HWND form) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &info)) return 1;
  wchar_t text[512] = L"";
  GetWindowTextW(info.hwndFocus, text, 512);
  std::printf("%s\n", Utf8(text).c_str());
  return 0;
}

DWORD firstLiveAt = 0;

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                      DWORD) {
  const bool live = event == EVENT_OBJECT_LIVEREGIONCHANGED;
  if ((!live && event != EVENT_OBJECT_NAMECHANGE) || object != OBJID_CLIENT) return;
  IAccessible* accessible = nullptr;
  VARIANT found;
  VariantInit(&found);
  std::string name = "-";
  if (AccessibleObjectFromEvent(window, static_cast<DWORD>(object), static_cast<DWORD>(child),
                                &accessible, &found) == S_OK) {
    name = Name(accessible, found);
    accessible->Release();
  }
  std::printf("%s\t%s\n", live ? "live" : "name", name.c_str());
  std::fflush(stdout);
  if (live && firstLiveAt == 0) firstLiveAt = GetTickCount();
}

int Watch(HWND form, int seconds) {
  DWORD process = 0;
  GetWindowThreadProcessId(form, &process);
  const HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr, OnEvent,
                      process, 0, WINEVENT_OUTOFCONTEXT);
  if (!hook) return 1;
  std::printf("hooked\n");
  std::fflush(stdout);
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  while (GetTickCount() < end && (firstLiveAt == 0 || GetTickCount() - firstLiveAt < 2000)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  UnhookWinEvent(hook);
  return 0;
}

int Client(HWND form) {
  RECT area{};
  GetClientRect(form, &area);
  POINT corner{0, 0};
  ClientToScreen(form, &corner);
  std::printf("%ld %ld %ld %ld\n", corner.x, corner.y, area.right, area.bottom);
  return 0;
}

// A dialog box of the window's program that shows, if there is one.
HWND ProgramDialog(HWND form) {
  DWORD program = 0;
  GetWindowThreadProcessId(form, &program);
  for (HWND dialog = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); dialog;
       dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(dialog, &owner);
    if (owner == program && IsWindowVisible(dialog)) return dialog;
  }
  return nullptr;
}

int FileName(HWND form, const wchar_t* path) {
  const HWND dialog = ProgramDialog(form);
  if (!dialog) {
    std::printf("no dialog\n");
    return 1;
  }
  // The file-name box is a combo box on Windows and an edit box in Wine.
  HWND box = GetDlgItem(dialog, cmb13);
  if (!box) box = GetDlgItem(dialog, edt1);
  if (!box) {
    std::printf("no file-name box\n");
    return 1;
  }
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
  return 0;
}

int Run(int count, wchar_t** arguments) {
  const HWND form = FindWindowW(kFormClass, nullptr);
  if (!form) {
    std::printf("no window\n");
    return 1;
  }
  const std::wstring command = arguments[1];
  if (command == L"at") return At(form, count - 2, arguments + 2);
  if (command == L"focus") return Focus(form);
  if (command == L"client") return Client(form);
  if (command == L"watch" && count > 2) return Watch(form, _wtoi(arguments[2]));
  if (command == L"filename" && count > 2) return FileName(form, arguments[2]);
  return 2;
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
  if (count < 2) return 2;
  CoInitialize(nullptr);
  const int status = Run(count, arguments);
  CoUninitialize();
  return status;
}
