#include "shell/qt/open_file_dialog.h"

#include <QFileDialog>

#include "shell/qt/native_text.h"

void QtOpenFileDialog::SetFileName(const std::string& name) { fileName_ = FromNative(name); }

void QtOpenFileDialog::SetFolder(const std::string& folder) { folder_ = FromNative(folder); }

void QtOpenFileDialog::ShowOpen() {
  const QString chosen =
      QFileDialog::getOpenFileName(parent_, QString(), fileName_.isEmpty() ? folder_ : fileName_);
  if (!chosen.isEmpty()) fileName_ = chosen;
}

std::string QtOpenFileDialog::FileName() const { return ToNative(fileName_); }
