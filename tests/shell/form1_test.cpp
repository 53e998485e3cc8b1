#include "shell/qt/form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <filesystem>
#include <functional>

#include "fake_tool.h"

namespace {

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
    if (!box || !box->isVisible()) return;
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    if (onBox) onBox(boxes.last());
    box->button(QMessageBox::Ok)->click();
  }

  QTimer timer_;
};

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private:
  template <class T>
  static T* Control(Form1& window, const char* name) {
    auto* control = window.findChild<T*>(QLatin1String(name));
    if (!control) qFatal("no control %s", name);
    return control;
  }

  static void Click(Form1& window, const char* name) {
    Control<QPushButton>(window, name)->click();
  }

 private slots:
  void startsEmptyWithThirtyAndTheFocusInThePath() {
    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Lotrix"));
    QCOMPARE(Control<QLineEdit>(window, "Text1")->text(), QString());
    QCOMPARE(Control<QLineEdit>(window, "Text2")->text(), QStringLiteral("30"));
    QCOMPARE(QApplication::focusWidget(), Control<QLineEdit>(window, "Text1"));
    QCOMPARE(window.size(), QSize(480, 207));
    QVERIFY(!window.windowIcon().isNull());
  }

  void tabWalksTheFieldsAndButtonsAndSkipsTheLabels() {
    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QStringList visited;
    for (int i = 0; i < 5; ++i) {
      visited << QApplication::focusWidget()->objectName();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, QStringList({"Text1", "Command1", "Text2", "Command2", "Text1"}));
    for (const char* label : {"Label1", "Label2", "Label3"}) {
      QCOMPARE(Control<QLabel>(window, label)->focusPolicy(), Qt::NoFocus);
    }
  }

  void enterInAFieldStartsNothing() {
    fake::TempDir dir;
    fake::Apply({.record = dir / "args"});
    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    BoxAnswerer answerer;
    for (const char* field : {"Text1", "Text2"}) {
      auto* edit = Control<QLineEdit>(window, field);
      edit->setFocus();
      QTest::keyClick(edit, Qt::Key_Return);
      QTest::keyClick(edit, Qt::Key_Enter);
    }
    QTest::qWait(200);
    QVERIFY(!std::filesystem::exists(dir / "args"));
    QVERIFY(answerer.boxes.isEmpty());
  }

  void runStartsTheToolWithTheExactArgumentsAndSaysDoneAfterItEnded() {
    fake::TempDir dir;
    fake::Apply({.record = dir / "args", .report = dir / "report", .delayMs = 300});
    Form1 window;
    window.show();
    const std::string path = dir / fake::AwkwardName();
    Control<QLineEdit>(window, "Text1")->setText(QFile::decodeName(path.c_str()));
    Control<QLineEdit>(window, "Text2")->setText(QStringLiteral(" 030 "));

    BoxAnswerer answerer;
    bool toolGone = false;
    answerer.onBox = [&](const Box&) {
      const pid_t tool = std::stoi(fake::ReadReport(dir / "report")["pid"]);
      toolGone = kill(tool, 0) != 0 && errno == ESRCH;
    };
    Click(window, "Command2");

    QCOMPARE(answerer.boxes.size(), 1);
    QVERIFY2(toolGone, "the box came before the tool had ended");
    const Box& done = answerer.boxes[0];
    QCOMPARE(done.text, QStringLiteral("Done!"));
    QCOMPARE(done.title, QStringLiteral("information"));
    QCOMPARE(done.icon, QMessageBox::NoIcon);
    QCOMPARE(done.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    const std::vector<std::string> expected = {path, "30"};
    QCOMPARE(fake::ReadArguments(dir / "args"), expected);
    // The fields are as they were.
    QCOMPARE(Control<QLineEdit>(window, "Text2")->text(), QStringLiteral(" 030 "));
  }

  void badInputIsReportedAndTheWindowStays() {
    fake::TempDir dir;
    fake::Apply({.record = dir / "args"});
    Form1 window;
    window.show();
    QSignalSpy ended(&window, &Form1::endRequested);
    BoxAnswerer answerer;
    for (const char* size : {"abc", "", "32768"}) {
      Control<QLineEdit>(window, "Text2")->setText(QLatin1String(size));
      Click(window, "Command2");
      QVERIFY(window.isVisible());
      QCOMPARE(Control<QLineEdit>(window, "Text2")->text(), QLatin1String(size));
    }
    QCOMPARE(answerer.boxes.size(), 3);
    QVERIFY(answerer.boxes[0].text.startsWith("Error 13: Type mismatch"));
    QVERIFY(answerer.boxes[0].text.contains("\"abc\""));
    QVERIFY(answerer.boxes[1].text.startsWith("Error 13: Type mismatch"));
    QVERIFY(answerer.boxes[2].text.startsWith("Error 6: Overflow"));
    QCOMPARE(answerer.boxes[2].icon, QMessageBox::Critical);
    QVERIFY(!std::filesystem::exists(dir / "args"));
    QCOMPARE(ended.count(), 0);
  }

  void aMissingToolIsReportedWithItsFullPath() {
    fake::TempDir dir;
    Form1 window(dir.path().string());
    window.show();
    BoxAnswerer answerer;
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    QVERIFY(answerer.boxes[0].text.startsWith("Error 53: File not found"));
    QVERIFY(answerer.boxes[0].text.contains(QFile::decodeName((dir / "lotrix").c_str())));
    QVERIFY(window.isVisible());
  }

  void aFailingToolGetsAWarningNotDone() {
    fake::Apply({.status = 3, .lastWords = "lotrix: lines.txt: Permission denied"});
    Form1 window;
    window.show();
    BoxAnswerer answerer;
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(answerer.boxes[0].text.contains("exit status 3"));
    QVERIFY(answerer.boxes[0].text.contains("lotrix: lines.txt: Permission denied"));
  }

  void aRunDuringAWaitNestsAndTheEndedOuterToolDoesNotSpinIt() {
    fake::TempDir dir;
    fake::Apply({.record = dir / "outer", .delayMs = 50});
    Form1 window;
    window.show();
    BoxAnswerer answerer;
    QTimer::singleShot(20, &window, [&] {
      fake::Apply({.record = dir / "inner", .delayMs = 700, .status = 5});
      Control<QLineEdit>(window, "Text2")->setText(QStringLiteral("12"));
      Click(window, "Command2");
    });
    const std::string outerPath = "first";
    Control<QLineEdit>(window, "Text1")->setText(QString::fromStdString(outerPath));
    Click(window, "Command2");

    QCOMPARE(answerer.boxes.size(), 2);
    QVERIFY(answerer.boxes[0].text.contains("exit status 5"));  // the inner run's
    QCOMPARE(answerer.boxes[1].text, QStringLiteral("Done!"));
    QCOMPARE(fake::ReadArguments(dir / "outer"), std::vector<std::string>({outerPath, "30"}));
    QCOMPARE(fake::ReadArguments(dir / "inner"), std::vector<std::string>({outerPath, "12"}));
    // Woken by the answerer's 5 ms timer (some 150 times) and a few times by the tools; a spin
    // through the 650 ms after the outer tool ended counts in the tens of thousands.
    QVERIFY2(window.WaitTurns() < 1000, QByteArray::number(qulonglong(window.WaitTurns())));
  }

  void closingDuringAWaitStillSaysDoneThenEnds() {
    fake::Apply({.delayMs = 300});
    Form1 window;
    window.show();
    QSignalSpy ended(&window, &Form1::endRequested);
    BoxAnswerer answerer;
    answerer.onBox = [&](const Box&) {
      QVERIFY(!window.isVisible());
      QCOMPARE(ended.count(), 0);
    };
    QTimer::singleShot(50, &window, [&] { window.close(); });
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].text, QStringLiteral("Done!"));
    QCOMPARE(ended.count(), 1);

    Form1 idle;
    idle.show();
    QSignalSpy idleEnded(&idle, &Form1::endRequested);
    idle.close();
    QCOMPARE(idleEnded.count(), 1);
  }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
