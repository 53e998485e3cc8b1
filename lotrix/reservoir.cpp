#include "reservoir.h"

#include <cmath>

namespace lotrix {

// The first `size` items fill the reservoir, wanted or not: draws start with the one after.
Reservoir::Reservoir(std::uint64_t size, Random& random)
    : size_(size), random_(random), wanted_(size == 0 ? kNever : size - 1) {
  if (size_ == 0) return;
  DrawW();
  Skip();
}

std::uint64_t Reservoir::Offer() {
  const std::uint64_t slot = random_.Below(size_);
  DrawW();
  Skip();
  return slot;
}

// W is the largest of k uniform keys' thresholds: W *= U^(1/k).
void Reservoir::DrawW() {
  w_ *= ExpNonPositive(Log(random_.Uniform()) / static_cast<double>(size_));
}

void Reservoir::Skip() {
  const double passed = std::floor(Log(random_.Uniform()) / LogOneMinus(w_));
  // Once W has shrunk below what a double can tell from 0, or the skip runs off any file, no
  // later item will be taken.
  if (!(passed < 9.0e18) || w_ <= 0.0) {
    wanted_ = kNever;
    return;
  }
  const auto step = static_cast<std::uint64_t>(passed) + 1;
  wanted_ = wanted_ > kNever - step ? kNever : wanted_ + step;
}

}  // namespace lotrix
