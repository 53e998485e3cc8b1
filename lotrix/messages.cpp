#include "messages.h"

#include <cstddef>

namespace lotrix {
namespace {

// A character of a name, or one byte that starts no valid UTF-8 (size 1, valid false).
struct Character {
  char32_t point = 0;
  std::size_t size = 1;
  bool valid = false;
};

// Strict UTF-8: overlong forms and surrogates are no characters, as a terminal would show them
// as something else than their bytes.
Character CharacterAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t size = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
  } else {
    return {};
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const char32_t least = kLeast[size];
  char32_t point = lead & (0x7Fu >> size);
  if (text.size() - at < size) return {};
  for (std::size_t i = 1; i < size; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {};
    point = (point << 6) | (byte(at + i) & 0x3F);
  }
  if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return {};
  return {point, size, true};
}

// Characters that show nothing or change how the rest of the line shows: controls (C0, DEL, C1),
// breaks of line and paragraph, the marks that embed, override or isolate a direction (which
// would turn the rest of the message around), and the invisible spaces and joiners that make two
// names look alike. The joiners that Persian or emoji need are left alone.
bool Hidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200B || c == 0x2028 || c == 0x2029 ||
         (c >= 0x202A && c <= 0x202E) || c == 0x2060 || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// Spaces other than the controls: at either end of a name they are what a paste brings along.
bool Blank(char32_t c) {
  return c == ' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

void AppendHex(std::string& out, unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::string Quoted(std::string_view name) {
  if (name.empty()) return "''";  // nothing at all would leave the message without its subject
  bool plain = true;
  char32_t first = 0;
  char32_t last = 0;
  for (std::size_t at = 0; plain && at < name.size();) {
    const Character c = CharacterAt(name, at);
    plain = c.valid && !Hidden(c.point);
    if (at == 0) first = c.point;
    last = c.point;
    at += c.size;
  }
  if (plain && !Blank(first) && !Blank(last)) return std::string(name);

  // Every escape has a fixed number of digits, so that a digit after it stays a character.
  std::string out = "$'";
  for (std::size_t at = 0; at < name.size();) {
    const Character c = CharacterAt(name, at);
    const std::string_view bytes = name.substr(at, c.size);
    at += c.size;
    if (!c.valid || (c.point < 0x80 && Hidden(c.point))) {
      switch (c.valid ? c.point : 0) {
        case '\n':
          out += "\\n";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\r':
          out += "\\r";
          break;
        case 0x1B:
          out += "\\e";
          break;
        default:
          out += "\\x";
          AppendHex(out, static_cast<unsigned char>(bytes.front()), 2);
      }
    } else if (c.point == '\'' || c.point == '\\') {
      out += '\\';
      out += static_cast<char>(c.point);
    } else if (c.point >= 0x80 && (Hidden(c.point) || Blank(c.point))) {
      // As the character, not its bytes: \u gives them back in a UTF-8 shell.
      out += "\\u";
      AppendHex(out, c.point, 4);
    } else {
      out += bytes;
    }
  }
  return out += '\'';
}

}  // namespace lotrix
