#include "run/run_action.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>

#include <csignal>
#endif

#include <filesystem>
#include <functional>

#include "fake_tool.h"

namespace {

using lotrix::Notice;
using lotrix::RunAction;

// A window without a window: its "events" are the callbacks that a test queues for a turn of
// the wait, and it blocks on the handles that the run asks to be woken by.
class FakeWindow : public lotrix::RunHost {
 public:
  std::string path = "corpus.txt";
  std::string sampleSize = "30";
  std::vector<Notice> notices;
  int endCalls = 0;
  // Runs at the start of a turn: what the user does while the tool runs.
  std::function<void(int turn)> onTurn;
  std::function<void()> onNotice;
  int turns = 0;

  std::string PathText() override { return path; }
  std::string SampleSizeText() override { return sampleSize; }
  std::string DecimalSeparator() override { return "."; }

  void ProcessPendingEvents(const lotrix::WakeSet& wake) override {
    const int turn = ++turns;
    if (onTurn) onTurn(turn);
#ifdef _WIN32
    WaitForMultipleObjects(static_cast<DWORD>(wake.handles.size()), wake.handles.data(), FALSE,
                           wake.pollSoon ? 10 : INFINITE);
#else
    std::vector<pollfd> fds;
    for (const int handle : wake.handles) fds.push_back({handle, POLLIN, 0});
    poll(fds.data(), fds.size(), wake.pollSoon ? 10 : -1);
#endif
  }
  void ShowNotice(const Notice& notice) override {
    if (onNotice) onNotice();
    notices.push_back(notice);
  }
  void EndProgram() override {
    ++endCalls;
    ASSERT_FALSE(notices.empty()) << "the program ended before its last notice";
  }
};

TEST(RunAction, SaysDoneWhenTheToolHasEnded) {
  fake::TempDir dir;
  fake::Apply({.record = dir / "args", .report = dir / "report", .delayMs = 200});
  FakeWindow window;
  window.path = dir / "lines.txt";
  window.sampleSize = " 030 ";
  bool goneAtNotice = false;
  window.onNotice = [&] {
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
  fake::Apply({.status = 2, .lastWords = "lotrix: -5: the sample size must not be negative"});
  FakeWindow window;
  RunAction action;
  action.Run(window);
  ASSERT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(window.notices[0].kind, Notice::Kind::Failure);
  EXPECT_EQ(window.notices[0].text,
            "The sampler failed with exit status 2.\n\nIt said:\n"
            "lotrix: -5: the sample size must not be negative");

#ifndef _WIN32
  fake::Apply({.signal = SIGTERM});
  action.Run(window);
  ASSERT_EQ(window.notices.size(), 2u);
  EXPECT_EQ(window.notices[1].text,
            "The sampler was ended by signal 15 (SIGTERM).\n\nIt wrote no error message.");
#endif
}

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

TEST(RunAction, AnOuterToolIsNotStalledByItsErrorsWhileAnInnerRunWaits) {
  fake::TempDir dir;
  // Four times what a pipe holds: the outer tool ends only if someone keeps reading it.
  fake::Apply({.ended = dir / "outer-ended", .stderrBytes = 256 << 10, .lastWords = "outer"});
  FakeWindow window;
  RunAction action;
  window.onTurn = [&](int turn) {
    if (turn != 1) return;
    fake::Apply({.delayMs = 2000});
    action.Run(window);
    EXPECT_TRUE(std::filesystem::exists(dir / "outer-ended")) << "the outer tool stalled";
  };
  action.Run(window);
  EXPECT_EQ(window.notices.size(), 2u);
}

TEST(RunAction, ClosingDuringAWaitEndsTheProgramAfterTheLastNotice) {
  fake::Apply({.delayMs = 100});
  FakeWindow window;
  RunAction action;
  window.onTurn = [&](int turn) {
    if (turn == 1) {
      EXPECT_FALSE(action.RequestEnd());
    }
  };
  action.Run(window);
  EXPECT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(window.endCalls, 1);

  RunAction idle;
  EXPECT_TRUE(idle.RequestEnd());
}

}  // namespace
