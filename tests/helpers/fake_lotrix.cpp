// Stands in for the sampler in the front end's tests. It does what its environment says:
//   LOTRIX_FAKE_RECORD       file to write its arguments to, each followed by a NUL byte
//   LOTRIX_FAKE_REPORT       file to write key=value lines to: pid, sid, fds, stdin, stdout
//   LOTRIX_FAKE_STDERR_BYTES write this many bytes of filler lines to standard error
//   LOTRIX_FAKE_DELAY_MS     then sleep this long
//   LOTRIX_FAKE_LAST_WORDS   then write this line to standard error
//   LOTRIX_FAKE_ENDED        then write the wall-clock time in nanoseconds to this file
//   LOTRIX_FAKE_SIGNAL       and end by this signal, or else
//   LOTRIX_FAKE_STATUS       exit with this status (0 by default)
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

const char* Setting(const char* name) { return std::getenv(name); }

long Number(const char* name) {
  const char* value = Setting(name);
  return value ? std::strtol(value, nullptr, 10) : 0;
}

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

}  // namespace

int main(int argc, char* argv[]) {
  const std::string inherited = OpenDescriptors();  // before we open any of our own
  if (const char* path = Setting("LOTRIX_FAKE_RECORD")) {
    std::ofstream record(path, std::ios::binary);
    for (int i = 1; i < argc; ++i) record << argv[i] << '\0';
  }
  if (const char* path = Setting("LOTRIX_FAKE_REPORT")) {
    std::ofstream report(path);
    report << "pid=" << getpid() << "\nsid=" << getsid(0) << "\nfds=" << inherited
           << "\nstdin=" << LinkTarget("/proc/self/fd/0")
           << "\nstdout=" << LinkTarget("/proc/self/fd/1") << "\n";
  }
  const std::string filler(99, 'x');
  for (long left = Number("LOTRIX_FAKE_STDERR_BYTES"); left > 0; left -= 100) {
    if (write(2, (filler + "\n").data(), 100) != 100) break;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(Number("LOTRIX_FAKE_DELAY_MS")));
  if (const char* words = Setting("LOTRIX_FAKE_LAST_WORDS")) {
    const std::string line = std::string(words) + "\n";
    if (write(2, line.data(), line.size()) < 0) return 99;
  }
  if (const char* path = Setting("LOTRIX_FAKE_ENDED")) {
    std::ofstream(path) << std::chrono::system_clock::now().time_since_epoch().count();
  }
  if (const long signal = Number("LOTRIX_FAKE_SIGNAL")) std::raise(static_cast<int>(signal));
  return static_cast<int>(Number("LOTRIX_FAKE_STATUS"));
}
