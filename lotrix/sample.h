#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "error.h"

namespace lotrix {

struct SampleRequest {
  std::string input;
  std::string output;
  std::uint64_t size = 30;
  std::uint64_t seed = 0;
  // Called now and then with the bytes read so far; may be empty.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

struct SampleReport {
  std::uint64_t lines = 0;    // lines in the input
  std::uint64_t written = 0;  // lines in the sample
};

// Writes a uniformly random sample of `size` distinct lines of `input` to `output`, in input
// order and byte for byte; all lines when there are fewer.
Expected<SampleReport> Sample(const SampleRequest& request);

// Where the sample goes unless told otherwise: lines.txt gives lines_sample30.txt beside it.
std::string DefaultOutputPath(const std::string& input, std::uint64_t size);

}  // namespace lotrix
