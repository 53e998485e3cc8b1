#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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
      : reservoir_(reservoir), lines_(inMemory), slots_(inMemory / 4) {}

  std::uint64_t Wanted() override;
  void Start(std::uint64_t offset) override;
  void Bytes(const char* data, std::size_t size) override;

  const std::optional<Error>& Failure() const { return error_; }
  // The lines put by, in input order.
  Spill& Lines() { return lines_; }

  // Which lines put by are the sample, by their number among them.
  class Chosen {
   public:
    bool operator()(std::uint64_t line) const {
      return line < filled_ ? (replaced_.empty() || !replaced_[line]) : stayed_[line - filled_];
    }
    std::uint64_t Count() const { return count_; }  // lines put by

   private:
    friend class StreamDraw;
    std::uint64_t filled_ = 0;    // the first lines, which filled the reservoir in order
    std::vector<bool> replaced_;  // of those, the ones a later line replaced
    std::vector<bool> stayed_;    // of the later lines, the ones no line replaced in turn
    std::uint64_t count_ = 0;
  };
  // Once the stream has ended.
  Expected<Chosen> Choose();

 private:
  void Keep(std::optional<Error> error) {
    if (error && !error_) error_ = std::move(error);
  }

  Reservoir& reservoir_;
  Spill lines_;
  Spill slots_;  // the slot each line after the first ones took, as 8 bytes
  std::uint64_t filled_ = 0;
  std::uint64_t replacements_ = 0;
  std::optional<Error> error_;
};

}  // namespace lotrix
