#include "copier.h"

#include <algorithm>
#include <cstring>

#include "reader.h"

namespace lotrix {
namespace {

// Reading the gap between two chosen lines costs less than another read when they are this near
// (a read from the page cache costs about what copying 16 KiB does), and a read starts by taking
// this much of a line, which concordance lines seldom pass.
constexpr std::uint64_t kNear = 16 << 10;
constexpr std::uint64_t kLineGuess = 1 << 10;

}  // namespace

Error Changed(const InputFile& input) {
  return {input.Path(), "changed while it was being read; nothing written"};
}

LineCopier::LineCopier(InputFile& input, Sink& output, const TextFormat& format,
                       const LineScanner& scan)
    : input_(input), output_(output), format_(format), scan_(scan), window_(kChunk) {}

std::optional<Error> LineCopier::Lines(const std::vector<std::uint64_t>& starts) {
  const std::size_t unit = format_.unit;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::uint64_t start = starts[k];
    if (start > format_.markSize) {
      const std::uint64_t at = start - unit;
      if (at < windowStart_ || at + unit > windowStart_ + windowSize_) {
        // One read takes the lines that follow closely, up to a guess at the last one's length.
        std::size_t last = k;
        while (last + 1 < starts.size() && starts[last + 1] - starts[last] <= kNear &&
               starts[last + 1] + kLineGuess - at <= window_.size()) {
          ++last;
        }
        const std::uint64_t want =
            std::min<std::uint64_t>(starts[last] + kLineGuess - at, window_.size());
        if (auto error = Load(at, unit, static_cast<std::size_t>(want))) return error;
      }
      const char* before = window_.data() + (at - windowStart_);
      if (std::memcmp(before, format_.Newline().data(), unit) != 0) return Changed(input_);
    }
    if (auto error = Copy(start, false)) return error;
  }
  return std::nullopt;
}

std::optional<Error> LineCopier::Copy(std::uint64_t at, bool rest) {
  const std::size_t unit = format_.unit;
  while (at < scan_.Offset()) {
    if (auto error = Load(at, 1, window_.size())) return error;
    const std::size_t from = static_cast<std::size_t>(at - windowStart_);
    const std::size_t whole = windowSize_ - (windowSize_ - from) % unit;
    const std::size_t newline = rest ? whole : FindNewline(format_, window_.data(), from, whole);
    if (newline < whole) return output_.Write(window_.data() + from, newline + unit - from);
    if (auto error = output_.Write(window_.data() + from, windowSize_ - from)) return error;
    at = windowStart_ + windowSize_;
  }
  // The last line, without an ending: it gets the file's own.
  const std::string ending = scan_.LastLineEnding();
  return output_.Write(ending.data(), ending.size());
}

std::optional<Error> LineCopier::Load(std::uint64_t at, std::size_t size, std::size_t want) {
  if (at >= windowStart_ && at + size <= windowStart_ + windowSize_) return std::nullopt;
  want = static_cast<std::size_t>(std::min<std::uint64_t>(want, scan_.Offset() - at));
  want = std::max(want, size);
  auto got = input_.ReadAt(at, window_.data(), want);
  if (!got) return got.error();
  if (*got < want) return Changed(input_);  // shorter than when it was scanned
  windowStart_ = at;
  windowSize_ = *got;
  return std::nullopt;
}

std::optional<Error> CopyChosen(StreamDraw& draw, StreamDraw::Chosen& chosen,
                                const TextFormat& format, const std::string& lastEnding,
                                Sink& output) {
  // Walks the lines put by, handing the chosen ones' bytes straight to the output.
  struct Copy final : LineVisitor {
    StreamDraw::Chosen& chosen;
    Sink& output;
    std::uint64_t next = 0;  // the first line not yet looked at
    std::uint64_t last = Reservoir::kNever;
    std::optional<Error> error;

    Copy(StreamDraw::Chosen& c, Sink& o) : chosen(c), output(o) {}
    std::uint64_t Wanted() override {
      if (error) return Reservoir::kNever;
      auto following = chosen.Following(next);
      if (!following) error = following.error();
      next = following ? *following : Reservoir::kNever;
      return next;
    }
    void Start(std::uint64_t) override { last = next++; }
    void Bytes(const char* data, std::size_t size) override {
      if (!error) error = output.Write(data, size);
    }
  } copy(chosen, output);
  LineScanner scanner(format, 0, copy, true);
  if (auto error = FeedSpill(draw.Lines(), scanner, copy.error)) return error;
  // Only the input's last line can lack an ending (or end in a stray byte): it gets what the
  // input's scan says. It is the last line put by if it was put by at all.
  if (copy.last + 1 == scanner.Lines() && !scanner.EndsWithNewline()) {
    return output.Write(lastEnding.data(), lastEnding.size());
  }
  return std::nullopt;
}

std::optional<Error> CopySpill(Spill& spill, Sink& output) {
  IoBuffer buffer(kChunk);
  for (std::uint64_t at = 0; at < spill.Size();) {
    auto got = spill.ReadAt(at, buffer.data(), buffer.size());
    if (!got) return got.error();
    if (*got == 0) return Spill::CameBackShort();
    if (auto error = output.Write(buffer.data(), *got)) return error;
    at += *got;
  }
  return std::nullopt;
}

std::optional<Error> FeedSpill(Spill& spill, LineScanner& scanner,
                               const std::optional<Error>& failure) {
  IoBuffer buffer(kChunk);
  for (std::uint64_t at = 0; at < spill.Size() && !failure;) {
    auto got = spill.ReadAt(at, buffer.data(), buffer.size());
    if (!got) return got.error();
    if (*got == 0) return Spill::CameBackShort();
    scanner.Feed(buffer.data(), *got);
    at += *got;
  }
  return failure;
}

}  // namespace lotrix
