#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console.h"

namespace lotrix {

ErrorStream::ErrorStream() : terminal_(isatty(STDERR_FILENO)) {}

void ErrorStream::EndProgress() {
  if (shown_ < 0) return;
  shown_ = -1;
  Put("\r\x1b[K");
}

void ErrorStream::Put(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

namespace {

// Started with descriptor 0, 1 or 2 closed, the first file opened would take its place, and what
// is meant for standard error could land in the sample. The null device, opened for reading,
// fills each gap: an input of "-" then reads nothing, what is said goes nowhere, and a sample
// meant for standard output is refused rather than lost. Returns 0, or the error that stopped
// the null device from opening.
int OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDONLY);
    if (null < 0) return errno;
    // The lowest free descriptor is this one, as the ones below it are open.
    if (null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  return 0;
}

}  // namespace
}  // namespace lotrix

int main(int argc, char* argv[]) {
  if (const int code = lotrix::OpenStandardDescriptors()) {
    // Said only where standard error is open; no file is open that could have taken its place.
    std::fprintf(stderr, "lotrix: /dev/null: %s\n", std::strerror(code));
    return 1;
  }
  return lotrix::Main(std::vector<std::string>(argv + 1, argv + argc));
}
