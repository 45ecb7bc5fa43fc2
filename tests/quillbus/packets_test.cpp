// Command packets and their replies, and the codec register model behind them.
#include "support.h"

namespace qbtest {
namespace {

struct Step {
  Bytes command;
  Bytes reply;
};

struct PacketCase {
  const char* name;
  std::vector<Step> steps;
};

void PrintTo(const PacketCase& c, std::ostream* os) { *os << c.name; }

const Bytes kSelect30 = Select(0x30);

std::vector<PacketCase> PacketCases() {
  const Bytes write3 = I2cWrite(0x10, {0xAA, 0xBB, 0xCC});
  const Bytes read3 = I2cRead(0x10, 3);
  const Bytes eepromWrite = EepromWrite(0x1234, {1, 2, 3, 4});
  const Bytes eepromRead = EepromRead(0x1234, 4);
  return {
      {"SelectPresent", {{{0x08, 0x12, 0x05, 0x00, 0x04, 0x00, 0x01, 0x30},
                          {0x08, 0x12, 0x05, 0x00, 0x04, 0x00, 0x01, 0x30}}}},
      {"SelectAbsent", {{{0x08, 0x12, 0x05, 0x00, 0x04, 0x00, 0x01, 0x44},
                         {0x08, 0x12, 0x05, 0x01, 0x04, 0x00, 0x01, 0x44}}}},
      {"RegisterBeforeAnySelect", {{read3, Reply(read3, 0x01)}}},
      {"RegisterOfAbsentDevice", {{Select(0x44), Reply(Select(0x44), 0x01)}, {read3, Reply(read3, 0x01)}}},
      {"RegisterWriteThenRead",
       {{kSelect30, kSelect30},
        {{0x0B, 0x12, 0x05, 0x00, 0x07, 0x02, 0x00, 0x10, 0xAA, 0xBB, 0xCC},
         {0x0B, 0x12, 0x05, 0x00, 0x07, 0x02, 0x00, 0x10, 0xAA, 0xBB, 0xCC}},
        {{0x0B, 0x12, 0x05, 0x00, 0x07, 0x03, 0x00, 0x10, 0x00, 0x00, 0x00},
         {0x0B, 0x12, 0x05, 0x00, 0x07, 0x03, 0x00, 0x10, 0xAA, 0xBB, 0xCC}}}},
      {"SecondDeviceHasItsOwnRegisters",
       {{kSelect30, kSelect30}, {write3, write3}, {Select(0x32), Select(0x32)}, {read3, read3}}},
      {"RegisterPastPageEnd", {{kSelect30, kSelect30}, {I2cRead(0x7E, 3), Reply(I2cRead(0x7E, 3), 0x02)}}},
      {"RegisterUpToPageEnd", {{kSelect30, kSelect30}, {I2cRead(0x7E, 2), I2cRead(0x7E, 2)}}},
      {"I2cCountOver48", {{kSelect30, kSelect30}, {I2cRead(0x01, 49), Reply(I2cRead(0x01, 49), 0x02)}}},
      {"LengthFieldsDisagree", {{{0x08, 0x12, 0x05, 0x00, 0x05, 0x00, 0x01, 0x30},
                                 {0x08, 0x12, 0x05, 0x03, 0x05, 0x00, 0x01, 0x30}}}},
      {"ShorterThanHeader", {{{0x06, 0x12, 0x05, 0x00, 0x02, 0x00}, {0x06, 0x12, 0x05, 0x03, 0x02, 0x00}}}},
      {"UnknownClass", {{{0x08, 0x12, 0x07, 0x00, 0x04, 0x00, 0x00, 0x00},
                         {0x08, 0x12, 0x07, 0x04, 0x04, 0x00, 0x00, 0x00}}}},
      {"UnknownI2cOperation", {{{0x08, 0x12, 0x05, 0x00, 0x04, 0x09, 0x00, 0x00},
                                {0x08, 0x12, 0x05, 0x04, 0x04, 0x09, 0x00, 0x00}}}},
      {"UnknownSpiCommand", {{SpiCommand(0xA5, 2), Reply(SpiCommand(0xA5, 2), 0x04)}}},
      {"AppId", {{{0x08, 0xFF, 0xFF, 0x00, 0x04, 0x00, 0x00, 0x12},
                  {0x08, 0xFF, 0xFF, 0x00, 0x04, 0x00, 0x00, 0x12}}}},
      {"EepromWriteThenRead",
       {{Select(0xA0), Select(0xA0)},
        {eepromWrite, eepromWrite},
        {eepromRead, Reply(eepromRead, 0x00, 10, {1, 2, 3, 4})}}},
      {"EepromPastEnd",
       {{Select(0xA0), Select(0xA0)}, {EepromRead(0xFFFE, 4), Reply(EepromRead(0xFFFE, 4), 0x02)}}},
      {"EepromUpToEnd",
       {{Select(0xA0), Select(0xA0)},
        {EepromRead(0xFFFC, 4), Reply(EepromRead(0xFFFC, 4), 0x00, 10, {0xFF, 0xFF, 0xFF, 0xFF})}}},
      {"EepromCommandToCodec", {{kSelect30, kSelect30}, {eepromRead, Reply(eepromRead, 0x06)}}},
      {"RegisterCommandToEeprom", {{Select(0xA0), Select(0xA0)}, {read3, Reply(read3, 0x06)}}},
      {"ControllerBits", {{{0x0A, 0x12, 0x04, 0x00, 0x06, 0x00, 0x00, 0x12, 0x34, 0x0F},
                           {0x0A, 0x12, 0x04, 0x00, 0x06, 0x00, 0x00, 0x12, 0x34, 0x0F}}}},
      {"ControllerBitsWrongLength", {{{0x09, 0x12, 0x04, 0x00, 0x05, 0x00, 0x00, 0x12, 0x34},
                                      {0x09, 0x12, 0x04, 0x03, 0x05, 0x00, 0x00, 0x12, 0x34}}}},
      {"BoardBitsUnknownOperation", {{{0x08, 0x12, 0x02, 0x00, 0x04, 0x02, 0x00, 0x01},
                                      {0x08, 0x12, 0x02, 0x04, 0x04, 0x02, 0x00, 0x01}}}},
  };
}

class PacketTest : public QuillbusTest, public ::testing::WithParamInterface<PacketCase> {};
using BoardStateTest = QuillbusTest;

TEST_P(PacketTest, RepliesAsExpected) {
  AddBoard("evm.board", "devices = 0x30 0x32\n");
  ASSERT_EQ(Refresh(), 1);
  const auto& steps = GetParam().steps;
  for (size_t i = 0; i < steps.size(); ++i)
    EXPECT_EQ(Exchange(0, steps[i].command), steps[i].reply) << "step " << i;
}

INSTANTIATE_TEST_SUITE_P(Commands, PacketTest, ::testing::ValuesIn(PacketCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BoardStateTest, BitCommandsAndAppIdChangeBoardState) {
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  auto bits = [](uint8_t cls, uint8_t op, Bytes tail) {
    const auto length = static_cast<uint8_t>(7 + tail.size());
    Bytes packet{length, 0x12, cls, 0x00, static_cast<uint8_t>(length - 4), op, 0x00};
    packet.insert(packet.end(), tail.begin(), tail.end());
    return packet;
  };
  const Bytes appId{0x08, 0xFF, 0xFF, 0x00, 0x04, 0x00, 0x00, 0x12};
  for (const Bytes& command : {bits(0x04, 0, {0x12, 0x34, 0x0F}), bits(0x04, 1, {0x12, 0x34, 0x05}),
                               bits(0x02, 0, {0x81}), bits(0x02, 1, {0x01}), appId, appId})
    ASSERT_EQ(Exchange(0, command), command);
  EXPECT_EQ(QuillbusGetControllerByte(0, 0x1234), 0x0A);
  EXPECT_EQ(QuillbusGetControllerByte(0, 0x1235), 0x00);
  EXPECT_EQ(QuillbusGetBoardByte(0), 0x80);
  EXPECT_EQ(QuillbusGetAppIdCount(0), 2);
}

TEST_F(BoardStateTest, PageAndBookSelectReadBack) {
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  ASSERT_EQ(Exchange(0, kSelect30), kSelect30);
  auto write = [&](uint8_t reg, Bytes data) { ASSERT_EQ(Exchange(0, I2cWrite(reg, data))[3], 0); };
  auto read = [&](uint8_t reg) { return Exchange(0, I2cRead(reg, 1)).at(8); };

  write(0, {5});
  write(10, {0x5A});
  EXPECT_EQ(read(0), 5);
  EXPECT_EQ(read(10), 0x5A);
  EXPECT_EQ(QuillbusGetSelectedPage(0, 0x30), 5);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 5, 10), 0x5A);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 6, 10), 0);

  // Book select lives on page 0; the page then addresses that book.
  write(0, {0});
  write(127, {2});
  EXPECT_EQ(read(127), 2);
  EXPECT_EQ(QuillbusGetSelectedBook(0, 0x30), 2);
  write(0, {3, 0x11, 0x22});  // the page select takes effect for the bytes after it
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 2, 3, 1), 0x11);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 2, 3, 2), 0x22);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 3, 1), 0);
  EXPECT_EQ(read(127), 0);  // only page 0 holds the book select

  ASSERT_EQ(QuillbusSetRegister(0, 0x30, 2, 3, 40, 0x99), 0);
  EXPECT_EQ(read(40), 0x99);
  EXPECT_EQ(QuillbusGetRegister(0, 0x44, 0, 0, 1), -1);
}

struct SpiCase {
  int convention;
  uint8_t writeKey;
  uint8_t readKey;
};

void PrintTo(const SpiCase& c, std::ostream* os) { *os << "convention " << c.convention; }

class SpiTest : public QuillbusTest, public ::testing::WithParamInterface<SpiCase> {};

TEST_P(SpiTest, SharesRegistersAndPageWithI2c) {
  AddBoard("evm.board", "spi-convention = " + std::to_string(GetParam().convention) + "\n");
  ASSERT_EQ(Refresh(), 1);
  // Page 4 chosen over I2C, register 0x21 written over SPI.
  ASSERT_EQ(Exchange(0, kSelect30), kSelect30);
  ASSERT_EQ(Exchange(0, I2cWrite(0, {4}))[3], 0);
  const Bytes write = SpiWrite(GetParam().writeKey, {0xC3, 0x3C});
  ASSERT_EQ(Exchange(0, write), write);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 4, 0x21), 0xC3);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 4, 0x22), 0x3C);
  const Bytes read = SpiRead(GetParam().readKey, 2);
  EXPECT_EQ(Exchange(0, read), Reply(read, 0, 8, {0xC3, 0x3C}));
}

INSTANTIATE_TEST_SUITE_P(Conventions, SpiTest,
                         ::testing::Values(SpiCase{0, 0x42, 0x43}, SpiCase{1, 0x21, 0xA1}));

TEST_F(BoardStateTest, SpiCommandReadsGiveChangingData) {
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  const Bytes first = Exchange(0, SpiCommand(0xE0, 56));
  const Bytes second = Exchange(0, SpiCommand(0xE0, 56));
  ASSERT_EQ(first.size(), 64u);
  EXPECT_EQ(first[3], 0);
  EXPECT_NE(first, second);
  for (uint8_t command : {0xD0, 0x90}) {
    Bytes touch = Exchange(0, SpiCommand(command, 8));
    ASSERT_EQ(touch.size(), 16u);
    EXPECT_EQ(touch[3], 0);
    for (size_t i = 8; i < 16; i += 2) EXPECT_LE(touch[i] << 8 | touch[i + 1], 0x0FFF);
  }
}

TEST_F(BoardStateTest, ConversionResultsFollowSelectionAndStatus) {
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  ASSERT_EQ(Exchange(0, kSelect30), kSelect30);
  auto write = [&](uint8_t reg, Bytes data) { ASSERT_EQ(Exchange(0, I2cWrite(reg, data))[3], 0); };
  auto read = [&](uint8_t reg, int count) {
    Bytes reply = Exchange(0, I2cRead(reg, count));
    EXPECT_EQ(reply.at(3), 0);
    return Bytes(reply.begin() + 8, reply.begin() + 8 + count);
  };
  auto code = [](const Bytes& bytes, size_t at) { return bytes.at(at) << 8 | bytes.at(at + 1); };

  // IN1 and temperature selected, IN2 and the battery not.
  write(0, {3});
  write(19, {0x90});
  const Bytes first = read(54, 16), second = read(54, 16);
  EXPECT_NE(code(first, 0), code(second, 0));
  for (const Bytes* results : {&first, &second}) {
    EXPECT_LE(code(*results, 0), 4095);
    EXPECT_EQ(code(*results, 2), 0);
    EXPECT_EQ(code(*results, 4), 0);
    const double kelvin = (code(*results, 14) - code(*results, 12)) / 4096.0 * 1.25 * 2633.6;
    EXPECT_GT(kelvin, 270);
    EXPECT_LT(kelvin, 330);
  }

  // Each status byte turns ready again and again, each time with new values
  // on its values page.
  struct Status {
    uint8_t page, reg, valuesPage;
  };
  for (const Status& s : {Status{103, 38, 251}, Status{3, 14, 252}}) {
    std::vector<Bytes> values;
    int busy = 0;
    for (int poll = 0; poll < 6; ++poll) {
      write(0, {s.page});
      if (read(s.reg, 1).at(0) & 0x02) {
        ++busy;
        continue;
      }
      write(0, {s.valuesPage});
      values.push_back(read(1, 32));
    }
    EXPECT_EQ(busy, 3) << int(s.page);
    ASSERT_EQ(values.size(), 3u) << int(s.page);
    for (size_t i = 1; i < values.size(); ++i)
      for (size_t at : {0, 8, 16, 20}) {
        EXPECT_NE(code(values[i], at), code(values[i - 1], at)) << int(s.page) << " " << i << " " << at;
        EXPECT_LE(code(values[i], at), 4095);
      }
  }
}

TEST_F(BoardStateTest, NoSpiBusOrNoDeviceDoesNotAnswer) {
  AddBoard("a.board", "spi = none\n");
  AddBoard("b.board", "devices = 0x30 0x34\nspi = 0x34\n");
  ASSERT_EQ(Refresh(), 2);
  ASSERT_EQ(QuillbusSetDevicePresent(1, 0x34, 0), 0);
  for (int index : {0, 1}) EXPECT_EQ(Exchange(index, SpiRead(0x03, 1))[3], 0x01) << index;
  EXPECT_EQ(Exchange(0, SpiCommand(0xE0, 4))[3], 0x01);
  EXPECT_EQ(Exchange(1, Select(0x34))[3], 0x01);
}

}  // namespace
}  // namespace qbtest
