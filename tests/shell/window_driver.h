#pragma once

// Drives the window the way a user would, without ever leaving a test stuck in a modal box.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
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
  // Where the box is on its screen, and whether each of its texts has the room it needs there,
  // every row whole on a line of its own.
  QRect frame{};
  QRect screen{};
  bool textsShowWhole = true;
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
    bool whole = true;
    for (const QLabel* label : box->findChildren<QLabel*>()) {
      if (label->text().isEmpty()) continue;  // the icon's
      const QRect room = label->contentsRect();
      const int needed =
          label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
      whole = whole && label->isVisible() && needed <= label->height();
      for (const QString& row : label->text().split(QLatin1Char('\n'))) {
        whole = whole && label->fontMetrics().horizontalAdvance(row) <= room.width();
      }
    }
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                  box->informativeText(), texts, box->size(), box->frameGeometry(),
                  box->screen()->availableGeometry(), whole});
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

inline void Click(MainWindow& window, const char* name) {
  Control<QPushButton>(window, name)->click();
}
