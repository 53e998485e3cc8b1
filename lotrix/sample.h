#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "error.h"

namespace lotrix {

// How many lines a sample takes.
struct SampleSize {
  enum class Kind {
    kCount,        // `count` lines
    kShare,        // `share` parts of kWhole of the lines
    kProbability,  // each line by itself, with `probability`
  };
  static constexpr std::uint64_t kWhole = 100'000'000;  // 100%, to six decimals

  SampleSize() = default;
  SampleSize(std::uint64_t lines) : count(lines) {}  // NOLINT: a count is the common case

  // How many lines a sample of `lines` takes: the count, or the share of them rounded to the
  // nearest line, a half up.
  std::uint64_t Of(std::uint64_t lines) const;
  // As the sample's name carries it: "30", "10%", "p0.05".
  std::string Name() const;

  Kind kind = Kind::kCount;
  std::uint64_t count = 30;
  std::uint64_t share = 0;
  double probability = 0.0;
  std::string text;  // a share or probability as typed
};

struct SampleRequest {
  // "-" is standard input. Several are drawn from together, as one sequence of lines.
  std::vector<std::string> inputs;
  // "-" is standard output; empty: a new file beside a single input, else standard output.
  std::string output;
  SampleSize size;
  std::uint64_t seed = 0;
  // Lines at the top of each input that are never drawn; the first input's head the sample.
  std::uint64_t header = 0;
  // Each line the sample takes comes behind its input's name and a tab.
  bool withName = false;
  bool shuffle = false;
  bool replace = false;
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
  std::uint64_t lines = 0;    // lines in the inputs, their headers left out
  std::uint64_t written = 0;  // lines in the sample, its header left out
  std::uint64_t header = 0;   // lines of header in the sample
  std::string output;         // where the sample went
  std::string firstChoice;    // where it would have gone beside the input, had that been free
};

// Writes a uniformly random sample of `size` distinct lines of the inputs to `output`, in input
// order and byte for byte; all lines when there are fewer. Without an output named, a stream's
// sample and that of several inputs go to standard output, and a file's to the first free of
// NumberedPath(DefaultOutputPath(input, size), 1, 2, ...).
Expected<SampleReport> Sample(const SampleRequest& request);

// Where the sample goes unless told otherwise: lines.txt gives lines_sample30.txt beside it, and
// a `compressed` hits.txt.gz gives hits_sample30.txt.
std::string DefaultOutputPath(const std::string& input, const SampleSize& size,
                              bool compressed = false);
// The names tried in turn when that one is taken: lines_sample30.txt, lines_sample30-2.txt, ...
std::string NumberedPath(const std::string& path, unsigned number);

}  // namespace lotrix
