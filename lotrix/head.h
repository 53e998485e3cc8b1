#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "error.h"
#include "output.h"
#include "reader.h"
#include "spill.h"

namespace lotrix {

// What heads a sample: the first input's byte-order mark and header lines. The header is kept as
// it goes by, in memory or beyond that in a temporary file, and written once, above the lines.
class Head {
 public:
  explicit Head(std::size_t inMemory) : header_(inMemory) {}

  // Reads the first `lines` lines of the text off `reader`, which is at its start; keeps them,
  // and the mark, where `keep` (for the first input). An unended last line of them gets its
  // ending, so that lines after it stay lines.
  std::optional<Error> Skip(Reader& reader, std::uint64_t lines, bool keep);
  // Lines of header kept.
  std::uint64_t Lines() const { return lines_; }
  // Writes the mark and the header, the first time only.
  std::optional<Error> Write(OutputFile& output);

 private:
  std::string mark_;
  Spill header_;
  std::uint64_t lines_ = 0;
  bool written_ = false;
};

}  // namespace lotrix
