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
  // shared one, made not to wait for each write alone.
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

constexpr std::size_t kPage = 4096;
// No record but the last, `sample`, is longer; a page of the pipe then holds at least this much.
constexpr std::size_t kPageHolds = kPage - 64;

// The bytes the pipe is sure to take now; as many as asked for where it does not tell. Linux
// keeps a pipe's data in pages, and does not use again the part of a page already read: what
// is unread may take a page more than it fills, and a page less than it seems to leave.
std::size_t SureRoom(int fd) {
  int unread = 0;
  const int capacity = fcntl(fd, F_GETPIPE_SZ);
  if (capacity < 0 || ioctl(fd, FIONREAD, &unread) != 0) return SIZE_MAX;
  const std::size_t pages = static_cast<std::size_t>(capacity) / kPage;
  const std::size_t used = unread == 0 ? 0 : static_cast<std::size_t>(unread) / kPageHolds + 2;
  return used < pages ? (pages - used) * kPage : 0;
}

// Waits up to `patienceMs` for the pipe to take more, lowering it by the time waited.
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

// Writes what the pipe takes of `size` bytes without waiting (up to PIPE_BUF bytes go whole or
// not at all): the bytes written, 0 where it took none, or -1 with errno set. A descriptor that
// would wait is made not to for this write alone.
ssize_t WriteNow(int fd, const char* data, std::size_t size) {
  const int flags = fcntl(fd, F_GETFL);
  const bool waits = flags >= 0 && !(flags & O_NONBLOCK);
  if (waits) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  ssize_t wrote;
  while ((wrote = write(fd, data, size)) < 0 && errno == EINTR) {
  }
  const int code = errno;
  if (waits) fcntl(fd, F_SETFL, flags);
  if (wrote < 0 && (code == EAGAIN || code == EWOULDBLOCK)) return 0;
  errno = code;
  return wrote;
}

}  // namespace

void Report::Write(const std::string& record, bool mayDrop) {
  const int fd = static_cast<int>(handle_);
  if (mayDrop && SureRoom(fd) < record.size() + kKeptFree) return;
  // A reader that has gone away would end the run with SIGPIPE: it is held back for the write,
  // and taken if the write raised it.
  sigset_t broken;
  sigset_t before;
  sigemptyset(&broken);
  sigaddset(&broken, SIGPIPE);
  sigprocmask(SIG_BLOCK, &broken, &before);
  // A record is written whole or not at all, as a part would garble the next; one longer than
  // PIPE_BUF waits for room for all of it, unless the pipe could never hold it, when it goes as
  // the reader makes room (and a reader skips an unended last line).
  const int capacity = fcntl(fd, F_GETPIPE_SZ);
  const bool whole = capacity < 0 || record.size() <= static_cast<std::size_t>(capacity);
  int code = 0;
  for (std::size_t done = 0; done < record.size();) {
    const bool fits =
        record.size() <= PIPE_BUF || done > 0 || !whole || SureRoom(fd) >= record.size();
    const ssize_t wrote = fits ? WriteNow(fd, record.data() + done, record.size() - done) : 0;
    if (wrote < 0) {
      code = errno;
      break;
    }
    done += static_cast<std::size_t>(wrote);
    if (wrote > 0) continue;
    if (mayDrop) break;
    // A pipe that polls writable may still have too little room: the patience is lowered by a
    // millisecond at least each time, so that it runs out all the same.
    if (!AwaitRoom(fd, patienceMs_) || patienceMs_-- <= 0) {
      code = ETIMEDOUT;
      break;
    }
    if (!fits) poll(nullptr, 0, 1);
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
