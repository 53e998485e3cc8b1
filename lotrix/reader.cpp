#include "reader.h"

#include <string_view>

#include "reservoir.h"

namespace lotrix {

Expected<Reader> Reader::Start(InputFile& input, Progress progress) {
  Reader reader(input, std::move(progress));
  if (auto error = reader.Next()) return *error;
  const std::string_view data(reader.buffer_.data(), reader.got_);
  const Compression compression = CompressionOf(data.substr(0, kMagicSize));
  if (compression != Compression::kNone) {
    // What was read is compressed data; the text starts with what it decodes to.
    reader.decoding_ = std::make_unique<Decoding>(input, Decoder::For(compression), data);
    reader.done_ = 0;
    if (auto error = reader.Next()) return *error;
  }
  const std::string_view head(reader.buffer_.data(), reader.got_);
  reader.format_ = DetectFormat(head);
  // Kept apart: the buffer holds other bytes by the time the sample is written.
  reader.mark_ = head.substr(0, reader.format_.markSize);
  reader.begin_ = reader.format_.markSize;
  return reader;
}

double Reader::LineLengthGuess() const {
  const std::size_t text = got_ - format_.markSize;
  const std::uint64_t lines =
      CountNewlines(format_, buffer_.data() + format_.markSize, text - text % format_.unit);
  return lines == 0 ? 0.0 : static_cast<double>(text) / static_cast<double>(lines);
}

Expected<Reader::Head> Reader::Skip(std::uint64_t count,
                                    const std::function<void(const char*, std::size_t)>& keep) {
  // Takes lines 0 to count - 1 whole; line `count` only tells where the rest starts.
  struct Keep final : LineVisitor {
    const std::function<void(const char*, std::size_t)>& keep;
    std::uint64_t count;
    std::uint64_t next = 0;
    std::optional<std::uint64_t> rest;
    Keep(const std::function<void(const char*, std::size_t)>& k, std::uint64_t c)
        : keep(k), count(c) {}
    std::uint64_t Wanted() override { return next <= count ? next : Reservoir::kNever; }
    void Start(std::uint64_t offset) override {
      if (next++ == count) rest = offset;
    }
    void Bytes(const char* data, std::size_t size) override {
      if (!rest) keep(data, size);
    }
  } head(keep, count);
  if (count == 0) return Head{};
  LineScanner scanner(format_, Offset(), head, true);
  for (;;) {
    scanner.Feed(buffer_.data() + begin_, got_ - begin_);
    if (head.rest) {
      begin_ = static_cast<std::size_t>(*head.rest - (done_ - got_));
      return Head{count, {}};
    }
    begin_ = got_;
    if (got_ < buffer_.size()) return Head{scanner.Lines(), scanner.LastLineEnding()};
    if (auto error = Next()) return *error;
  }
}

std::optional<Error> Reader::FeedAll(LineScanner& scanner, const std::optional<Error>& failure) {
  for (;;) {
    scanner.Feed(buffer_.data() + begin_, got_ - begin_);
    begin_ = got_;
    if (failure) return failure;
    if (got_ < buffer_.size()) return std::nullopt;
    if (auto error = Next()) return error;
  }
}

std::optional<Error> Reader::Next() {
  auto got = decoding_ ? decoding_->Read(buffer_.data(), buffer_.size())
                       : input_->Read(buffer_.data(), buffer_.size());
  if (!got) return got.error();
  got_ = *got;
  begin_ = 0;
  done_ += got_;
  if (progress_) progress_(Used(), input_->Size());
  return std::nullopt;
}

}  // namespace lotrix
