#include "shell/win32/open_file_dialog.h"

#include <commdlg.h>

#include "run/wide_text.h"

namespace {

// Paths may be as long as the system allows, not just 260 characters.
constexpr DWORD kLongestPath = 32768;

}  // namespace

void Win32OpenFileDialog::SetFileName(const std::string& name) { fileName_ = lotrix::Widen(name); }

void Win32OpenFileDialog::SetFolder(const std::string& folder) { folder_ = lotrix::Widen(folder); }

void Win32OpenFileDialog::ShowOpen() {
  std::wstring buffer = fileName_;
  buffer.resize(kLongestPath, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kLongestPath;
  // A starting folder of MAX_PATH characters and more makes some dialogs (Wine's) fail; the
  // system's choice serves then.
  dialog.lpstrInitialDir =
      folder_.empty() || folder_.size() >= MAX_PATH ? nullptr : folder_.c_str();
  if (GetOpenFileNameW(&dialog)) fileName_ = buffer.c_str();
}

std::string Win32OpenFileDialog::FileName() const { return lotrix::Narrow(fileName_); }
