#pragma once

#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <memory>
#include <string>

#include "browse/browse_action.h"
#include "run/run_action.h"
#include "shell/main_window_layout.h"

// The one window, in plain Win32: one window procedure and a small handler per message. Its
// behaviour lives in the Browse and Run actions; the window reads and writes its fields for
// them, pumps messages while a run waits and shows its notices.
class MainWindow : private lotrix::RunHost {
 public:
  // Creates and shows the window; false if the system would not.
  static bool Create(HINSTANCE instance, int show);

  // Hands a message to the controls' keyboard handling (Tab, Enter, Esc and the access keys)
  // when it belongs to the window; false when it is for normal dispatch.
  static bool PreTranslate(MSG& message);

 private:
  explicit MainWindow(HWND window) : window_(window) {}
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);

  void OnCreate();
  void OnCommand(int id, int code);
  void OnNextControl(WPARAM which, bool named);
  void OnActivate(bool active);
  void OnDpiChanged(const RECT& suggested);
  void OnClose();
  void OnDropFiles(HDROP drop);
  bool OnSetCursor(HWND over, int hit);
  void Layout();

  void OnBrowse();
  void OnRun();
  // Ends the program once the window has been closed and nothing of it is under way any more.
  void EndWhenIdle();

  std::string PathText() override;
  std::string SampleSizeText() override;
  std::string DecimalSeparator() override;
  void ProcessPendingEvents(const lotrix::WakeSet& wake) override;
  std::unique_ptr<Watch> WatchHandle(lotrix::WaitHandle handle,
                                     std::function<bool()> drain) override;
  std::size_t RowWidth() override;
  lotrix::Answer ShowNotice(const lotrix::Notice& notice) override;
  bool OpenFile(const std::string& path) override;
  void SetBusy(bool busy) override;
  void ShowProgress(double fraction) override;
  void EndProgram() override;

  HWND Control(int index) const { return controls_[index]; }

  HWND window_;
  HWND controls_[lotrix::main_window::kControlCount] = {};
  HFONT font_ = nullptr;
  HWND lastFocus_ = nullptr;
  bool closed_ = false;  // closed while a handler of its was still under way
  // Click handlers under way: each may sit in a modal loop (a box, the open-file dialog, a
  // run's wait) in which the window can be asked to close. It is destroyed only once none is.
  int handlersUnderWay_ = 0;
  bool busy_ = false;  // a run's tool is running: the cursor and the taskbar say so
  std::unique_ptr<lotrix::OpenFileDialog> openDialog_;
  lotrix::RunAction runAction_;
};
