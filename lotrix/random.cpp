#include "random.h"

// The lanes' helpers below pass vectors of doubles between them inside this file alone, where no
// calling convention is shared with other code.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <bit>
#include <cmath>
#include <cstring>
#include <random>

namespace lotrix {
namespace {

std::uint64_t SplitMix64(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t RotateLeft(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// The 128-bit product of a and b: returns the high 64 bits and leaves the low ones in `low`.
// Four 32-bit products, so that 32-bit targets without a 128-bit type get the same answer.
std::uint64_t MultiplyWide(std::uint64_t a, std::uint64_t b, std::uint64_t& low) {
  const std::uint64_t aLow = a & 0xffffffffu, aHigh = a >> 32;
  const std::uint64_t bLow = b & 0xffffffffu, bHigh = b >> 32;
  const std::uint64_t lowLow = aLow * bLow;
  const std::uint64_t highLow = aHigh * bLow;
  const std::uint64_t lowHigh = aLow * bHigh;
  const std::uint64_t middle = (lowLow >> 32) + (highLow & 0xffffffffu) + (lowHigh & 0xffffffffu);
  low = (middle << 32) | (lowLow & 0xffffffffu);
  return aHigh * bHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32);
}

constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2, split so that n * kLn2Hi is exact
constexpr double kLn2Lo = 1.90821492927058770002e-10;

// 2 atanh(f) = log((1 + f) / (1 - f)), by its series; |f| <= 0.1716 here, where 12 terms reach
// the last bit.
double TwiceAtanh(double f) {
  const double s = f * f;
  double sum = 0.0;
  for (int n = 12; n >= 1; --n) sum = (sum + 1.0 / (2 * n + 1)) * s;
  return 2.0 * f * (1.0 + sum);
}

// kLanes doubles, or 64-bit integers, as one value: arithmetic on them is lane by lane.
using Doubles = double __attribute__((vector_size(kLanes * sizeof(double))));
using Words = std::int64_t __attribute__((vector_size(kLanes * sizeof(std::int64_t))));

[[gnu::always_inline]] inline Doubles Load(const double (&x)[kLanes]) {
  Doubles v;
  std::memcpy(&v, x, sizeof v);
  return v;
}
[[gnu::always_inline]] inline void Store(Doubles v, double (&out)[kLanes]) {
  std::memcpy(out, &v, sizeof v);
}

[[gnu::always_inline]] inline Doubles TwiceAtanh(Doubles f) {
  const Doubles s = f * f;
  Doubles sum{};
  for (int n = 12; n >= 1; --n) sum = (sum + 1.0 / (2 * n + 1)) * s;
  return 2.0 * f * (1.0 + sum);
}

// For positive normal x only, which is all the reservoir asks (its uniforms are at least 2^-54).
[[gnu::always_inline]] inline Doubles LogNormal(Doubles x) {
  // frexp by the bits: x = m * 2^exponent with m in [0.5, 1).
  const Words bits = std::bit_cast<Words>(x);
  Words exponent = ((bits >> 52) & 0x7ff) - 1022;
  const Words mantissa = (bits & 0x800fffffffffffffLL) | (1022LL << 52);
  Doubles m = std::bit_cast<Doubles>(mantissa);
  const Words small = m < 0.70710678118654752440;  // all ones where it holds
  m = small ? m * 2.0 : m;
  exponent += small;
  const Doubles e = __builtin_convertvector(exponent, Doubles);
  return e * kLn2Hi + (TwiceAtanh((m - 1.0) / (m + 1.0)) + e * kLn2Lo);
}

// nearbyint in the default rounding mode (to nearest, ties to even), for |v| < 2^51.
[[gnu::always_inline]] inline Doubles RoundToNearest(Doubles v) {
  const double shift = 0x1.8p52;
  return (v + shift) - shift;
}

}  // namespace

void Log(const double (&x)[kLanes], double (&out)[kLanes]) {
  Doubles v = Load(x);
  // Anything else (0, a subnormal, a negative) takes the scalar road.
  const Words normal = v >= 0x1p-1022;
  v = normal ? v : Doubles{} + 1.0;
  Store(LogNormal(v), out);
  for (int lane = 0; lane < kLanes; ++lane) {
    if (!normal[lane]) out[lane] = Log(x[lane]);
  }
}

void LogOneMinus(const double (&w)[kLanes], double (&out)[kLanes]) {
  const Doubles v = Load(w);
  const Words small = v < 0.25;
  const Words whole = v >= 1.0;
  // Each branch is worked out for every lane; lanes that take the other feed it a harmless value.
  const Doubles tiny = small ? v : Doubles{};
  const Doubles large = (small | whole) ? Doubles{} + 0.5 : v;
  const Doubles result = small ? TwiceAtanh(-tiny / (2.0 - tiny)) : LogNormal(1.0 - large);
  Store(whole ? Doubles{} - INFINITY : result, out);
}

void ExpNonPositive(const double (&x)[kLanes], double (&out)[kLanes]) {
  Doubles v = Load(x);
  // Far below 0 the result leaves the normal numbers, where 2^n is no longer one double.
  const Words near = v >= -700.0;
  v = near ? v : Doubles{};
  const Doubles n = RoundToNearest(v / kLn2Hi);
  const Doubles r = (v - n * kLn2Hi) - n * kLn2Lo;
  Doubles sum = Doubles{} + 1.0;
  for (int k = 18; k >= 1; --k) sum = 1.0 + sum * r / static_cast<double>(k);
  // ldexp(sum, n): a multiplication by 2^n, exact while the result is normal.
  const Words power = (__builtin_convertvector(n, Words) + 1023) << 52;
  Store(sum * std::bit_cast<Doubles>(power), out);
  for (int lane = 0; lane < kLanes; ++lane) {
    if (!near[lane]) out[lane] = ExpNonPositive(x[lane]);
  }
}

Random::Random(std::uint64_t seed) {
  for (auto& word : state_) word = SplitMix64(seed);
}

std::uint64_t Random::Next() {
  const std::uint64_t result = RotateLeft(state_[1] * 5, 7) * 9;
  const std::uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = RotateLeft(state_[3], 45);
  return result;
}

double Random::Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53; }

std::uint64_t Random::Below(std::uint64_t bound) {
  // Lemire: the high half of a 128-bit product is uniform in [0, bound) once the low halves
  // below 2^64 mod bound are rejected.
  std::uint64_t low = 0;
  std::uint64_t high = MultiplyWide(Next(), bound, low);
  if (low < bound) {
    const std::uint64_t threshold = (0 - bound) % bound;
    while (low < threshold) high = MultiplyWide(Next(), bound, low);
  }
  return high;
}

double Log(double x) {
  int exponent = 0;
  double m = std::frexp(x, &exponent);  // exact: x = m * 2^exponent, m in [0.5, 1)
  if (m < 0.70710678118654752440) {
    m *= 2.0;
    --exponent;
  }
  // m in [0.707, 1.414): log m = 2 atanh((m - 1) / (m + 1)).
  return exponent * kLn2Hi + (TwiceAtanh((m - 1.0) / (m + 1.0)) + exponent * kLn2Lo);
}

double LogOneMinus(double w) {
  if (w >= 1.0) return -INFINITY;
  // For small w, 1 - w would lose w's low bits; log(1 - w) = 2 atanh(-w / (2 - w)) keeps them.
  if (w < 0.25) return TwiceAtanh(-w / (2.0 - w));
  return Log(1.0 - w);
}

double ExpNonPositive(double x) {
  if (x < -745.0) return 0.0;
  // x = n ln 2 + r with |r| <= ln2 / 2; e^r by its Taylor series, then scaled by 2^n exactly.
  const double n = std::nearbyint(x / kLn2Hi);
  const double r = (x - n * kLn2Hi) - n * kLn2Lo;
  double sum = 1.0;
  for (int k = 18; k >= 1; --k) sum = 1.0 + sum * r / k;
  return std::ldexp(sum, static_cast<int>(n));
}

std::uint64_t FreshSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) | device();
}

}  // namespace lotrix
