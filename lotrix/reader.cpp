#include "reader.h"

#include <string_view>

namespace lotrix {

Expected<Reader> Reader::Start(InputFile& input, Progress progress) {
  Reader reader(input, std::move(progress));
  if (auto error = reader.Next()) return *error;
  const std::string_view head(reader.buffer_.data(), reader.got_);
  reader.format_ = DetectFormat(head);
  // Kept apart: the buffer holds other bytes by the time the sample is written.
  reader.mark_ = head.substr(0, reader.format_.markSize);
  return reader;
}

double Reader::LineLengthGuess() const {
  const std::size_t text = got_ - format_.markSize;
  const std::uint64_t lines =
      CountNewlines(format_, buffer_.data() + format_.markSize, text - text % format_.unit);
  return lines == 0 ? 0.0 : static_cast<double>(text) / static_cast<double>(lines);
}

std::optional<Error> Reader::FeedAll(LineScanner& scanner, const std::optional<Error>& failure) {
  for (std::size_t begin = format_.markSize;; begin = 0) {
    scanner.Feed(buffer_.data() + begin, got_ - begin);
    if (failure) return failure;
    if (got_ < buffer_.size()) return std::nullopt;
    if (auto error = Next()) return error;
  }
}

std::optional<Error> Reader::Next() {
  auto got = input_->Read(buffer_.data(), buffer_.size());
  if (!got) return got.error();
  got_ = *got;
  done_ += got_;
  if (progress_) progress_(done_, input_->Size());
  return std::nullopt;
}

}  // namespace lotrix
