// The board ID block in a board's EEPROM: the tag "FWID" and the board name.
#pragma once

#include <array>
#include <cstdint>
#include <string>

constexpr unsigned kBoardIdAddress = 0x1FE0;
constexpr unsigned kBoardIdSize = 32;
// The block ends where the application image begins (0x2000); a name, its
// terminator and the tag fill it at most.
constexpr unsigned kBoardNameMax = kBoardIdSize - 5;

using BoardIdBytes = std::array<uint8_t, kBoardIdSize>;

// The name a block read back gives: blanks become '_', a block without the
// tag gives "", and the name ends at its zero byte or at the block's end.
std::string BoardNameFromId(const BoardIdBytes& block);

// The text after the tag, unchanged (bounded like the name); "" without the tag.
std::string BoardIdText(const BoardIdBytes& block);

// The block Set ID writes: "FWID", at most 27 characters of `name`, a zero
// byte and zero padding to 32 bytes.
BoardIdBytes MakeBoardIdBlock(const std::string& name);
