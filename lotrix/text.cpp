#include "text.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LOTRIX_X86 1
#endif

namespace lotrix {
namespace {

// Finding newlines is the whole cost of a pass over the input. Where the processor has AVX2,
// 64 bytes are compared at a time into a mask of which of them hold a newline unit: counting
// is then a popcount, and skipping to the n-th newline a popcount per block and a bit search
// in the last one.
#ifdef LOTRIX_X86
// Bit i set where the unit at `at + i` is a newline: bytes, or (`wide`) 16-bit units, of which
// only the bit of each unit's first byte is kept.
__attribute__((target("avx2"))) inline std::uint64_t NewlineMask(const char* at, bool wide,
                                                                 std::uint16_t newline) {
  const __m256i match =
      wide ? _mm256_set1_epi16(static_cast<short>(newline)) : _mm256_set1_epi8('\n');
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
  const __m256i lowHits = wide ? _mm256_cmpeq_epi16(low, match) : _mm256_cmpeq_epi8(low, match);
  const __m256i highHits = wide ? _mm256_cmpeq_epi16(high, match) : _mm256_cmpeq_epi8(high, match);
  const std::uint64_t mask =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(lowHits)) |
      static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(highHits))) << 32;
  return wide ? mask & 0x5555555555555555ull : mask;
}

__attribute__((target("avx2,popcnt"))) std::uint64_t CountAvx2(const char* data, std::size_t size,
                                                               bool wide, std::uint16_t newline,
                                                               std::size_t& done) {
  std::uint64_t count = 0;
  std::size_t i = 0;
  for (; i + 128 <= size; i += 128) {
    count += static_cast<std::uint64_t>(std::popcount(NewlineMask(data + i, wide, newline)) +
                                        std::popcount(NewlineMask(data + i + 64, wide, newline)));
  }
  for (; i + 64 <= size; i += 64) {
    count += static_cast<std::uint64_t>(std::popcount(NewlineMask(data + i, wide, newline)));
  }
  done = i;
  return count;
}

// Where the `count`-th newline at or after `from` ends, or where the search stopped short of
// the last 64 bytes, with `count` lowered by the newlines passed.
__attribute__((target("avx2,popcnt"))) std::size_t SkipAvx2(const char* data, std::size_t from,
                                                            std::size_t size, bool wide,
                                                            std::uint16_t newline,
                                                            std::uint64_t& count) {
  for (std::size_t i = from; i + 64 <= size; i += 64) {
    std::uint64_t mask = NewlineMask(data + i, wide, newline);
    const auto found = static_cast<std::uint64_t>(std::popcount(mask));
    if (found < count) {
      count -= found;
      continue;
    }
    for (; count > 1; --count) mask &= mask - 1;  // drop the newlines before the one sought
    count = 0;
    return i + static_cast<std::size_t>(std::countr_zero(mask)) + (wide ? 2 : 1);
  }
  return from + (size - from) / 64 * 64;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return has;
}
#endif

#ifdef LOTRIX_X86
// The newline unit as an x86 processor loads it from memory (least significant byte first).
std::uint16_t NewlineWord(const TextFormat& format) {
  if (format.unit == 1) return '\n';
  return format.bigEndian ? 0x0A00 : 0x000A;
}
#endif

}  // namespace

std::string TextFormat::Unit(char ascii) const {
  if (unit == 1) return std::string(1, ascii);
  return bigEndian ? std::string{'\0', ascii} : std::string{ascii, '\0'};
}

std::string TextFormat::Spell(std::string_view utf8) const {
  if (unit == 1) return std::string(utf8);
  std::string spelt;
  const auto put = [&](char32_t unit16) {
    const char high = static_cast<char>(unit16 >> 8), low = static_cast<char>(unit16 & 0xFF);
    spelt += bigEndian ? std::string{high, low} : std::string{low, high};
  };
  for (std::size_t at = 0; at < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t point = size == 1 ? lead : lead & (0x7Fu >> size);
    for (std::size_t i = 1; i < size && at + i < utf8.size(); ++i) {
      point = (point << 6) | (static_cast<unsigned char>(utf8[at + i]) & 0x3F);
    }
    at += size;
    if (point < 0x10000) {
      put(point);
    } else {
      put(0xD800 + ((point - 0x10000) >> 10));
      put(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
  }
  return spelt;
}

TextFormat DetectFormat(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) return {3, 1, false};
  if (head.starts_with("\xFF\xFE")) return {2, 2, false};
  if (head.starts_with("\xFE\xFF")) return {2, 2, true};
  return {};
}

std::uint64_t CountNewlines(const TextFormat& format, const char* data, std::size_t size) {
  std::uint64_t count = 0;
  std::size_t i = 0;
#ifdef LOTRIX_X86
  if (HasAvx2()) count = CountAvx2(data, size, format.unit == 2, NewlineWord(format), i);
#endif
  if (format.unit == 1)
    return count + static_cast<std::uint64_t>(std::count(data + i, data + size, '\n'));
  const std::string newline = format.Newline();
  for (; i + 1 < size; i += 2) count += data[i] == newline[0] && data[i + 1] == newline[1];
  return count;
}

std::size_t FindNewline(const TextFormat& format, const char* data, std::size_t from,
                        std::size_t size) {
  if (format.unit == 1) {
    const void* found = std::memchr(data + from, '\n', size - from);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : size;
  }
  const std::string newline = format.Newline();
  for (std::size_t i = from; i + 1 < size; i += 2) {
    if (data[i] == newline[0] && data[i + 1] == newline[1]) return i;
  }
  return size;
}

std::size_t SkipNewlines(const TextFormat& format, const char* data, std::size_t from,
                         std::size_t size, std::uint64_t& count) {
#ifdef LOTRIX_X86
  if (HasAvx2()) {
    from = SkipAvx2(data, from, size, format.unit == 2, NewlineWord(format), count);
    if (count == 0) return from;
  }
#endif
  for (; count > 0 && from < size; --count) {
    const std::size_t newline = FindNewline(format, data, from, size);
    if (newline == size) return size;
    from = newline + format.unit;
  }
  return from;
}

}  // namespace lotrix
