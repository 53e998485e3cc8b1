#pragma once

// Scripts the stand-in sampler through its environment and reads back what it saw.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fake {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("lotrix-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// What the next started tool does; each field is left out of its environment when unset.
struct Script {
  std::string record{};  // where to write its arguments
  std::string report{};  // where to write pid, session, descriptors
  std::string ended{};   // where to write the time it ended
  int quietMs = 0;       // before it writes its errors
  int delayMs = 0;       // after
  int status = 0;
  int signal = 0;
  long stderrBytes = 0;
  std::string lastWords{};
  std::string says{};  // report records, one a line
  int lingerMs = 0;    // a process left behind holds its pipes this long
};

// Sets an environment variable, or removes it when `value` is empty.
inline void SetOrClear(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

inline void Apply(const Script& script) {
  SetOrClear("LOTRIX_FAKE_RECORD", script.record);
  SetOrClear("LOTRIX_FAKE_REPORT", script.report);
  SetOrClear("LOTRIX_FAKE_ENDED", script.ended);
  SetOrClear("LOTRIX_FAKE_LAST_WORDS", script.lastWords);
  SetOrClear("LOTRIX_FAKE_SAYS", script.says);
  SetOrClear("LOTRIX_FAKE_LINGER_MS", std::to_string(script.lingerMs));
  SetOrClear("LOTRIX_FAKE_QUIET_MS", std::to_string(script.quietMs));
  SetOrClear("LOTRIX_FAKE_DELAY_MS", std::to_string(script.delayMs));
  SetOrClear("LOTRIX_FAKE_STATUS", std::to_string(script.status));
  SetOrClear("LOTRIX_FAKE_SIGNAL", std::to_string(script.signal));
  SetOrClear("LOTRIX_FAKE_STDERR_BYTES", std::to_string(script.stderrBytes));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The arguments that the tool recorded.
inline std::vector<std::string> ReadArguments(const std::string& path) {
  std::vector<std::string> arguments;
  std::string all = ReadFile(path);
  for (std::size_t start = 0, end; (end = all.find('\0', start)) != std::string::npos;
       start = end + 1) {
    arguments.push_back(all.substr(start, end - start));
  }
  return arguments;
}

inline std::map<std::string, std::string> ReadReport(const std::string& path) {
  std::map<std::string, std::string> report;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) report[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return report;
}

// A path that holds every kind of character that a shell or a string splitter would mangle.
inline std::string AwkwardName() { return "two  spaces \"quoted\" $HOME `x` \\ new\nline é中.txt"; }

}  // namespace fake
