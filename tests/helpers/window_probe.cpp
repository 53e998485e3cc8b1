// Looks at the Lotrix window from outside, as other programs do:
//   window_probe close      asks it to close by its handle, as automation, task managers and
//                           scripts do (unlike the title bar, they can while the window is
//                           disabled behind a modal box)
//   window_probe children   prints its controls in child order, a line each: class, a tab,
//                           text; the order in which Windows' accessibility reads them
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t* argv[]) {
  const HWND window = FindWindowW(L"LotrixForm1", nullptr);
  if (!window || argc != 2) return 1;
  if (std::wcscmp(argv[1], L"close") == 0) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[64] = L"";
    wchar_t text[256] = L"";
    GetClassNameW(child, kind, 64);
    // Asked of the control itself: GetWindowText does not ask another process's controls.
    SendMessageW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    char line[1024];
    WideCharToMultiByte(CP_UTF8, 0, kind, -1, line, 512, nullptr, nullptr);
    std::printf("%s\t", line);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, line, 512, nullptr, nullptr);
    std::printf("%s\n", line);
  }
  return 0;
}
