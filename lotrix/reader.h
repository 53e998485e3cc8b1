#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "buffer.h"
#include "decoder.h"
#include "error.h"
#include "input.h"
#include "line_scanner.h"
#include "text.h"

namespace lotrix {

// Reads of this size cost little in system calls and keep the copy from the page cache inside
// the processor's cache.
constexpr std::size_t kChunk = 64 << 10;
// The scan's reads, larger: with four times as few calls, a pass over a file in the page cache
// took no more processor time than cat's (perf stat, 512 MiB: 60 ms against 80 with kChunk).
constexpr std::size_t kScanChunk = 4 * kChunk;

// Reads an input's text once from start to end. Its first piece tells whether it is compressed,
// and then how it spells its text.
class Reader {
 public:
  // Called now and then with the bytes read so far and the size of a file; may be empty.
  using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

  static Expected<Reader> Start(InputFile& input, Progress progress);

  const TextFormat& Format() const { return format_; }
  // The byte-order mark the input starts with, if any: a sample starts with it too.
  const std::string& Mark() const { return mark_; }

  // Whether the input is compressed: its text is decoded as it is read.
  bool Decoded() const { return decoding_ != nullptr; }
  // Bytes of the input read so far: of its compressed data where it is compressed.
  std::uint64_t Used() const { return decoding_ ? decoding_->Used() : done_; }

  // How many bytes a line of the first piece takes on average; 0 if it holds no newline.
  double LineLengthGuess() const;

  // Where the text not yet fed starts in the input.
  std::uint64_t Offset() const { return done_ - got_ + begin_; }

  // The first lines of a text, read past before the rest is fed.
  struct Head {
    std::uint64_t lines = 0;  // fewer than asked where the text holds no more
    std::string ending;       // what its last line needs where the text ends without one
  };
  // Hands the first `count` lines to `keep`, each with its ending.
  Expected<Head> Skip(std::uint64_t count,
                      const std::function<void(const char*, std::size_t)>& keep);

  // Feeds all the text not yet fed, behind the byte-order mark, to `scanner`; stops early once
  // `failure` (which the scanner's visitor may set) holds an error.
  std::optional<Error> FeedAll(LineScanner& scanner, const std::optional<Error>& failure);

 private:
  Reader(InputFile& input, Progress progress)
      : input_(&input), progress_(std::move(progress)), buffer_(kScanChunk) {}
  std::optional<Error> Next();

  InputFile* input_;
  std::unique_ptr<Decoding> decoding_;
  Progress progress_;
  IoBuffer buffer_;
  std::size_t got_ = 0;
  std::size_t begin_ = 0;  // the first byte of the buffer not yet fed
  std::uint64_t done_ = 0;
  TextFormat format_;
  std::string mark_;
};

}  // namespace lotrix
