#include "shell/qt/main_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
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

// A notice's rows must fit in three quarters of the screen the window is on, set in the
// message font's widest letter.
int NoticeWidth(const QWidget& window) {
  return window.screen()->availableGeometry().width() * 3 / 4;
}

int WidestRow(const QFontMetrics& metrics, const QString& text) {
  int widest = 0;
  for (const QString& row : text.split(QLatin1Char('\n'))) {
    widest = std::max(widest, metrics.horizontalAdvance(row));
  }
  return widest;
}

// `text` with each row that is set in glyphs wider than the letter the row width counts by
// (symbols, some CJK) shortened in its middle to fit in `room` pixels: broken again, it would
// take more rows than the screen has.
QString FittedRows(const std::string& text, const QFontMetrics& metrics, int room) {
  QStringList rows = FromNative(text).split(QLatin1Char('\n'));
  for (QString& row : rows) {
    if (metrics.horizontalAdvance(row) > room) row = metrics.elidedText(row, Qt::ElideMiddle, room);
  }
  return rows.join(QLatin1Char('\n'));
}

}  // namespace

MainWindow::MainWindow(std::string toolFolder, std::unique_ptr<lotrix::OpenFileDialog> dialog,
                       QWidget* parent)
    : QWidget(parent),
      openDialog_(dialog ? std::move(dialog) : std::make_unique<QtOpenFileDialog>(this)),
      runAction_(std::move(toolFolder)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(layout::kCaption));
  // The images are compiled into the window's library, whose initialiser nothing else pulls in.
  Q_INIT_RESOURCE(lotrix);
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
  // A label's buddy is the field it names: screen readers hear "Input File" and "Sample" and get
  // the labelled-by relation, and the caption's access key moves to the field.
  for (const layout::Caption& caption : layout::kCaptions) {
    static_cast<QLabel*>(controls[caption.label])->setBuddy(controls[caption.field]);
  }
  // The widths were measured with another renderer; where this one sets the serif a pixel wider,
  // a label grows rather than cut off its last letter. (Its "&" shows only without a buddy.)
  for (QLabel* label : findChildren<QLabel*>()) {
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  }
  controls[layout::kUnit.field]->setAccessibleDescription(
      static_cast<QLabel*>(controls[layout::kUnit.label])->text());
  pathField_ = static_cast<QLineEdit*>(controls[layout::kPathField]);
  browseButton_ = static_cast<QPushButton*>(controls[layout::kBrowseButton]);
  sizeField_ = static_cast<QLineEdit*>(controls[layout::kSizeField]);
  runButton_ = static_cast<QPushButton*>(controls[layout::kRunButton]);

  // Enter presses the button that has the focus. In a window that is no dialog, no button is
  // the default, so that a field's Enter starts nothing.
  for (QPushButton* button : {browseButton_, runButton_}) button->setAutoDefault(true);
  pathField_->setFocus();

  static const bool accessible = [] {
    QAccessible::installFactory(AccessibleFactory);
    return true;
  }();
  (void)accessible;
  setAcceptDrops(true);
  pathField_->installEventFilter(this);
  sizeField_->installEventFilter(this);

  connect(browseButton_, &QPushButton::clicked, this, &MainWindow::OnBrowse);
  connect(runButton_, &QPushButton::clicked, this, &MainWindow::OnRun);
  connect(this, &MainWindow::endRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window goes at once, and with it the runs under way: left running, a sampler would go
  // on filling the disk with no window left to stop it.
  event->accept();
  if (runAction_.RequestEnd()) emit endRequested();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && runAction_.Stop()) return;
  QWidget::keyPressEvent(event);
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
  // The fields take dropped text as their own; a dropped file is the window's to place.
  if ((watched == pathField_ || watched == sizeField_) &&
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

std::size_t MainWindow::RowWidth() {
  const int letter =
      QFontMetrics(QApplication::font("QMessageBox")).horizontalAdvance(QLatin1Char('W'));
  if (letter <= 0) return lotrix::kRowWidth;
  return std::clamp<std::size_t>(static_cast<std::size_t>(NoticeWidth(*this) / letter), 24,
                                 lotrix::kRowWidth);
}

lotrix::Answer MainWindow::ShowNotice(const lotrix::Notice& notice) {
  using Kind = lotrix::Notice::Kind;
  const QMessageBox::Icon icon = notice.kind == Kind::Information ? QMessageBox::NoIcon
                                 : notice.kind == Kind::Failure   ? QMessageBox::Warning
                                                                  : QMessageBox::Critical;
  const QFontMetrics metrics(QApplication::font("QMessageBox"));
  const int room = NoticeWidth(*this);
  QMessageBox box(icon, FromNative(notice.title), FittedRows(notice.text, metrics, room),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  if (!notice.detail.empty()) {
    box.setInformativeText(FittedRows(notice.detail, metrics, room));
  }
  // A box that breaks lines would break each of the notice's rows again wherever its words let
  // it, into a column taller than the screen, and cut off what it cannot break. Each text gets
  // the width of its widest row instead; the detail at least enough for a path and the seed's
  // sentence to read as lines.
  for (QLabel* label : box.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    const QFontMetrics shown(label->font());
    const int least = label->objectName() == QLatin1String("qt_msgbox_informativelabel")
                          ? shown.horizontalAdvance(QLatin1Char('M')) * 30
                          : 0;
    label->setMinimumWidth(std::min(std::max(least, WidestRow(shown, label->text())) + 1, room));
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
