#include "decoder.h"

#include <algorithm>
#include <cstring>

namespace lotrix {
namespace {

// Compressed data is read this much at a time.
constexpr std::size_t kInChunk = 128 << 10;

}  // namespace

// Each format's decoder, in a file of its own.
std::unique_ptr<Decoder> GzipDecoder();
std::unique_ptr<Decoder> Bzip2Decoder();
std::unique_ptr<Decoder> XzDecoder();
std::unique_ptr<Decoder> ZstdDecoder();

std::unique_ptr<Decoder> Decoder::For(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return GzipDecoder();
    case Compression::kBzip2:
      return Bzip2Decoder();
    case Compression::kXz:
      return XzDecoder();
    case Compression::kZstd:
      return ZstdDecoder();
    default:
      return nullptr;
  }
}

Compression CompressionOf(std::string_view head) {
  if (head.starts_with("\x1f\x8b")) return Compression::kGzip;
  if (head.starts_with(std::string_view("\xfd"
                                        "7zXZ\0",
                                        6)))
    return Compression::kXz;
  // A zstd frame, or a skippable frame (magic 0x184D2A50 to 0x184D2A5F), which may come first.
  if (head.starts_with("\x28\xb5\x2f\xfd") ||
      (head.size() >= 4 && (static_cast<unsigned char>(head[0]) & 0xF0) == 0x50 &&
       head.substr(1, 3) == "\x2a\x4d\x18")) {
    return Compression::kZstd;
  }
  // "BZh" and a block size could begin a line of text: the block's own magic (the digits of pi),
  // or that of the end of an empty stream (those of the square root of pi), must follow.
  if (head.size() >= 10 && head.starts_with("BZh") && head[3] >= '1' && head[3] <= '9' &&
      (head.substr(4, 6) == "\x31\x41\x59\x26\x53\x59" ||
       head.substr(4, 6) == "\x17\x72\x45\x38\x50\x90")) {
    return Compression::kBzip2;
  }
  return Compression::kNone;
}

Decoding::Decoding(InputFile& input, std::unique_ptr<Decoder> decoder, std::string_view first)
    : input_(&input), decoder_(std::move(decoder)), in_(std::max(kInChunk, first.size())) {
  std::memcpy(in_.data(), first.data(), first.size());
  end_ = first.size();
}

Expected<std::size_t> Decoding::Read(char* buffer, std::size_t size) {
  std::size_t made = 0;
  while (made < size) {
    if (begin_ == end_ && !ended_) {
      auto got = input_->Read(in_.data(), kInChunk);
      if (!got) return got.error();
      begin_ = 0;
      end_ = *got;
      ended_ = *got < kInChunk;
    }
    const bool last = ended_;
    std::string why;
    const auto step =
        decoder_->Decode(in_.data() + begin_, end_ - begin_, buffer + made, size - made, last, why);
    if (!step) return Fault(why);
    begin_ += step->used;
    used_ += step->used;
    made += step->made;
    if (step->used == 0 && step->made == 0) {
      if (begin_ == end_ && ended_) {
        if (!decoder_->AtEnd()) {
          return Error{input_->Path(), "ends at byte " + std::to_string(used_) + ", inside its " +
                                           decoder_->Name() + " data: it is cut short"};
        }
        break;
      }
      if (begin_ != end_) return Fault("it cannot be decoded further");
    }
  }
  return made;
}

Error Decoding::Fault(const std::string& why) const {
  return {input_->Path(), std::string("is not valid ") + decoder_->Name() + " data (" + why +
                              "), as found by byte " + std::to_string(used_)};
}

}  // namespace lotrix
