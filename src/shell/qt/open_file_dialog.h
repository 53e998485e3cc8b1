#pragma once

#include <QString>

#include "browse/browse_action.h"

class QWidget;

// The desktop's own open-file dialog where it offers one, Qt's otherwise.
class QtOpenFileDialog : public lotrix::OpenFileDialog {
 public:
  explicit QtOpenFileDialog(QWidget* parent) : parent_(parent) {}

  void SetFileName(const std::string& name) override;
  void SetFolder(const std::string& folder) override;
  void ShowOpen() override;
  std::string FileName() const override;

 private:
  QWidget* parent_;
  QString fileName_;
  QString folder_;
};
