#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "browse/browse_action.h"
#include "run/run_action.h"

class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPushButton;

// The one window: the input file, the sample size, "Browse" and "Run". Its behaviour lives in
// the Browse and Run actions; the window reads and writes its fields for them, pumps events
// while a run waits and shows its notices.
class MainWindow : public QWidget, private lotrix::RunHost {
  Q_OBJECT

 public:
  // `dialog` stands in for the desktop's open-file dialog, where given.
  explicit MainWindow(std::string toolFolder = lotrix::ApplicationFolder(),
                      std::unique_ptr<lotrix::OpenFileDialog> dialog = nullptr,
                      QWidget* parent = nullptr);
  ~MainWindow() override;

  // Turns of the run waits so far: each should be a wake-up for a reason, never a spin.
  unsigned long WaitTurns() const { return runAction_.WaitTurns(); }
  // Whether a run is under way, as the cursor and screen readers are told.
  bool IsBusy() const { return busy_; }

 signals:
  // The window has been closed and no run is under way any more: time to end the program.
  void endRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape stops the run under way.
  void keyPressEvent(QKeyEvent* event) override;
  // A file dropped anywhere on the window, its fields included, puts its path in the path field.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void OnBrowse();
  void OnRun();

 private:
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

  QLineEdit* pathField_;
  QPushButton* browseButton_;
  QLineEdit* sizeField_;
  QPushButton* runButton_;
  std::unique_ptr<lotrix::OpenFileDialog> openDialog_;

  lotrix::RunAction runAction_;
  bool busy_ = false;
};
