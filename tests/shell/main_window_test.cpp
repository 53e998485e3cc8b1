#include "shell/qt/main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <filesystem>

#include "fake_tool.h"
#include "window_driver.h"

namespace {

// Counts the wake-ups that ready handles deliver to the application.
class SocketEventCounter : public QObject {
 public:
  int count = 0;
  SocketEventCounter() { qApp->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::SockAct) ++count;
    return false;
  }
};

// Stands in for the desktop's file opener.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void startsEmptyWithThirtyAndTheFocusInThePath() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Lotrix"));
    QCOMPARE(Control<QLineEdit>(window, "Text1")->text(), QString());
    QCOMPARE(Control<QLineEdit>(window, "Text2")->text(), QStringLiteral("30"));
    QCOMPARE(QApplication::focusWidget(), Control<QLineEdit>(window, "Text1"));
    QCOMPARE(window.size(), QSize(480, 207));
    QVERIFY(!window.windowIcon().pixmap(32).isNull());
  }

  void everyControlStandsWhereTheTableSays() {
    struct Row {
      const char* name;
      const char* text;
      int left, top, width, height;  // twips, 15 to a pixel
    };
    const Row table[] = {
        {"Text1", "", 1320, 840, 3975, 495},           {"Command1", "&Browse", 5520, 960, 855, 375},
        {"Text2", "30", 1320, 1560, 1095, 375},        {"Label1", "&Sample", 360, 1560, 615, 240},
        {"Label2", "&Input File", 360, 960, 810, 240}, {"Label3", "lines", 2520, 1560, 375, 255},
        {"Command2", "&Run", 5520, 1440, 855, 375},
    };
    MainWindow window;
    window.show();
    QCOMPARE(window.minimumSize(), QSize(480, 207));
    QCOMPARE(window.maximumSize(), QSize(480, 207));
    for (const Row& row : table) {
      auto* control = Control<QWidget>(window, row.name);
      const QRect expected(row.left / 15, row.top / 15, row.width / 15, row.height / 15);
      const QRect actual = control->geometry();
      if (auto* label = qobject_cast<QLabel*>(control)) {
        // A label may grow to the right where this renderer sets its text wider.
        QCOMPARE(actual.topLeft(), expected.topLeft());
        QCOMPARE(actual.height(), expected.height());
        QCOMPARE(actual.width(), std::max(expected.width(), label->sizeHint().width()));
        QCOMPARE(label->text(), QLatin1String(row.text));
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
      } else {
        QCOMPARE(actual, expected);
        QCOMPARE(control->property("text").toString(), QLatin1String(row.text));
        QVERIFY(control->focusPolicy() & Qt::TabFocus);
      }
      const QFont font = control->font();
      QCOMPARE(font.family(), QStringLiteral("Times New Roman"));
      QCOMPARE(font.pointSizeF(), 10.5);
      QCOMPARE(font.weight(), QFont::Normal);
      QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());
      QVERIFY(
          QStringList({"Times New Roman", "Liberation Serif"}).contains(QFontInfo(font).family()));
      QVERIFY(control->isEnabled());
    }
  }

  void tabWalksTheFieldsAndButtonsAndSkipsTheLabels() {
    MainWindow window;
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
    MainWindow window;
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
    MainWindow window;
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
    MainWindow window;
    window.show();
    QSignalSpy ended(&window, &MainWindow::endRequested);
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
    MainWindow window(dir.path().string());
    window.show();
    BoxAnswerer answerer;
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    QVERIFY(answerer.boxes[0].text.startsWith("Error 53: File not found"));
    QVERIFY(answerer.boxes[0].text.contains(QFile::decodeName((dir / "lotrix").c_str())));
    QVERIFY(window.isVisible());
  }

  void aFailingToolGetsAWarningNotDone() {
    // Also where the program was started with SIGCHLD ignored (`trap '' CHLD`, a launcher), in
    // which the kernel would reap the tool and its status with it.
    signal(SIGCHLD, SIG_IGN);
    fake::Apply({.status = 3, .lastWords = "lotrix: lines.txt: Permission denied"});
    MainWindow window;
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
    MainWindow window;
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

  void aWaitWithNothingElseToDoWakesWhenTheToolEnds() {
    // No timer runs and no event comes, and a process the tool left behind holds its pipes
    // open: only the tool's end can wake the wait. The box is closed the moment it shows, not
    // by polling for it.
    fake::Apply({.delayMs = 300, .says = "seed 1", .lingerMs = 8000});
    MainWindow window;
    window.show();
    // (The path field's blinking cursor would wake it twice a second.)
    const int flash = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
    QCoreApplication::processEvents();
    struct Closer : QObject {
      int shown = 0;
      bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
          ++shown;
          QMetaObject::invokeMethod(
              box, [box] { box->done(QMessageBox::Ok); }, Qt::QueuedConnection);
        }
        return false;
      }
    } closer;
    qApp->installEventFilter(&closer);
    // Only a wait that never wakes lets this fire.
    bool stuck = false;
    QTimer::singleShot(5000, &window, [&] { stuck = true; });
    QElapsedTimer clock;
    clock.start();
    Click(window, "Command2");
    qApp->removeEventFilter(&closer);
    QApplication::setCursorFlashTime(flash);
    QVERIFY2(!stuck, "the wait slept through the tool's end");
    QCOMPARE(closer.shown, 1);
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    QVERIFY2(window.WaitTurns() < 10, QByteArray::number(qulonglong(window.WaitTurns())));
  }

  void anEndedToolDoesNotSpinTheModalLoopsInsideItsWait() {
    // The tool ends while the user reads an error box of a second click on Run.
    fake::Apply({.delayMs = 50});
    MainWindow window;
    window.show();
    SocketEventCounter counter;
    BoxAnswerer answerer;
    answerer.onBox = [&](const Box& box) {
      if (box.text.startsWith("Error")) QTest::qWait(400);
    };
    QTimer::singleShot(20, &window, [&] {
      Control<QLineEdit>(window, "Text2")->setText(QStringLiteral("abc"));
      Click(window, "Command2");
    });
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 2);
    QVERIFY(answerer.boxes[0].text.startsWith("Error 13"));
    QCOMPARE(answerer.boxes[1].text, QStringLiteral("Done!"));
    // The ended tool's handles are ready for all of those 400 ms; each may wake us once.
    QVERIFY2(counter.count < 10, QByteArray::number(counter.count));
  }

  void anOuterToolsErrorsAreReadWhileAnInnerNoticeIsOpen() {
    fake::TempDir dir;
    // Four times what a pipe holds, written once the inner run's notice is up: the outer tool
    // ends only if its errors are read while that box waits for the user.
    fake::Apply({.ended = dir / "outer-ended", .quietMs = 300, .stderrBytes = 256 << 10});
    MainWindow window;
    window.show();
    BoxAnswerer answerer;
    bool endedDuringNotice = false;
    answerer.onBox = [&](const Box&) {
      if (answerer.boxes.size() > 1) return;
      endedDuringNotice =
          QTest::qWaitFor([&] { return std::filesystem::exists(dir / "outer-ended"); }, 10000);
    };
    QTimer::singleShot(0, &window, [&] {
      fake::Apply({});
      Click(window, "Command2");
    });
    Click(window, "Command2");
    QVERIFY2(endedDuringNotice, "the outer tool stalled behind the inner notice");
    QCOMPARE(answerer.boxes.size(), 2);
  }

  void theDecimalSeparatorIsTheUsersLocales() {
    // The test list runs this once more under a comma locale, LOTRIX_COMMA_LOCALE set.
    const bool comma = QLocale::system().decimalPoint() == QStringLiteral(",");
    if (!qEnvironmentVariableIsSet("LOTRIX_COMMA_LOCALE")) QSKIP("runs under a comma locale");
    QVERIFY(comma);
    fake::TempDir dir;
    fake::Apply({.record = dir / "args"});
    MainWindow window;
    window.show();
    Control<QLineEdit>(window, "Text2")->setText(QStringLiteral("7,5"));
    BoxAnswerer answerer;
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(fake::ReadArguments(dir / "args"), std::vector<std::string>({"", "8"}));
  }

  void theDoneNoticeNamesTheSampleAndOpenOpensIt() {
    const std::string sample = "/corpus v2/hits_sample30-2.txt";
    fake::Apply({.delayMs = 200, .says = "seed 42\nprogress 5 10\nlines 10 7\nsample " + sample});
    MainWindow window;
    window.show();
    UrlCatcher opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "Open");
    BoxAnswerer answerer;
    answerer.press = QStringLiteral("Open");
    bool busyDuringRun = false;
    QTimer::singleShot(100, &window, [&] {
      busyDuringRun = window.IsBusy() && window.cursor().shape() == Qt::BusyCursor &&
                      QAccessible::queryAccessibleInterface(&window)->state().busy;
    });
    Click(window, "Command2");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    QVERIFY2(busyDuringRun, "the window did not show that it was busy");
    QVERIFY(!window.IsBusy());
    QVERIFY(!QAccessible::queryAccessibleInterface(&window)->state().busy);
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(answerer.boxes.size(), 1);
    const Box& done = answerer.boxes[0];
    QCOMPARE(done.text, QStringLiteral("Done!"));
    QCOMPARE(done.title, QStringLiteral("information"));
    QVERIFY(done.detail.contains(QString::fromStdString(sample)));
    QVERIFY(done.detail.contains(QStringLiteral("lotrix --seed 42")));
    QVERIFY2(done.textsShowWhole, "a text of the box is cut off or broken again");
    QCOMPARE(done.buttonTexts.size(), 2);
    QVERIFY(done.buttonTexts.contains(QStringLiteral("Open")));
    QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(sample))});
  }

  void aFileDroppedAnywhereOnTheWindowBecomesThePath() {
    MainWindow window;
    window.show();
    auto* field = Control<QLineEdit>(window, "Text1");
    struct Case {
      QWidget* target;
      QList<QUrl> urls;
      QString text;  // what the field then says
    };
    const QList<QUrl> files = {QUrl::fromLocalFile(QStringLiteral("/corpus/a b.txt")),
                               QUrl::fromLocalFile(QStringLiteral("/corpus/second.txt"))};
    const QList<QUrl> web = {QUrl(QStringLiteral("https://example.org/hits.txt"))};
    auto* size = Control<QLineEdit>(window, "Text2");
    for (const Case& c : {Case{&window, files, QStringLiteral("/corpus/a b.txt")},
                          Case{field, {files[1]}, QStringLiteral("/corpus/second.txt")},
                          Case{size, {files[1]}, QStringLiteral("/corpus/second.txt")},
                          Case{&window, web, QStringLiteral("untouched")}}) {
      field->setText(QStringLiteral("untouched"));
      QMimeData data;
      data.setUrls(c.urls);
      data.setText(c.urls.front().toString());  // as file managers offer it, a field's to take
      const QPointF at(c.target->width() / 2.0, c.target->height() / 2.0);
      QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(c.target, &enter);
      QCOMPARE(enter.isAccepted(), c.text != QStringLiteral("untouched"));
      QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(c.target, &drop);
      QCOMPARE(field->text(), c.text);
      QCOMPARE(size->text(), QStringLiteral("30"));
    }
  }

  void aFailureBoxShowsEveryRowOnASmallScreen() {
    // (The offscreen screen is 800 pixels wide.) Megabytes of errors ending in lines of words, an
    // unbroken line and a path too long for its rows: the tool's errors keep their last 4 KiB.
    std::string words;
    for (int line = 0; line < 11; ++line) {
      for (int word = 0; word < 100; ++word) words += line == 10 ? "xxxxxxxxxx" : "word word ";
      words += "\n";
    }
    // Glyphs wider than any letter, which the rows' width cannot count on.
    for (int glyph = 0; glyph < 300; ++glyph) words += "\u27ff";
    words += "\nlotrix: /" + std::string(900, 'd') + "/hits.txt: No such file or directory";
    fake::Apply({.status = 1, .stderrBytes = 5 << 20, .lastWords = words});
    MainWindow window;
    window.show();
    BoxAnswerer answerer;
    Click(window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    const Box& box = answerer.boxes[0];
    QVERIFY2(box.textsShowWhole, "a text of the box is cut off or broken again");
    QVERIFY2(box.screen.contains(box.frame) && box.frame.height() <= 600,
             qPrintable(QStringLiteral("%1 x %2 px at %3, %4 on a screen of %5 x %6")
                            .arg(box.frame.width())
                            .arg(box.frame.height())
                            .arg(box.frame.x())
                            .arg(box.frame.y())
                            .arg(box.screen.width())
                            .arg(box.screen.height())));
    QVERIFY(box.text.endsWith(QStringLiteral("/hits.txt: No such file or directory")));
  }
};

QTEST_MAIN(Form1Test)
#include "main_window_test.moc"
