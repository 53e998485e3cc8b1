#include <windows.h>

#include <gtest/gtest.h>

#include "fake_tool.h"
#include "run/is_running.h"
#include "run/tool_process.h"
#include "run/wide_text.h"

namespace {

using lotrix::IsRunning;

// Starts the stand-in sampler for `milliseconds`; the caller closes the handle.
PROCESS_INFORMATION StartSleeper(int milliseconds) {
  fake::Apply({.delayMs = milliseconds});
  std::wstring line = L"\"" + lotrix::Widen(lotrix::ApplicationFolder()) + L"\\lotrix.exe\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &started));
  CloseHandle(started.hThread);
  return started;
}

TEST(IsRunning, TrueExactlyWhileTheProcessLives) {
  EXPECT_TRUE(IsRunning(static_cast<lotrix::ProcessId>(GetCurrentProcessId())));
  const PROCESS_INFORMATION child = StartSleeper(10000);
  const auto id = static_cast<lotrix::ProcessId>(child.dwProcessId);
  EXPECT_TRUE(IsRunning(id));
  TerminateProcess(child.hProcess, 1);
  WaitForSingleObject(child.hProcess, INFINITE);
  // Our handle keeps the process object alive; the probe must still see that it has ended.
  EXPECT_FALSE(IsRunning(id));
  CloseHandle(child.hProcess);
  EXPECT_FALSE(IsRunning(id));
  EXPECT_FALSE(IsRunning(0));
  EXPECT_FALSE(IsRunning(-4));
}

TEST(IsRunning, HoldsNoHandleAfterManyProbes) {
  const PROCESS_INFORMATION child = StartSleeper(10000);
  DWORD before = 0;
  DWORD after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &before);
  for (int i = 0; i < 2000; ++i)
    ASSERT_TRUE(IsRunning(static_cast<lotrix::ProcessId>(child.dwProcessId)));
  GetProcessHandleCount(GetCurrentProcess(), &after);
  EXPECT_EQ(after, before);
  TerminateProcess(child.hProcess, 1);
  CloseHandle(child.hProcess);
}

}  // namespace
