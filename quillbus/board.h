// The emulated board: codec register files behind I2C and SPI, the board
// EEPROM (kept in a file beside the board file), the controller memory, the
// board byte, and the handling of one command packet. Not thread-safe: the
// owner serialises access.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "quillbus/board_file.h"

namespace quillbus {

// Reply status at offset 3.
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusNoDevice = 0x01;     // the addressed device does not answer
constexpr uint8_t kStatusRange = 0x02;        // register, address or byte count out of range
constexpr uint8_t kStatusLength = 0x03;       // length fields inconsistent
constexpr uint8_t kStatusUnknown = 0x04;      // unknown class, operation or command byte
constexpr uint8_t kStatusInjected = 0x05;     // refused on request (QuillbusFailStatus)
constexpr uint8_t kStatusWrongDevice = 0x06;  // EEPROM command to a codec or the reverse

constexpr int kMaxPacket = 64;
constexpr uint8_t kEepromAddress = 0xA0;
constexpr size_t kEepromSize = 0x10000;
constexpr size_t kIdBlock = 0x1FE0;
constexpr size_t kIdBlockSize = 32;
constexpr size_t kAutoLoadBlock = 0x1FBC;
constexpr size_t kImageStart = 0x2000;

// One codec: books x 256 pages x 128 registers, pages allocated on first write.
class Codec {
 public:
  // Register access as the bus sees it: register 0 selects the page, and
  // register 127 of page 0 selects the book.
  void Write(uint8_t reg, uint8_t value);
  uint8_t Read(uint8_t reg) const;
  // Access to any page without changing the selection (0 and 127 of page 0
  // still mean the selection registers).
  uint8_t Get(uint8_t book, uint8_t page, uint8_t reg) const;
  void Set(uint8_t book, uint8_t page, uint8_t reg, uint8_t value);
  uint8_t Page() const { return page_; }
  uint8_t Book() const { return book_; }

 private:
  uint8_t book_ = 0;
  uint8_t page_ = 0;
  std::map<uint16_t, std::array<uint8_t, 128>> pages_;
};

class Board {
 public:
  // Loads the EEPROM from `<board file>.eeprom`, creating that file from the
  // start image or fresh when missing. Problems go to `log`.
  Board(BoardConfig config, std::vector<std::string>& log);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Handles one command of command[0] bytes (4..64) and writes the reply,
  // of the same length, to `reply`.
  void Handle(const uint8_t* command, uint8_t* reply);
  // The reply that refuses `command` with `status`.
  static void Refuse(const uint8_t* command, uint8_t* reply, uint8_t status);

  const BoardConfig& Config() const { return config_; }
  uint16_t Firmware() const { return firmware_; }
  uint32_t Rate() const { return rate_; }
  void SetRate(uint32_t rate) { rate_ = rate; }

  bool Present(uint8_t address) const { return present_.count(address) != 0; }
  void SetPresent(uint8_t address, bool present);
  // The codec at `address`, null when it does not answer.
  Codec* CodecAt(uint8_t address);
  int Selected() const { return selected_; }

  void ReadEeprom(size_t address, uint8_t* data, size_t count) const;
  void WriteEeprom(size_t address, const uint8_t* data, size_t count);
  uint8_t ControllerByte(uint16_t address) const { return controller_[address]; }
  uint8_t BoardByte() const { return boardByte_; }
  int AppIdCount() const { return appIds_; }

  // Writes a firmware image to the EEPROM's application area; a "QBFW"
  // header with a little-endian version sets the firmware version.
  bool Program(const std::vector<uint8_t>& image, std::string& message);

 private:
  uint8_t I2c(const uint8_t* command, uint8_t* reply);
  uint8_t Spi(const uint8_t* command, uint8_t* reply);
  uint8_t Registers(Codec& codec, uint8_t reg, bool write, const uint8_t* command, uint8_t* reply, int n);
  void FillStream(uint8_t* data, int n);
  void FillTouch(bool x, uint8_t* data, int n);
  // Conversions behind the codec's result registers, run as a read reaches them.
  void Convert(Codec& codec, uint8_t reg, int n);
  void Persist(size_t address, size_t count);

  BoardConfig config_;
  uint16_t firmware_;
  uint32_t rate_;
  std::set<uint8_t> present_;
  std::map<uint8_t, Codec> codecs_;
  int selected_ = -1;  // nothing selected after plug
  std::vector<uint8_t> eeprom_;
  std::vector<uint8_t> controller_;
  uint8_t boardByte_ = 0;
  int appIds_ = 0;
  uint32_t streamPhase_ = 0;
  uint32_t touchTime_ = 0;
  uint32_t sarTime_ = 0;
  uint32_t inTime_ = 0;
  uint32_t touchStatusTime_ = 0;
  int eepromFd_ = -1;
};

}  // namespace quillbus
