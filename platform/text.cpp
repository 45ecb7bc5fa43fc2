#include "platform/text.h"

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

}  // namespace platform
