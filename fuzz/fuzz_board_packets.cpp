// Feeds command packets to one emulated board, as the board server and the
// library do after checking that a packet's first byte is its length (4..64).
// The fuzz data: a configuration byte, then packets, each a length byte and
// that many bytes (the length byte is the packet's first byte).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quillbus/board.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  quillbus::BoardConfig config;
  // A directory that does not exist keeps the EEPROM in memory: no file per input.
  config.file = "/nonexistent-palisar-fuzz/fuzz.board";
  config.name = "fuzz";
  const uint8_t c = data[0];
  config.spiConvention = c & 1;
  config.spiDevice = (c & 2) ? -1 : ((c & 4) ? 0x30 : 0x32);
  config.devices = {0x30, uint8_t(c & 0xF0)};
  std::vector<std::string> log;
  quillbus::Board board(config, log);

  size_t at = 1;
  uint8_t command[quillbus::kMaxPacket];
  uint8_t reply[quillbus::kMaxPacket];
  while (at < size) {
    int length = data[at];
    if (length < 4) length = 4;
    if (length > quillbus::kMaxPacket) length = quillbus::kMaxPacket;
    std::memset(command, 0, sizeof command);
    const size_t take = std::min<size_t>(size_t(length), size - at);
    std::memcpy(command, data + at, take);
    at += take;
    command[0] = uint8_t(length);
    std::memset(reply, 0xEE, sizeof reply);
    board.Handle(command, reply);
    // A reply echoes the header, carries a known status and has the command's length.
    if (std::memcmp(reply, command, 3) != 0 || reply[3] > quillbus::kStatusWrongDevice) __builtin_trap();
    for (int i = length; i < quillbus::kMaxPacket; ++i)
      if (reply[i] != 0xEE) __builtin_trap();
  }
  return 0;
}
