#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "buffer.h"
#include "error.h"
#include "input.h"
#include "line_scanner.h"
#include "output.h"
#include "random.h"
#include "reservoir.h"
#include "spill.h"
#include "text.h"

namespace lotrix {

// Chooses lines of a file as its scan goes by, noting where each chosen line starts; they are
// read again afterwards. The lines drawn from start at `body`.
class FileDraw final : public LineVisitor {
 public:
  FileDraw(InputFile& input, const TextFormat& format, Reservoir& reservoir, std::uint64_t body)
      : input_(input), format_(format), reservoir_(reservoir), body_(body) {}

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
  std::uint64_t body_;
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

// Keeps each line by itself with probability `chance`, writing it out as it goes by: one pass,
// nothing held. The gap to the next line kept is drawn at once (geometric), so draws grow with
// the lines kept, not with those read.
class ChanceDraw final : public LineVisitor {
 public:
  // `before` is called ahead of the first line written.
  ChanceDraw(Random& random, double chance, Sink& output,
             std::function<std::optional<Error>()> before);

  std::uint64_t Wanted() override { return error_ ? Reservoir::kNever : next_; }
  void Start(std::uint64_t offset) override;
  void Bytes(const char* data, std::size_t size) override;

  const std::optional<Error>& Failure() const { return error_; }
  std::uint64_t Kept() const { return kept_; }

 private:
  // The next line kept after line `line` (or from the first, for kNever).
  std::uint64_t After(std::uint64_t line);

  Random& random_;
  double chance_;
  double logMiss_;  // log(1 - chance)
  Sink& output_;
  std::function<std::optional<Error>()> before_;
  std::uint64_t next_;
  std::uint64_t kept_ = 0;
  std::optional<Error> error_;
};

// Puts every line by, in order: a stream that must be counted before it is drawn from.
class KeepAll final : public LineVisitor {
 public:
  explicit KeepAll(std::size_t inMemory) : lines_(inMemory) {}

  std::uint64_t Wanted() override { return error_ ? Reservoir::kNever : count_; }
  void Start(std::uint64_t) override { ++count_; }
  void Bytes(const char* data, std::size_t size) override {
    if (!error_) error_ = lines_.Append(data, size);
  }

  const std::optional<Error>& Failure() const { return error_; }
  Spill& Lines() { return lines_; }

 private:
  Spill lines_;
  std::uint64_t count_ = 0;
  std::optional<Error> error_;
};

}  // namespace lotrix
