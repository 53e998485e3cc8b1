// Stands in for the sampler in the front end's tests. It does what its environment says (each
// setting also as NAME_<size>, for the runs of that sample size alone):
//   LOTRIX_FAKE_RECORD       file to write its arguments to, each followed by a NUL byte
//   LOTRIX_FAKE_REPORT       file to write key=value lines to: pid, sid, fds, stdin, stdout,
//                            channel (LOTRIX_REPORT as it found it)
//   LOTRIX_FAKE_SAYS         write these records (lines) to the report pipe LOTRIX_REPORT names
//   LOTRIX_FAKE_LINGER_MS    leave behind a process that holds its standard error and report
//                            pipe open this long after it has ended (Linux)
//   LOTRIX_FAKE_QUIET_MS     first sleep this long
//   LOTRIX_FAKE_STDERR_BYTES write this many bytes of filler lines to standard error
//   LOTRIX_FAKE_DELAY_MS     then sleep this long
//   LOTRIX_FAKE_LAST_WORDS   then write this line to standard error
//   LOTRIX_FAKE_ENDED        then write the wall-clock time in nanoseconds to this file
//   LOTRIX_FAKE_SIGNAL       and end by this signal (on Windows, 11 is an access violation), or
//                            else
//   LOTRIX_FAKE_STATUS       exit with this status (0 by default)
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The sample size it was started with: a setting named NAME_<size> (LOTRIX_FAKE_QUIET_MS_7)
// applies to that size's runs alone, so that runs of one window can be told apart.
std::string startedSize;

const char* Setting(const char* name) {
  const std::string own = std::string(name) + "_" + startedSize;
  const char* value = std::getenv(own.c_str());
  return value ? value : std::getenv(name);
}

long Number(const char* name) {
  const char* value = Setting(name);
  return value ? std::strtol(value, nullptr, 10) : 0;
}

#ifndef _WIN32
std::string OpenDescriptors() {
  std::string list;
  DIR* dir = opendir("/proc/self/fd");
  const int own = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || std::stoi(entry->d_name) == own) continue;
    list += list.empty() ? "" : ",";
    list += entry->d_name;
  }
  closedir(dir);
  return list;
}

std::string LinkTarget(const char* link) {
  char target[4096];
  const ssize_t size = readlink(link, target, sizeof target);
  return size > 0 ? std::string(target, static_cast<std::size_t>(size)) : std::string();
}
#endif

// Writes to the report pipe whose descriptor (handle, on Windows) LOTRIX_REPORT holds.
void Say(const std::string& records) {
  const char* channel = std::getenv("LOTRIX_REPORT");
  if (channel == nullptr) return;
#ifdef _WIN32
  const auto handle = reinterpret_cast<HANDLE>(std::strtoull(channel, nullptr, 10));
  DWORD written = 0;
  WriteFile(handle, records.data(), static_cast<DWORD>(records.size()), &written, nullptr);
#else
  const int fd = static_cast<int>(std::strtol(channel, nullptr, 10));
  if (write(fd, records.data(), records.size()) < 0) std::perror("fake lotrix: report");
#endif
}

void WriteError(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int Main(int argc, char* argv[]) {
  if (argc > 2) startedSize = argv[2];
#ifndef _WIN32
  const std::string inherited = OpenDescriptors();  // before we open any of our own
#endif
  if (const char* path = Setting("LOTRIX_FAKE_RECORD")) {
    std::ofstream record(path, std::ios::binary);
    for (int i = 1; i < argc; ++i) record << argv[i] << '\0';
  }
  if (const char* path = Setting("LOTRIX_FAKE_REPORT")) {
    std::ofstream report(path);
    const char* channel = std::getenv("LOTRIX_REPORT");
    report << "channel=" << (channel ? channel : "") << "\n";
#ifdef _WIN32
    report << "pid=" << GetCurrentProcessId() << "\n";
#else
    report << "pid=" << getpid() << "\nsid=" << getsid(0) << "\nfds=" << inherited
           << "\nreport=" << LinkTarget("/proc/self/fd/3").substr(0, 5)
           << "\nstdin=" << LinkTarget("/proc/self/fd/0")
           << "\nstdout=" << LinkTarget("/proc/self/fd/1") << "\n";
#endif
  }
  if (const char* says = Setting("LOTRIX_FAKE_SAYS")) Say(std::string(says) + "\n");
#ifndef _WIN32
  if (const long linger = Number("LOTRIX_FAKE_LINGER_MS"); linger > 0 && fork() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(linger));
    _exit(0);
  }
#endif
  std::this_thread::sleep_for(std::chrono::milliseconds(Number("LOTRIX_FAKE_QUIET_MS")));
  const std::string filler = std::string(99, 'x') + "\n";
  for (long left = Number("LOTRIX_FAKE_STDERR_BYTES"); left > 0; left -= 100) WriteError(filler);
  std::this_thread::sleep_for(std::chrono::milliseconds(Number("LOTRIX_FAKE_DELAY_MS")));
  if (const char* words = Setting("LOTRIX_FAKE_LAST_WORDS")) WriteError(std::string(words) + "\n");
  if (const char* path = Setting("LOTRIX_FAKE_ENDED")) {
    std::ofstream(path) << std::chrono::system_clock::now().time_since_epoch().count();
  }
#ifdef _WIN32
  if (Number("LOTRIX_FAKE_SIGNAL") == SIGSEGV) {
    // No SetErrorMode of its own: the window's keeps the system's crash dialog away.
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  }
#endif
  if (const long signal = Number("LOTRIX_FAKE_SIGNAL")) std::raise(static_cast<int>(signal));
  return static_cast<int>(Number("LOTRIX_FAKE_STATUS"));
}

}  // namespace

#ifdef _WIN32
// The arguments as Windows hands them over, recorded as UTF-8.
int wmain(int argc, wchar_t* argv[]) {
  std::vector<std::string> arguments;
  std::vector<char*> pointers;
  for (int i = 0; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, argument.data(), size, nullptr, nullptr);
    argument.pop_back();
    arguments.push_back(std::move(argument));
  }
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  return Main(argc, pointers.data());
}
#else
int main(int argc, char* argv[]) {
  // As the sampler does, to clean up: so a paused one takes the signal only once it goes on.
  signal(SIGTERM, [](int number) {
    signal(number, SIG_DFL);
    raise(number);
  });
  return Main(argc, argv);
}
#endif
