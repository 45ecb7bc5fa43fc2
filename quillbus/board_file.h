// Board files: the small text files that describe one emulated board each.
// See docs/quillbus.md for the format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillbus {

struct BoardConfig {
  std::string file;  // absolute path of the board file
  std::string name;  // defaults to the file name without ".board"
  uint16_t firmware = 0x0100;
  uint32_t rate = 48000;
  std::vector<uint8_t> devices{0x30};  // answering I2C codec addresses (write form)
  int spiDevice = 0x30;                // codec the SPI bus reaches; -1: no SPI bus
  int spiConvention = 0;               // 0: key = reg*2 (+1 to read); 1: key = reg (|0x80 to read)
  std::string eepromImage;             // absolute path of a start image, empty for none
};

// Parses the text of a board file found at `path`. Problems never fail the
// parse: each one adds a line to `log` and leaves the default in place.
BoardConfig ParseBoardText(const std::string& text, const std::string& path,
                           std::vector<std::string>& log);

// Reads and parses a board file; false (with a log line) when it cannot be read.
bool LoadBoardFile(const std::string& path, BoardConfig& config, std::vector<std::string>& log);

// `path` made absolute (symbolic links resolved when it exists).
std::string AbsolutePath(const std::string& path);
std::string FileName(const std::string& path);

// The board's HID device path, stable for a given board file.
std::string DevicePath(const std::string& boardFile, bool network);

std::u16string ToUtf16(const std::string& utf8);

// "0x1A" or "26"; false unless the whole text is a number that fits in `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value);

}  // namespace quillbus
