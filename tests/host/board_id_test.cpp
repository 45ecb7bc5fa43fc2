// The board ID block: reading the name back and building the block Set ID writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/board_id.h"

namespace {

BoardIdBytes Block(const std::string& bytes) {
  BoardIdBytes block{};
  std::memcpy(block.data(), bytes.data(), std::min(bytes.size(), block.size()));
  return block;
}

struct NameCase {
  const char* what;
  std::string bytes;
  std::string name;
};

TEST(BoardIdTest, NameReadBackFromTheBlock) {
  const std::string name28(28, 'N');
  const NameCase cases[] = {
      {"plain name", std::string("FWIDQMX7XXXEVM\0", 15), "QMX7XXXEVM"},
      {"blanks become underscores", std::string("FWIDMy Board\0", 13), "My_Board"},
      {"no tag gives the empty name", std::string("XWIDQMX7XXXEVM\0", 15), ""},
      {"an erased EEPROM has no tag", std::string(32, '\xFF'), ""},
      {"bare tag", std::string("FWID\0", 5), ""},
      // No terminator in the 32 bytes: the name stops at the block's end.
      {"28 characters fill the block", "FWID" + name28, name28},
      {"text after the terminator is not read", std::string("FWIDAB\0CD", 9), "AB"},
  };
  for (const NameCase& c : cases) EXPECT_EQ(BoardNameFromId(Block(c.bytes)), c.name) << c.what;
}

TEST(BoardIdTest, IdTextKeepsBlanks) {
  EXPECT_EQ(BoardIdText(Block(std::string("FWIDMy Board\0", 13))), "My Board");
  EXPECT_EQ(BoardIdText(Block("N/A")), "");
}

TEST(BoardIdTest, SetIdBlockIsExactly32BytesWithTerminator) {
  const struct {
    std::string name;
    std::string kept;
  } cases[] = {
      {"QMX7XXXEVM", "QMX7XXXEVM"},
      {"", ""},
      {std::string(27, 'a'), std::string(27, 'a')},
      {std::string(28, 'b'), std::string(27, 'b')},
      {std::string(60, 'c'), std::string(27, 'c')},
  };
  for (const auto& c : cases) {
    const BoardIdBytes block = MakeBoardIdBlock(c.name);
    std::string expected = "FWID" + c.kept;
    expected.resize(kBoardIdSize, '\0');
    EXPECT_EQ(std::string(block.begin(), block.end()), expected) << c.name.size();
    // What was written is what is read back.
    EXPECT_EQ(BoardNameFromId(block), c.kept);
  }
}

}  // namespace
