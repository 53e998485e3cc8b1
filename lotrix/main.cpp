// lotrix: draws a fair random sample of lines from a text file.
static const char kUsage[] = R"(Usage: lotrix [options] INPUT N

Writes N lines of INPUT, drawn at random, to a new file beside it: INPUT's name
with "_sample" and N added before its extension (lines.txt gives
lines_sample30.txt). An earlier sample is never replaced: when that name is
taken, the sample goes to lines_sample30-2.txt (then -3, and so on), and lotrix
says which file it wrote.

Every set of N distinct lines is equally likely. The lines keep their order in
INPUT and their bytes, line endings included; a last line without an ending
gets the file's own (but for UTF-16 that ends in a stray byte, which stays as
it is). A file of fewer than N lines is written whole. Text in any
ASCII-compatible encoding (UTF-8, GB18030, Latin-1, ...) and UTF-16 with a
byte-order mark is understood.

INPUT may be - (standard input), a pipe or another stream: it is read once,
and the lines that may be chosen are kept as they pass, in memory up to 16 MiB
and beyond that in a temporary file in TMPDIR. Without -o, the sample of
anything but a regular file goes to standard output.

A name that would not read plainly in a message (a line break or another
control character, bytes that are no UTF-8, spaces at either end) is shown as
the shell writes it: $'hits.txt\n' is hits.txt with a line break after it.

Options:
  -o, --output FILE   write the sample to FILE instead, replacing an existing
                      file (never one that is write-protected); - is standard
                      output
      --seed S        draw with seed S (a whole number); the same seed and input
                      give the same sample on every platform
  -h, --help          show this text
      --version       show the version

Exit status:
  0   the sample was written
  1   a file could not be read or written (nothing is left half-written)
  2   the command line is wrong
)";

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messages.h"
#include "random.h"
#include "report.h"
#include "sample.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
// Below this the pass over the input is too short to need a progress line.
constexpr std::uint64_t kProgressFrom = 64ull << 20;

// Standard error. On a terminal it may hold a progress line, which whatever is said next
// replaces. A Windows console is written in UTF-16, so that any name shows whatever its code
// page, and is left in the mode it was found in.
class ErrorStream {
 public:
  ErrorStream() {
#ifdef _WIN32
    console_ = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    terminal_ = GetConsoleMode(console_, &mode);
#else
    terminal_ = isatty(STDERR_FILENO);
#endif
  }
  ~ErrorStream() { EndProgress(); }

  bool IsTerminal() const { return terminal_; }

  void Say(const std::string& text) {
    EndProgress();
    Put("lotrix: " + text + "\n");
  }

  // "lotrix: lines.txt: 42%", rewritten in place; `name` as Quoted() gives it.
  void Progress(const std::string& name, std::uint64_t done, std::uint64_t total) {
    if (total < kProgressFrom) return;
    const int percent = static_cast<int>(100 * std::min(done, total) / total);
    if (percent == shown_) return;
    shown_ = percent;
    Put("\rlotrix: " + name + ": " + std::to_string(percent) + "%");
  }

 private:
  void EndProgress() {
    if (shown_ < 0) return;
    shown_ = -1;
#ifdef _WIN32
    // Blank the console's line without escape sequences, which it takes only in a mode of its
    // own.
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console_, &info)) return;
    const COORD start{0, info.dwCursorPosition.Y};
    DWORD written = 0;
    FillConsoleOutputCharacterW(console_, L' ', static_cast<DWORD>(info.dwSize.X), start, &written);
    SetConsoleCursorPosition(console_, start);
#else
    Put("\r\x1b[K");
#endif
  }

  void Put(const std::string& text) {
#ifdef _WIN32
    if (terminal_) {
      const int size =
          MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
      std::wstring wide(static_cast<std::size_t>(size), L'\0');
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
      DWORD written = 0;
      WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }

#ifdef _WIN32
  HANDLE console_;
#endif
  bool terminal_;
  int shown_ = -1;
};

int UsageError(ErrorStream& errors, const std::string& message) {
  errors.Say(message + "\nTry 'lotrix --help' for more information.");
  return kUsageError;
}

// A whole number of 0 or more; none where `text` is not one, with `tooLarge` set where it is one
// past the largest that 64 bits hold.
std::optional<std::uint64_t> WholeNumber(std::string_view text, bool* tooLarge = nullptr) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (tooLarge) {
    *tooLarge = error == std::errc::result_out_of_range && end == text.data() + text.size();
  }
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// What a number that must be whole (`rule`, "a whole number ...") and is not was told.
std::string NotWhole(const char* text, const std::string& what, const std::string& rule) {
  bool tooLarge = false;
  WholeNumber(text, &tooLarge);
  return lotrix::Quoted(text) + ": " + what + " must be " +
         (tooLarge ? "at most " + std::to_string(UINT64_MAX) : rule);
}

// A word typed on the command line, between the quotes that GNU tools put around an option; one
// that Quoted() has to spell out comes in its own.
std::string InQuotes(std::string_view word) {
  const std::string quoted = lotrix::Quoted(word);
  return quoted == word ? "'" + quoted + "'" : quoted;
}

// What getopt_long found wrong with argument `argument`, worded as GNU tools word it.
std::string OptionError(int found, const char* argument) {
  const std::string text = argument;
  const bool longForm = text.starts_with("--");
  const std::string name = longForm ? text.substr(0, text.find('=')) : text;
  const std::string letter(1, char(optopt));
  if (found == ':') {
    return longForm ? "option " + InQuotes(name) + " requires an argument"
                    : "option requires an argument -- " + InQuotes(letter);
  }
  return longForm || optopt == 0 ? "unrecognized option " + InQuotes(name)
                                 : "invalid option -- " + InQuotes(letter);
}

// A sample size the window passes as typed may be negative, which getopt_long would take for a
// cluster of options ("-5": invalid option -- '5'). No option of ours is a digit.
bool LooksNegative(std::string_view word) {
  return word.size() > 1 && word[0] == '-' && word[1] >= '0' && word[1] <= '9';
}

bool LooksLikeNumber(std::string_view word) {
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) word.remove_prefix(1);
  return !word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos;
}

// Whether option word `word` (not "--") leaves its argument to the next word, as getopt_long
// reads it: a long option by its name or an unambiguous abbreviation, without "=value"; or a
// cluster of short options that ends in one with a required argument.
bool ArgumentFollows(std::string_view word, std::string_view shortOptions,
                     const option* longOptions) {
  if (word.starts_with("--")) {
    const std::string_view name = word.substr(2);
    if (name.find('=') != std::string_view::npos) return false;
    const option* found = nullptr;
    int abbreviated = 0;
    for (const option* entry = longOptions; entry->name; ++entry) {
      const std::string_view full = entry->name;
      if (full == name) return entry->has_arg == required_argument;
      if (full.starts_with(name)) {
        found = entry;
        ++abbreviated;
      }
    }
    return abbreviated == 1 && found->has_arg == required_argument;
  }
  for (std::size_t i = 1; i < word.size(); ++i) {
    const std::size_t at = word[i] == ':' ? std::string_view::npos : shortOptions.find(word[i]);
    if (at == std::string_view::npos) return false;  // getopt_long stops here with an error
    if (shortOptions.substr(at + 1, 1) == ":") {
      // Required ("o:") or optional ("o::"): the rest of the word, if any, is the argument.
      return i + 1 == word.size() && shortOptions.substr(at + 2, 1) != ":";
    }
  }
  return false;
}

// The arguments with every operand behind a "--", in their order, so that getopt_long takes a
// negative number for the operand it is. The options and their arguments come first, found as
// getopt_long finds them: an option's argument stays its own whatever it looks like ("-o -5"
// names a file "-5"). With POSIXLY_CORRECT, as there, the first operand ends the options.
std::vector<char*> OperandsLast(int argc, char* argv[], std::string_view shortOptions,
                                const option* longOptions) {
  static char endOfOptions[] = "--";
  const bool inOrder = std::getenv("POSIXLY_CORRECT") != nullptr;
  std::vector<char*> options{argv[0]};
  std::vector<char*> operands;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.size() < 2 || word[0] != '-' || LooksNegative(word)) {
      if (inOrder) break;
      operands.push_back(argv[i]);
      continue;
    }
    options.push_back(argv[i]);
    if (ArgumentFollows(word, shortOptions, longOptions)) {
      // Without its argument the option must stay last, where getopt_long reports it missing
      // rather than take the "--" for it; the operands no longer matter.
      if (i + 1 == argc) {
        options.push_back(nullptr);
        return options;
      }
      options.push_back(argv[++i]);
    }
  }
  operands.insert(operands.end(), argv + i, argv + argc);
  options.push_back(endOfOptions);
  options.insert(options.end(), operands.begin(), operands.end());
  options.push_back(nullptr);
  return options;
}

#ifndef _WIN32
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
#else
// A program started without a standard handle (by another program that passed none) would find
// "-" closed; NUL stands in, as the null device does on Linux, opened for reading: an input of
// "-" then reads nothing, what is said goes nowhere, and a sample meant for standard output is
// refused rather than lost.
void OpenStandardHandles() {
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    const HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (null != INVALID_HANDLE_VALUE) SetStdHandle(which, null);
  }
}
#endif

}  // namespace

static int Main(int argc, char* argv[]) {
  ErrorStream errors;
  enum { kSeed = 256, kVersion };
  static const option kOptions[] = {{"output", required_argument, nullptr, 'o'},
                                    {"seed", required_argument, nullptr, kSeed},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, kVersion},
                                    {nullptr, 0, nullptr, 0}};
  static const char kShortOptions[] = ":o:h";
  std::vector<char*> arguments = OperandsLast(argc, argv, kShortOptions, kOptions);
  argc = static_cast<int>(arguments.size()) - 1;
  argv = arguments.data();
  lotrix::SampleRequest request;
  std::optional<std::uint64_t> seed;
  opterr = 0;  // its messages would carry the program's whole path
  for (int found; (found = getopt_long(argc, argv, kShortOptions, kOptions, nullptr)) != -1;) {
    switch (found) {
      case 'o':
        if (*optarg == '\0') return UsageError(errors, "-o: needs a file name");
        request.output = optarg;
        break;
      case kSeed:
        seed = WholeNumber(optarg);
        if (!seed) return UsageError(errors, NotWhole(optarg, "the seed", "a whole number"));
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case kVersion:
        std::puts("lotrix " LOTRIX_VERSION);
        return 0;
      default:
        return UsageError(errors, OptionError(found, argv[optind - 1]));
    }
  }
  if (argc - optind != 2) return UsageError(errors, "needs an input file and a sample size");

  // An empty name is what a window sends for an empty field: no file, rather than a file the
  // system cannot find under no name.
  if (*argv[optind] == '\0') return UsageError(errors, "no input file was named");
  request.input = argv[optind];
  const auto size = WholeNumber(argv[optind + 1]);
  if (!size) {
    std::string message =
        NotWhole(argv[optind + 1], "the sample size", "a whole number of 0 or more");
    if (LooksLikeNumber(argv[optind])) message += "; the input file comes first, then the size";
    return UsageError(errors, message);
  }
  request.size = *size;
  request.seed = seed.value_or(lotrix::FreshSeed());
  const std::string input = lotrix::Quoted(request.input);
  lotrix::Report channel = lotrix::Report::FromEnvironment();
  channel.Seed(request.seed);
  if (errors.IsTerminal() || channel.Open()) {
    request.progress = [&](std::uint64_t done, std::uint64_t total) {
      if (errors.IsTerminal()) errors.Progress(input, done, total);
      channel.Progress(done, total);
    };
  }

  const auto report = lotrix::Sample(request);
  if (!report) {
    errors.Say(lotrix::Quoted(report.error().path) + ": " + report.error().reason);
    return kFailed;
  }
  channel.Lines(report->lines, report->written);
  if (report->output != "-") channel.Sample(report->output);
  if (report->lines < request.size) {
    errors.Say((request.input == "-" ? "standard input" : input) + ": has only " +
               std::to_string(report->lines) + (report->lines == 1 ? " line" : " lines") +
               "; the sample holds all of them");
  }
  // (A stream's sample, which went to standard output, took no name.)
  bool told = !request.output.empty() || report->output == "-";
  if (!told) {
    const std::string first = lotrix::DefaultOutputPath(request.input, request.size);
    if (report->output != first) {
      errors.Say(lotrix::Quoted(first) + " exists; the sample is in " +
                 lotrix::Quoted(report->output));
      told = true;
    }
  }
  // Someone at a terminal learns where the sample is and how to draw it again; a script that
  // wants either asks for them.
  if (errors.IsTerminal()) {
    std::string text = told ? "" : "the sample is in " + lotrix::Quoted(report->output);
    if (!seed) {
      text += (text.empty() ? "" : "; ") + std::string("--seed ") + std::to_string(request.seed) +
              " draws it again";
    }
    if (!text.empty()) errors.Say(text);
  }
  return 0;
}

#ifdef _WIN32
// A crash ends the sampler with the exception's status, which whoever started it reports, like
// a signal's end on Linux; without this the system (or Wine's debugger) puts up a dialog of its
// own and keeps the process alive until someone closes it.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

// Arguments arrive in UTF-16; the sampler works in UTF-8.
int wmain(int argc, wchar_t* argv[]) {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndOnCrash);
  OpenStandardHandles();
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
int main(int argc, char* argv[]) {
  if (const int code = OpenStandardDescriptors()) {
    // Said only where standard error is open; no file is open that could have taken its place.
    std::fprintf(stderr, "lotrix: /dev/null: %s\n", std::strerror(code));
    return kFailed;
  }
  return Main(argc, argv);
}
#endif
