#pragma once

#include <windows.h>

#include <string>

#include "browse/browse_action.h"

// The system's open-file dialog, with the defaults of a dialog that sets nothing of its own,
// but room for long paths.
class Win32OpenFileDialog : public lotrix::OpenFileDialog {
 public:
  explicit Win32OpenFileDialog(HWND owner) : owner_(owner) {}

  void SetFileName(const std::string& name) override;
  void SetFolder(const std::string& folder) override;
  void ShowOpen() override;
  std::string FileName() const override;

 private:
  HWND owner_;
  std::wstring fileName_;
  std::wstring folder_;
};
