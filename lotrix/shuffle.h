#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "error.h"
#include "output.h"
#include "random.h"
#include "spill.h"
#include "text.h"

namespace lotrix {

// Puts a sample's lines in random order, every order equally likely: it takes them as they come
// and, once all have come, writes them out shuffled. A few MiB of lines are shuffled in memory;
// more are first dealt at random into piles, each in a temporary file, and each pile is
// shuffled in turn (Rao and Sandelius: piles dealt at random and each shuffled make a uniform
// shuffle), so that memory stays bounded however large the sample and its lines.
class Shuffle final : public Sink {
 public:
  Shuffle(Random& random, std::size_t inMemory) : random_(random), lines_(inMemory) {}

  std::optional<Error> Write(const char* data, std::size_t size) override {
    return lines_.Append(data, size);
  }
  // Writes the lines taken to `output`, shuffled. Each ends with a newline but for a last line
  // that ends in a byte too few for a whole UTF-16 unit, which no line could follow in step: a
  // sample that holds it and other lines is refused, naming `input`, where it comes from.
  std::optional<Error> Finish(const TextFormat& format, Sink& output, const std::string& input);

 private:
  // Shuffles the first `size` bytes of `lines`, `count` lines (kUnknown where not counted).
  std::optional<Error> Deal(Spill& lines, std::uint64_t size, std::uint64_t count, Sink& output);
  std::optional<Error> InMemory(Spill& lines, std::size_t size, Sink& output);

  static constexpr std::uint64_t kUnknown = ~std::uint64_t{0};

  TextFormat format_;
  Random& random_;
  Spill lines_;
};

}  // namespace lotrix
