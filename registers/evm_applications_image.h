// The application image that an evaluation board keeps in its EEPROM from
// 0x2000 upward: named applications, each a list of named scripts, each a
// list of recorded register writes. This is the window-free part of the
// EEPROM application editor: the script blocks, the layout of a tree into an
// image, the reader that turns an image back into a tree, the auto-load flag
// block, and the C header and Intel HEX texts of an image.
//
// Layout (every 16-bit number big-endian, every pointer an absolute address):
//   head         N (1 byte, 0..8), N application pointers
//   application  name (16 bytes, zero-padded), S (1 byte, 0..8), S script pointers
//   script       name (16 bytes), C (2 bytes), C records back to back (<= 8192 bytes)
//   record       0x00, device, first register, L, L data bytes
// The head comes first, then every application block, then every script
// block in tree order, without gaps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One script block: its name field, its record count and its records.
class EVMScriptImage {
 public:
  static constexpr int kNameSize = 16;
  static constexpr int kHeadSize = kNameSize + 2;
  static constexpr int kRecordArea = 8192;
  static constexpr int kRecordHead = 4;
  // A record's length field is one byte.
  static constexpr int kMaxRecordData = 255;

  // The first 16 characters of `name`, zero-padded.
  void SetName(const std::string& name);
  // The name field up to its first zero (at most 16 characters).
  std::string Name() const;

  // Appends one register write as records of at most 255 data bytes each.
  // False, with nothing appended, when they would pass the record area.
  bool AddWrite(int device, int reg, const uint8_t* data, int count);
  // Appends one stored record (its 4 header bytes and the data they count).
  bool AddRecord(const uint8_t* head, const uint8_t* data);
  void Clear();

  // Bytes of records and number of records.
  int Length() const { return int(records_.size()); }
  int Count() const { return count_; }
  const std::vector<uint8_t>& Records() const { return records_; }
  // Size of the stored block: name, count and records.
  int BlockSize() const { return kHeadSize + Length(); }
  // Appends the stored block to `out`.
  void AppendBlock(std::vector<uint8_t>& out) const;

 private:
  uint8_t name_[kNameSize] = {};
  int count_ = 0;
  std::vector<uint8_t> records_;
};

// One application of a tree to lay out: its name and its scripts in order.
struct EVMApplicationLayout {
  std::string name;
  std::vector<const EVMScriptImage*> scripts;
};

// An application read back from an image.
struct EVMApplicationRead {
  struct Script {
    std::string name;  // the node text ("Script #s" for an empty name)
    EVMScriptImage image;
  };
  std::string name;  // the node text ("Application #p" for an empty name)
  std::vector<Script> scripts;
};

struct EEPROMApplicationImage {
  static constexpr unsigned kBase = 0x2000;
  // The EEPROM's addresses are 16 bits wide.
  static constexpr unsigned kEnd = 0x10000;
  static constexpr int kMaxApplications = 8;
  static constexpr int kMaxScripts = 8;
  static constexpr int kApplicationHead = EVMScriptImage::kNameSize + 1;

  // Lays `applications` out as an image from 0x2000. False, with `error`
  // set and `image` untouched, when the tree does not fit: more than 8
  // applications or scripts, or an image that passes the end of the EEPROM.
  static bool Build(const std::vector<EVMApplicationLayout>& applications, std::vector<uint8_t>& image,
                    std::string& error);

  // Reads `count` bytes at an EEPROM address; false when the read failed.
  using Reader = std::function<bool(uint8_t* buffer, unsigned address, unsigned count)>;
  // Before record `record` of `records` of script `script` of `scripts` of
  // application `application` of `applications`.
  using Progress = std::function<void(int application, int applications, int script, int scripts, int record,
                                      int records)>;
  struct ReadResult {
    std::vector<EVMApplicationRead> applications;
    // A read of the EEPROM failed; `error` says where. What was read stays.
    bool failed = false;
    std::string error;
    // Scripts whose records end early (they keep the records read).
    std::vector<std::string> warnings;
  };
  // Reads an image back into a tree. A head, application or script count out
  // of range ends the reading where it is, keeping what was read.
  static ReadResult Read(const Reader& read, const Progress& progress = {});

  // The C header text of an image, each line ending in CR LF.
  static std::string CHeader(const std::vector<uint8_t>& image);
  // The Intel HEX text of an image placed at `start` (data records of 16
  // bytes and the end record, each line ending in CR LF). False, with
  // `error` set, when the image would pass address 0xFFFF.
  static bool IntelHex(const std::vector<uint8_t>& image, unsigned start, std::string& text, std::string& error);
};

// The board controller's auto-load block at 0x1FBC: "FP_" and a flag byte
// whose bits 0 and 1 make the controller load the applications at power-up.
struct AutoLoadBlock {
  static constexpr unsigned kAddress = 0x1FBC;
  static constexpr int kSize = 4;
  static bool Tagged(const uint8_t* block);
  static bool Enabled(const uint8_t* block);
  // Sets or clears bits 0 and 1; the board's other bits stay.
  static void SetEnabled(uint8_t* block, bool on);
};
