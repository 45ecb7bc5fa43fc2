#include "registers/register_list_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

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

void RegisterListText::Parse(const std::string& text, const std::string& source,
                             std::vector<RegisterListEntry>& entries, std::vector<std::string>& warnings) {
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

  size_t w = 0;
  while (w < words.size()) {
    const int at = words[w].second;
    const std::string where = platform::Cut(source) + ":" + std::to_string(at);
    // An entry ends at its line: one that runs short takes nothing of the next.
    size_t lineEnd = w;
    while (lineEnd < words.size() && words[lineEnd].second == at) ++lineEnd;
    const size_t have = std::min<size_t>(lineEnd - w, 4);
    RegisterListEntry e;
    bool numbers = true;
    for (size_t k = 0; k < have && numbers; ++k) {
      const std::string& word = words[w + k].first;
      numbers = k == 0 ? Decimal(word, e.page) : k == 1 ? Decimal(word, e.reg)
                : k == 2 ? Hex(word, e.defaultValue) : Hex(word, e.mask);
    }
    if (!numbers) {
      std::string fields;
      for (size_t k = 0; k < have; ++k) fields += (k ? " " : "") + words[w + k].first;
      warnings.push_back(where + ": '" + platform::Cut(fields) + "' is not page, register, default and mask; skipped");
      // Read on from the next line.
      w = lineEnd;
      continue;
    }
    if (lineEnd - w < 5) {
      warnings.push_back(where + ": an entry needs page, register, default, mask and name; skipped");
      w = lineEnd;
      continue;
    }
    e.name = words[w + 4].first;
    const size_t first = w;
    w += 5;
    if (e.name.size() > kMaxName) {
      warnings.push_back(where + ": the name is longer than 255 characters and is cut");
      e.name.resize(kMaxName);
    }
    if (e.page < 0 || e.page > 255 || e.reg < 0 || e.reg > 127) {
      warnings.push_back(where + ": page " + std::to_string(e.page) + ", register " + std::to_string(e.reg) +
                         " is outside the register image; skipped");
      continue;
    }
    const struct {
      unsigned value;
      const char* what;
      const std::string& text;
    } wide[] = {{e.defaultValue, "default", words[first + 2].first}, {e.mask, "mask", words[first + 3].first}};
    for (const auto& field : wide) {
      if (field.value <= 0xFF) continue;
      char low[8];
      std::snprintf(low, sizeof low, "0x%02X", field.value & 0xFF);
      warnings.push_back(where + ": the " + field.what + " " + platform::Cut(field.text) +
                         " is wider than 8 bits; only its low byte " + low + " is used");
    }
    entries.push_back(e);
  }
}

bool RegisterListText::Read(const std::string& fileName, std::vector<RegisterListEntry>& entries, std::string& error,
                            std::vector<std::string>& warnings) {
  std::string text, problem;
  if (!platform::ReadFile(fileName, text, problem)) {
    error = platform::Cut(fileName) + ": cannot be opened: " + problem;
    return false;
  }
  Parse(text, fileName, entries, warnings);
  return true;
}
