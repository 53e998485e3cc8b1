#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
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
  // The pipe opened again, for a description of our own that never waits: the one passed down
  // is shared with whoever passed it, whose descriptor must keep waiting. Without /proc, the
  // shared one, and a look before each write.
  const int own =
      open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (own < 0) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return Report(fd);
  }
  close(fd);
  return Report(own);
}

namespace {

// Whether the pipe has room for `size` more bytes now; a guess of "yes" where the system does
// not tell.
bool HasRoom(int fd, std::size_t size) {
  int unread = 0;
  const int capacity = fcntl(fd, F_GETPIPE_SZ);
  if (capacity < 0 || ioctl(fd, FIONREAD, &unread) != 0) return true;
  return static_cast<std::size_t>(capacity) >= static_cast<std::size_t>(unread) + size;
}

// Waits up to `patienceMs` for the pipe to take more, lowering it by the time waited. A pipe
// that polls writable has a page free, which takes a write of up to PIPE_BUF bytes at once.
bool AwaitRoom(int fd, int& patienceMs) {
  pollfd ready{fd, POLLOUT, 0};
  const auto start = std::chrono::steady_clock::now();
  int polled;
  while ((polled = poll(&ready, 1, patienceMs)) < 0 && errno == EINTR) {
  }
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  patienceMs -= std::min<int>(patienceMs, static_cast<int>(waited.count()));
  return polled > 0;
}

// Writes what the pipe takes of `size` bytes without waiting (a write of up to PIPE_BUF bytes
// goes whole or not at all): the bytes written, 0 where it took none, or -1 with errno set.
ssize_t WriteNow(int fd, const char* data, std::size_t size, bool waits) {
  if (waits) {
    int none = 0;
    if (!AwaitRoom(fd, none)) return 0;
    size = std::min<std::size_t>(size, PIPE_BUF);
  }
  ssize_t wrote;
  while ((wrote = write(fd, data, size)) < 0 && errno == EINTR) {
  }
  if (wrote < 0 && errno == EAGAIN) return 0;
  return wrote;
}

}  // namespace

void Report::Write(const std::string& record, bool mayDrop) {
  const int fd = static_cast<int>(handle_);
  if (mayDrop && !HasRoom(fd, record.size() + kKeptFree)) return;
  // A reader that has gone away would end the run with SIGPIPE: it is held back for the write,
  // and taken if the write raised it.
  sigset_t broken;
  sigset_t before;
  sigemptyset(&broken);
  sigaddset(&broken, SIGPIPE);
  sigprocmask(SIG_BLOCK, &broken, &before);
  const bool waits = !(fcntl(fd, F_GETFL) & O_NONBLOCK);
  int code = 0;
  for (std::size_t done = 0; done < record.size();) {
    const ssize_t wrote = WriteNow(fd, record.data() + done, record.size() - done, waits);
    if (wrote < 0) {
      code = errno;
      break;
    }
    done += static_cast<std::size_t>(wrote);
    if (wrote > 0 || done == record.size()) continue;
    // None taken. A record is dropped whole or not at all, as a part would garble the next.
    if (mayDrop && done == 0) break;
    if (!AwaitRoom(fd, patienceMs_)) {
      code = ETIMEDOUT;
      break;
    }
  }
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
