#include "shell/qt/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

#include "shell/qt/native_text.h"
#include "shell/qt/open_file_dialog.h"

namespace {

// The window's layout in twips, 15 to a pixel at 96 dpi; Qt's logical pixels follow the
// desktop's scale factor from there.
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 7200;
constexpr int kClientHeight = 3105;

// How soon to look again at a tool whose end the system cannot signal.
constexpr int kPollMilliseconds = 10;

QRect Twips(int left, int top, int width, int height) {
  return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
          height / kTwipsPerPixel};
}

QFont ControlFont() {
  QFont font(QStringLiteral("Times New Roman"));
  font.setPointSizeF(10.5);
  font.setWeight(QFont::Normal);
  return font;
}

template <class Control>
Control* Place(QWidget* window, const char* name, const QString& text, const QRect& where) {
  auto* control = new Control(text, window);
  control->setObjectName(QLatin1String(name));
  control->setFont(ControlFont());
  control->setGeometry(where);
  return control;
}

}  // namespace

Form1::Form1(std::string toolFolder, std::unique_ptr<lotrix::OpenFileDialog> dialog,
             QWidget* parent)
    : QWidget(parent),
      CommonDialog1(dialog ? std::move(dialog) : std::make_unique<QtOpenFileDialog>(this)),
      runAction_(std::move(toolFolder)) {
  setWindowTitle(QStringLiteral("Lotrix"));
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/lotrix/lotrix-%1.png").arg(size), QSize(size, size));
  }
  setWindowIcon(icon);
  setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);

  // Created in tab order, so that Tab walks path, Browse, sample size, Run.
  Text1 = Place<QLineEdit>(this, "Text1", QString(), Twips(1320, 840, 3975, 495));
  Command1 =
      Place<QPushButton>(this, "Command1", QStringLiteral("Browse"), Twips(5520, 960, 855, 375));
  Text2 = Place<QLineEdit>(this, "Text2", QStringLiteral("30"), Twips(1320, 1560, 1095, 375));
  Label1 = Place<QLabel>(this, "Label1", QStringLiteral("Sample"), Twips(360, 1560, 615, 240));
  Label2 = Place<QLabel>(this, "Label2", QStringLiteral("Input File"), Twips(360, 960, 810, 240));
  Label3 = Place<QLabel>(this, "Label3", QStringLiteral("lines"), Twips(2520, 1560, 375, 255));
  // The widths were measured with another renderer; where this one sets the serif a pixel
  // wider, the label grows rather than cut off its last letter.
  for (QLabel* label : {Label1, Label2, Label3}) {
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  }
  Command2 =
      Place<QPushButton>(this, "Command2", QStringLiteral("Run"), Twips(5520, 1440, 855, 375));

  setTabOrder(Text1, Command1);
  setTabOrder(Command1, Text2);
  setTabOrder(Text2, Command2);
  // Neither button answers Enter: a field's Enter must not start a run.
  for (QPushButton* button : {Command1, Command2}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  Text1->setFocus();

  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(this, &Form1::endRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

Form1::~Form1() = default;

void Form1::closeEvent(QCloseEvent* event) {
  // The window goes at once; a run under way keeps waiting and still says "Done!".
  event->accept();
  if (runAction_.RequestEnd()) emit endRequested();
}

void Form1::Command1_Click() { Text1->setText(FromNative(lotrix::Browse(*CommonDialog1))); }

void Form1::Command2_Click() { runAction_.Run(*this); }

std::string Form1::PathText() { return ToNative(Text1->text()); }

std::string Form1::SampleSizeText() { return ToNative(Text2->text()); }

std::string Form1::DecimalSeparator() { return ToNative(QLocale::system().decimalPoint()); }

void Form1::ProcessPendingEvents(const lotrix::WakeSet& wake) {
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  for (const int handle : wake.handles) {
    auto& notifier =
        notifiers.emplace_back(std::make_unique<QSocketNotifier>(handle, QSocketNotifier::Read));
    // One wake-up each: the handle stays ready until the run reads it after this turn, and
    // must not keep waking the loops nested in this turn (an inner run, a modal box).
    connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
            [raw = notifier.get()] { raw->setEnabled(false); });
  }
  QTimer poll;
  if (wake.pollSoon) poll.start(kPollMilliseconds);
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void Form1::ShowNotice(const lotrix::Notice& notice) {
  using Kind = lotrix::Notice::Kind;
  const QMessageBox::Icon icon = notice.kind == Kind::Information ? QMessageBox::NoIcon
                                 : notice.kind == Kind::Failure   ? QMessageBox::Warning
                                                                  : QMessageBox::Critical;
  QMessageBox box(icon, FromNative(notice.title), FromNative(notice.text), QMessageBox::Ok, this);
  box.exec();
}

void Form1::EndProgram() { emit endRequested(); }
