#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "buffer.h"
#include "draw.h"
#include "error.h"
#include "input.h"
#include "line_scanner.h"
#include "output.h"
#include "text.h"

namespace lotrix {

// Copies lines out of a file in increasing order of position. Chosen lines near each other are
// read together; a line far from the next is read alone, so that a sparse sample does not read
// the whole file again.
class LineCopier {
 public:
  LineCopier(InputFile& input, Sink& output, const TextFormat& format, const LineScanner& scan);

  // The lines that start at `starts`, in increasing order, each of which must still follow a
  // newline.
  std::optional<Error> Lines(const std::vector<std::uint64_t>& starts);
  // Everything from `start` on.
  std::optional<Error> Rest(std::uint64_t start) { return Copy(start, true); }

 private:
  std::optional<Error> Copy(std::uint64_t at, bool rest);
  // Makes the window hold `size` bytes from `at`, reading `want` bytes when it must read.
  std::optional<Error> Load(std::uint64_t at, std::size_t size, std::size_t want);

  InputFile& input_;
  Sink& output_;
  const TextFormat& format_;
  const LineScanner& scan_;
  IoBuffer window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
};

// Copies the lines of a stream's sample out of the lines its draw put by. `lastEnding` is what
// the stream's last line gets where it has no ending (LineScanner::LastLineEnding()).
std::optional<Error> CopyChosen(StreamDraw& draw, StreamDraw::Chosen& chosen,
                                const TextFormat& format, const std::string& lastEnding,
                                Sink& output);

// Writes all that `spill` holds to `output`.
std::optional<Error> CopySpill(Spill& spill, Sink& output);

// Feeds all that `spill` holds to `scanner`; stops early once `failure` holds an error.
std::optional<Error> FeedSpill(Spill& spill, LineScanner& scanner,
                               const std::optional<Error>& failure);

// An input that changed between two reads of it.
Error Changed(const InputFile& input);

}  // namespace lotrix
