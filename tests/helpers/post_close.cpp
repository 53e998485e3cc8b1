// Asks the Lotrix window to close by its handle, as automation, task managers and scripts do:
// unlike the title bar, they can while the window is disabled behind a modal box.
#include <windows.h>

int wmain() {
  const HWND window = FindWindowW(L"LotrixForm1", nullptr);
  return window && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}
