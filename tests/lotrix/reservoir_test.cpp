#include "reservoir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>
#include <map>
#include <vector>

#include "random.h"

namespace {

using lotrix::Random;
using lotrix::Reservoir;

// Offers items 0..n-1 as a scan would, skipping those the reservoir does not want.
std::vector<std::uint64_t> Draw(std::uint64_t k, std::uint64_t n, std::uint64_t seed) {
  Random random(seed);
  Reservoir reservoir(k, random);
  std::vector<std::uint64_t> held;
  for (std::uint64_t item = 0; item < std::min(k, n); ++item) held.push_back(item);
  while (reservoir.Wanted() < n) {
    const std::uint64_t item = reservoir.Wanted();
    held[reservoir.Offer()] = item;
  }
  std::sort(held.begin(), held.end());
  return held;
}

// Pearson's statistic for counts that should all be `expected`.
double ChiSquare(const std::map<std::vector<std::uint64_t>, int>& counts, std::size_t cells,
                 double expected) {
  double sum = 0;
  for (const auto& [cell, count] : counts)
    sum += (count - expected) * (count - expected) / expected;
  return sum + static_cast<double>(cells - counts.size()) * expected;  // cells never seen
}

TEST(Random, IsXoshiro256StarStarSeededBySplitMix64) {
  Random random(0);
  EXPECT_EQ(random.Next(), 0x99ec5f36cb75f2b4ULL);
  EXPECT_EQ(random.Next(), 0xbf6e1f784956452aULL);
  EXPECT_EQ(random.Next(), 0x1a5f849d4933e6e0ULL);
}

TEST(Random, BoundedDrawsStayInRangeAndCoverIt) {
  Random random(7);
  std::vector<int> seen(7);
  for (int i = 0; i < 7000; ++i) {
    const auto value = random.Below(7);
    ASSERT_LT(value, 7u);
    ++seen[value];
  }
  for (const int count : seen) EXPECT_NEAR(count, 1000, 150);
  EXPECT_EQ(random.Below(1), 0u);
}

TEST(Random, PortableLogAndExpAgreeWithTheLibrary) {
  for (double x : {1e-300, 1e-17, 0.001, 0.3, 0.5, 0.70710678, 0.9999999, 1.0, 1.5, 1e10}) {
    EXPECT_NEAR(lotrix::Log(x), std::log(x), 4e-16 * std::max(1.0, std::fabs(std::log(x)))) << x;
  }
  for (double w : {0.0, 1e-18, 1e-9, 0.1, 0.2499, 0.25, 0.5, 0.999999}) {
    EXPECT_NEAR(lotrix::LogOneMinus(w), std::log1p(-w),
                4e-16 * std::max(1e-18, std::fabs(std::log1p(-w))) + 1e-300)
        << w;
  }
  for (double x : {0.0, -1e-12, -0.3, -1.0, -20.5, -700.0}) {
    EXPECT_NEAR(lotrix::ExpNonPositive(x), std::exp(x), 4e-16 * std::exp(x)) << x;
  }
  EXPECT_EQ(lotrix::ExpNonPositive(-800.0), 0.0);
}

TEST(Random, TheLanesGiveWhatTheScalarFunctionsGiveBitForBit) {
  // Published seeds depend on every bit: over the reservoir's whole domain (uniforms down to
  // 2^-54, W from 1 to far below any file's reach) and around each branch's edge.
  Random random(99);
  for (int round = 0; round < 20000; ++round) {
    double u[lotrix::kLanes], w[lotrix::kLanes], x[lotrix::kLanes];
    for (int lane = 0; lane < lotrix::kLanes; ++lane) {
      u[lane] = std::ldexp(random.Uniform(), -static_cast<int>(random.Below(60)));
      w[lane] = std::ldexp(random.Uniform(), -static_cast<int>(random.Below(70)));
      x[lane] = -std::ldexp(random.Uniform(), static_cast<int>(random.Below(10)));
    }
    if (round == 0) {
      const double edges[] = {1.0,
                              0.25,
                              std::nextafter(0.25, 0.0),
                              0.0,
                              0.70710678118654752440,
                              0x1p-54,
                              std::nextafter(1.0, 0.0),
                              0.5};
      std::copy(std::begin(edges), std::end(edges), w);
      std::copy(std::begin(edges), std::end(edges), u);
      u[3] = 0x1p-1074;  // a subnormal: the scalar road
      x[0] = 0.0, x[1] = -745.5, x[2] = -700.0, x[3] = -0.5 * std::log(2.0);
    }
    double log[lotrix::kLanes], logOneMinus[lotrix::kLanes], exp[lotrix::kLanes];
    lotrix::Log(u, log);
    lotrix::LogOneMinus(w, logOneMinus);
    lotrix::ExpNonPositive(x, exp);
    for (int lane = 0; lane < lotrix::kLanes; ++lane) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(log[lane]),
                std::bit_cast<std::uint64_t>(lotrix::Log(u[lane])))
          << u[lane];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(logOneMinus[lane]),
                std::bit_cast<std::uint64_t>(lotrix::LogOneMinus(w[lane])))
          << w[lane];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(exp[lane]),
                std::bit_cast<std::uint64_t>(lotrix::ExpNonPositive(x[lane])))
          << x[lane];
    }
  }
}

// Algorithm L one decision at a time, as it was first written: what the planned reservoir must
// decide, decision for decision.
struct OneAtATime {
  std::uint64_t size;
  Random random;
  std::uint64_t wanted;
  double w = 1.0;
  OneAtATime(std::uint64_t k, std::uint64_t seed) : size(k), random(seed), wanted(k - 1) { Step(); }
  void Step() {
    w *= lotrix::ExpNonPositive(lotrix::Log(random.Uniform()) / static_cast<double>(size));
    const double passed = std::floor(lotrix::Log(random.Uniform()) / lotrix::LogOneMinus(w));
    if (!(passed < 9.0e18) || w <= 0.0) {
      wanted = Reservoir::kNever;
      return;
    }
    const auto step = static_cast<std::uint64_t>(passed) + 1;
    wanted = wanted > Reservoir::kNever - step ? Reservoir::kNever : wanted + step;
  }
  std::uint64_t Offer() {
    const std::uint64_t slot = random.Below(size);
    Step();
    return slot;
  }
};

TEST(Reservoir, DecidesWhatOneDecisionAtATimeDecides) {
  for (const std::uint64_t size : {1ull, 2ull, 7ull, 30ull, 32767ull, 1ull << 40}) {
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
      OneAtATime expected(size, seed);
      Random random(seed);
      Reservoir reservoir(size, random);
      for (int offer = 0; offer < 3000 && expected.wanted != Reservoir::kNever; ++offer) {
        ASSERT_EQ(reservoir.Wanted(), expected.wanted) << size << " " << seed << " " << offer;
        ASSERT_EQ(reservoir.Offer(), expected.Offer()) << size << " " << seed << " " << offer;
      }
      ASSERT_EQ(reservoir.Wanted(), expected.wanted);
    }
  }
}

TEST(Reservoir, HoldsExactlyKDistinctItemsOrAllOfFewer) {
  for (std::uint64_t seed = 1; seed <= 50; ++seed) {
    const auto held = Draw(30, 10000, seed);
    ASSERT_EQ(held.size(), 30u);
    EXPECT_EQ(std::adjacent_find(held.begin(), held.end()), held.end()) << "a repeated item";
    EXPECT_LT(held.back(), 10000u);
  }
  EXPECT_EQ(Draw(30, 12, 1).size(), 12u);
  EXPECT_TRUE(Draw(0, 100, 1).empty());
}

TEST(Reservoir, AGivenSeedAlwaysDrawsTheSameItems) {
  EXPECT_EQ(Draw(5, 1000000, 42),
            (std::vector<std::uint64_t>{295950, 309794, 354837, 443208, 737921}));
  EXPECT_NE(Draw(5, 1000000, 43), Draw(5, 1000000, 42));
}

TEST(Reservoir, EverySubsetIsEquallyLikely) {
  // 3 of 8 items: 56 subsets, 200 draws expected of each. With 55 degrees of freedom the
  // statistic exceeds 93.2 with probability 0.001; the seeds are fixed, so it cannot flake.
  std::map<std::vector<std::uint64_t>, int> counts;
  const int draws = 56 * 200;
  for (int seed = 0; seed < draws; ++seed) ++counts[Draw(3, 8, 1000 + seed)];
  EXPECT_LT(ChiSquare(counts, 56, 200.0), 93.2);
}

TEST(Reservoir, EveryItemOfALongRunIsEquallyLikely) {
  // The skips matter once the reservoir is full: each of 2000 items should be held in 5/2000 of
  // the draws. 1999 degrees of freedom: the statistic exceeds 2155 with probability 0.005.
  std::map<std::vector<std::uint64_t>, int> counts;
  const int draws = 8000;
  for (int seed = 0; seed < draws; ++seed) {
    for (const auto item : Draw(5, 2000, 5000 + seed)) ++counts[{item}];
  }
  EXPECT_LT(ChiSquare(counts, 2000, draws * 5 / 2000.0), 2155.0);
}

}  // namespace
