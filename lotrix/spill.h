#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "buffer.h"
#include "error.h"
#include "system.h"

namespace lotrix {

// Bytes put by for later: in memory while they fit in `inMemory`, in a temporary file beyond
// that, so that what a stream's sample holds is bounded by neither line length nor sample size.
class Spill {
 public:
  explicit Spill(std::size_t inMemory) : limit_(inMemory) {}

  std::uint64_t Size() const { return size_; }
  std::optional<Error> Append(const char* data, std::size_t size);
  // Fills `buffer` from `offset`; less only at the end.
  Expected<std::size_t> ReadAt(std::uint64_t offset, char* buffer, std::size_t size);
  // Writes over `size` bytes from `offset`, all of which it holds.
  std::optional<Error> WriteAt(std::uint64_t offset, const char* data, std::size_t size);

  // What a read of fewer bytes than were put by means.
  static Error CameBackShort() {
    return {"temporary file", "came back shorter than it was written"};
  }

 private:
  std::optional<Error> Flush();

  std::size_t limit_;
  // All the bytes while they fit; once they have gone to `file_`, those waiting to follow.
  IoBuffer memory_;
  std::optional<TemporaryFile> file_;
  std::uint64_t size_ = 0;
};

}  // namespace lotrix
