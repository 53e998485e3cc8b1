#include "console.h"

#include <algorithm>

namespace lotrix {
namespace {

// Below this the pass over the input is too short to need a progress line.
constexpr std::uint64_t kProgressFrom = 64ull << 20;

}  // namespace

void ErrorStream::Say(const std::string& text) {
  EndProgress();
  Put("lotrix: " + text + "\n");
}

void ErrorStream::Progress(const std::string& name, std::uint64_t done, std::uint64_t total) {
  if (total < kProgressFrom) return;
  const int percent = static_cast<int>(100 * std::min(done, total) / total);
  if (percent == shown_) return;
  shown_ = percent;
  Put("\rlotrix: " + name + ": " + std::to_string(percent) + "%");
}

}  // namespace lotrix
