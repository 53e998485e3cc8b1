#include "reservoir.h"

#include <cmath>

namespace lotrix {

Reservoir::Reservoir(std::uint64_t size, Random& random)
    : size_(size), random_(random), wanted_(size == 0 ? kNever : 0) {}

void Reservoir::Offer(std::uint64_t value) {
  if (held_.size() < size_) {
    held_.push_back(value);
    if (held_.size() < size_) {
      ++wanted_;
      return;
    }
    w_ = 1.0;
  } else {
    held_[random_.Below(size_)] = value;
  }
  DrawW();
  Skip();
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
