#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "posix.h"
#include "report.h"

namespace lotrix {

namespace {

// Whether `fd` is a standard descriptor under another number (as `3>&1` makes it).
bool IsStandard(const struct stat& info) {
  for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
    struct stat other {};
    if (fstat(standard, &other) == 0 && other.st_dev == info.st_dev &&
        other.st_ino == info.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace

Report Report::FromEnvironment() {
  const char* text = std::getenv("LOTRIX_REPORT");
  if (text == nullptr) return Report(kClosed);
  int fd = -1;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, fd);
  // Standard output may be the sample itself; only a pipe of its own is written to, not one of
  // the standard ones under another number.
  struct stat info {};
  if (error != std::errc() || stop != end || fd <= STDERR_FILENO || fstat(fd, &info) != 0 ||
      !S_ISFIFO(info.st_mode) || (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY || IsStandard(info)) {
    return Report(kClosed);
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return Report(fd);
}

void Report::Write(const std::string& record) {
  // A reader that has gone away would end the run with SIGPIPE: it is held back for the write,
  // and taken if the write raised it.
  sigset_t broken;
  sigset_t before;
  sigemptyset(&broken);
  sigaddset(&broken, SIGPIPE);
  sigprocmask(SIG_BLOCK, &broken, &before);
  const int code = WriteFully(static_cast<int>(handle_), record.data(), record.size());
  if (code == EPIPE) {
    const timespec now{};
    sigtimedwait(&broken, nullptr, &now);
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (code != 0) Close();
}

void Report::Close() {
  if (handle_ != kClosed) close(static_cast<int>(handle_));
  handle_ = kClosed;
}

}  // namespace lotrix
