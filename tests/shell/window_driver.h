#pragma once

// Drives the window the way a user would, without ever leaving a test stuck in a modal box.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "shell/qt/main_window.h"

// A message box as the user saw it.
struct Box {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  QString detail{};           // the informative text below the text
  QStringList buttonTexts{};  // every button's, in order
  QSize size{};
};

// Answers every modal message box with OK (or the button `press` names) as soon as it appears,
// after writing down what it said and giving the test a look at the world at that moment.
class BoxAnswerer : public QObject {
 public:
  QList<Box> boxes;
  std::function<void(const Box&)> onBox;
  QString press;

  BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Look);
    timer_.start(5);
  }

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (looking_ || !box || !box->isVisible()) return;
    looking_ = true;
    QStringList texts;
    QAbstractButton* pressed = box->button(QMessageBox::Ok);
    for (QAbstractButton* button : box->buttons()) {
      texts.append(button->text());
      if (!press.isEmpty() && button->text() == press) pressed = button;
    }
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                  box->informativeText(), texts, box->size()});
    if (onBox) onBox(boxes.last());
    pressed->click();
    looking_ = false;
  }

  QTimer timer_;
  bool looking_ = false;  // onBox may wait, and this timer fires meanwhile
};

template <class T>
T* Control(MainWindow& window, const char* name) {
  auto* control = window.findChild<T*>(QLatin1String(name));
  if (!control) qFatal("no control %s", name);
  return control;
}

inline void Click(MainWindow& window, const char* name) { Control<QPushButton>(window, name)->click(); }
