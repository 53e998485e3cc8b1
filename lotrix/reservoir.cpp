#include "reservoir.h"

#include <cmath>

namespace lotrix {

// The first `size` items fill the reservoir, wanted or not: draws start with the one after.
Reservoir::Reservoir(std::uint64_t size, Random& random)
    : size_(size), random_(random), wanted_(size == 0 ? kNever : size - 1) {
  if (size_ == 0) return;
  Plan(true);
  wanted_ = nextWanted_[0];
  planned_ = 1;
}

std::uint64_t Reservoir::Offer() {
  if (planned_ == kLanes) {
    Plan(false);
    planned_ = 0;
  }
  wanted_ = nextWanted_[planned_];
  return slots_[planned_++];
}

// Each decision draws, in this order: the slot (but the first), then U for W *= U^(1/k), then
// V for the skip floor(log V / log(1 - W)).
void Reservoir::Plan(bool first) {
  double u[kLanes];
  double v[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) {
    slots_[lane] = first && lane == 0 ? 0 : random_.Below(size_);
    u[lane] = random_.Uniform();
    v[lane] = random_.Uniform();
  }
  double logU[kLanes];
  double logV[kLanes];
  Log(u, logU);
  Log(v, logV);
  for (double& x : logU) x /= static_cast<double>(size_);
  double shrink[kLanes];
  ExpNonPositive(logU, shrink);
  double w[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) w[lane] = w_ *= shrink[lane];
  double logOneMinusW[kLanes];
  LogOneMinus(w, logOneMinusW);

  std::uint64_t wanted = wanted_;
  for (int lane = 0; lane < kLanes; ++lane) {
    const double passed = std::floor(logV[lane] / logOneMinusW[lane]);
    // Once W has shrunk below what a double can tell from 0, or the skip runs off any file, no
    // later item will be taken.
    if (!(passed < 9.0e18) || w[lane] <= 0.0 || wanted == kNever) {
      wanted = kNever;
    } else {
      const auto step = static_cast<std::uint64_t>(passed) + 1;
      wanted = wanted > kNever - step ? kNever : wanted + step;
    }
    nextWanted_[lane] = wanted;
  }
}

}  // namespace lotrix
