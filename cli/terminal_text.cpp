// Control characters of names and messages made visible for the terminal (see terminal_text.h).
#include "cli/terminal_text.h"

#include <cstdio>

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += '^';
      out += static_cast<char>(c ^ 0x40);  // ESC -> "[", BEL -> "G", DEL -> "?"
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // U+0080..U+009F: CSI (U+009B) and its kin act like ESC sequences on many terminals.
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      out += code;
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
