#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "run/command_line.h"
#include "run/tool_process.h"

extern char** environ;

namespace lotrix {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// A descriptor that is readable once the process has ended; -1 where the kernel has none.
int OpenEndFd(ProcessId id) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, id, 0);
  if (fd >= 0) {
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)id;
#endif
  return -1;
}

RunError StartError(int error, const std::string& tool) {
  // ENOENT also comes for a sampler that is there, when what it needs to run (a script's
  // interpreter) is not: only a missing sampler is "File not found".
  if (error == ENOENT && access(tool.c_str(), F_OK) != 0) {
    return {53, "File not found", "The sampler \"" + tool + "\" was not found."};
  }
  const char* name = strerrorname_np(error);
  return SystemRunError(error, std::strerror(error), name ? name : "",
                        "The sampler \"" + tool + "\" could not be started.");
}

// A program started with SIGCHLD ignored (by a launcher, `trap '' CHLD`) would have its
// children reaped by the kernel, their exit status lost: every run would look like a success.
void TakeBackChildSignal() {
  signal(SIGCHLD, SIG_DFL);
  sigset_t child;
  sigemptyset(&child);
  sigaddset(&child, SIGCHLD);
  pthread_sigmask(SIG_UNBLOCK, &child, nullptr);
}

// The descriptor the tool finds its report pipe at.
constexpr int kReportFd = 3;

// Reads whatever `fd` holds, without blocking, handing it to `take`; false once the writer has
// closed it (or it failed): nothing more will come.
template <class Take>
bool Drain(int fd, bool& open, Take take) {
  char buffer[16384];
  while (open && fd >= 0) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      take(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      open = false;
    } else if (errno == EAGAIN) {
      return true;
    }
  }
  return false;
}

// This program's environment, with the report pipe named for the tool.
std::vector<char*> ToolEnvironment(std::string& setting) {
  static constexpr std::string_view kName = "LOTRIX_REPORT=";
  setting = std::string(kName) + std::to_string(kReportFd);
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(kName)) environment.push_back(*entry);
  }
  environment.push_back(setting.data());
  environment.push_back(nullptr);
  return environment;
}

// posix_spawn's attribute and file-action objects, destroyed on every way out.
struct SpawnSetup {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::string ApplicationFolder() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  return exe.parent_path().string();
}

Result<ToolProcess> ToolProcess::Start(const std::string& folder, const std::string& path,
                                       std::int16_t size) {
  const std::vector<std::string> arguments = BuildArgumentVector(folder, path, size);
  std::array<char*, 4> argv = {const_cast<char*>(arguments[0].c_str()),
                               const_cast<char*>(arguments[1].c_str()),
                               const_cast<char*>(arguments[2].c_str()), nullptr};

  TakeBackChildSignal();
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) return StartError(errno, arguments[0]);
  int reportPipe[2];
  if (pipe2(reportPipe, O_CLOEXEC) != 0) {
    const int error = errno;
    close(errorPipe[0]);
    close(errorPipe[1]);
    return StartError(error, arguments[0]);
  }

  SpawnSetup setup;
  // The tool gets no input, no console output and no descriptor of ours but its standard
  // error and its report pipe; dup2 clears close-on-exec on the copy it makes (and on the
  // descriptor itself when it is already the one asked for).
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, errorPipe[1], 2);
  posix_spawn_file_actions_adddup2(&setup.actions, reportPipe[1], kReportFd);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, kReportFd + 1);
  // A session of its own keeps the terminal's Ctrl-C away from it; signals that this program
  // blocks or ignores are reset for it.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string setting;
  std::vector<char*> environment = ToolEnvironment(setting);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(),
                                environment.data());
  close(errorPipe[1]);
  close(reportPipe[1]);
  if (error != 0) {
    close(errorPipe[0]);
    close(reportPipe[0]);
    return StartError(error, arguments[0]);
  }

  ToolProcess tool;
  tool.id_ = pid;
  tool.errorFd_ = errorPipe[0];
  tool.reportFd_ = reportPipe[0];
  for (const int fd : {tool.errorFd_, tool.reportFd_}) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  tool.endFd_ = OpenEndFd(pid);
  return Result<ToolProcess>(std::move(tool));
}

ToolProcess::ToolProcess(ToolProcess&& other) noexcept
    : id_(std::exchange(other.id_, 0)),
      endFd_(std::exchange(other.endFd_, -1)),
      errorFd_(std::exchange(other.errorFd_, -1)),
      errorsOpen_(other.errorsOpen_),
      reportFd_(std::exchange(other.reportFd_, -1)),
      reportOpen_(other.reportOpen_),
      errorTail_(std::move(other.errorTail_)),
      errorTruncated_(other.errorTruncated_),
      report_(std::move(other.report_)) {}

ToolProcess::~ToolProcess() {
  CloseFd(endFd_);
  CloseFd(errorFd_);
  CloseFd(reportFd_);
}

void ToolProcess::AddWakeHandles(WakeSet& wake) const {
  if (endFd_ >= 0) {
    wake.handles.push_back(endFd_);
  } else {
    wake.pollSoon = true;
  }
}

WaitHandle ToolProcess::ErrorHandle() const { return errorFd_; }

bool ToolProcess::DrainErrors() {
  return Drain(errorFd_, errorsOpen_,
               [this](const char* data, std::size_t size) { KeepErrorBytes(data, size); });
}

WaitHandle ToolProcess::ReportHandle() const { return reportFd_; }

bool ToolProcess::DrainReport() {
  return Drain(reportFd_, reportOpen_, [this](const char* data, std::size_t size) {
    report_.Feed(std::string_view(data, size));
  });
}

void ToolProcess::Stop() {
  // Not yet reaped, so the id is still the tool's even if it has just ended. A tool that was
  // paused (SIGSTOP, a debugger's) takes the signal only once it goes on.
  if (id_ > 0 && kill(id_, SIGTERM) == 0) kill(id_, SIGCONT);
}

ToolExit ToolProcess::Finish() {
  ToolExit result;
  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(id_, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == id_) {
    result.signalled = WIFSIGNALED(status);
    result.code = result.signalled ? WTERMSIG(status) : WEXITSTATUS(status);
  } else {
    result.known = false;  // reaped by someone else: how it went cannot be told
  }
  // What the tool wrote last is in the pipe now. A process that it left behind may hold the
  // pipe open, so this takes what is there and does not wait for the end of it.
  DrainErrors();
  DrainReport();
  CloseFd(errorFd_);
  CloseFd(reportFd_);
  CloseFd(endFd_);
  result.errorTail = TakeErrorTail();
  return result;
}

}  // namespace lotrix
