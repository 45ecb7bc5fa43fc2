#include "registers/register_map_xml.h"

#include <algorithm>
#include <pugixml.hpp>

#include "platform/file.h"
#include "platform/text.h"
#include "registers/register_description.h"

namespace {

std::string LocalName(const char* name) {
  std::string s = name;
  const size_t colon = s.rfind(':');
  return colon == std::string::npos ? s : s.substr(colon + 1);
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The number in characters 2 to 4 of a page or register name ("P0", "R127").
bool NameNumber(const std::string& name, int& number) {
  const std::string digits = name.substr(name.empty() ? 0 : 1, 3);
  if (digits.empty()) return false;
  number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  return true;
}

bool IsText(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// An element holding nothing but text: a bit field.
bool IsTextOnlyElement(const pugi::xml_node& node) {
  if (node.type() != pugi::node_element) return false;
  for (pugi::xml_node child : node.children())
    if (!IsText(child)) return false;
  return true;
}

std::string NodeText(const pugi::xml_node& node) {
  if (IsText(node)) return Trim(node.value());
  return Trim(node.text().get());
}

}  // namespace

void RegisterMapXmlReader::ReadText(const std::string& text, const std::string& source, TRegisterDescription& map) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
  auto fail = [&](const std::string& reason) {
    for (TRegister* r = map.head_; r;) {
      TRegister* next = r->next;
      delete r;
      r = next;
    }
    map.head_ = map.tail_ = nullptr;
    map.index_.clear();
    map.valid_ = false;
    map.error_ = source + ": " + reason;
  };
  if (!parsed) {
    fail(std::string(parsed.description()) + " at " +
         platform::LineAndColumn(text, size_t(std::max<ptrdiff_t>(parsed.offset, 0))));
    return;
  }
  const pugi::xml_node root = document.document_element();
  if (!root) {
    fail("no document element");
    return;
  }
  auto warn = [&](const std::string& text) { map.warnings_.push_back(source + ": " + text); };

  for (pugi::xml_node pageNode : root.children()) {
    if (pageNode.type() != pugi::node_element) continue;
    const std::string pageName = LocalName(pageNode.name());
    int page;
    if (!NameNumber(pageName, page)) {
      fail("page element '" + platform::Cut(pageName) + "' carries no page number");
      return;
    }
    // Beyond a byte the number would fold onto another page.
    if (page > 255) {
      warn("page element '" + platform::Cut(pageName) + "' is outside pages 0 to 255; ignored");
      continue;
    }
    for (pugi::xml_node regNode : pageNode.children()) {
      if (regNode.type() != pugi::node_element) continue;
      const std::string regName = LocalName(regNode.name());
      int reg;
      if (!NameNumber(regName, reg)) {
        fail("register element '" + platform::Cut(regName) + "' of page " + std::to_string(page) +
             " carries no register number");
        return;
      }
      if (reg > 127) {
        warn("register element '" + platform::Cut(regName) + "' of page " + std::to_string(page) +
             " is outside registers 0 to 127; ignored");
        continue;
      }
      const std::string where = "register " + std::to_string(reg) + " of page " + std::to_string(page);

      // The register's own name is its first child that is not a bit field.
      std::string name;
      bool named = false;
      for (pugi::xml_node child : regNode.children()) {
        if (IsTextOnlyElement(child)) continue;
        name = NodeText(child);
        named = true;
        break;
      }
      if (!named) warn(where + " has no name");
      // A second listing merges into the first; say so, it is most likely a typing slip.
      if (map.FindRegister(page, reg)) warn(where + " is listed twice; its fields are merged and the later name kept");
      TRegister* r = map.FindOrAddRegister(uint8_t(page), uint8_t(reg), name);

      for (pugi::xml_node child : regNode.children()) {
        if (!IsTextOnlyElement(child)) continue;
        const std::string bitRange = LocalName(child.name());
        int high, low;
        if (!TRegister::ParseBitRange(bitRange, high, low)) {
          fail("bit field '" + platform::Cut(bitRange) + "' of " + where +
               " is not D<high> or D<high>-D<low> with the low bit at most the high bit");
          return;
        }
        TPlDataInfo* field = r->AddBitField(bitRange, NodeText(child));
        if (!field) {
          warn(where + " has more than 8 bit fields; '" + bitRange + "' is ignored");
          continue;
        }
        if (high > 7) warn("bit field " + bitRange + " of " + where + " reaches beyond D7; those bits are left out");
        for (pugi::xml_attribute a : child.attributes()) {
          const std::string attribute = LocalName(a.name());
          std::string why;
          if (!field->AddValueName(attribute, a.value(), &why))
            warn("value '" + platform::Cut(attribute) + "' of bit field " + bitRange + " of " + where + " " + why +
                 "; ignored");
        }
      }
    }
  }
}

void RegisterMapXmlReader::Read(const std::string& fileName, TRegisterDescription& map) {
  // Read the file ourselves so that a missing file and a broken one say different things.
  std::string text, problem;
  if (!platform::ReadFile(fileName, text, problem)) {
    map.valid_ = false;
    map.error_ = platform::Cut(fileName) + ": cannot be opened: " + problem;
    return;
  }
  ReadText(text, fileName, map);
}
