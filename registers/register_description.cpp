#include "registers/register_description.h"

#include <bit>
#include <cstdio>

#include "registers/register_map_xml.h"

// ---- TPlDataInfo -----------------------------------------------------------------

TPlDataInfo::TPlDataInfo(uint8_t mask, uint8_t lowBit, const std::string& name)
    : mask(mask), width(uint8_t(std::popcount(mask))), lowBit(lowBit), name(name), valueCount(1 << width) {
  valueNames.resize(size_t(valueCount));
}

bool TPlDataInfo::AddValueName(const std::string& attributeName, const std::string& valueName, std::string* why) {
  auto ignore = [why](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  const size_t b = attributeName.find('b');
  if (b == std::string::npos || b + 1 == attributeName.size()) return ignore("is not b and binary digits");
  int value = 0;
  bool tooLarge = false;
  for (size_t i = b + 1; i < attributeName.size(); ++i) {
    const char c = attributeName[i];
    if (c != '0' && c != '1') return ignore("is not b and binary digits");
    // Stop growing once too large: any number of leading zeros is fine, a 1 beyond the field is not.
    if (!tooLarge) value = value * 2 + (c - '0');
    tooLarge |= value >= valueCount;
  }
  if (tooLarge) return ignore("does not fit the field");
  valueNames[size_t(value)] = std::make_unique<std::string>(valueName);
  return true;
}

std::string TPlDataInfo::GetValueName(int registerValue) const {
  const int v = (registerValue & mask) >> lowBit;
  if (v < valueCount && valueNames[size_t(v)]) return *valueNames[size_t(v)];
  return "reserved";
}

// ---- TRegister -------------------------------------------------------------------

TRegister::TRegister(uint8_t page, uint8_t reg, const std::string& name) : page(page), reg(reg), name(name) {}

bool TRegister::ParseBitRange(const std::string& bitRange, int& high, int& low) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (bitRange.size() == 2 && bitRange[0] == 'D' && digit(bitRange[1])) {
    high = low = bitRange[1] - '0';
    return true;
  }
  if (bitRange.size() == 5 && bitRange[0] == 'D' && digit(bitRange[1]) && bitRange[2] == '-' &&
      bitRange[3] == 'D' && digit(bitRange[4])) {
    high = bitRange[1] - '0';
    low = bitRange[4] - '0';
    return low <= high;
  }
  return false;
}

TPlDataInfo* TRegister::AddBitField(const std::string& bitRange, const std::string& fieldName) {
  int high, low;
  if (fieldCount >= kMaxFields || !ParseBitRange(bitRange, high, low)) return nullptr;
  // As a byte: bits beyond D7 fall away.
  const uint8_t mask = uint8_t(((1u << (high - low + 1)) - 1) << low);
  fields[fieldCount] = std::make_unique<TPlDataInfo>(mask, uint8_t(low), fieldName);
  return fields[fieldCount++].get();
}

TPlDataInfo* TRegister::GetBitField(int index) const {
  return index >= 0 && index < fieldCount ? fields[index].get() : nullptr;
}

// ---- TRegisterDescription --------------------------------------------------------

TRegisterDescription::TRegisterDescription(const std::string& fileName) { RegisterMapXmlReader::Read(fileName, *this); }

TRegisterDescription::~TRegisterDescription() {
  // Iteratively: a long list must not recurse.
  for (TRegister* r = head_; r;) {
    TRegister* next = r->next;
    delete r;
    r = next;
  }
}

TRegister* TRegisterDescription::FindRegister(int page, int reg) const {
  auto it = index_.find((page & 0xFF) << 8 | (reg & 0xFF));
  return it == index_.end() ? nullptr : it->second;
}

TRegister* TRegisterDescription::FindOrAddRegister(uint8_t page, uint8_t reg, const std::string& name) {
  if (TRegister* r = FindRegister(page, reg)) {
    r->name = name;
    return r;
  }
  auto* r = new TRegister(page, reg, name);
  if (tail_) tail_->next = r;
  else head_ = r;
  tail_ = r;
  index_[page << 8 | reg] = r;
  return r;
}

void TRegisterDescription::GetComments(std::vector<std::string>& lines, int page, int reg, int value) const {
  char data[8];
  std::snprintf(data, sizeof data, "0x%02X", value & 0xFF);
  const TRegister* r = FindRegister(page, reg);
  lines.push_back("#%Page: " + std::to_string(page) + ", Register: " + std::to_string(reg) + ":");
  lines.push_back("#%  " + (r ? r->name : std::string("reserved")) + ", Data = " + data);
  if (!r) return;
  for (int i = 0; i < r->fieldCount; ++i)
    lines.push_back("#%  " + r->fields[i]->name + ": " + r->fields[i]->GetValueName(value));
}

void TRegisterDescription::GetDescription(std::vector<std::string>& lines, int page, int reg, int value) const {
  const TRegister* r = FindRegister(page, reg);
  lines.push_back("Page: " + std::to_string(page) + ", Register: " + std::to_string(reg) + ", " +
                  (r ? r->name : std::string("reserved")) + ":");
  if (!r) return;
  for (int i = 0; i < r->fieldCount; ++i) {
    const TPlDataInfo& f = *r->fields[i];
    const int high = f.HighBit(), low = f.LowBit();
    const int bits = high - low + 1;
    lines.push_back("  " + f.name + ": D" + std::to_string(high) + "-D" + std::to_string(low));
    for (int j = 0; j < (1 << bits); ++j) {
      std::string binary;
      for (int b = bits - 1; b >= 0; --b) binary += (j >> b & 1) ? '1' : '0';
      const bool current = (value & f.mask) == (j << low);
      lines.push_back(std::string("   ") + (current ? "*" : " ") + "b" + binary + ": " + f.GetValueName(j << low));
    }
  }
}
