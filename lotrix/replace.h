#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "error.h"
#include "line_scanner.h"
#include "output.h"
#include "random.h"
#include "spill.h"

namespace lotrix {

// The numbers of `draws` lines drawn with replacement from `lines`, each draw uniform over all of
// them, given out in increasing order. They are drawn kRun at a time, and each run is sorted;
// more than one run waits in a temporary file, and the runs are merged as they are given out,
// so that memory stays bounded for any number of draws.
class SortedDraws {
 public:
  static Expected<SortedDraws> Make(Random& random, std::uint64_t lines, std::uint64_t draws);

  // The least number not yet given out, or Reservoir::kNever once all have been.
  Expected<std::uint64_t> Next();

 private:
  static constexpr std::size_t kRun = std::size_t{1} << 21;  // 16 MiB of numbers
  static constexpr std::size_t kWindow = 8192;               // read of each run at a time

  struct Run {
    std::uint64_t next = 0;  // its first number not yet read from the file
    std::uint64_t end = 0;
    std::vector<std::uint64_t> window;
    std::size_t at = 0;  // in the window
  };
  SortedDraws() : file_(0) {}
  std::optional<Error> Fill(Run& run);

  std::vector<Run> runs_;  // one run is the whole window, with no file
  // The first number not yet given out of each run that has one, and the run's index: a heap,
  // least first.
  std::vector<std::pair<std::uint64_t, std::size_t>> heads_;
  Spill file_;
};

// Writes each line as often as it was drawn (SortedDraws), in input order, through `output`;
// `before` is called ahead of the first line written. The first copy of a line goes straight
// out; further copies come from the copy of it put by as it went.
class RepeatDraw final : public LineVisitor {
 public:
  // `unit` is the text's, `input` where a last line in a stray byte comes from.
  RepeatDraw(SortedDraws& draws, Sink& output, std::function<std::optional<Error>()> before,
             std::size_t inMemory, std::size_t unit, std::string input);

  std::uint64_t Wanted() override { return error_ ? kDone : next_; }
  void Start(std::uint64_t offset) override;
  void Bytes(const char* data, std::size_t size) override;
  // Writes the copies still due of the last line taken.
  std::optional<Error> Finish();

  const std::optional<Error>& Failure() const { return error_; }
  std::uint64_t Written() const { return written_; }

 private:
  static constexpr std::uint64_t kDone = ~std::uint64_t{0};
  void Advance();

  SortedDraws& draws_;
  Sink& output_;
  std::function<std::optional<Error>()> before_;
  std::size_t inMemory_;
  std::size_t unit_;
  std::string input_;
  std::uint64_t next_ = kDone;
  std::uint64_t copies_ = 0;   // of the line being taken
  std::optional<Spill> line_;  // a copy of it, where more are due
  std::uint64_t written_ = 0;
  std::optional<Error> error_;
};

}  // namespace lotrix
