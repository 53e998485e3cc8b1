#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "browse/browse_action.h"
#include "run/run_action.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The one window: the input file, the sample size, "Browse" and "Run". Its behaviour lives in
// the Browse and Run actions; the window reads and writes its fields for them, pumps events
// while a run waits and shows its notices.
class Form1 : public QWidget, private lotrix::RunHost {
  Q_OBJECT

 public:
  // `dialog` stands in for the desktop's open-file dialog, where given.
  explicit Form1(std::string toolFolder = lotrix::ApplicationFolder(),
                 std::unique_ptr<lotrix::OpenFileDialog> dialog = nullptr,
                 QWidget* parent = nullptr);
  ~Form1() override;

  // Turns of the run waits so far: each should be a wake-up for a reason, never a spin.
  unsigned long WaitTurns() const { return runAction_.WaitTurns(); }

 signals:
  // The window has been closed and no run is under way any more: time to end the program.
  void endRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void Command1_Click();
  void Command2_Click();

 private:
  std::string PathText() override;
  std::string SampleSizeText() override;
  std::string DecimalSeparator() override;
  void ProcessPendingEvents(const lotrix::WakeSet& wake) override;
  std::unique_ptr<Watch> WatchHandle(lotrix::WaitHandle handle,
                                     std::function<bool()> drain) override;
  void ShowNotice(const lotrix::Notice& notice) override;
  void EndProgram() override;

  QLineEdit* Text1;
  QPushButton* Command1;
  QLineEdit* Text2;
  QPushButton* Command2;
  std::unique_ptr<lotrix::OpenFileDialog> CommonDialog1;

  lotrix::RunAction runAction_;
};
