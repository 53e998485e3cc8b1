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

std::uint64_t CountBytePlain(const char* data, std::size_t size) {
  return static_cast<std::uint64_t>(std::count(data, data + size, '\n'));
}

#ifdef LOTRIX_X86
__attribute__((target("avx2"))) inline std::uint32_t NewlineMask(const char* at) {
  const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  return static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(block, _mm256_set1_epi8('\n'))));
}

// Counting newlines is the whole cost of a pass over the input: 32 bytes a step, 4 steps
// unrolled so that the comparisons overlap.
__attribute__((target("avx2,popcnt"))) std::uint64_t CountByteAvx2(const char* data,
                                                                   std::size_t size) {
  std::uint64_t count = 0;
  std::size_t i = 0;
  for (; i + 128 <= size; i += 128) {
    const std::uint64_t low =
        NewlineMask(data + i) | static_cast<std::uint64_t>(NewlineMask(data + i + 32)) << 32;
    const std::uint64_t high =
        NewlineMask(data + i + 64) | static_cast<std::uint64_t>(NewlineMask(data + i + 96)) << 32;
    count += static_cast<std::uint64_t>(std::popcount(low) + std::popcount(high));
  }
  for (; i + 32 <= size; i += 32) {
    count += static_cast<std::uint64_t>(std::popcount(NewlineMask(data + i)));
  }
  return count + CountBytePlain(data + i, size - i);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return has;
}
#endif

std::uint64_t CountBytes(const char* data, std::size_t size) {
#ifdef LOTRIX_X86
  if (HasAvx2()) return CountByteAvx2(data, size);
#endif
  return CountBytePlain(data, size);
}

}  // namespace

std::string TextFormat::Unit(char ascii) const {
  if (unit == 1) return std::string(1, ascii);
  return bigEndian ? std::string{'\0', ascii} : std::string{ascii, '\0'};
}

TextFormat DetectFormat(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) return {3, 1, false};
  if (head.starts_with("\xFF\xFE")) return {2, 2, false};
  if (head.starts_with("\xFE\xFF")) return {2, 2, true};
  return {};
}

std::uint64_t CountNewlines(const TextFormat& format, const char* data, std::size_t size) {
  if (format.unit == 1) return CountBytes(data, size);
  const std::string newline = format.Newline();
  std::uint64_t count = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    count += data[i] == newline[0] && data[i + 1] == newline[1];
  }
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

}  // namespace lotrix
