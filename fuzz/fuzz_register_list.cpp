// Parses a RegisterListText from the fuzz data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registers/register_list_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<RegisterListEntry> entries;
  std::vector<std::string> warnings;
  RegisterListText::Parse(text, "fuzz.txt", entries, warnings);
  return 0;
}
