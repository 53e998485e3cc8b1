// How much the front end costs while the sampler runs, and how soon it notices the end.
// Starts the stand-in sampler from the folder named on the command line and waits for it twice:
// through the real window's Run button, and through a reference loop that probes and processes
// events without ever blocking.
#include <sys/resource.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/run_action.h"
#include "shell/qt/main_window.h"

namespace {

using Clock = std::chrono::system_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Measure {
  double cpuShare;  // of one core, over the run
  double noticeMs;  // from the tool's last act to the notice
};

// The loop that blocks for nothing: probe, process pending events, probe again.
class BusyHost : public lotrix::RunHost {
 public:
  Clock::time_point noticed;
  std::string PathText() override { return "corpus.txt"; }
  std::string SampleSizeText() override { return "30"; }
  std::string DecimalSeparator() override { return "."; }
  void ProcessPendingEvents(const lotrix::WakeSet&) override {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  std::unique_ptr<Watch> WatchHandle(lotrix::WaitHandle, std::function<bool()>) override {
    return std::make_unique<Watch>();  // the tool writes no errors here
  }
  lotrix::Answer ShowNotice(const lotrix::Notice&) override {
    noticed = Clock::now();
    return lotrix::Answer::Ok;
  }
  bool OpenFile(const std::string&) override { return true; }
  void SetBusy(bool) override {}
  void ShowProgress(double) override {}
  void EndProgram() override {}
};

// Notes when a message box appears and closes it, without polling for it.
class BoxCloser : public QObject {
 public:
  Clock::time_point shown;
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* box = qobject_cast<QMessageBox*>(object)) {
        shown = Clock::now();
        QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
      }
    }
    return false;
  }
};

Clock::time_point ToolEnded(const std::string& file) {
  long long ticks = 0;
  std::ifstream(file) >> ticks;
  return Clock::time_point(Clock::duration(ticks));
}

template <class RunOnce>
Measure Time(const std::string& endedFile, int delayMs, RunOnce run) {
  setenv("LOTRIX_FAKE_DELAY_MS", std::to_string(delayMs).c_str(), 1);
  setenv("LOTRIX_FAKE_ENDED", endedFile.c_str(), 1);
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  const Clock::time_point noticed = run();
  const double wall = Seconds(Clock::now() - start);
  return {(CpuSeconds() - cpu) / wall, 1000 * Seconds(noticed - ToolEnded(endedFile))};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: wait_bench TOOL_FOLDER SECONDS\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int longMs = std::atoi(argv[2]) * 1000;
  const std::string ended =
      (std::filesystem::temp_directory_path() / "lotrix-bench-ended").string();

  MainWindow window(folder);
  window.show();
  BoxCloser closer;
  app.installEventFilter(&closer);
  auto viaWindow = [&] {
    window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    return closer.shown;
  };
  lotrix::RunAction reference(folder);
  auto viaBusyLoop = [&] {
    BusyHost host;
    reference.Run(host);
    return host.noticed;
  };

  const Measure oursLong = Time(ended, longMs, viaWindow);
  const Measure busyLong = Time(ended, longMs, viaBusyLoop);
  std::vector<double> oursNotice, busyNotice;
  for (int i = 0; i < 9; ++i) {
    oursNotice.push_back(Time(ended, 100, viaWindow).noticeMs);
    busyNotice.push_back(Time(ended, 100, viaBusyLoop).noticeMs);
  }
  std::filesystem::remove(ended);

  std::printf(
      "waiting for a sampler that runs %d s      CPU (share of one core)   notice after exit "
      "(median of 9)\n",
      longMs / 1000);
  std::printf("  lotrixGUI                                  %6.2f %%                 %7.2f ms\n",
              100 * oursLong.cpuShare, Median(oursNotice));
  std::printf("  reference: probe-and-pump loop, no wait    %6.2f %%                 %7.2f ms\n",
              100 * busyLong.cpuShare, Median(busyNotice));
  std::printf("  target for lotrixGUI                       <= 2 %%                   <= 50 ms\n");
  return 0;
}
