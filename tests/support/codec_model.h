// A model of the codecs' page and book registers that replays a board's
// packet trace and names every register write the codecs took: device,
// book, page, register and value. Tests of register traffic check with it
// that each write sits on the page its writer meant, whatever else the
// board was doing between.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct CodecWrite {
  int device = 0, book = 0, page = 0, reg = 0, value = 0;
  bool operator==(const CodecWrite& o) const {
    return device == o.device && book == o.book && page == o.page && reg == o.reg && value == o.value;
  }
};
std::string ToString(const CodecWrite& w);  // "30 b0 p1 r05 = 55"

class CodecModel {
 public:
  // Where a device stands when the replay starts (0, 0 otherwise).
  void Start(int device, int book, int page);
  // The SPI bus reaches this codec with this key convention (0 or 1).
  void UseSpi(int device, int convention = 0);
  // Replays trace lines of board `board` ("0 > 08 12 ..." and "0 < ..."):
  // a command takes effect when its reply says done.
  void Replay(const std::vector<std::string>& traceLines, int board = 0);

  // Every register byte written, page and book selects included, in order.
  const std::vector<CodecWrite>& Writes() const { return writes_; }
  // The writes other than page and book selects.
  std::vector<CodecWrite> DataWrites() const;
  int Page(int device) const;
  int Book(int device) const;

 private:
  struct Place {
    int book = 0, page = 0;
  };
  void Apply(const std::vector<uint8_t>& command);
  void Write(int device, int reg, const uint8_t* data, int count);

  std::map<int, Place> places_;
  std::vector<CodecWrite> writes_;
  int selected_ = -1;  // the I2C device the bus has selected
  int spiDevice_ = -1, spiConvention_ = 0;
  std::vector<uint8_t> pending_;
};

}  // namespace testsupport
