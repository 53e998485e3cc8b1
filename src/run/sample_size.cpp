#include "run/sample_size.h"

#include <algorithm>
#include <limits>
#include <string>

namespace lotrix {
namespace {

constexpr int kMin = std::numeric_limits<std::int16_t>::min();
constexpr int kMax = std::numeric_limits<std::int16_t>::max();
// Anything above this is out of range however it rounds; saturating here keeps long digit
// strings from overflowing the accumulator.
constexpr long kSaturated = 1'000'000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Unicode's white space in UTF-8: what a paste may bring along around the number (a tab, a line
// break, a no-break space, an ideographic space).
constexpr std::string_view kBlanks[] = {
    " ",      "\t",     "\n",     "\v",     "\f",     "\r",     "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

std::string_view TrimBlanks(std::string_view text) {
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    for (const std::string_view blank : kBlanks) {
      if (text.starts_with(blank)) {
        text.remove_prefix(blank.size());
        trimmed = true;
      }
      if (text.ends_with(blank)) {
        text.remove_suffix(blank.size());
        trimmed = true;
      }
    }
  }
  return text;
}

RunError TypeMismatch(std::string_view text) {
  std::string detail = TrimBlanks(text).empty()
                           ? "The sample size is empty; type a whole number such as 30."
                           : "The sample size \"" + std::string(text) + "\" is not a number.";
  return {13, "Type mismatch", std::move(detail)};
}

RunError Overflow(std::string_view text) {
  return {6, "Overflow",
          "The sample size \"" + std::string(text) + "\" is out of range: it must be from " +
              std::to_string(kMin) + " to " + std::to_string(kMax) + "."};
}

}  // namespace

Result<std::int16_t> ConvertSampleSize(std::string_view text, std::string_view decimalSeparator) {
  std::string_view rest = TrimBlanks(text);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }

  long whole = 0;
  bool anyDigit = false;
  while (!rest.empty() && IsDigit(rest.front())) {
    whole = std::min(whole * 10 + (rest.front() - '0'), kSaturated);
    anyDigit = true;
    rest.remove_prefix(1);
  }

  // The fraction is kept as digits, not as a double, so that ties are recognised exactly.
  std::string_view fraction;
  if (!decimalSeparator.empty() && rest.starts_with(decimalSeparator)) {
    rest.remove_prefix(decimalSeparator.size());
    std::size_t n = 0;
    while (n < rest.size() && IsDigit(rest[n])) ++n;
    fraction = rest.substr(0, n);
    anyDigit = anyDigit || n > 0;
    rest.remove_prefix(n);
  }
  if (!anyDigit || !rest.empty()) return TypeMismatch(text);

  if (!fraction.empty()) {
    const char first = fraction.front();
    const bool beyondHalf = fraction.find_first_not_of('0', 1) != std::string_view::npos;
    if (first > '5' || (first == '5' && (beyondHalf || whole % 2 == 1))) ++whole;
  }

  const long value = negative ? -whole : whole;
  if (value < kMin || value > kMax) return Overflow(text);
  return static_cast<std::int16_t>(value);
}

}  // namespace lotrix
