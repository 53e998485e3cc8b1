#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text.h"

namespace lotrix {

// What a caller of LineScanner wants of the lines going by.
class LineVisitor {
 public:
  // Index of the next line the caller wants; it must grow with every Start.
  virtual std::uint64_t Wanted() = 0;
  // Line Wanted() starts at `offset` in the input.
  virtual void Start(std::uint64_t offset) = 0;
  // More bytes of the line last started, up to and with its ending (the last line may have
  // none); only for a scanner that captures.
  virtual void Bytes(const char* data, std::size_t size) = 0;

 protected:
  ~LineVisitor() = default;
};

// Walks the text of an input piece by piece as it is read, counting its lines, noting how the
// first of them ends, and showing the visitor where each line it wants starts (and, when
// capturing, its bytes). Whole-unit newlines only: in UTF-16 a 0x0A byte of another character
// ends nothing. A stray byte at the very end is the last line's content.
class LineScanner {
 public:
  // `offset` is where the text starts in the input, behind any byte-order mark.
  LineScanner(const TextFormat& format, std::uint64_t offset, LineVisitor& visitor, bool capture)
      : format_(format), offset_(offset), visitor_(visitor), capture_(capture) {}

  // The next piece of text: a whole number of units, but for the last piece, which may be
  // followed by nothing but a stray byte.
  void Feed(const char* data, std::size_t size);

  // Lines seen so far, an unfinished last one included.
  std::uint64_t Lines() const { return newlines_ + (tail_.empty() || EndsWithNewline() ? 0 : 1); }
  // Whether the text so far ends with a newline, or is empty.
  bool EndsWithNewline() const { return tail_.empty() || tail_ == format_.Newline(); }
  // Whether a newline has been seen, which Ending() is then that of.
  bool SawNewline() const { return sawNewline_; }
  // What ends the first line: CR LF or LF, in the text's own units. A last line without an
  // ending gets this one in a sample.
  std::string Ending() const {
    return (crlf_ ? format_.Unit('\r') : std::string()) + format_.Newline();
  }
  // What a sample puts after the input's last line: nothing where it has its ending, or where it
  // ends in a stray byte (UTF-16 of an odd length), which no ending could follow in step and
  // which the line keeps as it is; else Ending().
  std::string LastLineEnding() const {
    if (EndsWithNewline() || tail_.size() % format_.unit != 0) return {};
    return Ending();
  }
  std::uint64_t Offset() const { return offset_; }
  // Whether the last line seen was taken and has had no ending yet: the text ended inside it.
  bool Capturing() const { return capturing_; }

 private:
  void NoteFirstEnding(const char* data, std::size_t size);
  // Hands the visitor the captured line's bytes from `from` up to its ending; returns where the
  // next line starts, or `size` if the line goes on in the next piece.
  std::size_t Capture(const char* data, std::size_t from, std::size_t size);

  TextFormat format_;
  std::uint64_t offset_;  // of the next piece in the input
  LineVisitor& visitor_;
  bool capture_;
  bool capturing_ = false;  // the line being captured goes on in the next piece
  std::uint64_t newlines_ = 0;
  bool sawNewline_ = false;
  bool crlf_ = false;
  std::string tail_;  // the last unit seen, and a stray byte after it
};

}  // namespace lotrix
