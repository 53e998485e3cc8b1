#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "buffer.h"
#include "error.h"
#include "input.h"

namespace lotrix {

// How an input is compressed, told by its first bytes, never by its name.
enum class Compression { kNone, kGzip, kBzip2, kXz, kZstd };

// The first bytes of an input (kMagicSize will do) tell.
constexpr std::size_t kMagicSize = 10;
Compression CompressionOf(std::string_view head);

// Turns one format's data back into what was compressed, piece by piece. Data of several
// streams one after another (as `cat a.gz b.gz` makes) is one text, as the format's own tool
// reads it.
class Decoder {
 public:
  static std::unique_ptr<Decoder> For(Compression compression);
  virtual ~Decoder() = default;

  // Bytes of `in` used and of `out` made by one call.
  struct Step {
    std::size_t used = 0;
    std::size_t made = 0;
  };
  // Decodes what it can of `in` into `out`; `last` where nothing follows `in`. None where the
  // data is not valid, with `why` set to what is wrong with it.
  virtual std::optional<Step> Decode(const char* in, std::size_t inSize, char* out,
                                     std::size_t outSize, bool last, std::string& why) = 0;
  // Whether the data so far ends where a stream ends, not inside one.
  virtual bool AtEnd() const = 0;
  // The format's name, as its tool is called.
  virtual const char* Name() const = 0;
};

// An input's text, decoded from its compressed data as it is read: once, from start to end.
class Decoding {
 public:
  // `first` holds the input's first bytes, already read.
  Decoding(InputFile& input, std::unique_ptr<Decoder> decoder, std::string_view first);

  // Fills `buffer` with text; less only at the end. A fault in the data is an error that names
  // the byte of the input where it was found.
  Expected<std::size_t> Read(char* buffer, std::size_t size);
  // Bytes of the input decoded so far.
  std::uint64_t Used() const { return used_; }

 private:
  Error Fault(const std::string& why) const;

  InputFile* input_;
  std::unique_ptr<Decoder> decoder_;
  IoBuffer in_;
  std::size_t begin_ = 0;  // of what `in_` holds that is not yet used
  std::size_t end_ = 0;
  bool ended_ = false;  // the input has nothing more to read
  std::uint64_t used_ = 0;
};

}  // namespace lotrix
