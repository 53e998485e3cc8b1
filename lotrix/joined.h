#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "head.h"
#include "input.h"
#include "line_scanner.h"
#include "text.h"

namespace lotrix {

// How several inputs are read as one.
struct Joining {
  std::uint64_t header = 0;  // lines at the top of each input that are not fed
  bool withName = false;     // each line fed comes behind its input's name and a tab
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  std::uint64_t total = 0;  // the inputs' bytes, for progress; 0 where a stream is among them
};

// What was fed.
struct Joined {
  TextFormat format;  // the first input's, which every other shares
  std::uint64_t lines = 0;
};

// Feeds the lines of `inputs` below their headers to `visitor`, which captures, as one text in
// the first input's format: line numbers run on from one input to the next, and every line
// taken ends with a newline (a last line without one gets its input's ending), but for the very
// last one where it ends in a stray byte. The first input's header goes to `head`. Stops early
// once `failure` (which the visitor may set) holds an error. An input not open (a file, which
// waits closed for its turn, as a process may hold only so many open) is opened from its path
// then, and closed once read.
Expected<Joined> FeedJoined(std::vector<std::optional<InputFile>>& inputs,
                            const std::vector<std::string>& paths, const Joining& joining,
                            Head& head, LineVisitor& visitor, const std::optional<Error>& failure);

}  // namespace lotrix
