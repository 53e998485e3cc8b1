#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "error.h"

namespace lotrix {

struct SampleRequest {
  std::string input;   // "-" is standard input
  std::string output;  // "-" is standard output; empty: a new file beside the input
  std::uint64_t size = 30;
  std::uint64_t seed = 0;
  // Called now and then with the bytes read so far and the size of a file; may be empty.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // How many bytes of a stream's chosen lines are held in memory before they go to a temporary
  // file; small values let tests reach the spilled path with small inputs.
  std::size_t spillAfter = std::size_t{16} << 20;
  // A file whose chosen lines are expected to take at most this many bytes, all told, is read
  // once, its chosen lines put by as they go by as a stream's are; a larger one is read twice,
  // the second time only at the chosen lines. 0 reads every file twice.
  std::uint64_t captureUpTo = std::uint64_t{8} << 20;
};

struct SampleReport {
  std::uint64_t lines = 0;    // lines in the input
  std::uint64_t written = 0;  // lines in the sample
  std::string output;         // where the sample went
};

// Writes a uniformly random sample of `size` distinct lines of `input` to `output`, in input
// order and byte for byte; all lines when there are fewer. Without an output named, standard
// input's sample goes to standard output and a file's to the first free of
// NumberedPath(DefaultOutputPath(input, size), 1, 2, ...).
Expected<SampleReport> Sample(const SampleRequest& request);

// Where the sample goes unless told otherwise: lines.txt gives lines_sample30.txt beside it.
std::string DefaultOutputPath(const std::string& input, std::uint64_t size);
// The names tried in turn when that one is taken: lines_sample30.txt, lines_sample30-2.txt, ...
std::string NumberedPath(const std::string& path, unsigned number);

}  // namespace lotrix
