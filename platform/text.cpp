#include "platform/text.h"

#include <algorithm>

namespace platform {

std::string Cut(std::string_view text, size_t limit) {
  size_t characters = 0, i = 0;
  while (i < text.size()) {
    if (characters == limit) return std::string(text.substr(0, i)) + "\xE2\x80\xA6";
    // Step over one character: its lead byte and any continuation bytes.
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    ++characters;
  }
  return std::string(text);
}

std::string Quote(std::string_view text, size_t limit) { return "\"" + Cut(text, limit) + "\""; }

std::string LineAndColumn(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;  // a continuation byte belongs to the character before it
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace platform
