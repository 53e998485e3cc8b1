// zstd, with libzstd.
#include <zstd.h>

#include "decoder.h"

namespace lotrix {
namespace {

class Zstd final : public Decoder {
 public:
  Zstd() : context_(ZSTD_createDCtx()) {}
  ~Zstd() override { ZSTD_freeDCtx(context_); }

  std::optional<Step> Decode(const char* in, std::size_t inSize, char* out, std::size_t outSize,
                             bool, std::string& why) override {
    ZSTD_inBuffer input{in, inSize, 0};
    ZSTD_outBuffer output{out, outSize, 0};
    const std::size_t result = ZSTD_decompressStream(context_, &output, &input);
    if (ZSTD_isError(result)) {
      why = ZSTD_getErrorName(result);
      return std::nullopt;
    }
    // 0: a frame is whole and all of it given out; frames may follow, each a text of its own.
    if (input.pos > 0 || output.pos > 0) ended_ = result == 0;
    return Step{input.pos, output.pos};
  }

  bool AtEnd() const override { return ended_; }
  const char* Name() const override { return "zstd"; }

 private:
  ZSTD_DCtx* context_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> ZstdDecoder() { return std::make_unique<Zstd>(); }

}  // namespace lotrix
