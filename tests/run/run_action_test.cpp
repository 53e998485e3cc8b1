#include "run/run_action.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <pthread.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>

#include "fake_tool.h"

namespace {

using lotrix::Notice;
using lotrix::RunAction;
using lotrix::ToolExit;

// A window without a window: its "events" are the callbacks that a test queues for a turn of
// the wait; it blocks on the handles that the run asks to be woken by, and, like every event
// loop of a real window, serves the watches that the run keeps.
class FakeWindow : public lotrix::RunHost {
 public:
  std::string path = "corpus.txt";
  std::string sampleSize = "30";
  std::vector<Notice> notices;
  std::vector<std::size_t> noticesAtEnd;  // how many notices had been shown at each EndProgram
  // Runs at the start of a turn: what the user does while the tool runs.
  std::function<void(int turn)> onTurn;
  std::function<void(const Notice&)> onNotice;
  // While it is false, a notice stays up as a modal box does, its loop serving the watches.
  std::function<bool()> noticeStaysUntil;
  int turns = 0;
  std::size_t mostWakeHandles = 0;

  std::string PathText() override { return path; }
  std::string SampleSizeText() override { return sampleSize; }
  std::string DecimalSeparator() override { return "."; }

  void ProcessPendingEvents(const lotrix::WakeSet& wake) override {
    const int turn = ++turns;
    mostWakeHandles = std::max(mostWakeHandles, wake.handles.size());
    if (onTurn) onTurn(turn);
    Serve(wake.handles, wake.pollSoon ? 10 : -1);
  }
  std::unique_ptr<Watch> WatchHandle(lotrix::WaitHandle handle,
                                     std::function<bool()> drain) override {
    auto watched = std::make_shared<Watched>(Watched{handle, std::move(drain)});
    watches_.push_back(watched);
    return std::make_unique<FakeWatch>(watched);
  }
  void ShowNotice(const Notice& notice) override {
    if (onNotice) onNotice(notice);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (noticeStaysUntil && !noticeStaysUntil() && std::chrono::steady_clock::now() < deadline) {
      Serve({}, 20);
    }
    notices.push_back(notice);
  }
  void EndProgram() override { noticesAtEnd.push_back(notices.size()); }

 private:
  struct Watched {
    lotrix::WaitHandle handle;
    std::function<bool()> drain;
    bool live = true;
  };
  struct FakeWatch : Watch {
    explicit FakeWatch(std::shared_ptr<Watched> watched) : watched(std::move(watched)) {}
    ~FakeWatch() override { watched->live = false; }
    std::shared_ptr<Watched> watched;
  };

  // One turn of an event loop: blocks until a handle in `wake` or a watched one is ready (or
  // `timeoutMs` passes), then drains the watched ones.
  void Serve(const std::vector<lotrix::WaitHandle>& wake, int timeoutMs) {
    std::erase_if(watches_, [](const auto& watched) { return !watched->live; });
    std::vector<lotrix::WaitHandle> handles = wake;
    for (const auto& watched : watches_) handles.push_back(watched->handle);
#ifdef _WIN32
    handles.resize(std::min<std::size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                           timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    for (const auto& watched : watches_) watched->live = watched->drain();
#else
    std::vector<pollfd> fds;
    for (const int handle : handles) fds.push_back({handle, POLLIN, 0});
    poll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < watches_.size(); ++i) {
      if (fds[wake.size() + i].revents != 0) watches_[i]->live = watches_[i]->drain();
    }
#endif
  }

  std::vector<std::shared_ptr<Watched>> watches_;
};

// How many handles this process has open.
std::size_t OpenHandles() {
#ifdef _WIN32
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
#else
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
#endif
}

TEST(RunAction, SaysDoneWhenTheToolHasEnded) {
  fake::TempDir dir;
  fake::Apply({.record = dir / "args", .report = dir / "report", .delayMs = 200});
  FakeWindow window;
  window.path = dir / "lines.txt";
  window.sampleSize = " 030 ";
  bool goneAtNotice = false;
  window.onNotice = [&](const Notice&) {
    goneAtNotice = !lotrix::IsRunning(std::stoi(fake::ReadReport(dir / "report")["pid"]));
  };
  RunAction action;
  action.Run(window);
  EXPECT_TRUE(goneAtNotice);

  ASSERT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(window.notices[0].kind, Notice::Kind::Information);
  EXPECT_EQ(window.notices[0].title, "information");
  EXPECT_EQ(window.notices[0].text, "Done!");
  const std::vector<std::string> expected = {dir / "lines.txt", "30"};
  EXPECT_EQ(fake::ReadArguments(dir / "args"), expected);
  // Woken by the tool's end, not by polling: a handful of turns for 200 ms.
  EXPECT_LE(window.turns, 4);
}

TEST(RunAction, BadInputIsReportedAndStartsNothing) {
  fake::TempDir dir;
  fake::Apply({.record = dir / "args"});
  struct Case {
    std::string size;
    int number;
  };
  for (const auto& [size, number] : {Case{"abc", 13}, Case{"", 13}, Case{"32768", 6}}) {
    FakeWindow window;
    window.sampleSize = size;
    RunAction action;
    action.Run(window);
    ASSERT_EQ(window.notices.size(), 1u) << size;
    EXPECT_EQ(window.notices[0].kind, Notice::Kind::Error);
    EXPECT_TRUE(window.notices[0].text.starts_with("Error " + std::to_string(number) + ": "))
        << window.notices[0].text;
    EXPECT_EQ(window.turns, 0);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "args"));

  FakeWindow window;
  RunAction missing(dir.path().string());
  missing.Run(window);
  ASSERT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(window.notices[0].text,
            "Error 53: File not found\n\nThe sampler \"" + (dir / "lotrix") + "\" was not found.");
}

TEST(RunAction, AFailingToolIsNotReportedAsDone) {
  struct Case {
    fake::Script script;
    std::string text;
  };
  std::vector<Case> cases = {
      {{.status = 2, .lastWords = "lotrix: -5: the sample size must not be negative"},
       "The sampler failed with exit status 2.\n\nIt said:\n"
       "lotrix: -5: the sample size must not be negative"},
#ifdef _WIN32
      {{.signal = SIGSEGV},
       "The sampler crashed with status 0xC0000005 (access violation).\n\n"
       "It wrote no error message."},
#else
      {{.signal = SIGTERM},
       "The sampler was ended by signal 15 (SIGTERM).\n\nIt wrote no error message."},
#endif
  };
  for (const auto& [script, text] : cases) {
    fake::Apply(script);
    FakeWindow window;
    RunAction action;
    action.Run(window);
    ASSERT_EQ(window.notices.size(), 1u);
    EXPECT_EQ(window.notices[0].kind, Notice::Kind::Failure);
    EXPECT_EQ(window.notices[0].text, text);
  }
  ToolExit lost;
  lost.known = false;
  EXPECT_FALSE(lost.Succeeded());
  EXPECT_TRUE(lotrix::FailureNotice(lost).text.starts_with("The sampler ended, but how"));
}

#ifndef _WIN32
TEST(RunAction, AFailureIsSeenWhenWeWereStartedWithChildrenIgnored) {
  // As a launcher or `trap '' CHLD` leaves it: the kernel would reap the tool, status and all.
  signal(SIGCHLD, SIG_IGN);
  sigset_t child;
  sigemptyset(&child);
  sigaddset(&child, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &child, nullptr);
  fake::Apply({.delayMs = 50, .status = 3});
  FakeWindow window;
  RunAction action;
  action.Run(window);
  ASSERT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(window.notices[0].text,
            "The sampler failed with exit status 3.\n\nIt wrote no error message.");
}
#endif

TEST(RunAction, NestedRunsAnnounceInnermostFirstWithoutSpinning) {
  // The outer tool ends long before the inner one; its ended process must not keep waking the
  // inner wait.
  fake::Apply({.delayMs = 50});
  FakeWindow window;
  RunAction action;
  window.onTurn = [&](int turn) {
    if (turn != 1) return;
    fake::Apply({.delayMs = 600, .status = 4});
    action.Run(window);
  };
  action.Run(window);

  ASSERT_EQ(window.notices.size(), 2u);
  EXPECT_EQ(window.notices[0].kind, Notice::Kind::Failure);  // the inner run's, status 4
  EXPECT_EQ(window.notices[1].text, "Done!");
  EXPECT_LE(window.turns, 8);
}

TEST(RunAction, SixtyFourNestedRunsWaitOnOneHandleEach) {
  // Windows waits on at most 64 handles at once; asked for more, the wait fails at once, and
  // spins.
  constexpr int kRuns = 64;
  fake::Apply({.delayMs = 300});
  FakeWindow window;
  RunAction action;
  int started = 1;
  window.onTurn = [&](int) {
    if (started < kRuns) {
      ++started;
      action.Run(window);
    }
  };
  action.Run(window);
  EXPECT_EQ(window.notices.size(), std::size_t{kRuns});
  EXPECT_EQ(window.mostWakeHandles, 1u);
  EXPECT_LE(window.turns, kRuns * 4);
}

TEST(RunAction, AnOuterToolsErrorsAreReadWhileAnInnerNoticeIsOpen) {
  fake::TempDir dir;
  // Four times what a pipe holds, written only once the inner run is under way: the outer tool
  // ends only if someone keeps reading it while the inner notice waits for the user.
  fake::Apply({.ended = dir / "outer-ended", .quietMs = 300, .stderrBytes = 256 << 10});
  FakeWindow window;
  RunAction action;
  bool endedDuringNotice = false;
  window.onTurn = [&](int turn) {
    if (turn != 1) return;
    fake::Apply({});
    window.noticeStaysUntil = [&] { return std::filesystem::exists(dir / "outer-ended"); };
    action.Run(window);
    endedDuringNotice = std::filesystem::exists(dir / "outer-ended");
    window.noticeStaysUntil = nullptr;
  };
  action.Run(window);
  EXPECT_TRUE(endedDuringNotice) << "the outer tool stalled behind the inner notice";
  EXPECT_EQ(window.notices.size(), 2u);
}

TEST(RunAction, TheProgramEndsOnceAndOnlyAfterTheLastNotice) {
  // The window is closed at various moments of two nested runs (the inner one's size "abc" gives
  // an error box where asked).
  enum class When { OuterWait, InnerWait, InnerNotice, OuterNotice };
  for (const When when : {When::OuterWait, When::InnerWait, When::InnerNotice, When::OuterNotice}) {
    for (const bool innerFails : {false, true}) {
      if (innerFails && when == When::InnerWait) continue;  // an error box has no wait
      fake::Apply({.delayMs = 200});
      FakeWindow window;
      RunAction action;
      bool nested = false;
      window.onTurn = [&](int) {
        if (nested) {
          if (when == When::InnerWait) {
            EXPECT_FALSE(action.RequestEnd());
          }
          return;
        }
        nested = true;
        if (when == When::OuterWait) {
          EXPECT_FALSE(action.RequestEnd());
        }
        window.sampleSize = innerFails ? "abc" : "30";
        action.Run(window);
        window.sampleSize = "30";
      };
      window.onNotice = [&](const Notice&) {
        const bool inner = window.notices.empty();
        if ((inner && when == When::InnerNotice) || (!inner && when == When::OuterNotice)) {
          EXPECT_FALSE(action.RequestEnd());
        }
      };
      action.Run(window);
      EXPECT_EQ(window.noticesAtEnd, std::vector<std::size_t>{2})
          << "closed at " << static_cast<int>(when) << (innerFails ? ", inner failing" : "");
    }
  }
  RunAction idle;
  EXPECT_TRUE(idle.RequestEnd());
}

TEST(RunAction, RunsLeaveNoHandleOpen) {
  fake::Apply({.stderrBytes = 1000});
  FakeWindow window;
  RunAction action;
  action.Run(window);  // whatever is opened once, for good
  const std::size_t before = OpenHandles();
  for (int i = 0; i < 30; ++i) action.Run(window);
  EXPECT_EQ(OpenHandles(), before);
  EXPECT_EQ(window.notices.size(), 31u);
}

}  // namespace
