#include "run/tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#endif

#include "fake_tool.h"
#include "run/command_line.h"
#include "run/run_action.h"

namespace {

using lotrix::ToolExit;
using lotrix::ToolProcess;

// Waits for the tool the simplest way: poll until the probe says it has ended.
ToolExit RunToEnd(ToolProcess& tool) {
  while (lotrix::IsRunning(tool.Id())) {
    tool.DrainErrors();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return tool.Finish();
}

TEST(ToolProcess, StartsTheToolBesideUsWithTheExactArguments) {
  fake::TempDir dir;
  fake::Apply({.record = dir / "args", .report = dir / "report"});
  const std::string path = dir / fake::AwkwardName();

  auto tool = ToolProcess::Start(lotrix::ApplicationFolder(), path, -12);
  ASSERT_TRUE(tool) << tool.error().detail;
  const ToolExit exit = RunToEnd(*tool);
  EXPECT_TRUE(exit.Succeeded());

  const std::vector<std::string> expected = {path, "-12"};
  EXPECT_EQ(fake::ReadArguments(dir / "args"), expected);
}

#ifndef _WIN32
TEST(ToolProcess, TheToolRunsDetachedWithNothingOfOurs) {
  fake::TempDir dir;
  fake::Apply({.report = dir / "report"});
  auto tool = ToolProcess::Start(lotrix::ApplicationFolder(), "x", 30);
  ASSERT_TRUE(tool);
  const lotrix::ProcessId id = tool->Id();
  RunToEnd(*tool);

  auto report = fake::ReadReport(dir / "report");
  EXPECT_EQ(report["pid"], std::to_string(id));
  EXPECT_EQ(report["sid"], std::to_string(id)) << "not in a session of its own";
  // Its standard descriptors and its report pipe, which its environment names.
  EXPECT_EQ(report["fds"], "0,1,2,3");
  EXPECT_EQ(report["channel"], "3");
  EXPECT_EQ(report["report"], "pipe:");
  EXPECT_EQ(report["stdin"], "/dev/null");
  EXPECT_EQ(report["stdout"], "/dev/null");
  // Reaped: no zombie is left behind.
  EXPECT_EQ(waitpid(id, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}
#endif

TEST(ToolProcess, ReportsHowTheToolEnded) {
  fake::Apply({.status = 3, .lastWords = "lotrix: corpus.txt: No such file"});
  auto failed = ToolProcess::Start(lotrix::ApplicationFolder(), "x", 30);
  ASSERT_TRUE(failed);
  ToolExit exit = RunToEnd(*failed);
  EXPECT_FALSE(exit.Succeeded());
  EXPECT_FALSE(exit.signalled);
  EXPECT_EQ(exit.code, 3);
  EXPECT_EQ(exit.errorTail, "lotrix: corpus.txt: No such file\n");

#ifndef _WIN32
  fake::Apply({.signal = SIGKILL});
  auto killed = ToolProcess::Start(lotrix::ApplicationFolder(), "x", 30);
  ASSERT_TRUE(killed);
  exit = RunToEnd(*killed);
  EXPECT_TRUE(exit.signalled);
  EXPECT_EQ(exit.code, SIGKILL);

  // A stop is the signal the sampler cleans up on.
  fake::Apply({.delayMs = 20000});
  auto stopped = ToolProcess::Start(lotrix::ApplicationFolder(), "x", 30);
  ASSERT_TRUE(stopped);
  stopped->Stop();
  exit = RunToEnd(*stopped);
  EXPECT_TRUE(exit.signalled);
  EXPECT_EQ(exit.code, SIGTERM);
#endif
}

TEST(ToolProcess, KeepsOnlyTheTailOfAChattyToolsErrors) {
  struct Case {
    std::string lastWords;
    std::string begins, ends;
  };
  const std::string filler = std::string(99, 'x') + "\n";
  const std::string longLine(5000, 'y');
  for (const auto& [lastWords, begins, ends] : {
           // Only whole lines: the cut falls on a line break.
           Case{"the last line", filler, filler + "the last line\n"},
           // A last line longer than the tail is shown by its end, after an ellipsis.
           Case{longLine, "\u2026yyy", "yyy\n"},
       }) {
    // A megabyte is far more than a pipe holds: the tool ends only if we keep reading.
    fake::Apply({.stderrBytes = 1 << 20, .lastWords = lastWords});
    auto tool = ToolProcess::Start(lotrix::ApplicationFolder(), "x", 30);
    ASSERT_TRUE(tool);
    const ToolExit exit = RunToEnd(*tool);
    EXPECT_LE(exit.errorTail.size(), ToolProcess::kErrorTailBytes + begins.size());
    EXPECT_TRUE(exit.errorTail.starts_with(begins)) << exit.errorTail.substr(0, 20);
    EXPECT_TRUE(exit.errorTail.ends_with(ends));
  }
}

TEST(ToolProcess, AMissingToolIsFileNotFoundWithItsFullPath) {
  fake::TempDir dir;
  auto tool = ToolProcess::Start(dir.path().string(), "x", 30);
  ASSERT_FALSE(tool);
  EXPECT_EQ(tool.error().number, 53);
  EXPECT_EQ(tool.error().description, "File not found");
  EXPECT_NE(tool.error().detail.find(dir / "lotrix"), std::string::npos) << tool.error().detail;
}

TEST(ToolProcess, AToolThatIsThereButCannotRunGivesTheSystemsError) {
  // Told apart from the conversion errors, and never "File not found" for a sampler that is
  // there.
  struct Case {
    std::string content;
    std::string notice;  // how the error box begins
  };
#ifdef _WIN32
  const std::string file = "lotrix.exe";
  const std::vector<Case> cases = {{"not a program", "System error 193: "}};
#else
  const std::string file = "lotrix";
  const std::vector<Case> cases = {
      {"not a program", "System error 13 (EACCES): Permission denied\n"},
      {"#!/no/such/interpreter\n", "System error 2 (ENOENT): No such file or directory\n"}};
#endif
  for (const auto& [content, notice] : cases) {
    fake::TempDir dir;
    std::ofstream(dir / file) << content;
#ifndef _WIN32
    chmod((dir / file).c_str(), content.starts_with("#!") ? 0755 : 0644);
#endif
    auto tool = ToolProcess::Start(dir.path().string(), "x", 30);
    ASSERT_FALSE(tool);
    const std::string text = lotrix::ErrorNotice(tool.error()).text;
    EXPECT_TRUE(text.starts_with(notice)) << text;
    EXPECT_EQ(text.find('%'), std::string::npos) << text;
  }
}

}  // namespace
