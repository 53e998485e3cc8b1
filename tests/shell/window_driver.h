#pragma once

// Drives the window the way a user would, without ever leaving a test stuck in a modal box.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "shell/qt/form1.h"

// A message box as the user saw it.
struct Box {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
};

// Answers every modal message box with OK as soon as it appears, after writing down what it
// said and giving the test a look at the world at that moment.
class BoxAnswerer : public QObject {
 public:
  QList<Box> boxes;
  std::function<void(const Box&)> onBox;

  BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Look);
    timer_.start(5);
  }

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (looking_ || !box || !box->isVisible()) return;
    looking_ = true;
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    if (onBox) onBox(boxes.last());
    box->button(QMessageBox::Ok)->click();
    looking_ = false;
  }

  QTimer timer_;
  bool looking_ = false;  // onBox may wait, and this timer fires meanwhile
};

template <class T>
T* Control(Form1& window, const char* name) {
  auto* control = window.findChild<T*>(QLatin1String(name));
  if (!control) qFatal("no control %s", name);
  return control;
}

inline void Click(Form1& window, const char* name) { Control<QPushButton>(window, name)->click(); }
