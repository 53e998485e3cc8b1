#include "run/is_running.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

namespace {

using lotrix::IsRunning;

pid_t StartSleeper() {
  const pid_t pid = fork();
  if (pid == 0) {
    pause();
    _exit(0);
  }
  return pid;
}

// Waits until the child has ended, leaving it a zombie.
void WaitUntilEnded(pid_t pid) {
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
}

std::size_t OpenDescriptorCount() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

TEST(IsRunning, LiveProcessesAreRunning) {
  EXPECT_TRUE(IsRunning(getpid()));
  EXPECT_TRUE(IsRunning(1));  // not our child, perhaps not ours to signal, but there

  const pid_t child = StartSleeper();
  EXPECT_TRUE(IsRunning(child));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST(IsRunning, AZombieChildHasEndedAndIsLeftForItsParentToReap) {
  const pid_t child = StartSleeper();
  kill(child, SIGTERM);
  WaitUntilEnded(child);

  EXPECT_FALSE(IsRunning(child));
  // The probe did not take the exit status away from the run that waits for it.
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, WNOHANG), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(IsRunning(child));
}

TEST(IsRunning, IdsOfNoProcessAreNotRunning) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(IsRunning(child));
  // 0 and negative ids name process groups to kill(); they are no process.
  EXPECT_FALSE(IsRunning(0));
  EXPECT_FALSE(IsRunning(-1));
}

TEST(IsRunning, HoldsNoDescriptorAfterManyProbes) {
  const pid_t child = StartSleeper();
  const std::size_t before = OpenDescriptorCount();
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(IsRunning(child));
  EXPECT_EQ(OpenDescriptorCount(), before);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
