// Parses a board file from the fuzz data and builds the board it describes,
// as a plug does; the numbers in it are also parsed on their own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quillbus/board.h"
#include "quillbus/board_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> log;
  // A directory that does not exist: the board keeps its EEPROM in memory and
  // writes no file, and relative start images are never found.
  quillbus::BoardConfig config = quillbus::ParseBoardText(text, "/nonexistent-palisar-fuzz/fuzz.board", log);
  quillbus::Board board(config, log);
  (void)board.Firmware();
  uint64_t value;
  quillbus::ParseNumber(text.substr(0, 64), 0xFFFF, value);
  quillbus::ParseNumber(text.substr(0, 64), UINT64_MAX, value);
  (void)quillbus::ToUtf16(text);
  (void)quillbus::DevicePath(text, true);
  return 0;
}
