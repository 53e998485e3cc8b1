// lotrix: draws a fair random sample of lines from a text file.
static const char kUsage[] = R"(Usage: lotrix [options] INPUT N

Writes N lines of INPUT, drawn at random, to a new file beside it: INPUT's name
with "_sample" and N added before its extension (lines.txt gives
lines_sample30.txt). Every set of N distinct lines is equally likely; the lines
keep their order in INPUT and their bytes, line endings included. A file of
fewer than N lines is written whole. Text in any ASCII-compatible encoding
(UTF-8, GB18030, Latin-1, ...) and UTF-16 with a byte-order mark is understood.

Options:
  -o, --output FILE   write the sample to FILE instead
      --seed S        draw with seed S (a whole number); the same seed and input
                      give the same sample on every platform
  -h, --help          show this text
      --version       show the version

Exit status: 0 when the sample was written, 1 when a file could not be read or
written (nothing is left half-written), 2 when the command line is wrong.
)";

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "random.h"
#include "sample.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
// Below this the pass over the input is too short to need a progress line.
constexpr std::uint64_t kProgressFrom = 64ull << 20;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "lotrix: %s\nTry 'lotrix --help' for more information.\n", message.c_str());
  return kUsageError;
}

std::optional<std::uint64_t> WholeNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// "lotrix: lines.txt: 42%", rewritten in place on a terminal.
class ProgressLine {
 public:
  explicit ProgressLine(std::string name) : name_(std::move(name)) {}
  ~ProgressLine() {
    if (shown_ >= 0) std::fputs("\r\x1b[K", stderr);
  }
  void operator()(std::uint64_t done, std::uint64_t total) {
    if (total < kProgressFrom) return;
    const int percent = static_cast<int>(100 * std::min(done, total) / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(stderr, "\rlotrix: %s: %d%%", name_.c_str(), percent);
    std::fflush(stderr);
  }

 private:
  std::string name_;
  int shown_ = -1;
};

}  // namespace

static int Main(int argc, char* argv[]) {
  std::vector<std::string_view> positional;
  std::optional<std::string> output;
  std::optional<std::uint64_t> seed;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // An option's value: the rest of "--name=value", or the next argument.
    auto value = [&](std::string_view name) -> std::optional<std::string_view> {
      if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
      }
      if (i + 1 < argc) return std::string_view(argv[++i]);
      return std::nullopt;
    };
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::puts("lotrix 1.0.0");
      return 0;
    } else if (arg == "-o" || arg.starts_with("--output")) {
      const auto file = value("--output");
      if (!file || file->empty()) return UsageError(std::string(arg) + ": needs a file name");
      output = std::string(*file);
    } else if (arg.starts_with("--seed")) {
      const auto text = value("--seed");
      if (!text) return UsageError("--seed: needs a whole number");
      seed = WholeNumber(*text);
      if (!seed) return UsageError(std::string(*text) + ": the seed must be a whole number");
    } else if (!WholeNumber(arg.substr(1))) {
      return UsageError(std::string(arg) + ": no such option");
    } else {
      positional.push_back(arg);  // a negative sample size, refused below
    }
  }
  if (positional.size() != 2) return UsageError("needs an input file and a sample size");

  lotrix::SampleRequest request;
  request.input = std::string(positional[0]);
  const auto size = WholeNumber(positional[1]);
  if (!size) {
    return UsageError(std::string(positional[1]) +
                      ": the sample size must be a whole number of 0 or more");
  }
  request.size = *size;
  request.output = output.value_or(lotrix::DefaultOutputPath(request.input, *size));
  request.seed = seed.value_or(lotrix::FreshSeed());
  ProgressLine progress(request.input);
  if (isatty(STDERR_FILENO)) request.progress = std::ref(progress);

  const auto report = lotrix::Sample(request);
  if (!report) {
    std::fprintf(stderr, "lotrix: %s: %s\n", report.error().path.c_str(),
                 report.error().reason.c_str());
    return kFailed;
  }
  if (report->lines < request.size) {
    std::fprintf(stderr, "lotrix: %s: has only %llu lines; the sample holds all of them\n",
                 request.input.c_str(), static_cast<unsigned long long>(report->lines));
  }
  return 0;
}

#ifdef _WIN32
// Arguments arrive in UTF-16; the sampler works in UTF-8, and so does the console it writes to.
int wmain(int argc, wchar_t* argv[]) {
  SetConsoleOutputCP(CP_UTF8);
  // The progress line clears itself with an escape sequence that consoles take only when asked.
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, argument.data(), size, nullptr, nullptr);
    argument.pop_back();  // the terminating NUL
    arguments.push_back(std::move(argument));
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return Main(argc, pointers.data());
}
#else
int main(int argc, char* argv[]) { return Main(argc, argv); }
#endif
