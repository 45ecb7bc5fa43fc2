#include "registers/register_list_text.h"

#include <charconv>

#include "platform/file.h"
#include "platform/text.h"

namespace {

bool Decimal(const std::string& s, int& value) {
  const char* first = s.data();
  const char* last = first + s.size();
  if (first != last && *first == '+') ++first;
  auto [end, error] = std::from_chars(first, last, value);
  return first != last && error == std::errc() && end == last;
}

// Hexadecimal as scanf's %x reads it: an optional "0x".
bool Hex(const std::string& s, unsigned& value) {
  size_t from = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) from = 2;
  const char* first = s.data() + from;
  const char* last = s.data() + s.size();
  auto [end, error] = std::from_chars(first, last, value, 16);
  return first != last && error == std::errc() && end == last;
}

}  // namespace

bool RegisterListText::Parse(const std::string& text, const std::string& source,
                             std::vector<RegisterListEntry>& entries, std::string& error,
                             std::vector<std::string>& warnings) {
  // Words with the line each starts on, for the messages.
  std::vector<std::pair<std::string, int>> words;
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c <= ' ') {
      if (c == '\n') ++line;
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && static_cast<unsigned char>(text[j]) > ' ') ++j;
    words.emplace_back(text.substr(i, j - i), line);
    i = j;
  }

  for (size_t w = 0; w < words.size(); w += 5) {
    const int at = words[w].second;
    const std::string where = source + ":" + std::to_string(at);
    if (w + 5 > words.size()) {
      error = where + ": an entry needs page, register, default, mask and name";
      return false;
    }
    RegisterListEntry e;
    if (!Decimal(words[w].first, e.page) || !Decimal(words[w + 1].first, e.reg) ||
        !Hex(words[w + 2].first, e.defaultValue) || !Hex(words[w + 3].first, e.mask)) {
      error = where + ": '" + words[w].first + " " + words[w + 1].first + " " + words[w + 2].first + " " +
              words[w + 3].first + "' is not page, register, default and mask";
      return false;
    }
    e.name = words[w + 4].first;
    if (e.name.size() > kMaxName) {
      warnings.push_back(where + ": the name is longer than 255 characters and is cut");
      e.name.resize(kMaxName);
    }
    if (e.page < 0 || e.page > 255 || e.reg < 0 || e.reg > 127) {
      warnings.push_back(where + ": page " + std::to_string(e.page) + ", register " + std::to_string(e.reg) +
                         " is outside the register image; skipped");
      continue;
    }
    entries.push_back(e);
  }
  return true;
}

bool RegisterListText::Read(const std::string& fileName, std::vector<RegisterListEntry>& entries, std::string& error,
                            std::vector<std::string>& warnings) {
  std::string text, problem;
  if (!platform::ReadFile(fileName, text, problem)) {
    error = platform::Cut(fileName) + ": cannot be opened: " + problem;
    return false;
  }
  return Parse(text, fileName, entries, error, warnings);
}
