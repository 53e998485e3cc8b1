#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "browse/browse_action.h"
#include "fake_tool.h"
#include "shell/qt/main_window.h"
#include "window_driver.h"

namespace {

// Answers in place of the user: picks `choice`, or cancels when it is empty.
class FakeDialog : public lotrix::OpenFileDialog {
 public:
  std::string choice;
  std::vector<std::string> namesSet;
  std::vector<std::string> foldersSet;
  int shown = 0;

  void SetFileName(const std::string& name) override {
    namesSet.push_back(name);
    fileName_ = name;
  }
  void SetFolder(const std::string& folder) override { foldersSet.push_back(folder); }
  void ShowOpen() override {
    ++shown;
    if (!choice.empty()) fileName_ = choice;
  }
  std::string FileName() const override { return fileName_; }

 private:
  std::string fileName_;
};

}  // namespace

class BrowseTest : public QObject {
  Q_OBJECT

 private:
  // A window whose dialog the test answers; `dialog` stays owned by the window.
  static std::unique_ptr<MainWindow> WindowWith(FakeDialog*& dialog) {
    auto fake = std::make_unique<FakeDialog>();
    dialog = fake.get();
    auto window = std::make_unique<MainWindow>(lotrix::ApplicationFolder(), std::move(fake));
    window->show();
    return window;
  }

 private slots:
  void aChoicePutsItsFullPathInTheField() {
    FakeDialog* dialog = nullptr;
    auto window = WindowWith(dialog);
    dialog->choice = "/data/corpus v2/hits \xe4\xb8\xad.txt";
    Click(*window, "Command1");
    QCOMPARE(Control<QLineEdit>(*window, "Text1")->text(),
             QString::fromUtf8("/data/corpus v2/hits \xe4\xb8\xad.txt"));
    QCOMPARE(dialog->shown, 1);
  }

  void eachBrowseStartsEmptyAndACancelEmptiesTheField() {
    FakeDialog* dialog = nullptr;
    auto window = WindowWith(dialog);
    Control<QLineEdit>(*window, "Text1")->setText(QStringLiteral("/typed/by/hand.txt"));
    Click(*window, "Command1");
    QCOMPARE(Control<QLineEdit>(*window, "Text1")->text(), QString());
    dialog->choice = "/first.txt";
    Click(*window, "Command1");
    dialog->choice.clear();
    Click(*window, "Command1");
    QCOMPARE(Control<QLineEdit>(*window, "Text1")->text(), QString());
    // Never the field's text, never the earlier choice.
    QCOMPARE(dialog->namesSet, std::vector<std::string>({"", "", ""}));
  }

  void browseOpensInTheFolderOfThePathInTheField() {
    fake::TempDir dir;
    std::filesystem::create_directory(dir / "corpus v2");
    std::ofstream(dir / "corpus v2/hits.txt") << "a\n";
    const std::string folder = dir / "corpus v2";
    struct Case {
      std::string field, folder;
    };
    for (const auto& [field, expected] : {
             Case{folder + "/hits.txt", folder},
             Case{" '" + folder + "/hits.txt'\n", folder},  // a pasted slip
             Case{folder + "/not yet.txt", folder},         // a file to be, in a folder that is
             Case{folder, folder},
             Case{"file://" + folder + "/hits.txt", folder},
             Case{"/no/such/folder/hits.txt", ""},
             Case{"hits.txt", ""},
             Case{"/hits.txt", "/"},  // a file at the root opens at the root
             Case{"", ""},
         }) {
      FakeDialog* dialog = nullptr;
      auto window = WindowWith(dialog);
      Control<QLineEdit>(*window, "Text1")->setText(QFile::decodeName(field.c_str()));
      Click(*window, "Command1");
      QCOMPARE(dialog->foldersSet, std::vector<std::string>{expected});
    }
  }

  void browseDuringAWaitChangesOnlyTheField() {
    fake::TempDir dir;
    fake::Apply({.record = dir / "args", .delayMs = 300});
    FakeDialog* dialog = nullptr;
    auto window = WindowWith(dialog);
    dialog->choice = "/picked/during/the/run.txt";
    Control<QLineEdit>(*window, "Text1")->setText(QStringLiteral("/before.txt"));
    BoxAnswerer answerer;
    QTimer::singleShot(50, window.get(), [&] { Click(*window, "Command1"); });
    Click(*window, "Command2");
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].text, QStringLiteral("Done!"));
    QCOMPARE(fake::ReadArguments(dir / "args"), std::vector<std::string>({"/before.txt", "30"}));
    QCOMPARE(Control<QLineEdit>(*window, "Text1")->text(),
             QStringLiteral("/picked/during/the/run.txt"));
  }

  void keysPressTheButtonsAndReachTheFields() {
    struct Case {
      const char* focus;
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
      const char* outcome;  // "browse", "run", or the control that then has the focus
    } const cases[] = {
        {"Command2", Qt::Key_Return, Qt::NoModifier, "run"},
        {"Command2", Qt::Key_Enter, Qt::KeypadModifier, "run"},
        {"Command1", Qt::Key_Return, Qt::NoModifier, "browse"},
        {"Text2", Qt::Key_R, Qt::AltModifier, "run"},
        {"Text1", Qt::Key_B, Qt::AltModifier, "browse"},
        {"Command2", Qt::Key_I, Qt::AltModifier, "Text1"},
        {"Text1", Qt::Key_S, Qt::AltModifier, "Text2"},
    };
    fake::Apply({});
    for (const Case& c : cases) {
      FakeDialog* dialog = nullptr;
      auto window = WindowWith(dialog);
      QVERIFY(QTest::qWaitForWindowActive(window.get()));
      BoxAnswerer answerer;
      Control<QWidget>(*window, c.focus)->setFocus();
      QTest::keyClick(QApplication::focusWidget(), c.key, c.modifiers);
      QTest::qWait(200);  // an access key shows the button pressed for 100 ms first
      const QString outcome = QLatin1String(c.outcome);
      QCOMPARE(dialog->shown, outcome == QLatin1String("browse") ? 1 : 0);
      QCOMPARE(answerer.boxes.size(), outcome == QLatin1String("run") ? 1 : 0);
      if (outcome != QLatin1String("browse") && outcome != QLatin1String("run")) {
        QCOMPARE(QApplication::focusWidget()->objectName(), outcome);
      }
    }
  }

  void theRealDialogHandsBackTheChosenFile() {
    fake::TempDir dir;
    const std::string file = dir / "hits.txt";
    std::ofstream(file) << "a\n";
    MainWindow window;
    window.show();
    Control<QLineEdit>(window, "Text1")->setText(QStringLiteral("/typed.txt"));

    QString offered = QStringLiteral("unset");
    bool accept = true;
    QTimer answer;
    connect(&answer, &QTimer::timeout, &window, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      offered = name ? name->text() : QStringLiteral("no name field");
      if (accept) {
        QTest::keyClicks(name, QString::fromStdString(file));
        QTest::keyClick(name, Qt::Key_Return);
      } else {
        dialog->reject();
      }
    });
    answer.start(10);
    Click(window, "Command1");
    QCOMPARE(offered, QString());
    QCOMPARE(Control<QLineEdit>(window, "Text1")->text(), QString::fromStdString(file));

    accept = false;
    Click(window, "Command1");
    QCOMPARE(offered, QString());
    QCOMPARE(Control<QLineEdit>(window, "Text1")->text(), QString());
  }
};

QTEST_MAIN(BrowseTest)
#include "browse_test.moc"
