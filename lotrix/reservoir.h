#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "random.h"

namespace lotrix {

// Reservoir sampling with geometric skips (Li's Algorithm L): after the first k items it draws
// how many items to pass over, so random draws grow with k log(n/k), not with n. Every set of
// k items out of the n offered is equally likely. It keeps a value per item held (here, where a
// line starts), never the items themselves.
class Reservoir {
 public:
  static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

  Reservoir(std::uint64_t size, Random& random);

  // Index of the next item worth offering; the items before it would not be taken.
  std::uint64_t Wanted() const { return wanted_; }

  // Offers item Wanted(), identified by `value`.
  void Offer(std::uint64_t value);

  // The values of the items held, in no particular order.
  const std::vector<std::uint64_t>& Values() const { return held_; }

 private:
  void DrawW();
  void Skip();

  std::uint64_t size_;
  Random& random_;
  std::vector<std::uint64_t> held_;
  std::uint64_t wanted_;
  double w_ = 0.0;
};

}  // namespace lotrix
