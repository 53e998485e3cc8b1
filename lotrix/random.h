#pragma once

#include <cstdint>

namespace lotrix {

// The sampler's source of randomness, specified to the bit so that a seed gives the same sample
// with every compiler, standard library and processor: xoshiro256** seeded through SplitMix64,
// Lemire's multiply-and-reject for bounded integers, and logarithms and exponentials computed
// with nothing but IEEE basic arithmetic (no library transcendental functions, whose last bits
// differ between platforms; the build turns off contraction into fused multiply-adds).
class Random {
 public:
  explicit Random(std::uint64_t seed);

  std::uint64_t Next();
  // Uniform in the open interval (0, 1): never exactly 0, so its logarithm is finite.
  double Uniform();
  // Uniform in [0, bound); bound > 0.
  std::uint64_t Below(std::uint64_t bound);

 private:
  std::uint64_t state_[4];
};

// Natural logarithm of x > 0.
double Log(double x);
// log(1 - w) for 0 <= w < 1, accurate also when w is tiny.
double LogOneMinus(double w);
// e^x for x <= 0.
double ExpNonPositive(double x);

// The same three functions over kLanes values at once, each lane bit for bit what the scalar
// function gives: the same IEEE operations in the same order, which the processor can overlap
// across lanes, where one value's chain of divisions would leave it waiting.
constexpr int kLanes = 8;
void Log(const double (&x)[kLanes], double (&out)[kLanes]);
void LogOneMinus(const double (&w)[kLanes], double (&out)[kLanes]);
void ExpNonPositive(const double (&x)[kLanes], double (&out)[kLanes]);

// A seed from the system's entropy source, for runs without --seed.
std::uint64_t FreshSeed();

}  // namespace lotrix
