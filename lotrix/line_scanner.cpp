#include "line_scanner.h"

#include <string_view>

namespace lotrix {

void LineScanner::Feed(const char* data, std::size_t size) {
  const std::size_t unit = format_.unit;
  const std::size_t end = size - size % unit;

  // Line L starts right after newline L; `passed` counts the newlines before `cursor`. The
  // newlines are counted as the wanted lines are sought, in one pass over the piece.
  std::size_t cursor = 0;
  std::uint64_t passed = newlines_;
  if (capturing_) {
    cursor = Capture(data, 0, end);
    if (!capturing_) ++passed;
  }
  while (!capturing_) {
    const std::uint64_t wanted = visitor_.Wanted();
    if (passed < wanted) {
      std::uint64_t left = wanted - passed;
      cursor = SkipNewlines(format_, data, cursor, end, left);
      passed = wanted - left;
      if (left > 0) break;  // it is in a later piece
    }
    if (cursor == end) break;  // it starts the next piece, or the stray byte
    visitor_.Start(offset_ + cursor);
    if (!capture_) continue;
    cursor = Capture(data, cursor, end);
    if (!capturing_) ++passed;
  }
  // Every way out of the loop leaves the cursor at the end: `passed` counts the piece's newlines.
  const std::uint64_t count = passed - newlines_;
  if (count > 0 && !sawNewline_) NoteFirstEnding(data, end);
  if (end < size) {
    // A stray byte is all that can follow the last piece's units: the end of the last line.
    if (!capturing_ && passed == visitor_.Wanted() && cursor == end) {
      visitor_.Start(offset_ + end);
      capturing_ = capture_;
    }
    if (capturing_) visitor_.Bytes(data + end, size - end);
  }

  newlines_ += count;
  if (end > 0) tail_.assign(data + end - unit, unit);
  tail_.append(data + end, size - end);
  offset_ += size;
}

std::size_t LineScanner::Capture(const char* data, std::size_t from, std::size_t size) {
  const std::size_t newline = FindNewline(format_, data, from, size);
  const std::size_t next = newline < size ? newline + format_.unit : size;
  visitor_.Bytes(data + from, next - from);
  capturing_ = newline == size;
  return next;
}

void LineScanner::NoteFirstEnding(const char* data, std::size_t size) {
  sawNewline_ = true;
  const std::size_t unit = format_.unit;
  const std::size_t at = FindNewline(format_, data, 0, size);
  const std::string before = at >= unit ? std::string(data + at - unit, unit) : tail_;
  crlf_ = before == format_.Unit('\r');
}

}  // namespace lotrix
