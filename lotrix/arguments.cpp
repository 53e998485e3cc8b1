#include "arguments.h"

#include <getopt.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "messages.h"

namespace lotrix {

const char kUsage[] = R"(Usage: lotrix [options] INPUT N
       lotrix [options] -n N INPUT...
       lotrix [options] --prob P INPUT...

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

N may also be a share of the lines, with at most six decimals: 10% or 2.5%
takes that share of the line count, rounded to the nearest line, a half up
(10% of 1005 lines is 101 lines).

INPUT may be compressed with gzip, bzip2, xz or zstd, which lotrix tells by its
content, not its name; the sample is text (hits.txt.gz gives
hits_sample30.txt). Data that is cut short or corrupt is an error that names
the byte where it was found, and no sample is written.

INPUT may be - (standard input), a pipe or another stream: it is read once,
and the lines that may be chosen are kept as they pass, in memory up to 16 MiB
and beyond that in a temporary file in TMPDIR. Without -o, the sample of
anything but a regular file goes to standard output.

A name that would not read plainly in a message (a line break or another
control character, bytes that are no UTF-8, spaces at either end) is shown as
the shell writes it: $'hits.txt\n' is hits.txt with a line break after it.

Options:
  -n N                draw N lines from all the INPUTs together, as if they
                      were one file; the sample of several goes to -o or
                      standard output (one INPUT's goes beside it, as above):
                        lotrix -n 100 -o sample.txt part1.txt part2.txt
      --each          a sample of each INPUT instead, beside it, named as for
                      one INPUT; the second draws with seed S + 1, and so on:
                        lotrix --each -n 30 texts/*.txt
      --header[=K]    the first K lines of each INPUT (1 without K) are a
                      header, never drawn; the first INPUT's head the sample:
                        lotrix --header=2 hits.txt 30
      --with-name     put the name of its INPUT and a tab before each line:
                        lotrix --with-name -n 50 a.txt b.txt
      --prob P        keep each line by itself with probability P (0 to 1),
                      in one pass that holds nothing; no N:
                        lotrix --prob 0.01 hits.txt
      --shuffle       write the sample in random order, every order equally
                      likely, rather than in the input's:
                        lotrix --shuffle hits.txt 30
      --replace       draw N times, each line as likely every time, so that a
                      line may come more than once (a bootstrap sample; N may
                      then exceed the lines, and a share 100%):
                        lotrix --replace hits.txt 200%
  -o, --output FILE   write the sample to FILE instead, replacing an existing
                      file (never one that is write-protected); - is standard
                      output:
                        lotrix -o picked.txt hits.txt 30
      --seed S        draw with seed S (a whole number); the same seed and input
                      give the same sample on every platform:
                        lotrix --seed 7 hits.txt 30
  -h, --help          show this text
      --version       show the version

Exit status:
  0   the sample was written
  1   a file could not be read or written (nothing is left half-written)
  2   the command line is wrong
)";

namespace {

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

Error Usage(std::string message) { return Error{"", std::move(message)}; }

// What a number that must be whole (`rule`, "a whole number ...") and is not was told.
Error NotWhole(std::string_view text, const std::string& what, const std::string& rule) {
  bool tooLarge = false;
  WholeNumber(text, &tooLarge);
  return Usage(Quoted(text) + ": " + what + " must be " +
               (tooLarge ? "at most " + std::to_string(UINT64_MAX) : rule));
}

// A share as typed, "2.5%", in parts of SampleSize::kWhole.
std::optional<std::uint64_t> Share(std::string_view text) {
  if (!text.ends_with('%')) return std::nullopt;
  text.remove_suffix(1);
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view decimals =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() || whole.size() > 9 || decimals.size() > 6 ||
      (point != std::string_view::npos && decimals.empty()) ||
      text.find_first_not_of("0123456789.") != std::string_view::npos ||
      decimals.find('.') != std::string_view::npos) {
    return std::nullopt;
  }
  std::uint64_t parts = *WholeNumber(whole) * 1'000'000;
  std::uint64_t scale = 100'000;
  for (const char digit : decimals) {
    parts += static_cast<std::uint64_t>(digit - '0') * scale;
    scale /= 10;
  }
  return parts;
}

Expected<SampleSize> Size(std::string_view text, bool replace, bool inputFirst) {
  if (text.ends_with('%')) {
    const auto share = Share(text);
    if (!share) {
      return Usage(Quoted(text) +
                   ": a share must be a number of at most six decimals before the %, as 2.5%");
    }
    // Drawn with replacement, a sample may hold more lines than the input.
    if (*share > SampleSize::kWhole && !replace) {
      return Usage(Quoted(text) + ": a share can be at most 100%");
    }
    SampleSize size;
    size.kind = SampleSize::Kind::kShare;
    size.share = *share;
    size.text = text;
    return size;
  }
  const auto count = WholeNumber(text);
  if (!count) {
    Error error = NotWhole(text, "the sample size", "a whole number of 0 or more");
    if (inputFirst) error.reason += "; the input file comes first, then the size";
    return error;
  }
  return SampleSize(*count);
}

Expected<double> Probability(std::string_view text) {
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(value >= 0) ||
      value > 1) {
    return Usage(Quoted(text) + ": the probability must be a number from 0 to 1, as 0.05");
  }
  return value;
}

// A word typed on the command line, between the quotes that GNU tools put around an option; one
// that Quoted() has to spell out comes in its own.
std::string InQuotes(std::string_view word) {
  const std::string quoted = Quoted(word);
  return quoted == word ? "'" + quoted + "'" : quoted;
}

// What getopt_long found wrong with argument `argument`, worded as GNU tools word it.
Error OptionError(int found, const char* argument) {
  const std::string text = argument;
  const bool longForm = text.starts_with("--");
  const std::string name = longForm ? text.substr(0, text.find('=')) : text;
  const std::string letter(1, char(optopt));
  if (found == ':') {
    return Usage(longForm ? "option " + InQuotes(name) + " requires an argument"
                          : "option requires an argument -- " + InQuotes(letter));
  }
  return Usage(longForm || optopt == 0 ? "unrecognized option " + InQuotes(name)
                                       : "invalid option -- " + InQuotes(letter));
}

// A sample size the window passes as typed may be negative, which getopt_long would take for a
// cluster of options ("-5": invalid option -- '5'). No option of ours is a digit.
bool LooksNegative(std::string_view word) {
  return word.size() > 1 && word[0] == '-' && word[1] >= '0' && word[1] <= '9';
}

bool LooksLikeNumber(std::string_view word) {
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) word.remove_prefix(1);
  if (word.ends_with('%')) word.remove_suffix(1);
  return !word.empty() && word.find_first_not_of("0123456789.") == std::string_view::npos;
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
std::vector<char*> OperandsLast(std::vector<std::string>& words, std::string_view shortOptions,
                                const option* longOptions) {
  static char program[] = "lotrix";
  static char endOfOptions[] = "--";
  const bool inOrder = std::getenv("POSIXLY_CORRECT") != nullptr;
  std::vector<char*> options{program};
  std::vector<char*> operands;
  std::size_t i = 0;
  for (; i < words.size(); ++i) {
    const std::string_view word = words[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.size() < 2 || word[0] != '-' || LooksNegative(word)) {
      if (inOrder) break;
      operands.push_back(words[i].data());
      continue;
    }
    options.push_back(words[i].data());
    if (ArgumentFollows(word, shortOptions, longOptions)) {
      // Without its argument the option must stay last, where getopt_long reports it missing
      // rather than take the "--" for it; the operands no longer matter.
      if (i + 1 == words.size()) {
        options.push_back(nullptr);
        return options;
      }
      options.push_back(words[++i].data());
    }
  }
  for (; i < words.size(); ++i) operands.push_back(words[i].data());
  options.push_back(endOfOptions);
  options.insert(options.end(), operands.begin(), operands.end());
  options.push_back(nullptr);
  return options;
}

// Options that cannot go together, and what they want of the operands.
std::optional<Error> Conflict(const Arguments& arguments, bool countGiven, bool probability) {
  if (arguments.each && !arguments.output.empty()) {
    return Usage("--each writes each sample beside its input; it takes no -o");
  }
  if (probability && countGiven) {
    return Usage("--prob keeps each line by chance; it takes no sample size");
  }
  if (probability && arguments.replace) {
    return Usage("--replace draws N lines; --prob keeps each line by chance, and takes neither");
  }
  return std::nullopt;
}

}  // namespace

Expected<Arguments> ParseArguments(const std::vector<std::string>& given) {
  enum { kSeed = 256, kVersion, kHeader, kEach, kWithName, kProb, kShuffle, kReplace };
  static const option kOptions[] = {{"output", required_argument, nullptr, 'o'},
                                    {"seed", required_argument, nullptr, kSeed},
                                    {"header", optional_argument, nullptr, kHeader},
                                    {"each", no_argument, nullptr, kEach},
                                    {"with-name", no_argument, nullptr, kWithName},
                                    {"prob", required_argument, nullptr, kProb},
                                    {"shuffle", no_argument, nullptr, kShuffle},
                                    {"replace", no_argument, nullptr, kReplace},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, kVersion},
                                    {nullptr, 0, nullptr, 0}};
  static const char kShortOptions[] = ":o:n:h";
  std::vector<std::string> words = given;
  std::vector<char*> argv = OperandsLast(words, kShortOptions, kOptions);
  const int argc = static_cast<int>(argv.size()) - 1;
  Arguments arguments;
  std::optional<std::string> count;
  std::optional<std::string> probability;
  opterr = 0;  // its messages would carry the program's whole path
  optind = 0;  // starts afresh, for a caller that parses more than once
  for (int found;
       (found = getopt_long(argc, argv.data(), kShortOptions, kOptions, nullptr)) != -1;) {
    switch (found) {
      case 'o':
        if (*optarg == '\0') return Usage("-o: needs a file name");
        arguments.output = optarg;
        break;
      case 'n':
        count = optarg;
        break;
      case kSeed:
        arguments.seed = WholeNumber(optarg);
        if (!arguments.seed) return NotWhole(optarg, "the seed", "a whole number");
        break;
      case kHeader: {
        const auto lines = optarg ? WholeNumber(optarg) : std::optional<std::uint64_t>(1);
        if (!lines) return NotWhole(optarg, "the header's length", "a whole number of lines");
        arguments.header = *lines;
        break;
      }
      case kEach:
        arguments.each = true;
        break;
      case kWithName:
        arguments.withName = true;
        break;
      case kProb:
        probability = optarg;
        break;
      case kShuffle:
        arguments.shuffle = true;
        break;
      case kReplace:
        arguments.replace = true;
        break;
      case 'h':
        arguments.action = Arguments::Action::kHelp;
        return arguments;
      case kVersion:
        arguments.action = Arguments::Action::kVersion;
        return arguments;
      default:
        return OptionError(found, argv[optind - 1]);
    }
  }
  std::vector<std::string> operands(argv.begin() + optind, argv.end() - 1);
  const bool sizeOption = count.has_value();
  const bool named = count || probability;
  if (!named && operands.size() != 2) {
    return Usage(operands.size() > 2 ? "needs an input file and a sample size; several inputs "
                                       "take the size as -n N before them"
                                     : "needs an input file and a sample size");
  }
  if (!named) {
    count = operands.back();
    operands.pop_back();
  } else if (probability && !operands.empty() && LooksLikeNumber(operands.back())) {
    return Usage("--prob keeps each line by chance; it takes no sample size");
  }
  if (auto error = Conflict(arguments, sizeOption, probability.has_value())) return *error;
  if (operands.empty()) {
    return Usage(probability ? "needs an input file" : "needs an input file and a sample size");
  }
  for (const std::string& input : operands) {
    // An empty name is what a window sends for an empty field: no file, rather than a file the
    // system cannot find under no name.
    if (input.empty()) return Usage("no input file was named");
  }
  if (probability) {
    auto chance = Probability(*probability);
    if (!chance) return chance.error();
    arguments.size.kind = SampleSize::Kind::kProbability;
    arguments.size.probability = *chance;
    arguments.size.text = *probability;
  } else {
    auto size = Size(*count, arguments.replace, !named && LooksLikeNumber(operands.front()));
    if (!size) return size.error();
    arguments.size = *size;
  }
  arguments.inputs = std::move(operands);
  return arguments;
}

}  // namespace lotrix
