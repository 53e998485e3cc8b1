// gzip, with zlib.
#include <zlib.h>

#include <algorithm>

#include "decoder.h"

namespace lotrix {
namespace {

class Gzip final : public Decoder {
 public:
  Gzip() { inflateInit2(&stream_, 16 + MAX_WBITS); }  // 16: a gzip header, not zlib's
  ~Gzip() override { inflateEnd(&stream_); }

  std::optional<Step> Decode(const char* in, std::size_t inSize, char* out, std::size_t outSize,
                             bool, std::string& why) override {
    Step step;
    if (ended_) {
      // Between two streams, zeros may pad the data (as tar leaves it), which gzip passes over.
      while (step.used < inSize && in[step.used] == '\0') ++step.used;
      if (step.used == inSize) return step;
      inflateReset(&stream_);
      ended_ = false;
    }
    // zlib counts in 32 bits.
    const auto inTake = static_cast<uInt>(std::min<std::size_t>(inSize - step.used, 1u << 30));
    const auto outTake = static_cast<uInt>(std::min<std::size_t>(outSize, 1u << 30));
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in + step.used));
    stream_.avail_in = inTake;
    stream_.next_out = reinterpret_cast<Bytef*>(out);
    stream_.avail_out = outTake;
    const int result = inflate(&stream_, Z_NO_FLUSH);
    step.used += inTake - stream_.avail_in;
    step.made = outTake - stream_.avail_out;
    if (result == Z_STREAM_END) {
      ended_ = true;
    } else if (result != Z_OK && !(result == Z_BUF_ERROR && step.used == 0 && step.made == 0)) {
      why = stream_.msg ? stream_.msg : "zlib error " + std::to_string(result);
      return std::nullopt;
    }
    return step;
  }

  bool AtEnd() const override { return ended_; }
  const char* Name() const override { return "gzip"; }

 private:
  z_stream stream_{};
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> GzipDecoder() { return std::make_unique<Gzip>(); }

}  // namespace lotrix
