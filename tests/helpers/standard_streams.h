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
  const int saved = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  if (dup2(ends[0], STDIN_FILENO) < 0) std::abort();
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
  // A closed standard input stays closed.
  if (saved >= 0) {
    dup2(saved, STDIN_FILENO);
    close(saved);
  } else {
    close(STDIN_FILENO);
  }
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
  const int file = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  const int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (file < 0 || saved < 0 || dup2(file, STDOUT_FILENO) < 0) std::abort();
  auto result = run();
  dup2(saved, STDOUT_FILENO);
  close(saved);
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
