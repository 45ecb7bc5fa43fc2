#include "registers/evm_applications_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void PutBE16(uint8_t* at, unsigned value) {
  at[0] = uint8_t(value >> 8);
  at[1] = uint8_t(value);
}

unsigned BE16(const uint8_t* at) { return unsigned(at[0]) << 8 | at[1]; }

std::string NameOf(const uint8_t* field) {
  return std::string(reinterpret_cast<const char*>(field),
                     strnlen(reinterpret_cast<const char*>(field), EVMScriptImage::kNameSize));
}

// Errors name an application as the image stores it.
std::string StoredName(const std::string& name) { return name.substr(0, EVMScriptImage::kNameSize); }

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

// ---- script blocks ----------------------------------------------------------------------

void EVMScriptImage::SetName(const std::string& name) {
  std::memset(name_, 0, sizeof name_);
  std::memcpy(name_, name.data(), std::min(name.size(), sizeof name_));
}

std::string EVMScriptImage::Name() const { return NameOf(name_); }

bool EVMScriptImage::AddWrite(int device, int reg, const uint8_t* data, int count) {
  if (count <= 0) return true;
  const int pieces = (count + kMaxRecordData - 1) / kMaxRecordData;
  if (Length() + count + pieces * kRecordHead > kRecordArea) return false;
  for (int done = 0; done < count; done += kMaxRecordData) {
    const int n = std::min(kMaxRecordData, count - done);
    const uint8_t head[kRecordHead] = {0x00, uint8_t(device), uint8_t(reg + done), uint8_t(n)};
    AddRecord(head, data + done);
  }
  return true;
}

bool EVMScriptImage::AddRecord(const uint8_t* head, const uint8_t* data) {
  const int n = head[3];
  if (Length() + kRecordHead + n > kRecordArea) return false;
  records_.insert(records_.end(), head, head + kRecordHead);
  records_.insert(records_.end(), data, data + n);
  ++count_;
  return true;
}

void EVMScriptImage::Clear() {
  records_.clear();
  count_ = 0;
}

void EVMScriptImage::AppendBlock(std::vector<uint8_t>& out) const {
  out.insert(out.end(), name_, name_ + kNameSize);
  out.push_back(uint8_t(count_ >> 8));
  out.push_back(uint8_t(count_));
  out.insert(out.end(), records_.begin(), records_.end());
}

// ---- layout -----------------------------------------------------------------------------

bool EEPROMApplicationImage::Build(const std::vector<EVMApplicationLayout>& applications,
                                   std::vector<uint8_t>& image, std::string& error) {
  const size_t n = applications.size();
  if (n > size_t(kMaxApplications)) {
    error = "Application '" + StoredName(applications[kMaxApplications].name) +
            "' is one too many: an image holds at most 8 applications.";
    return false;
  }
  // Addresses are counted wide, so an image past the EEPROM's end is seen, not wrapped.
  const size_t room = kEnd - kBase;
  size_t end = 1 + 2 * n;
  for (const EVMApplicationLayout& a : applications) {
    if (a.scripts.size() > size_t(kMaxScripts)) {
      error = "Script '" + a.scripts[kMaxScripts]->Name() + "' of application '" + StoredName(a.name) +
              "' is one too many: an application holds at most 8 scripts.";
      return false;
    }
    end += kApplicationHead + 2 * a.scripts.size();
  }
  const size_t firstScript = end;
  for (const EVMApplicationLayout& a : applications)
    for (const EVMScriptImage* s : a.scripts) {
      end += size_t(s->BlockSize());
      if (end > room) {
        error = "Script '" + s->Name() + "' of application '" + StoredName(a.name) +
                "' is too large: the image passes the end of the EEPROM at 0xFFFF (" +
                Format("%u bytes fit from 0x2000).", unsigned(room));
        return false;
      }
    }
  if (end > room) {
    error = Format("The image is too large: %u bytes, %u fit from 0x2000.", unsigned(end), unsigned(room));
    return false;
  }

  std::vector<uint8_t> out(firstScript, 0);
  out[0] = uint8_t(n);
  unsigned applicationAt = kBase + 1 + 2 * unsigned(n);
  unsigned scriptAt = kBase + unsigned(firstScript);
  for (size_t p = 0; p < n; ++p) {
    const EVMApplicationLayout& a = applications[p];
    PutBE16(&out[1 + 2 * p], applicationAt);
    uint8_t* block = &out[applicationAt - kBase];
    std::memcpy(block, a.name.data(), std::min(a.name.size(), size_t(EVMScriptImage::kNameSize)));
    block[EVMScriptImage::kNameSize] = uint8_t(a.scripts.size());
    for (size_t s = 0; s < a.scripts.size(); ++s) {
      PutBE16(block + kApplicationHead + 2 * s, scriptAt);
      scriptAt += unsigned(a.scripts[s]->BlockSize());
    }
    applicationAt += kApplicationHead + 2 * unsigned(a.scripts.size());
  }
  out.reserve(end);
  for (const EVMApplicationLayout& a : applications)
    for (const EVMScriptImage* s : a.scripts) s->AppendBlock(out);
  image = std::move(out);
  return true;
}

// ---- reading ----------------------------------------------------------------------------

EEPROMApplicationImage::ReadResult EEPROMApplicationImage::Read(const Reader& read, const Progress& progress) {
  ReadResult result;
  auto get = [&](uint8_t* buffer, unsigned address, unsigned count) {
    if (read(buffer, address, count)) return true;
    result.failed = true;
    result.error = Format("Reading the EVM applications failed at EEPROM address 0x%04X.", address);
    return false;
  };

  uint8_t head[1 + 2 * kMaxApplications];
  if (!get(head, kBase, 1)) return result;
  const int n = head[0];
  if (n > kMaxApplications) return result;
  if (n > 0 && !get(head + 1, kBase + 1, 2 * unsigned(n))) return result;

  for (int p = 0; p < n; ++p) {
    const unsigned block = BE16(head + 1 + 2 * p);
    uint8_t field[kApplicationHead];
    if (!get(field, block, kApplicationHead)) return result;
    std::string name = NameOf(field);
    if (name.empty()) name = Format("Application #%d", unsigned(p));
    const int scripts = field[EVMScriptImage::kNameSize];
    if (scripts > kMaxScripts) return result;
    result.applications.push_back({name, {}});
    EVMApplicationRead& application = result.applications.back();
    uint8_t pointers[2 * kMaxScripts];
    if (scripts > 0 && !get(pointers, block + kApplicationHead, 2 * unsigned(scripts))) return result;

    for (int s = 0; s < scripts; ++s) {
      const unsigned at = BE16(pointers + 2 * s);
      uint8_t scriptHead[EVMScriptImage::kHeadSize];
      if (!get(scriptHead, at, EVMScriptImage::kNameSize)) return result;
      std::string scriptName = NameOf(scriptHead);
      if (scriptName.empty()) scriptName = Format("Script #%d", unsigned(s));
      application.scripts.push_back({scriptName, {}});
      EVMScriptImage& image = application.scripts.back().image;
      image.SetName(NameOf(scriptHead));
      if (!get(scriptHead + EVMScriptImage::kNameSize, at + EVMScriptImage::kNameSize, 2)) return result;
      const int records = int(BE16(scriptHead + EVMScriptImage::kNameSize));

      auto partly = [&] {
        result.warnings.push_back("Script '" + scriptName + "' of application '" + name + "' was read only in part: " +
                                  Format("%u of %u records.", unsigned(image.Count()), unsigned(records)));
      };
      if (records > EVMScriptImage::kRecordArea) {
        partly();
        return result;
      }
      unsigned address = at + EVMScriptImage::kHeadSize;
      for (int k = 0; k < records; ++k) {
        if (progress) progress(p, n, s, scripts, k, records);
        uint8_t recordHead[EVMScriptImage::kRecordHead];
        uint8_t data[EVMScriptImage::kMaxRecordData];
        if (image.Length() + EVMScriptImage::kRecordHead > EVMScriptImage::kRecordArea) {
          partly();
          break;
        }
        if (!get(recordHead, address, EVMScriptImage::kRecordHead)) {
          partly();
          return result;
        }
        if (image.Length() + EVMScriptImage::kRecordHead + recordHead[3] > EVMScriptImage::kRecordArea) {
          partly();
          break;
        }
        if (recordHead[3] > 0 && !get(data, address + EVMScriptImage::kRecordHead, recordHead[3])) {
          partly();
          return result;
        }
        image.AddRecord(recordHead, data);
        address += EVMScriptImage::kRecordHead + recordHead[3];
      }
    }
  }
  return result;
}

// ---- exports ----------------------------------------------------------------------------

std::string EEPROMApplicationImage::CHeader(const std::vector<uint8_t>& image) {
  std::string text = "#ifndef __EVM_APPS\r\n#define __EVM_APPS\r\n\r\nconst unsigned char pEEPROM[] = \r\n{";
  char value[8];
  for (size_t i = 0; i < image.size(); ++i) {
    if (i % 16 == 0) text += "\r\n  ";
    std::snprintf(value, sizeof value, "0x%02X", image[i]);
    text += value;
    if (i + 1 < image.size()) text += ", ";
  }
  text += "\r\n};\r\n#endif\r\n";
  return text;
}

bool EEPROMApplicationImage::IntelHex(const std::vector<uint8_t>& image, unsigned start, std::string& text,
                                      std::string& error) {
  // No extended-address records: the addresses must stay within 16 bits.
  if (size_t(start) + image.size() > kEnd) {
    error = Format("The image of %u bytes at 0x%04X passes address 0xFFFF.", unsigned(image.size()), start);
    return false;
  }
  text.clear();
  char part[16];
  for (size_t at = 0; at < image.size(); at += 16) {
    const unsigned count = unsigned(std::min<size_t>(16, image.size() - at));
    const unsigned address = start + unsigned(at);
    unsigned sum = count + (address >> 8) + (address & 0xFF);
    std::snprintf(part, sizeof part, ":%02X%04X00", count, address);
    text += part;
    for (unsigned i = 0; i < count; ++i) {
      std::snprintf(part, sizeof part, "%02X", image[at + i]);
      text += part;
      sum += image[at + i];
    }
    std::snprintf(part, sizeof part, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += part;
  }
  text += ":00000001FF\r\n";
  return true;
}

// ---- auto-load block --------------------------------------------------------------------

bool AutoLoadBlock::Tagged(const uint8_t* block) { return std::memcmp(block, "FP_", 3) == 0; }

bool AutoLoadBlock::Enabled(const uint8_t* block) { return (block[3] & 0x03) != 0; }

void AutoLoadBlock::SetEnabled(uint8_t* block, bool on) {
  block[3] = on ? uint8_t(block[3] | 0x03) : uint8_t(block[3] & ~0x03);
}
