#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "buffer.h"
#include "error.h"
#include "input.h"
#include "line_scanner.h"
#include "reservoir.h"
#include "spill.h"
#include "text.h"

namespace lotrix {

// Chooses lines of a file as its scan goes by, noting where each chosen line starts; they are
// read again afterwards.
class FileDraw final : public LineVisitor {
 public:
  FileDraw(InputFile& input, const TextFormat& format, Reservoir& reservoir)
      : input_(input), format_(format), reservoir_(reservoir) {}

  std::uint64_t Wanted() override { return error_ ? Reservoir::kNever : reservoir_.Wanted(); }
  void Start(std::uint64_t offset) override;
  void Bytes(const char*, std::size_t) override {}

  // Set once the draw cannot go on.
  const std::optional<Error>& Failure() const { return error_; }
  // Where the chosen lines start, in increasing order, once more lines than the reservoir holds
  // have gone by.
  Expected<std::vector<std::uint64_t>> Starts();

 private:
  bool Fill();

  InputFile& input_;
  const TextFormat& format_;
  Reservoir& reservoir_;
  std::vector<std::uint64_t> starts_;
  std::optional<Error> error_;
};

// Chooses lines of a stream, which can be read only once: every line that enters the reservoir
// is put by in a spill, in input order, and which slot it took in a second one. Only at the end
// is it known which of them stayed: for each slot, the last line that took it.
class StreamDraw final : public LineVisitor {
 public:
  StreamDraw(Reservoir& reservoir, std::size_t inMemory)
      : reservoir_(reservoir), inMemory_(inMemory), lines_(inMemory), slots_(inMemory / 4) {}

  std::uint64_t Wanted() override;
  void Start(std::uint64_t offset) override;
  void Bytes(const char* data, std::size_t size) override;

  const std::optional<Error>& Failure() const { return error_; }
  // The lines put by, in input order.
  Spill& Lines() { return lines_; }

  // Which lines put by are the sample, by their number among them: a bit for each, in a spill
  // of its own, as there may be more of them than memory holds bits.
  class Chosen {
   public:
    // The first line put by at or after `line` that is in the sample, or Reservoir::kNever.
    Expected<std::uint64_t> Following(std::uint64_t line);

   private:
    friend class StreamDraw;
    explicit Chosen(std::size_t inMemory) : bits_(inMemory) {}

    Spill bits_;
    std::uint64_t count_ = 0;  // lines put by
    IoBuffer window_;
    std::uint64_t windowStart_ = 0;  // the byte of bits_ it starts at
  };
  // Once the stream has ended.
  Expected<Chosen> Choose();

 private:
  void Keep(std::optional<Error> error) {
    if (error && !error_) error_ = std::move(error);
  }

  Reservoir& reservoir_;
  std::size_t inMemory_;
  Spill lines_;
  Spill slots_;  // the slot each line after the first ones took, as 8 bytes
  std::uint64_t filled_ = 0;
  std::uint64_t replacements_ = 0;
  std::optional<Error> error_;
};

}  // namespace lotrix
