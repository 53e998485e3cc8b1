// bzip2, with libbz2.
#include <bzlib.h>

#include <algorithm>

#include "decoder.h"

namespace lotrix {
namespace {

class Bzip2 final : public Decoder {
 public:
  Bzip2() { BZ2_bzDecompressInit(&stream_, 0, 0); }
  ~Bzip2() override { BZ2_bzDecompressEnd(&stream_); }

  std::optional<Step> Decode(const char* in, std::size_t inSize, char* out, std::size_t outSize,
                             bool, std::string& why) override {
    Step step;
    if (ended_) {
      if (inSize == 0) return step;
      BZ2_bzDecompressEnd(&stream_);
      stream_ = {};
      BZ2_bzDecompressInit(&stream_, 0, 0);
      ended_ = false;
    }
    const auto inTake = static_cast<unsigned>(std::min<std::size_t>(inSize, 1u << 30));
    const auto outTake = static_cast<unsigned>(std::min<std::size_t>(outSize, 1u << 30));
    stream_.next_in = const_cast<char*>(in);
    stream_.avail_in = inTake;
    stream_.next_out = out;
    stream_.avail_out = outTake;
    const int result = BZ2_bzDecompress(&stream_);
    step.used = inTake - stream_.avail_in;
    step.made = outTake - stream_.avail_out;
    if (result == BZ_STREAM_END) {
      ended_ = true;
    } else if (result != BZ_OK) {
      why = result == BZ_DATA_ERROR_MAGIC ? "no bzip2 stream starts here" : "its check fails";
      if (result == BZ_MEM_ERROR) why = "out of memory";
      return std::nullopt;
    }
    return step;
  }

  bool AtEnd() const override { return ended_; }
  const char* Name() const override { return "bzip2"; }

 private:
  bz_stream stream_{};
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> Bzip2Decoder() { return std::make_unique<Bzip2>(); }

}  // namespace lotrix
