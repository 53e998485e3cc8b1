#include "replace.h"

#include <algorithm>
#include <functional>

#include "copier.h"
#include "reservoir.h"

namespace lotrix {

Expected<SortedDraws> SortedDraws::Make(Random& random, std::uint64_t lines, std::uint64_t draws) {
  SortedDraws sorted;
  if (lines == 0) return sorted;
  for (std::uint64_t left = draws; left > 0;) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, kRun));
    std::vector<std::uint64_t> run(size);
    for (std::uint64_t& line : run) line = random.Below(lines);
    std::sort(run.begin(), run.end());
    left -= size;
    if (sorted.runs_.empty() && left == 0) {
      sorted.runs_.push_back({0, 0, std::move(run), 0});
      break;
    }
    const std::uint64_t first = sorted.file_.Size() / sizeof(std::uint64_t);
    if (auto error = sorted.file_.Append(reinterpret_cast<const char*>(run.data()),
                                         size * sizeof(std::uint64_t))) {
      return *error;
    }
    sorted.runs_.push_back({first, first + size, {}, 0});
  }
  for (std::size_t i = 0; i < sorted.runs_.size(); ++i) {
    Run& run = sorted.runs_[i];
    if (auto error = sorted.Fill(run)) return *error;
    if (!run.window.empty()) sorted.heads_.emplace_back(run.window.front(), i);
  }
  std::make_heap(sorted.heads_.begin(), sorted.heads_.end(), std::greater<>());
  return sorted;
}

std::optional<Error> SortedDraws::Fill(Run& run) {
  if (run.at < run.window.size() || run.next == run.end) return std::nullopt;
  const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, run.end - run.next));
  run.window.resize(size);
  run.at = 0;
  const std::size_t bytes = size * sizeof(std::uint64_t);
  auto got = file_.ReadAt(run.next * sizeof(std::uint64_t),
                          reinterpret_cast<char*>(run.window.data()), bytes);
  if (!got) return got.error();
  if (*got != bytes) return Spill::CameBackShort();
  run.next += size;
  return std::nullopt;
}

Expected<std::uint64_t> SortedDraws::Next() {
  if (heads_.empty()) return Reservoir::kNever;
  std::pop_heap(heads_.begin(), heads_.end(), std::greater<>());
  const auto [line, index] = heads_.back();
  heads_.pop_back();
  Run& run = runs_[index];
  ++run.at;
  if (auto error = Fill(run)) return *error;
  if (run.at < run.window.size()) {
    heads_.emplace_back(run.window[run.at], index);
    std::push_heap(heads_.begin(), heads_.end(), std::greater<>());
  }
  return line;
}

RepeatDraw::RepeatDraw(SortedDraws& draws, Sink& output,
                       std::function<std::optional<Error>()> before, std::size_t inMemory,
                       std::size_t unit, std::string input)
    : draws_(draws),
      output_(output),
      before_(std::move(before)),
      inMemory_(inMemory),
      unit_(unit),
      input_(std::move(input)) {
  Advance();
}

void RepeatDraw::Advance() {
  auto next = draws_.Next();
  if (!next) {
    error_ = next.error();
    return;
  }
  next_ = *next;
}

void RepeatDraw::Start(std::uint64_t) {
  if (auto error = Finish()) error_ = error;
  if (error_) return;
  if (written_ == 0 && before_) error_ = before_();
  const std::uint64_t line = next_;
  copies_ = 0;
  while (!error_ && next_ == line) {
    ++copies_;
    Advance();
  }
  written_ += copies_;
  if (copies_ > 1) line_.emplace(inMemory_);
}

void RepeatDraw::Bytes(const char* data, std::size_t size) {
  if (!error_) error_ = output_.Write(data, size);
  if (!error_ && line_) error_ = line_->Append(data, size);
}

std::optional<Error> RepeatDraw::Finish() {
  if (!line_) return std::nullopt;
  // A copy after a line that ends in a stray byte would be out of step with its units.
  if (line_->Size() % unit_ != 0) {
    return Error{input_, "ends in half a UTF-16 character: its last line cannot be drawn twice"};
  }
  for (std::uint64_t copy = 1; copy < copies_; ++copy) {
    if (auto error = CopySpill(*line_, output_)) return error;
  }
  line_.reset();
  return std::nullopt;
}

}  // namespace lotrix
