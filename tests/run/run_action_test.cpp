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
#include <random>
#include <string_view>
#include <thread>

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
  lotrix::Answer answer = lotrix::Answer::Ok;  // how the user closes each notice
  bool opens = true;                           // whether the desktop opens a file
  std::vector<std::string> opened;
  std::vector<bool> busy;  // each change of the busy state
  std::vector<double> progress;

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
  lotrix::Answer ShowNotice(const Notice& notice) override {
    if (onNotice) onNotice(notice);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (noticeStaysUntil && !noticeStaysUntil() && std::chrono::steady_clock::now() < deadline) {
      Serve({}, 20);
    }
    notices.push_back(notice);
    return answer;
  }
  bool OpenFile(const std::string& path) override {
    opened.push_back(path);
    return opens;
  }
  void SetBusy(bool now) override { busy.push_back(now); }
  void ShowProgress(double fraction) override { progress.push_back(fraction); }
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
  // A sampler that reports nothing (an older one) gets the plain notice.
  EXPECT_EQ(window.notices[0].detail, "");
  EXPECT_EQ(window.notices[0].openPath, "");
  EXPECT_NE(fake::ReadReport(dir / "report")["channel"], "") << "no report pipe was named";
  EXPECT_EQ(window.busy, (std::vector<bool>{true, false}));
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
  // an error box where asked); the inner sampler (of size 12) ends first.
  enum class When { OuterWait, InnerWait, InnerNotice, OuterNotice };
  for (const When when : {When::OuterWait, When::InnerWait, When::InnerNotice, When::OuterNotice}) {
    for (const bool innerFails : {false, true}) {
      if (innerFails && when == When::InnerWait) continue;  // an error box has no wait
      fake::Apply({.delayMs = 1500});
      fake::SetOrClear("LOTRIX_FAKE_DELAY_MS_12", "200");
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
        window.sampleSize = innerFails ? "abc" : "12";
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
      // The close stops the samplers still running, whose runs then end without a word.
      const std::size_t shown = when == When::OuterNotice ? 2 : when == When::InnerWait ? 0 : 1;
      EXPECT_EQ(window.noticesAtEnd, std::vector<std::size_t>{shown})
          << "closed at " << static_cast<int>(when) << (innerFails ? ", inner failing" : "");
      fake::SetOrClear("LOTRIX_FAKE_DELAY_MS_12", "");
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
  // Not one of the tool's pipes is still open while its notice waits for the user.
  std::vector<std::size_t> atNotice;
  window.onNotice = [&](const Notice&) { atNotice.push_back(OpenHandles()); };
  for (int i = 0; i < 30; ++i) action.Run(window);
  EXPECT_EQ(OpenHandles(), before);
  EXPECT_EQ(atNotice, std::vector<std::size_t>(30, before));
  EXPECT_EQ(window.notices.size(), 31u);
}

TEST(RunAction, TheDoneNoticeSaysWhatTheSamplerReported) {
  struct Case {
    std::string says;
    std::string detail;  // "" for the plain notice
    std::string openPath;
    std::vector<double> progress;
  };
  const std::string path = "/corpus/hits_sample30-2.txt";
  const std::string again = "Seed 42: \"lotrix --seed 42\" draws the same sample again.";
  const std::vector<Case> cases = {
      {"seed 42\nprogress 25 100\nprogress 100 100\nlines 1000 30\nsample " + path,
       "The sample is in\n" + path + "\n\n" + again,
       path,
       {1.0}},
      // Escapes are spelled out; a record cut short, an unknown one or a bad number is skipped.
      {"sample /corpus/a%25b%0Ac.txt\nfuture record\nseed x\nprogress 5\nseed",
       "The sample is in\n/corpus/a%b\nc.txt",
       "/corpus/a%b\nc.txt",
       {}},
      {"sample /bad%zz\nsample /cut%4", "", "", {}},
      // A stream's progress has no total to measure it by.
      {"progress 5 0", "", "", {}},
  };
  for (const auto& [says, detail, openPath, progress] : cases) {
    // It lives on a while after it has said it all, so that the window hears it while it runs.
    fake::Apply({.delayMs = 100, .says = says});
    FakeWindow window;
    RunAction action;
    action.Run(window);
    ASSERT_EQ(window.notices.size(), 1u) << says;
    EXPECT_EQ(window.notices[0].text, "Done!");
    EXPECT_EQ(window.notices[0].title, "information");
    EXPECT_EQ(window.notices[0].detail, detail) << says;
    EXPECT_EQ(window.notices[0].openPath, openPath) << says;
    EXPECT_EQ(window.progress, progress) << says;
    EXPECT_TRUE(window.opened.empty());
  }
}

TEST(RunAction, ARunThatKeptNothingOrNeverEndedIsNoDone) {
  // A pipe's sample goes to standard output, which the window discards: the sampler reports the
  // lines but names no file. A device (endless, as /dev/zero) or a file of /proc is not run. A
  // sampler ended from outside reported its start but not its end, whatever its status. An older
  // sampler, reporting nothing, still gets "Done!".
  struct Case {
    std::string path, says, text;
  };
  const std::string unfinished = "The sampler ended before it had finished";
  for (const auto& [path, says, text] : {
           Case{"hits.fifo", "seed 3\nlines 100 30", "Nothing was saved. \"hits.fifo\""},
           Case{"hits.fifo", "seed 3\nlines 0 0", "Nothing was saved. \"hits.fifo\""},
           Case{"hits.fifo", "", "Done!"},
#ifndef _WIN32
           Case{"/proc/cpuinfo", "", "Nothing was saved. \"/proc/cpuinfo\""},
           Case{"/dev/zero", "", "Nothing was saved. \"/dev/zero\""},
           Case{"/sys/kernel/mm", "", "Nothing was saved. \"/sys/kernel/mm\""},
#endif
           Case{"corpus.txt", "seed 42", unfinished},
           Case{"corpus.txt", "seed 42\nprogress 5 10\nsample /corpus/half.txt", unfinished},
       }) {
    fake::Apply({.says = says});
    FakeWindow window;
    window.path = path;
    RunAction action;
    action.Run(window);
    ASSERT_EQ(window.notices.size(), 1u);
    EXPECT_TRUE(window.notices[0].text.starts_with(text)) << says << "\n" << window.notices[0].text;
    EXPECT_EQ(window.notices[0].kind,
              text == "Done!" ? Notice::Kind::Information : Notice::Kind::Failure);
  }
}

TEST(RunAction, AStopEndsTheSamplerAtOnceUnlessItHadFinished) {
  struct Case {
    std::string says, text;
    bool paused = false;  // the sampler was paused (SIGSTOP) before the stop
  };
  const std::string stopped = "The run was stopped. Nothing was written.";
  RunAction action;  // one for all: what it stopped before must not keep it from stopping again
  for (const auto& [says, text, paused] : {
           Case{"seed 1\nprogress 5 10", stopped},
           Case{"seed 1\nlines 10 3\nsample /corpus/hits_sample3.txt", "Done!"},
#ifndef _WIN32
           Case{"seed 1", stopped, true},
#endif
       }) {
    fake::TempDir dir;
    fake::Apply({.report = dir / "report", .delayMs = 20000, .says = says});
    FakeWindow window;
    EXPECT_FALSE(action.Stop());
    window.onTurn = [&](int turn) {
      // Once the sampler has said what it says.
      if (turn == 1) std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (turn != 2) return;
#ifndef _WIN32
      if (paused) kill(std::stoi(fake::ReadReport(dir / "report")["pid"]), SIGSTOP);
#endif
      EXPECT_TRUE(action.Stop());
    };
    const auto start = std::chrono::steady_clock::now();
    action.Run(window);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(window.notices.size(), 1u);
    EXPECT_EQ(window.notices[0].text, text);
  }
}

TEST(RunAction, OpenOpensTheSampleAndSaysSoWhenTheDesktopCannot) {
  for (const bool opens : {true, false}) {
    fake::Apply({.says = "sample /corpus/hits_sample30.txt"});
    FakeWindow window;
    window.answer = lotrix::Answer::Open;
    window.opens = opens;
    RunAction action;
    action.Run(window);
    EXPECT_EQ(window.opened, std::vector<std::string>{"/corpus/hits_sample30.txt"});
    ASSERT_EQ(window.notices.size(), opens ? 1u : 2u);
    if (!opens) {
      EXPECT_EQ(window.notices[1].kind, Notice::Kind::Failure);
      EXPECT_NE(window.notices[1].text.find("/corpus/hits_sample30.txt"), std::string::npos);
    }
  }
  // A failing tool's notice has nothing to open, whatever it reported.
  fake::Apply({.status = 1, .says = "sample /corpus/half.txt"});
  FakeWindow window;
  window.answer = lotrix::Answer::Open;
  RunAction action;
  action.Run(window);
  EXPECT_TRUE(window.opened.empty());
  EXPECT_EQ(window.notices[0].openPath, "");
}

TEST(RunAction, TheWindowIsBusyFromTheFirstStartToTheLastEnd) {
  fake::Apply({.delayMs = 100});
  FakeWindow window;
  RunAction action;
  std::vector<std::vector<bool>> busyAtNotice;
  window.onTurn = [&](int turn) {
    if (turn != 1) return;
    fake::Apply({.delayMs = 300});
    action.Run(window);
  };
  window.onNotice = [&](const Notice&) { busyAtNotice.push_back(window.busy); };
  action.Run(window);
  // Busy once, through both waits; the inner notice comes while the outer tool may still run,
  // the outer one only when nothing does.
  EXPECT_EQ(window.busy, (std::vector<bool>{true, false}));
  ASSERT_EQ(busyAtNotice.size(), 2u);
  EXPECT_EQ(busyAtNotice[1], (std::vector<bool>{true, false}));
}

TEST(FitToBox, EveryLineFitsAndNothingUncutIsLost) {
  // Generated texts of words of every length, some far past the width, in one- to four-byte
  // characters.
  std::mt19937 random(7);
  const std::vector<std::string> pieces = {"a", "é", "語", "😀", " ", "/", "\n"};
  auto codePoints = [](std::string_view line) {
    return static_cast<std::size_t>(std::count_if(line.begin(), line.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
  };
  auto squeezed = [](std::string text) {
    std::erase(text, '\n');
    return text;
  };
  for (int trial = 0; trial < 300; ++trial) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 3000)(random);
    const int wordy = std::uniform_int_distribution<int>(0, 1)(random);
    for (int i = 0; i < length; ++i) {
      const auto pick = std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random);
      // Half the texts have few spaces: a path, a line of filler.
      text += wordy || pick < 4 || i % 97 == 0 ? pieces[pick] : pieces[0];
    }
    const std::size_t width = std::uniform_int_distribution<std::size_t>(1, 120)(random);
    const std::size_t rows = std::uniform_int_distribution<std::size_t>(1, 8)(random);
    const std::string fitted = lotrix::FitToBox(text, width, rows);
    std::size_t start = 0;
    for (std::size_t end; start <= fitted.size(); start = end + 1) {
      end = std::min(fitted.find('\n', start), fitted.size());
      const std::string_view line(fitted.data() + start, end - start);
      ASSERT_LE(codePoints(line), width + 1) << "trial " << trial;  // + an ellipsis
    }
    if (fitted.find("\u2026") == std::string::npos) {
      EXPECT_EQ(squeezed(fitted), squeezed(text)) << "trial " << trial;
    }
    // What a line ends with (a file's name, a reason) shows wherever a row is left for it.
    const std::string_view lastRow = std::string_view(fitted).substr(fitted.rfind('\n') + 1);
    if (rows >= 2) {
      EXPECT_TRUE(std::string_view(text).ends_with(lastRow)) << "trial " << trial;
    }
  }
  // A tool's long last words: the notice keeps their end, in rows that fit a screen.
  ToolExit chatty;
  chatty.code = 1;
  for (int line = 0; line < 12; ++line) chatty.errorTail += std::string(1000, 'x') + "\n";
  const std::string text = lotrix::FailureNotice(chatty).text;
  EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 24) << text;
  std::size_t longest = 0;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    longest = std::max(longest, codePoints(std::string_view(text).substr(start, end - start)));
  }
  EXPECT_LE(longest, 97u);
  struct Case {
    std::string text;
    std::size_t width, rows;
    std::string fitted;
  } const cases[] = {
      {"\u8a9e\u8a9e\u8a9e", 2, 3, "\u8a9e\u8a9e\n\u8a9e"},
      {"\u00e9\u00e9\u00e9\u00e9", 3, 1, "\u00e9\u00e9\u00e9\u2026"},
      {"\U0001F600\U0001F600 \U0001F600", 2, 2, "\U0001F600\U0001F600 \n\U0001F600"},
      // No UTF-8: a run of stray continuation bytes counts one character for every four.
      {"x" + std::string(12, '\x80'), 2, 9, "x\x80\x80\x80\x80\x80\x80\x80\n\x80\x80\x80\x80\x80"},
  };
  for (const auto& [text, width, rows, fitted] : cases) {
    EXPECT_EQ(lotrix::FitToBox(text, width, rows), fitted) << text;
  }
  EXPECT_EQ(lotrix::FitToBox("Done!"), "Done!");
  EXPECT_EQ(lotrix::FitToBox("one two three", 7), "one two \nthree");
  EXPECT_EQ(lotrix::FitToBox("/home/ana/long folder/hits.txt", 14),
            "/home/ana/long \nfolder/\nhits.txt");
  EXPECT_EQ(lotrix::FitToBox(std::string(10, 'x'), 4, 2), "xxxx\u2026\nxx");
  // A long path loses its middle, not the file's name and the reason after it.
  EXPECT_EQ(
      lotrix::FitToBox("lotrix: /" + std::string(200, 'd') + "/hits.txt: No such file", 30, 4),
      "lotrix: /\n" + std::string(30, 'd') + "\u2026\n" + std::string(20, 'd') +
          "/hits.txt: \nNo such file");
}

}  // namespace
