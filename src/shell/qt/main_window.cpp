#include "shell/qt/main_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <utility>
#include <vector>

#include "shell/main_window_layout.h"
#include "shell/qt/native_text.h"
#include "shell/qt/open_file_dialog.h"

namespace {

namespace layout = lotrix::main_window;

// Qt's logical pixels are at 96 dpi and follow the desktop's scale factor from there.
constexpr int kLogicalDpi = 96;

// How soon to look again at a tool whose end the system cannot signal.
constexpr int kPollMilliseconds = 10;

int Pixels(int twips) { return layout::Pixels(twips, kLogicalDpi); }

QWidget* Place(QWidget* window, const layout::Control& entry) {
  const QString text = QString::fromUtf8(entry.text);
  QWidget* control = nullptr;
  switch (entry.kind) {
    case layout::Kind::TextField:
      control = new QLineEdit(text, window);
      break;
    case layout::Kind::Button:
      control = new QPushButton(text, window);
      break;
    case layout::Kind::Label:
      control = new QLabel(text, window);
      break;
  }
  control->setObjectName(QLatin1String(entry.name));
  QFont font(QString::fromUtf8(layout::kFontFamily));
  font.setPointSizeF(layout::kFontTenthsOfPoint / 10.0);
  font.setWeight(QFont::Normal);
  control->setFont(font);
  control->setGeometry(Pixels(entry.left), Pixels(entry.top), Pixels(entry.width),
                       Pixels(entry.height));
  if (entry.kind == layout::Kind::Label) {
    // The widths were measured with another renderer; where this one sets the serif a pixel
    // wider, the label grows rather than cut off its last letter.
    control->resize(std::max(control->width(), control->sizeHint().width()), control->height());
  }
  return control;
}

// A notifier fires in every event loop of the thread, modal boxes' and dialogs' included.
class NotifierWatch : public lotrix::RunHost::Watch {
 public:
  NotifierWatch(int handle, std::function<bool()> drain)
      : notifier_(handle, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_,
                     [this, drain = std::move(drain)] {
                       if (!drain()) notifier_.setEnabled(false);
                     });
  }

 private:
  QSocketNotifier notifier_;
};

// The window as screen readers see it: Qt's own account, and busy while a run is under way.
class AccessibleMainWindow : public QAccessibleWidget {
 public:
  explicit AccessibleMainWindow(MainWindow* form) : QAccessibleWidget(form, QAccessible::Window) {}
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.busy = static_cast<const MainWindow*>(widget())->IsBusy();
    return state;
  }
};

QAccessibleInterface* AccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("MainWindow") && object->isWidgetType()) {
    return new AccessibleMainWindow(static_cast<MainWindow*>(object));
  }
  return nullptr;
}

// The first local file among what is dragged; empty for anything else (text, web links).
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return {};
}

// Desktops that show a launcher's progress (KDE's task manager, GNOME's docks) take it as this
// signal, from the application that their launcher file names.
void TellLauncher(bool visible, double progress) {
  QDBusMessage signal = QDBusMessage::createSignal(
      QStringLiteral("/org/lotrix/progress"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
      QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress-visible"), visible);
  properties.insert(QStringLiteral("progress"), progress);
  signal << QStringLiteral("application://lotrix.desktop") << properties;
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace

MainWindow::MainWindow(std::string toolFolder, std::unique_ptr<lotrix::OpenFileDialog> dialog,
                       QWidget* parent)
    : QWidget(parent),
      openDialog_(dialog ? std::move(dialog) : std::make_unique<QtOpenFileDialog>(this)),
      runAction_(std::move(toolFolder)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(layout::kCaption));
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/lotrix/lotrix-%1.png").arg(size), QSize(size, size));
  }
  setWindowIcon(icon);
  setFixedSize(Pixels(layout::kClientWidth), Pixels(layout::kClientHeight));

  // Created in tab order, so that Tab walks path, Browse, sample size, Run; labels take no
  // focus.
  QWidget* controls[layout::kControlCount];
  for (int i = 0; i < layout::kControlCount; ++i) controls[i] = Place(this, layout::kControls[i]);
  // A label's buddy is the field it names: screen readers hear "Input File" and "Sample", and
  // get the labelled-by relation. The captions carry no "&", so no access key comes with it.
  for (const layout::Caption& caption : layout::kCaptions) {
    static_cast<QLabel*>(controls[caption.label])->setBuddy(controls[caption.field]);
  }
  controls[layout::kUnit.field]->setAccessibleDescription(
      static_cast<QLabel*>(controls[layout::kUnit.label])->text());
  pathField_ = static_cast<QLineEdit*>(controls[layout::kPathField]);
  browseButton_ = static_cast<QPushButton*>(controls[layout::kBrowseButton]);
  sizeField_ = static_cast<QLineEdit*>(controls[layout::kSizeField]);
  runButton_ = static_cast<QPushButton*>(controls[layout::kRunButton]);

  // Neither button answers Enter: a field's Enter must not start a run.
  for (QPushButton* button : {browseButton_, runButton_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  pathField_->setFocus();

  static const bool accessible = [] {
    QAccessible::installFactory(AccessibleFactory);
    return true;
  }();
  (void)accessible;
  setAcceptDrops(true);
  pathField_->installEventFilter(this);

  connect(browseButton_, &QPushButton::clicked, this, &MainWindow::OnBrowse);
  connect(runButton_, &QPushButton::clicked, this, &MainWindow::OnRun);
  connect(this, &MainWindow::endRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window goes at once; a run under way keeps waiting and still says "Done!".
  event->accept();
  if (runAction_.RequestEnd()) emit endRequested();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString file = DraggedFile(event->mimeData());
  if (file.isEmpty()) return;
  pathField_->setText(file);
  event->acceptProposedAction();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The field takes dropped text as its own; a dropped file is the window's to place.
  if (watched == pathField_ &&
      (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
    auto* drop = static_cast<QDropEvent*>(event);
    if (!DraggedFile(drop->mimeData()).isEmpty()) {
      if (event->type() == QEvent::DragEnter) {
        dragEnterEvent(static_cast<QDragEnterEvent*>(event));
      } else {
        dropEvent(drop);
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::OnBrowse() {
  pathField_->setText(FromNative(lotrix::Browse(*openDialog_, ToNative(pathField_->text()))));
}

void MainWindow::OnRun() { runAction_.Run(*this); }

std::string MainWindow::PathText() { return ToNative(pathField_->text()); }

std::string MainWindow::SampleSizeText() { return ToNative(sizeField_->text()); }

std::string MainWindow::DecimalSeparator() { return ToNative(QLocale::system().decimalPoint()); }

void MainWindow::ProcessPendingEvents(const lotrix::WakeSet& wake) {
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

std::unique_ptr<lotrix::RunHost::Watch> MainWindow::WatchHandle(lotrix::WaitHandle handle,
                                                                std::function<bool()> drain) {
  return std::make_unique<NotifierWatch>(handle, std::move(drain));
}

lotrix::Answer MainWindow::ShowNotice(const lotrix::Notice& notice) {
  using Kind = lotrix::Notice::Kind;
  const QMessageBox::Icon icon = notice.kind == Kind::Information ? QMessageBox::NoIcon
                                 : notice.kind == Kind::Failure   ? QMessageBox::Warning
                                                                  : QMessageBox::Critical;
  QMessageBox box(icon, FromNative(notice.title), FromNative(notice.text), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  if (!notice.detail.empty()) {
    box.setInformativeText(FromNative(notice.detail));
    // Wide enough for a path and the seed's sentence to read as lines, not as a column.
    box.setStyleSheet(QStringLiteral("QLabel { min-width: 30em; }"));
  }
  QPushButton* open = nullptr;
  if (!notice.openPath.empty()) open = box.addButton(tr("Open"), QMessageBox::ActionRole);
  // Enter and Escape both close it with OK; Open is a click or its own key away.
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
  return open != nullptr && box.clickedButton() == open ? lotrix::Answer::Open : lotrix::Answer::Ok;
}

bool MainWindow::OpenFile(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(FromNative(path)));
}

void MainWindow::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
  QAccessible::State changed;
  changed.busy = true;
  QAccessibleStateChangeEvent event(this, changed);
  QAccessible::updateAccessibility(&event);
  TellLauncher(busy, 0.0);
}

void MainWindow::ShowProgress(double fraction) { TellLauncher(busy_, fraction); }

void MainWindow::EndProgram() { emit endRequested(); }
