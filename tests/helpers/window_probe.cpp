// Looks at the Lotrix window and its boxes as other programs do:
//   window_probe close      asks it to close by its handle, as automation, task managers and
//                           scripts do (unlike the title bar, they can while the window is
//                           disabled behind a modal box)
//   window_probe children   prints its controls in child order, a line each: class, a tab,
//                           text; the order in which Windows' accessibility reads them
//   window_probe accepts-files
//                           true if the window takes files dropped on it (WS_EX_ACCEPTFILES,
//                           which the shell and Wine's X11 driver look for before dropping)
//   window_probe box TITLE  prints the box (a message box or a task dialog) titled TITLE:
//                             frame   LEFT TOP RIGHT BOTTOM   the box with its frame
//                             screen  WIDTH HEIGHT
//                             default ID                      the button that Enter presses
//                           then its controls as `children` does, with each control's id
//                           between class and text, and line breaks in texts written as \n.
//                           What a person reads, without a screenshot. Under Wine each text
//                           of a task dialog is a control of its own; Windows draws them all
//                           in one DirectUIHWND, which only accessibility can read.
//   window_probe drop FILE...
//                           creates the window in this process, drops FILE... on it as the
//                           shell does, and prints what the path field then holds: a drop's
//                           HDROP is memory of the dropping process, which no other process
//                           can hand over.
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "shell/win32/main_window.h"

namespace {

void Print(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
  std::fputs(narrow.c_str(), stdout);
}

// Asked of the control itself: GetWindowText does not ask another process's controls.
std::wstring TextOf(HWND control) {
  const auto length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t kind[64] = L"";
  GetClassNameW(window, kind, 64);
  return kind;
}

void PrintChildren(HWND window, bool withIds) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::wstring line = ClassOf(child) + L"\t";
    if (withIds) line += std::to_wstring(GetDlgCtrlID(child)) + L"\t";
    for (const wchar_t c : TextOf(child)) line += c == L'\n' ? L"\\n" : std::wstring(1, c);
    Print(line + L"\n");
  }
}

struct Search {
  const wchar_t* title;
  HWND found = nullptr;
};

// A dialog's class is #32770: message boxes and task dialogs, never the main window.
BOOL CALLBACK FindBox(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  wchar_t title[256] = L"";
  GetWindowTextW(window, title, 256);
  if (IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
      std::wcscmp(title, search->title) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

int PrintBox(const wchar_t* title) {
  Search search{title};
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return 1;
  RECT frame{};
  GetWindowRect(search.found, &frame);
  std::printf("frame\t%ld\t%ld\t%ld\t%ld\n", frame.left, frame.top, frame.right, frame.bottom);
  std::printf("screen\t%d\t%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  const LRESULT defaultId = SendMessageW(search.found, DM_GETDEFID, 0, 0);
  std::printf("default\t%d\n", HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : 0);
  PrintChildren(search.found, true);
  return 0;
}

BOOL CALLBACK FindOwnForm(HWND window, LPARAM data) {
  if (ClassOf(window) != L"LotrixForm1") return TRUE;
  *reinterpret_cast<HWND*>(data) = window;
  return FALSE;
}

// A drop as the shell makes it: a DROPFILES header, then the paths, each ended by a NUL, and
// one more NUL. The window frees it with DragFinish.
HGLOBAL DropOf(int count, wchar_t* paths[]) {
  std::wstring list;
  for (int i = 0; i < count; ++i) list.append(paths[i]).push_back(L'\0');
  list.push_back(L'\0');
  const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
  if (!memory) return nullptr;
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->pt = {20, 20};
  header->fWide = TRUE;
  std::memcpy(header + 1, list.data(), list.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return memory;
}

int Drop(int count, wchar_t* paths[]) {
  if (!MainWindow::Create(GetModuleHandleW(nullptr), SW_SHOWNORMAL)) return 1;
  HWND window = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindOwnForm, reinterpret_cast<LPARAM>(&window));
  const HGLOBAL drop = DropOf(count, paths);
  if (!window || !drop) return 1;
  SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
  HWND field = FindWindowExW(window, nullptr, L"Edit", nullptr);
  if (!field) return 1;
  Print(TextOf(field) + L"\n");
  DestroyWindow(window);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc >= 3 && std::wcscmp(argv[1], L"drop") == 0) return Drop(argc - 2, argv + 2);
  if (argc == 3 && std::wcscmp(argv[1], L"box") == 0) return PrintBox(argv[2]);
  const HWND window = FindWindowW(L"LotrixForm1", nullptr);
  if (!window || argc != 2) return 1;
  if (std::wcscmp(argv[1], L"close") == 0) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  if (std::wcscmp(argv[1], L"accepts-files") == 0) {
    return GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES ? 0 : 1;
  }
  PrintChildren(window, false);
  return 0;
}
