#pragma once

#include <cstdint>
#include <limits>

#include "random.h"

namespace lotrix {

// Reservoir sampling with geometric skips (Li's Algorithm L): it draws how many items to pass
// over, so random draws grow with k log(n/k), not with n. Every set of k items out of the n seen
// is equally likely.
//
// It decides only which slot of k each item goes into, and keeps nothing per item: the caller
// keeps what it needs per slot. The first k items fill slots 0 to k-1 in order without being
// offered, so a caller that need not look at them has no per-item work until an item would
// replace one; if fewer than k items come, all of them are the sample.
//
// Its decisions depend on the seed alone, never on the items, so they are worked out kLanes at a
// time ahead of need: the same draws in the same order as one at a time, with their logarithms
// and exponentials computed side by side.
class Reservoir {
 public:
  static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

  Reservoir(std::uint64_t size, Random& random);

  std::uint64_t Size() const { return size_; }
  // Index of the next item that would replace a held one: at least Size(), or kNever.
  std::uint64_t Wanted() const { return wanted_; }
  // Takes item Wanted() and returns the slot whose item it replaces.
  std::uint64_t Offer();

 private:
  // Works out the next kLanes decisions, the first of which draws no slot when `first`.
  void Plan(bool first);

  std::uint64_t size_;
  Random& random_;
  std::uint64_t wanted_;
  double w_ = 1.0;
  // The decisions planned: the slot each offer takes and the item wanted after it.
  std::uint64_t slots_[kLanes] = {};
  std::uint64_t nextWanted_[kLanes] = {};
  int planned_ = 0;  // the first not yet used
};

}  // namespace lotrix
