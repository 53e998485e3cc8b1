#include "shell/win32/main_window.h"

#include <commctrl.h>
#include <objbase.h>
#include <oleacc.h>
#include <shobjidl.h>

#include <algorithm>
#include <map>
#include <vector>

#include "run/wide_text.h"
#include "shell/win32/open_file_dialog.h"

namespace {

namespace layout = lotrix::main_window;

constexpr wchar_t kClassName[] = L"LotrixForm1";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// Control ids keep clear of IDOK and IDCANCEL, which the dialog manager sends for Enter and
// Esc (see OnCommand).
constexpr int kFirstControlId = 101;
// Posted when the program may end: the window is not destroyed under a handler still running.
constexpr UINT kEndMessage = WM_APP + 1;
// How soon to look again at a tool whose end the system cannot signal.
constexpr DWORD kPollMilliseconds = 10;

// How often a running tool's errors are read while a loop not our own (a message box's, the
// open-file dialog's) has the thread.
constexpr UINT kDrainMilliseconds = 20;

HWND mainWindow = nullptr;

// Functions of Windows 10 1607 and later, looked up where they exist so that the program still
// loads on Windows 7, where the system's DPI serves instead.
template <class Function>
Function UserFunction(const char* name) {
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

int DpiOf(HWND window) {
  static const auto getDpiForWindow = UserFunction<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (getDpiForWindow) return static_cast<int>(getDpiForWindow(window));
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// The window's size for a client area of `frame`.
void AddFrame(RECT& frame, DWORD style, int dpi) {
  static const auto adjustForDpi =
      UserFunction<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  if (adjustForDpi) {
    adjustForDpi(&frame, style, FALSE, 0, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&frame, style, FALSE, 0);
  }
}

// Windows' own modal loops wait on no handle of ours, but they do dispatch timer messages: a
// tool's errors are read on a short timer for as long as it runs, whatever loop is running.
class TimerWatch : public lotrix::RunHost::Watch {
 public:
  explicit TimerWatch(std::function<bool()> drain) : drain_(std::move(drain)) {
    id_ = SetTimer(nullptr, 0, kDrainMilliseconds, &TimerWatch::Tick);
    Live()[id_] = this;
  }
  ~TimerWatch() override { Stop(); }

 private:
  static std::map<UINT_PTR, TimerWatch*>& Live() {
    static std::map<UINT_PTR, TimerWatch*> live;
    return live;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
    const auto found = Live().find(id);
    if (found != Live().end() && !found->second->drain_()) found->second->Stop();
  }
  void Stop() {
    if (id_ == 0) return;
    KillTimer(nullptr, id_);
    Live().erase(id_);
    id_ = 0;
  }

  std::function<bool()> drain_;
  UINT_PTR id_ = 0;
};

const wchar_t* ClassOf(layout::Kind kind) {
  switch (kind) {
    case layout::Kind::TextField:
      return L"EDIT";
    case layout::Kind::Button:
      return L"BUTTON";
    case layout::Kind::Label:
      break;
  }
  return L"STATIC";
}

DWORD StyleOf(layout::Kind kind) {
  switch (kind) {
    case layout::Kind::TextField:
      return WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    case layout::Kind::Button:
      return WS_TABSTOP | BS_PUSHBUTTON;
    case layout::Kind::Label:
      break;
  }
  return SS_LEFT;
}

HICON ProgramIcon(HINSTANCE instance, int metric) {
  const int size = GetSystemMetrics(metric);
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
}

std::wstring WideTextOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string TextOf(HWND control) { return lotrix::Narrow(WideTextOf(control)); }

// A COM object of the system's, released when it goes; empty where the system has none (the
// taskbar's progress before Windows 7) or COM could not start.
template <class Interface>
class Com {
 public:
  Com(REFCLSID kind, REFIID iid) {
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
      initialized_ = true;
      CoCreateInstance(kind, nullptr, CLSCTX_INPROC_SERVER, iid,
                       reinterpret_cast<void**>(&object_));
    }
  }
  ~Com() {
    if (object_) object_->Release();
    if (initialized_) CoUninitialize();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  Interface* object_ = nullptr;
  bool initialized_ = false;
};

ITaskbarList3* Taskbar() {
  static Com<ITaskbarList3> taskbar(CLSID_TaskbarList, IID_ITaskbarList3);
  static const bool ready = taskbar && SUCCEEDED(taskbar->HrInit());
  return ready ? taskbar.operator->() : nullptr;
}

IAccPropServices* AccessibleProperties() {
  static Com<IAccPropServices> services(CLSID_AccPropServices, IID_IAccPropServices);
  return services ? services.operator->() : nullptr;
}

// The task dialog of Windows Vista and later (comctl32 version 6), looked up where it exists.
using TaskDialogFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
TaskDialogFunction TaskDialogIndirectFunction() {
  static const auto function = [] {
    const HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    const FARPROC found = comctl ? GetProcAddress(comctl, "TaskDialogIndirect") : nullptr;
    return reinterpret_cast<TaskDialogFunction>(reinterpret_cast<void (*)()>(found));
  }();
  return function;
}

// The id of the notice's "Open" button.
constexpr int kOpenButton = 100;

// How wide `control`'s text is set in `font`. The table's widths were measured with another
// renderer; where this one sets the serif wider, a label grows rather than lose its last word.
// Measured as the label draws it: the "&" before its access key shows as an underline, and
// takes no room.
int TextWidth(HWND control, HFONT font) {
  const std::wstring text = WideTextOf(control);
  const HDC context = GetDC(control);
  const HGDIOBJ old = SelectObject(context, font);
  RECT bounds{};
  DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &bounds,
            DT_CALCRECT | DT_SINGLELINE | DT_LEFT);
  SelectObject(context, old);
  ReleaseDC(control, context);
  return bounds.right - bounds.left;
}

}  // namespace

bool MainWindow::Create(HINSTANCE instance, int show) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = ProgramIcon(instance, SM_CXICON);
  windowClass.hIconSm = ProgramIcon(instance, SM_CXSMICON);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassExW(&windowClass)) return false;
  const HWND window = CreateWindowExW(0, kClassName, lotrix::Widen(layout::kCaption).c_str(),
                                      kStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!window) return false;
  ShowWindow(window, show);
  UpdateWindow(window);
  return true;
}

bool MainWindow::PreTranslate(MSG& message) {
  return mainWindow && IsDialogMessageW(mainWindow, &message);
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      self = new MainWindow(window);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      mainWindow = window;
      self->OnCreate();
      return 0;
    case WM_COMMAND:
      if (self) self->OnCommand(LOWORD(w), HIWORD(w));
      return 0;
    case WM_ACTIVATE:
      if (self) self->OnActivate(LOWORD(w) != WA_INACTIVE);
      return 0;
    case WM_DPICHANGED:
      if (self) self->OnDpiChanged(*reinterpret_cast<const RECT*>(l));
      return 0;
    case WM_CLOSE:
      if (self) self->OnClose();
      return 0;
    case WM_NEXTDLGCTL:
      if (self) self->OnNextControl(w, LOWORD(l) != 0);
      return 0;
    case WM_DROPFILES:
      if (self) self->OnDropFiles(reinterpret_cast<HDROP>(w));
      return 0;
    case WM_SETCURSOR:
      if (self && self->OnSetCursor(reinterpret_cast<HWND>(w), LOWORD(l))) return TRUE;
      break;
    case kEndMessage:
      if (self && self->handlersUnderWay_ == 0) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      delete self;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      mainWindow = nullptr;
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

void MainWindow::OnCreate() {
  openDialog_ = std::make_unique<Win32OpenFileDialog>(window_);
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  // Created in tab order, so that Tab walks path, Browse, sample size, Run; but each field's
  // caption right before it, as Windows' accessibility names a field after the label that
  // precedes it. Labels take no focus, so the tab order stays.
  auto create = [&](int i) {
    const layout::Control& entry = layout::kControls[i];
    const DWORD extended = entry.kind == layout::Kind::TextField ? WS_EX_CLIENTEDGE : 0;
    controls_[i] =
        CreateWindowExW(extended, ClassOf(entry.kind), lotrix::Widen(entry.text).c_str(),
                        WS_CHILD | WS_VISIBLE | StyleOf(entry.kind), 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(INT_PTR{kFirstControlId + i}), instance, nullptr);
  };
  for (int i = 0; i < layout::kControlCount; ++i) {
    for (const layout::Caption& caption : layout::kCaptions) {
      if (caption.field == i) create(caption.label);
    }
    if (!controls_[i]) create(i);
  }
  Layout();
  SetFocus(Control(layout::kPathField));
  // Files dropped on any of the window's controls come to the window.
  DragAcceptFiles(window_, TRUE);
}

void MainWindow::OnDropFiles(HDROP drop) {
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring path(length + 1, L'\0');
  if (length > 0 && DragQueryFileW(drop, 0, path.data(), length + 1) == length) {
    path.resize(length);
    SetWindowTextW(Control(layout::kPathField), path.c_str());
  }
  DragFinish(drop);
}

// While a run is under way the pointer is an arrow with an hourglass: busy, but usable.
bool MainWindow::OnSetCursor(HWND over, int hit) {
  if (!busy_ || hit != HTCLIENT || (over != window_ && !IsChild(window_, over))) return false;
  SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
  return true;
}

// Places the controls and sizes the window for the window's current DPI.
void MainWindow::Layout() {
  const int dpi = DpiOf(window_);
  if (font_) DeleteObject(font_);
  font_ =
      CreateFontW(-MulDiv(layout::kFontTenthsOfPoint, dpi, 720), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                  FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                  DEFAULT_PITCH | FF_ROMAN, lotrix::Widen(layout::kFontFamily).c_str());
  for (int i = 0; i < layout::kControlCount; ++i) {
    const layout::Control& entry = layout::kControls[i];
    int width = layout::Pixels(entry.width, dpi);
    if (entry.kind == layout::Kind::Label) width = std::max(width, TextWidth(Control(i), font_));
    SetWindowPos(Control(i), nullptr, layout::Pixels(entry.left, dpi),
                 layout::Pixels(entry.top, dpi), width, layout::Pixels(entry.height, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(Control(i), WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  }
  RECT frame{0, 0, layout::Pixels(layout::kClientWidth, dpi),
             layout::Pixels(layout::kClientHeight, dpi)};
  AddFrame(frame, kStyle, dpi);
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  // The dialog manager presses the button Enter is on only where Tab made it the default; on one
  // the focus reached otherwise (a click, its access key, the return from a box), Enter comes as
  // IDOK, as it does in a field, where it presses nothing.
  if (id == IDOK) {
    const HWND focus = GetFocus();
    if (focus == Control(layout::kBrowseButton)) id = kFirstControlId + layout::kBrowseButton;
    if (focus == Control(layout::kRunButton)) id = kFirstControlId + layout::kRunButton;
  }
  // Esc is the keyboard's way out of a run that takes longer than the user will wait.
  if (id == IDCANCEL) runAction_.Stop();
  if (id == kFirstControlId + layout::kBrowseButton) OnBrowse();
  if (id == kFirstControlId + layout::kRunButton) OnRun();
}

// The dialog manager moves the focus for an access key through the window, as a dialog's own
// procedure would: to the key's label, then on to the field after it. A field comes with its
// text selected, as Tab brings it, so that what is typed replaces it.
void MainWindow::OnNextControl(WPARAM which, bool named) {
  const HWND to =
      named ? reinterpret_cast<HWND>(which) : GetNextDlgTabItem(window_, GetFocus(), which != 0);
  if (!to || !IsChild(window_, to)) return;
  SetFocus(to);
  if (SendMessageW(to, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(to, EM_SETSEL, 0, -1);
}

// Focus returns to the control that had it when the window was last left.
void MainWindow::OnActivate(bool active) {
  if (!active) {
    const HWND focus = GetFocus();
    if (focus && IsChild(window_, focus)) lastFocus_ = focus;
    return;
  }
  SetFocus(lastFocus_ ? lastFocus_ : Control(layout::kPathField));
}

void MainWindow::OnDpiChanged(const RECT& suggested) {
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
}

void MainWindow::OnClose() {
  // The window goes at once. What is under way (a run's wait or notice, the open-file dialog)
  // goes on, and the program ends after it; the window object stays until then, as handlers
  // still on the stack use it.
  closed_ = true;
  ShowWindow(window_, SW_HIDE);
  runAction_.RequestEnd();
  EndWhenIdle();
}

void MainWindow::EndWhenIdle() {
  if (closed_ && handlersUnderWay_ == 0 && runAction_.RequestEnd())
    PostMessageW(window_, kEndMessage, 0, 0);
}

void MainWindow::OnBrowse() {
  ++handlersUnderWay_;
  const std::string path = lotrix::Browse(*openDialog_, TextOf(Control(layout::kPathField)));
  SetWindowTextW(Control(layout::kPathField), lotrix::Widen(path).c_str());
  --handlersUnderWay_;
  EndWhenIdle();
}

void MainWindow::OnRun() {
  ++handlersUnderWay_;
  runAction_.Run(*this);
  --handlersUnderWay_;
  EndWhenIdle();
}

std::string MainWindow::PathText() { return TextOf(Control(layout::kPathField)); }

std::string MainWindow::SampleSizeText() { return TextOf(Control(layout::kSizeField)); }

std::string MainWindow::DecimalSeparator() {
  wchar_t separator[8] = L".";
  GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  return lotrix::Narrow(separator);
}

void MainWindow::ProcessPendingEvents(const lotrix::WakeSet& wake) {
  const std::vector<HANDLE> handles(wake.handles.begin(), wake.handles.end());
  MsgWaitForMultipleObjectsEx(static_cast<DWORD>(handles.size()), handles.data(),
                              wake.pollSoon ? kPollMilliseconds : INFINITE, QS_ALLINPUT,
                              MWMO_INPUTAVAILABLE);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the main loop to see
      return;
    }
    if (PreTranslate(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::unique_ptr<lotrix::RunHost::Watch> MainWindow::WatchHandle(lotrix::WaitHandle,
                                                                std::function<bool()> drain) {
  return std::make_unique<TimerWatch>(std::move(drain));
}

// A box sets its text in the system's message font and grows to its longest row, unbroken: rows
// of the widest letter must fit in three quarters of the screen the window is on.
std::size_t MainWindow::RowWidth() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return lotrix::kRowWidth;
  }
  const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  const HDC screen = GetDC(nullptr);
  const HGDIOBJ old = SelectObject(screen, font);
  SIZE letter{};
  GetTextExtentPoint32W(screen, L"W", 1, &letter);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  DeleteObject(font);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (letter.cx <= 0 ||
      !GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return lotrix::kRowWidth;
  }
  const long usable = (monitor.rcWork.right - monitor.rcWork.left) * 3 / 4;
  return std::clamp<std::size_t>(static_cast<std::size_t>(usable / letter.cx), 24,
                                 lotrix::kRowWidth);
}

lotrix::Answer MainWindow::ShowNotice(const lotrix::Notice& notice) {
  using Kind = lotrix::Notice::Kind;
  const HWND owner = closed_ ? nullptr : window_;
  const std::wstring title = lotrix::Widen(notice.title);
  const std::wstring text = lotrix::Widen(notice.text);
  const std::wstring detail = lotrix::Widen(notice.detail);
  const TaskDialogFunction taskDialog = TaskDialogIndirectFunction();
  if ((!notice.detail.empty() || !notice.openPath.empty()) && taskDialog) {
    // A task dialog: the text as its heading, the detail below it, "Open" beside OK.
    const std::wstring open = L"Open";
    const TASKDIALOG_BUTTON buttons[] = {{kOpenButton, open.c_str()}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = title.c_str();
    config.pszMainIcon = notice.kind == Kind::Information ? nullptr
                         : notice.kind == Kind::Failure   ? TD_WARNING_ICON
                                                          : TD_ERROR_ICON;
    config.pszMainInstruction = text.c_str();
    config.pszContent = detail.empty() ? nullptr : detail.c_str();
    config.pButtons = notice.openPath.empty() ? nullptr : buttons;
    config.cButtons = notice.openPath.empty() ? 0 : 1;
    config.nDefaultButton = IDOK;
    int pressed = IDOK;
    if (SUCCEEDED(taskDialog(&config, &pressed, nullptr, nullptr))) {
      return pressed == kOpenButton ? lotrix::Answer::Open : lotrix::Answer::Ok;
    }
  }
  // A message box says the same, but for the "Open" button, where no task dialog is to be had.
  const UINT icon = notice.kind == Kind::Information ? 0
                    : notice.kind == Kind::Failure   ? MB_ICONWARNING
                                                     : MB_ICONERROR;
  const std::wstring all = detail.empty() ? text : text + L"\n\n" + detail;
  MessageBoxW(owner, all.c_str(), title.c_str(), MB_OK | icon);
  return lotrix::Answer::Ok;
}

bool MainWindow::OpenFile(const std::string& path) {
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(closed_ ? nullptr : window_, L"open",
                                                              lotrix::Widen(path).c_str(), nullptr,
                                                              nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void MainWindow::SetBusy(bool busy) {
  busy_ = busy;
  // The pointer changes now if it is over the window, not only when it next moves.
  POINT at{};
  if (GetCursorPos(&at)) {
    const HWND over = WindowFromPoint(at);
    if (over == window_ || IsChild(window_, over)) {
      SetCursor(LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
    }
  }
  // Screen readers learn of it as the window's state, through the system's annotation of it.
  if (IAccPropServices* properties = AccessibleProperties()) {
    MSAAPROPID state = PROPID_ACC_STATE;
    if (busy) {
      VARIANT value{};
      value.vt = VT_I4;
      value.lVal = STATE_SYSTEM_BUSY | STATE_SYSTEM_FOCUSABLE;
      properties->SetHwndProp(window_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, state,
                              value);
    } else {
      properties->ClearHwndProps(window_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &state,
                                 1);
    }
  }
  NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window_, OBJID_CLIENT, CHILDID_SELF);
  if (ITaskbarList3* taskbar = Taskbar()) {
    taskbar->SetProgressState(window_, busy ? TBPF_INDETERMINATE : TBPF_NOPROGRESS);
  }
}

void MainWindow::ShowProgress(double fraction) {
  if (ITaskbarList3* taskbar = Taskbar(); taskbar && busy_) {
    constexpr ULONGLONG kSteps = 1000;
    taskbar->SetProgressValue(
        window_, static_cast<ULONGLONG>(std::clamp(fraction, 0.0, 1.0) * kSteps), kSteps);
  }
}

void MainWindow::EndProgram() { PostMessageW(window_, kEndMessage, 0, 0); }
