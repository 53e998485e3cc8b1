#include "shuffle.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "buffer.h"
#include "line_scanner.h"
#include "reader.h"

namespace lotrix {
namespace {

// Lines are shuffled in memory up to this many bytes (with 8 bytes more for each line, which
// may be as short as its newline), and dealt into at most this many piles, each a temporary
// file with 64 KiB of memory: a large sample is dealt again, pile by pile, rather than into
// more piles than memory and the limit of open files allow.
constexpr std::size_t kShuffledAtOnce = std::size_t{4} << 20;
constexpr std::uint64_t kPiles = 16;

// Hands `size` bytes of `spill`, from `from`, to `each(data, size)` a piece at a time.
template <class Each>
std::optional<Error> ForEachPiece(Spill& spill, std::uint64_t from, std::uint64_t size, Each each) {
  IoBuffer buffer(kChunk);
  for (std::uint64_t at = from; at < from + size;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, from + size - at));
    auto got = spill.ReadAt(at, buffer.data(), want);
    if (!got) return got.error();
    if (*got != want) return Spill::CameBackShort();
    if (auto error = each(buffer.data(), *got)) return error;
    at += *got;
  }
  return std::nullopt;
}

// Deals each line it is shown into a pile drawn at random, counting the lines of each.
class Dealer final : public LineVisitor {
 public:
  Dealer(Random& random, std::vector<std::optional<Spill>>& piles)
      : random_(random), piles_(piles), counts_(piles.size()) {}

  std::uint64_t Wanted() override { return next_; }
  void Start(std::uint64_t) override {
    ++next_;
    pile_ = static_cast<std::size_t>(random_.Below(piles_.size()));
    ++counts_[pile_];
  }
  void Bytes(const char* data, std::size_t size) override {
    if (!error_) error_ = piles_[pile_]->Append(data, size);
  }

  const std::optional<Error>& Failure() const { return error_; }
  std::uint64_t Count(std::size_t pile) const { return counts_[pile]; }

 private:
  Random& random_;
  std::vector<std::optional<Spill>>& piles_;
  std::vector<std::uint64_t> counts_;
  std::uint64_t next_ = 0;
  std::size_t pile_ = 0;
  std::optional<Error> error_;
};

}  // namespace

std::optional<Error> Shuffle::Finish(const TextFormat& format, Sink& output,
                                     const std::string& input) {
  format_ = format;
  // Every line is whole units long but for a stray byte at the very end: the line it ends is
  // found from the back, at the last newline on a unit's boundary, and kept for last.
  std::uint64_t whole = lines_.Size();
  if (whole % format_.unit != 0) {
    const std::string newline = format_.Newline();
    whole -= whole % format_.unit;
    IoBuffer buffer(kChunk);
    bool found = false;
    while (whole > 0 && !found) {
      const std::uint64_t from = whole - std::min<std::uint64_t>(whole, kChunk);
      auto got = lines_.ReadAt(from, buffer.data(), static_cast<std::size_t>(whole - from));
      if (!got) return got.error();
      for (std::size_t at = *got; at >= format_.unit && !found; at -= format_.unit) {
        found = std::equal(newline.begin(), newline.end(), buffer.data() + at - format_.unit);
        if (found) whole = from + at;
      }
      if (!found) whole = from;
    }
  }
  if (whole > 0 && whole < lines_.Size()) {
    return Error{input,
                 "ends in half a UTF-16 character: its last line can only stay last, "
                 "and cannot be shuffled"};
  }
  if (auto error = Deal(lines_, whole, kUnknown, output)) return error;
  return ForEachPiece(lines_, whole, lines_.Size() - whole,
                      [&](const char* data, std::size_t size) { return output.Write(data, size); });
}

std::optional<Error> Shuffle::Deal(Spill& lines, std::uint64_t size, std::uint64_t count,
                                   Sink& output) {
  const auto copy = [&](const char* data, std::size_t piece) { return output.Write(data, piece); };
  if (count <= 1) return ForEachPiece(lines, 0, size, copy);
  if (size <= kShuffledAtOnce) return InMemory(lines, static_cast<std::size_t>(size), output);
  std::vector<std::optional<Spill>> piles(
      static_cast<std::size_t>(std::min<std::uint64_t>(kPiles, size / kShuffledAtOnce + 1)));
  for (auto& pile : piles) pile.emplace(kChunk);
  Dealer dealer(random_, piles);
  LineScanner scanner(format_, 0, dealer, true);
  if (auto error = ForEachPiece(lines, 0, size, [&](const char* data, std::size_t piece) {
        scanner.Feed(data, piece);
        return dealer.Failure();
      })) {
    return error;
  }
  for (std::size_t i = 0; i < piles.size(); ++i) {
    if (auto error = Deal(*piles[i], piles[i]->Size(), dealer.Count(i), output)) return error;
    piles[i].reset();  // and its temporary file with it
  }
  return std::nullopt;
}

std::optional<Error> Shuffle::InMemory(Spill& lines, std::size_t size, Sink& output) {
  std::string text(size, '\0');
  auto got = lines.ReadAt(0, text.data(), size);
  if (!got) return got.error();
  if (*got != size) return Spill::CameBackShort();
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // each line's start and end
  for (std::size_t start = 0; start < size;) {
    const std::size_t newline = FindNewline(format_, text.data(), start, size);
    const std::size_t end = std::min(size, newline + format_.unit);
    spans.emplace_back(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end));
    start = end;
  }
  // Fisher and Yates, from the last line down.
  for (std::size_t i = spans.size(); i > 1; --i) {
    std::swap(spans[i - 1], spans[static_cast<std::size_t>(random_.Below(i))]);
  }
  for (const auto& [begin, end] : spans) {
    if (auto error = output.Write(text.data() + begin, end - begin)) return error;
  }
  return std::nullopt;
}

}  // namespace lotrix
