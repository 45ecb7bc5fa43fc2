// The `RegisterMapXml` format: the document element's children are pages,
// theirs registers, named by one character and a decimal number ("P0",
// "R27"); a register holds its name as text and one text-only element per
// bit field ("D7" or "D7-D4", the text its name), whose attributes ("b0011")
// name the field's values. Element and attribute names are taken without
// their namespace prefix.
#pragma once

#include <string>

class TRegisterDescription;

class RegisterMapXmlReader {
 public:
  // Reads `fileName` into `map` (valid, with its warnings) or marks it invalid
  // with the reason. An invalid map keeps no registers.
  static void Read(const std::string& fileName, TRegisterDescription& map);
  // The same from text in memory (`source` names it in messages).
  static void ReadText(const std::string& text, const std::string& source, TRegisterDescription& map);
};
