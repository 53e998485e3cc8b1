#include "output.h"

namespace lotrix {
namespace {

// Output gathered before each write: few calls, whatever the lines' length.
constexpr std::size_t kWriteBuffer = 1 << 20;

}  // namespace

std::optional<Error> OutputFile::Write(const char* data, std::size_t size) {
  if (buffer_.size() + size > kWriteBuffer) {
    if (auto error = Flush()) return error;
  }
  buffer_.append(data, size);
  if (buffer_.size() >= kWriteBuffer) return Flush();
  return std::nullopt;
}

}  // namespace lotrix
