#pragma once

// Standard input and output put elsewhere for a while, for code that reads or writes "-".
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace standard_streams {

#ifndef _WIN32
// `fd` moved above the standard descriptors: with one of them closed, a new descriptor takes its
// number, and putting a stream in its place would then close it.
inline int AboveStandard(int fd) {
  if (fd < 0) std::abort();
  if (fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) std::abort();
  close(fd);
  return moved;
}

// Puts `fd` in the place of standard descriptor `standard` until Restore.
struct Replaced {
  Replaced(int which, int fd)
      : standard(which), saved(fcntl(which, F_DUPFD_CLOEXEC, STDERR_FILENO + 1)) {
    if (dup2(fd, which) < 0) std::abort();
  }
  // Back as it was; a descriptor that was closed is closed again.
  void Restore() const {
    if (saved < 0) {
      close(standard);
      return;
    }
    dup2(saved, standard);
    close(saved);
  }
  int standard;
  int saved;
};
#endif

// Runs `run` with `bytes` coming down a pipe on standard input, written by a thread of its own in
// pieces of `piece()` bytes (at least 1), the way a pipeline gives them: in short reads, at times
// one byte at a time. Gives back what `run` returned; standard input is the old one afterwards.
// A reader that stops early does not stall the writer: the pipe's far end closes after `run`.
template <class Run>
auto FeedingInput(const std::string& bytes, std::function<std::size_t()> piece, Run run) {
#ifdef _WIN32
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) std::abort();
  const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, readEnd);
  std::thread writer([&] {
    for (std::size_t done = 0; done < bytes.size();) {
      const std::size_t size = std::min(std::max<std::size_t>(piece(), 1), bytes.size() - done);
      DWORD wrote = 0;
      if (!WriteFile(writeEnd, bytes.data() + done, static_cast<DWORD>(size), &wrote, nullptr)) {
        break;
      }
      done += wrote;
    }
    CloseHandle(writeEnd);
  });
  auto result = run();
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(readEnd);
#else
  // A reader gone early makes the writer's next write fail, which must not end the test.
  std::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
  ends[0] = AboveStandard(ends[0]);
  ends[1] = AboveStandard(ends[1]);
  const Replaced input(STDIN_FILENO, ends[0]);
  close(ends[0]);
  std::thread writer([&] {
    for (std::size_t done = 0; done < bytes.size();) {
      const std::size_t size = std::min(std::max<std::size_t>(piece(), 1), bytes.size() - done);
      const ssize_t wrote = write(ends[1], bytes.data() + done, size);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote < 0) break;
      done += static_cast<std::size_t>(wrote);
    }
    close(ends[1]);
  });
  auto result = run();
  input.Restore();
#endif
  writer.join();
  return result;
}

// Runs `run` with standard output going to a file of its own in `folder`, and gives back what
// it returned and what it wrote. A file, not a pipe: a pipe needs a thread to drain it, and
// starting a thread costs Wine milliseconds. The file has no name, so nothing is left behind,
// and is never truncated, which on ext4 would make its closing wait for the disk. Nothing else
// may write to standard output meanwhile.
template <class Run>
auto CapturingOutput(const std::string& folder, Run run) {
  std::fflush(stdout);
  std::string captured;
  char buffer[4096];
#ifdef _WIN32
  static unsigned counter = 0;
  const std::string name = folder + "\\output-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++counter);
  const HANDLE file =
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) std::abort();
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  auto result = run();
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  LARGE_INTEGER start{};
  SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    captured.append(buffer, got);
  }
  CloseHandle(file);
#else
  const int file = AboveStandard(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  const Replaced output(STDOUT_FILENO, file);
  auto result = run();
  output.Restore();
  for (ssize_t got;
       (got = pread(file, buffer, sizeof buffer, static_cast<off_t>(captured.size()))) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) std::abort();
    captured.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
#endif
  return std::pair{std::move(result), std::move(captured)};
}

}  // namespace standard_streams
