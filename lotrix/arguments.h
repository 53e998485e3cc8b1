#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "sample.h"

namespace lotrix {

// What `lotrix --help` prints.
extern const char kUsage[];

// What a command line asks for.
struct Arguments {
  enum class Action { kSample, kHelp, kVersion };
  Action action = Action::kSample;
  std::vector<std::string> inputs;
  std::string output;  // -o; empty: beside the input, or standard output
  SampleSize size;
  std::optional<std::uint64_t> seed;
  std::uint64_t header = 0;
  bool each = false;  // a sample of each input, beside it
  bool withName = false;
  bool shuffle = false;
  bool replace = false;
};

// The command line's words after the program's name, read as getopt_long reads them (options and
// operands in any order, POSIXLY_CORRECT honoured), but for a negative number, which is an
// operand. A mistake comes back as an Error whose reason is the message and whose path is empty.
Expected<Arguments> ParseArguments(const std::vector<std::string>& words);

}  // namespace lotrix
