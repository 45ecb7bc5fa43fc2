// The register map of one codec device: the name of each register, its bit
// fields and a name for each field value. Built from a `RegisterMapXml` file
// (registers/register_map_xml.h); the command window's decoding writes its
// comments and the register inspector shows its descriptions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// One bit field of a register.
class TPlDataInfo {
 public:
  TPlDataInfo(uint8_t mask, uint8_t lowBit, const std::string& name);

  // `attributeName` holds a "b" and binary digits after it, most significant
  // first ("b0011"); leading zeros are fine. A value that does not fit the
  // field, or digits other than 0 and 1, are ignored: false, and `why` tells.
  bool AddValueName(const std::string& attributeName, const std::string& valueName, std::string* why = nullptr);
  // The name of the field's value within a whole register value, "reserved" without one.
  std::string GetValueName(int registerValue) const;
  int HighBit() const { return lowBit + width - 1; }
  int LowBit() const { return lowBit; }

  uint8_t mask;
  uint8_t width;
  uint8_t lowBit;
  std::string name;
  int valueCount;
  std::vector<std::unique_ptr<std::string>> valueNames;  // null = no name
};

// One register: its place, name and up to eight fields.
class TRegister {
 public:
  static constexpr int kMaxFields = 8;

  TRegister(uint8_t page, uint8_t reg, const std::string& name);
  TRegister(const TRegister&) = delete;
  TRegister& operator=(const TRegister&) = delete;

  // `bitRange` is "D7" or "D7-D4" (high bit first). The mask keeps the bits
  // that fall into a byte, so a field named beyond D7 covers no bits. Null
  // when the register has its eight fields already or the range is not of that form.
  TPlDataInfo* AddBitField(const std::string& bitRange, const std::string& name);
  TPlDataInfo* GetBitField(int index) const;
  int FieldCount() const { return fieldCount; }
  // Reads a bit range: false unless "D<high>" or "D<high>-D<low>" with single
  // digits and high >= low.
  static bool ParseBitRange(const std::string& bitRange, int& high, int& low);

  uint8_t page;
  uint8_t reg;
  std::string name;
  int fieldCount = 0;
  std::unique_ptr<TPlDataInfo> fields[kMaxFields];
  TRegister* next = nullptr;
};

class TRegisterDescription {
 public:
  TRegisterDescription() = default;
  // Builds the map from a RegisterMapXml file; see IsValid and Error.
  explicit TRegisterDescription(const std::string& fileName);
  ~TRegisterDescription();
  TRegisterDescription(const TRegisterDescription&) = delete;
  TRegisterDescription& operator=(const TRegisterDescription&) = delete;

  // The register at (page, register) takes the name; a new one goes to the tail.
  TRegister* FindOrAddRegister(uint8_t page, uint8_t reg, const std::string& name);
  TRegister* FindRegister(int page, int reg) const;
  TRegister* First() const { return head_; }
  int RegisterCount() const { return int(index_.size()); }

  // "#%" comment lines of the command window's decoding.
  void GetComments(std::vector<std::string>& lines, int page, int reg, int value) const;
  // The inspector's description: every field with all its values, the current one starred.
  void GetDescription(std::vector<std::string>& lines, int page, int reg, int value) const;

  // Whether the file was read; why not; what was ignored in it.
  bool IsValid() const { return valid_; }
  const std::string& Error() const { return error_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  friend class RegisterMapXmlReader;

  TRegister* head_ = nullptr;
  TRegister* tail_ = nullptr;
  std::unordered_map<int, TRegister*> index_;
  bool valid_ = true;
  std::string error_;
  std::vector<std::string> warnings_;
};
