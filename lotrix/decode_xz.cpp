// xz, with liblzma.
#include <lzma.h>

#include <cstdint>

#include "decoder.h"

namespace lotrix {
namespace {

class Xz final : public Decoder {
 public:
  // Streams one after another, and the padding between them, are one text, as for xz itself.
  Xz() : start_(lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED)) {}
  ~Xz() override { lzma_end(&stream_); }

  std::optional<Step> Decode(const char* in, std::size_t inSize, char* out, std::size_t outSize,
                             bool last, std::string& why) override {
    if (ended_) return Step{};  // the end of the input, which it has reached
    if (start_ != LZMA_OK) {
      why = "liblzma could not start";
      return std::nullopt;
    }
    stream_.next_in = reinterpret_cast<const std::uint8_t*>(in);
    stream_.avail_in = inSize;
    stream_.next_out = reinterpret_cast<std::uint8_t*>(out);
    stream_.avail_out = outSize;
    const lzma_ret result = lzma_code(&stream_, last ? LZMA_FINISH : LZMA_RUN);
    const Step step{inSize - stream_.avail_in, outSize - stream_.avail_out};
    if (result == LZMA_STREAM_END) {
      ended_ = true;
    } else if (result == LZMA_BUF_ERROR && last) {
      return step;  // no progress at the end: cut short, which AtEnd() tells
    } else if (result != LZMA_OK) {
      why = result == LZMA_DATA_ERROR     ? "the data is corrupt"
            : result == LZMA_FORMAT_ERROR ? "no xz stream starts here"
            : result == LZMA_MEM_ERROR    ? "out of memory"
                                          : "liblzma error " + std::to_string(int(result));
      return std::nullopt;
    }
    return step;
  }

  bool AtEnd() const override { return ended_; }
  const char* Name() const override { return "xz"; }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  lzma_ret start_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> XzDecoder() { return std::make_unique<Xz>(); }

}  // namespace lotrix
