#pragma once

// What a correct sample of an input is, worked out from its bytes alone and sharing no code with
// the sampler, so that a fault there cannot hide behind the same fault here. Header only and
// free of any test framework: the property tests and the fuzz target both hold the sampler's
// output against it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oracle {

// An input cut into its lines.
struct Text {
  std::string_view mark;  // the byte-order mark, if any
  std::size_t unit = 1;   // bytes per code unit
  bool bigEndian = false;
  // Each line with its ending, as it lies in the input; the last may lack one.
  std::vector<std::string_view> lines;
  // The last line has no ending, and gets one in a sample; not one that ends in a byte too few
  // for a whole unit, which is left as it is.
  bool lastUnended = false;
  // What follows an unended last line in a sample: the first newline's own CR LF or LF.
  std::string ending;

  // The code unit for `ascii`, in this text's bytes.
  std::string Unit(char ascii) const {
    if (unit == 1) return std::string(1, ascii);
    return bigEndian ? std::string{'\0', ascii} : std::string{ascii, '\0'};
  }

  // Line `index` as a sample spells it.
  std::string Rendered(std::size_t index) const {
    std::string line(lines[index]);
    if (lastUnended && index + 1 == lines.size()) line += ending;
    return line;
  }
};

// `input` must outlive the result, which points into it.
inline Text Split(std::string_view input) {
  Text text;
  if (input.starts_with("\xEF\xBB\xBF")) {
    text.mark = input.substr(0, 3);
  } else if (input.starts_with("\xFF\xFE") || input.starts_with("\xFE\xFF")) {
    text.mark = input.substr(0, 2);
    text.unit = 2;
    text.bigEndian = input[0] == '\xFE';
  }
  const std::string_view body = input.substr(text.mark.size());
  const std::string newline = text.Unit('\n');
  const std::string cr = text.Unit('\r');
  const std::size_t unit = text.unit;

  bool crlf = false;
  std::size_t start = 0;
  // Units are counted from the start of the text: a newline's bytes straddling two units, or a
  // 0x0A byte inside another unit, end nothing.
  for (std::size_t at = 0; at + unit <= body.size(); at += unit) {
    if (unit == 1) {
      at = body.find('\n', at);
      if (at == std::string_view::npos) break;
    } else if (body.compare(at, unit, newline) != 0) {
      continue;
    }
    if (text.lines.empty()) crlf = at >= unit && body.compare(at - unit, unit, cr) == 0;
    text.lines.push_back(body.substr(start, at + unit - start));
    start = at + unit;
  }
  if (start < body.size()) {
    text.lines.push_back(body.substr(start));
    text.lastUnended = body.size() % unit == 0;
  }
  text.ending = (crlf ? cr : std::string()) + newline;
  return text;
}

// Bytes made readable for a message: printable ASCII as it is, the rest as \xHH, cut short.
inline std::string Escaped(std::string_view bytes, std::size_t limit = 48) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += static_cast<char>(byte);
    } else {
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  if (bytes.size() > limit) shown += "... (" + std::to_string(bytes.size()) + " bytes)";
  return shown;
}

struct Verdict {
  bool ok = false;
  std::string why;                 // what is wrong, when not ok
  bool markOk = true;              // the output starts with the input's mark
  bool linesOk = true;             // what follows the mark is right
  std::vector<std::size_t> taken;  // the lines the sample holds, by index in the input
  std::size_t lines = 0;           // lines in the input
};

// Whether `output` is a correct sample of `size` lines of `input`: nothing when `size` is 0 or
// the input has no line; else the input's mark, then min(size, lines) distinct whole lines in
// input order, byte for byte, an unended last line followed by the input's ending.
inline Verdict Check(std::string_view input, std::uint64_t size, std::string_view output) {
  const Text text = Split(input);
  Verdict verdict;
  verdict.lines = text.lines.size();
  const std::size_t wanted =
      size < text.lines.size() ? static_cast<std::size_t>(size) : text.lines.size();
  const auto fail = [&](const std::string& why) {
    verdict.why += (verdict.why.empty() ? "" : "; ") + why;
    verdict.linesOk = false;
    return verdict;
  };
  if (wanted == 0) {
    if (!output.empty()) return fail("should be empty, has " + Escaped(output));
    verdict.ok = true;
    return verdict;
  }
  // A wrong mark says nothing of the lines behind it, which are still worth a look.
  if (!output.starts_with(text.mark)) {
    verdict.why = "does not start with the mark " + Escaped(text.mark) + " but " +
                  Escaped(output.substr(0, text.mark.size()));
    verdict.markOk = false;
    if (output.size() < text.mark.size()) return fail("too short for it");
  }

  const std::size_t last = text.lines.size() - 1;
  const std::string lastRendered = text.Rendered(last);
  std::size_t at = text.mark.size();
  std::size_t next = 0;  // the first line that may come next
  while (verdict.taken.size() < wanted) {
    const std::string_view rest = output.substr(at);
    // An unended last line can only end the sample, and is spelt unlike it is in the input.
    // Every other line ends with the one whole newline it holds, so no two differing lines can
    // both start `rest`, and the earliest that does is as good as any later one.
    if (text.lastUnended && verdict.taken.size() + 1 == wanted && next <= last &&
        rest == lastRendered) {
      verdict.taken.push_back(last);
      at = output.size();
      break;
    }
    const std::size_t end = text.lastUnended ? last : last + 1;
    std::size_t line = next;
    while (line < end && !rest.starts_with(text.lines[line])) ++line;
    if (line == end) {
      return fail("line " + std::to_string(verdict.taken.size() + 1) + " of " +
                  std::to_string(wanted) + ", at byte " + std::to_string(at) +
                  ", is none of the input's lines from index " + std::to_string(next) +
                  " on: " + Escaped(rest));
    }
    verdict.taken.push_back(line);
    at += text.lines[line].size();
    next = line + 1;
  }
  if (at != output.size()) {
    return fail(std::to_string(output.size() - at) + " bytes after the " + std::to_string(wanted) +
                " lines: " + Escaped(output.substr(at)));
  }
  verdict.ok = verdict.why.empty();
  return verdict;
}

// 64-bit FNV-1a, which pins a sample down in a table.
inline std::uint64_t Fnv1a(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211u;
  }
  return hash;
}

}  // namespace oracle
