// Reads a RegisterMapXml document from the fuzz data and asks the map for
// comments and descriptions at a few places taken from the map and the data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registers/register_description.h"
#include "registers/register_map_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TRegisterDescription map;
  RegisterMapXmlReader::ReadText(text, "fuzz.xml", map);
  std::vector<std::string> lines;
  const int value = size ? data[size - 1] : 0;
  int visited = 0;
  for (TRegister* r = map.First(); r && visited < 64; r = r->next, ++visited) {
    for (int v : {0, 0xFF, value, -1, 0x1234}) {
      lines.clear();
      map.GetComments(lines, r->page, r->reg, v);
      map.GetDescription(lines, r->page, r->reg, v);
    }
    for (int i = -1; i <= TRegister::kMaxFields; ++i) {
      if (TPlDataInfo* f = r->GetBitField(i)) (void)f->GetValueName(value);
    }
  }
  for (int page : {0, 1, 255, 256, -1}) {
    for (int reg : {0, 1, 127, 128, -1}) {
      lines.clear();
      map.GetComments(lines, page, reg, value);
      map.GetDescription(lines, page, reg, value);
    }
  }
  return 0;
}
