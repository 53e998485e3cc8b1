#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lotrix {

// How a file spells its lines: bytes in any ASCII-compatible encoding (UTF-8, GB18030,
// Latin-1, ...), possibly behind a UTF-8 byte-order mark; or UTF-16 units, little- or big-endian,
// behind their mark.
struct TextFormat {
  std::size_t markSize = 0;  // bytes of byte-order mark at the start of the file
  std::size_t unit = 1;      // bytes per code unit
  bool bigEndian = false;

  // The code unit for `ascii`, spelt in this format's bytes.
  std::string Unit(char ascii) const;
  std::string Newline() const { return Unit('\n'); }
  // Text in valid UTF-8, spelt in this format's units: as it is, or in UTF-16.
  std::string Spell(std::string_view utf8) const;
};

// Reads the format from the first bytes of a file.
TextFormat DetectFormat(std::string_view head);

// How many newline units `data` holds; `size` is a whole number of units.
std::uint64_t CountNewlines(const TextFormat& format, const char* data, std::size_t size);

// Where the first newline unit at or after `from` starts, or `size` if there is none; `from`
// and `size` are whole numbers of units.
std::size_t FindNewline(const TextFormat& format, const char* data, std::size_t from,
                        std::size_t size);

// Where the line after the `count`-th newline unit at or after `from` starts, with `count` then
// 0; or `size` if there are fewer, with `count` lowered by those there are. `from` and `size` are
// whole numbers of units.
std::size_t SkipNewlines(const TextFormat& format, const char* data, std::size_t from,
                         std::size_t size, std::uint64_t& count);

}  // namespace lotrix
