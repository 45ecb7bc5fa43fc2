// Register transport: packets, splitting, page and book selects, SPI keys,
// range refusals, retries and re-acquiring, against an emulated board.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/link/link_fixture.h"

namespace {

std::string I2CWriteHex(int reg, const std::vector<int>& data) {
  std::vector<int> b = {int(data.size()) + 8, 0x12, 0x05, 0x00, int(data.size()) + 4, 0x02, 0x00, reg};
  b.insert(b.end(), data.begin(), data.end());
  return Hex(b);
}

std::string I2CReadHex(int reg, int n) {
  std::vector<int> b = {n + 8, 0x12, 0x05, 0x00, n + 4, 0x03, 0x00, reg};
  b.resize(b.size() + n, 0);
  return Hex(b);
}

// Every reply refused until `AnswerAgain`: a refused select is sent once more, so one refusal is not enough.
void RefuseEveryReply() { QuillbusFailStatus(0, 1000); }
void AnswerAgain() { QuillbusFailStatus(0, 0); }

std::vector<int> Bytes(const HIDCommandPacket& p) { return std::vector<int>(p.bytes, p.bytes + p.bytes[0]); }

struct Recorded {
  unsigned address, book, page, reg, count;
  int first;
};

void RecordWrite(void* context, const uint8_t* data, unsigned address, unsigned book, unsigned page, unsigned reg,
                 unsigned count) {
  static_cast<std::vector<Recorded>*>(context)->push_back({address, book, page, reg, count, count ? data[0] : -1});
}

}  // namespace

TEST(PacketTest, BuildersGiveTheWireBytes) {
  const uint8_t d[] = {0xAA, 0xBB};
  struct Case {
    HIDCommandPacket packet;
    std::vector<int> bytes;
  } cases[] = {
      {HIDCommandPacket::I2CSelect(0xA0), {0x08, 0x12, 0x05, 0x00, 0x04, 0x00, 0x01, 0xA0}},
      {HIDCommandPacket::AppID(), {0x08, 0xFF, 0xFF, 0x00, 0x04, 0x00, 0x00, 0x12}},
      {HIDCommandPacket::I2CWrite(0x05, d, 2), {0x0A, 0x12, 0x05, 0x00, 0x06, 0x02, 0x00, 0x05, 0xAA, 0xBB}},
      {HIDCommandPacket::I2CRead(0x05, 2), {0x0A, 0x12, 0x05, 0x00, 0x06, 0x03, 0x00, 0x05, 0x00, 0x00}},
      {HIDCommandPacket::SPIWrite(0x20, d, 1), {0x09, 0x12, 0x06, 0x00, 0x05, 0x00, 0x00, 0x20, 0xAA}},
      {HIDCommandPacket::SPIRead(0x21, 1), {0x09, 0x12, 0x06, 0x00, 0x05, 0x01, 0x00, 0x21, 0x00}},
      {HIDCommandPacket::SPICommandRead(0xD0, 2), {0x0A, 0x12, 0x06, 0x00, 0x06, 0x04, 0x00, 0xD0, 0x00, 0x00}},
      {HIDCommandPacket::EEPROMWrite(0x2030, d, 2),
       {0x0C, 0x12, 0x05, 0x00, 0x08, 0x04, 0x00, 0x00, 0x20, 0x30, 0xAA, 0xBB}},
      {HIDCommandPacket::ControllerBits(0xFFB1, 0x10, false),
       {0x0A, 0x12, 0x04, 0x00, 0x06, 0x01, 0x00, 0xFF, 0xB1, 0x10}},
      {HIDCommandPacket::BoardBits(0x03, true), {0x08, 0x12, 0x02, 0x00, 0x04, 0x00, 0x00, 0x03}},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(Bytes(c.packet)), Hex(c.bytes));

  std::vector<int> idRead = {0x2A, 0x12, 0x05, 0x00, 0x26, 0x05, 0x00, 0x00, 0x1F, 0xE0};
  idRead.resize(42, 0);
  EXPECT_EQ(Hex(Bytes(HIDCommandPacket::EEPROMRead(0x1FE0, 32))), Hex(idRead));
  // More data than a packet carries is cut to the packet, never past its 64 bytes.
  uint8_t big[100] = {};
  EXPECT_EQ(HIDCommandPacket::I2CWrite(0, big, 100).Length(), 56);
  EXPECT_EQ(HIDCommandPacket::SPICommandRead(0xE0, 100).Length(), 64);
}

TEST(PacketTest, SpiKeysOfBothConventions) {
  EXPECT_EQ(HIDCommandPacket::SPIWriteKey(0, 0x10), 0x20);
  EXPECT_EQ(HIDCommandPacket::SPIReadKey(0, 0x10), 0x21);
  EXPECT_EQ(HIDCommandPacket::SPIWriteKey(1, 0x10), 0x10);
  EXPECT_EQ(HIDCommandPacket::SPIReadKey(1, 0x10), 0x90);
}

using TransportTest = LinkFixture;

TEST_F(TransportTest, SlotsAndImages) {
  TUSBI2C& l = *link_;
  l.AddDevice(0x30, 0, 256);
  l.AddDevice(0x32, 2, 256);
  l.AddDevice(0x34, 0, 0);
  EXPECT_EQ(l.GetImageSize(0x30), 0x8000u);
  EXPECT_EQ(l.GetImageSize(0x32), 0x10000u);
  EXPECT_EQ(l.GetImageSize(0x34), 128u);
  EXPECT_EQ(l.FindDevice(0x34), 2);
  EXPECT_EQ(l.FindDevice(0x40), -1);
  EXPECT_EQ(l.FindDevice(0), -1);
  EXPECT_EQ(l.GetRegisterImage(0x40, 0, 0, 0), nullptr);
  // Every place outside an image is refused rather than pointed at.
  EXPECT_EQ(l.GetRegisterImage(0x34, 0, 1, 0), nullptr);
  EXPECT_EQ(l.GetRegisterImage(0x34, 0, 0, 128), nullptr);
  EXPECT_EQ(l.GetRegisterImage(0x30, 1, 0, 0), nullptr);
  EXPECT_EQ(l.GetRegisterImage(0x32, 2, 0, 0), nullptr);
  EXPECT_EQ(l.GetRegisterImage(0x32, 1, 255, 127) - l.GetRegisterImage(0x32, 0, 0, 0), 0xFFFF);
  for (int i = 3; i < 17; ++i) l.AddDevice(0x50 + 2 * i, 0, 0);
  EXPECT_EQ(l.GetDeviceCount(), 16);
  EXPECT_EQ(l.FindDevice(0x50 + 2 * 16), -1);
}

TEST_F(TransportTest, FullPageWriteIsSplitWithOnePageSelect) {
  link_->AddDevice(0x30, 0, 256);
  uint8_t data[128];
  for (int i = 0; i < 128; ++i) data[i] = uint8_t(i == 0 ? 0 : i);
  ASSERT_TRUE(link_->WriteRegisters(data, 0x30, 0, 0, 0, 128));
  std::vector<int> a(data, data + 48), b(data + 48, data + 96), c(data + 96, data + 128);
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0x30), I2CWriteHex(0, {0}), SelectHex(0x30),
                                                  I2CWriteHex(0, a), SelectHex(0x30), I2CWriteHex(48, b),
                                                  SelectHex(0x30), I2CWriteHex(96, c)}));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 127), 127);
}

TEST_F(TransportTest, PageSelectsFollowTheCache) {
  link_->AddDevice(0x30, 0, 256);
  link_->AddDevice(0x32, 0, 256);
  const uint8_t five = 5, v = 0x11;
  ASSERT_TRUE(link_->WriteRegisters(&five, 0x30, 0, 0, 0, 1));
  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 5, 10, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0x30), I2CWriteHex(10, {0x11})}));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 5, 10), 0x11);

  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 2, 1, 1));
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x32, 0, 2, 1, 1));
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 2, 1, 1));
  const std::string p2 = I2CWriteHex(0, {2}), d = I2CWriteHex(1, {0x11});
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0x30), p2, SelectHex(0x30), d, SelectHex(0x32), p2,
                                                  SelectHex(0x32), d, SelectHex(0x30), p2, SelectHex(0x30), d}));
}

TEST_F(TransportTest, BookSwitchSequenceForWritesAndReads) {
  link_->AddDevice(0x30, 4, 256);
  std::vector<Recorded> writes;
  link_->SetWriteCallback(&writes, RecordWrite);
  const uint8_t v = 0x42;
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 0, 3, 1));  // settles page 0 of book 0
  writes.clear();
  Mark();
  // Same page, new book: page 0, book, page, then the data.
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 2, 0, 3, 1));
  const std::string s = SelectHex(0x30);
  EXPECT_EQ(Commands(), (std::vector<std::string>{s, I2CWriteHex(0, {0}), s, I2CWriteHex(127, {2}), s,
                                                  I2CWriteHex(0, {0}), s, I2CWriteHex(3, {0x42})}));
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[1].reg, 127u);
  EXPECT_EQ(writes[1].first, 2);
  EXPECT_EQ(writes[3].reg, 3u);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 2, 0, 3), 0x42);

  // Page and book both change: the page select carries the book switch.
  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 1, 7, 9, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{s, I2CWriteHex(0, {0}), s, I2CWriteHex(127, {1}), s,
                                                  I2CWriteHex(0, {7}), s, I2CWriteHex(0, {7}), s,
                                                  I2CWriteHex(9, {0x42})}));
  EXPECT_EQ(link_->GetBook(0x30), 1u);
  EXPECT_EQ(link_->GetPage(0x30), 7u);

  // A read that changes the book (same page) selects the same way.
  Mark();
  uint8_t r = 0;
  ASSERT_TRUE(link_->ReadRegisters(&r, 0x30, 2, 7, 9, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{s, I2CWriteHex(0, {0}), s, I2CWriteHex(127, {2}), s,
                                                  I2CWriteHex(0, {7}), s, I2CReadHex(9, 1)}));
  // Page and book both change on a read: the page select carries the book switch.
  Mark();
  ASSERT_TRUE(link_->ReadRegisters(&r, 0x30, 1, 4, 9, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{s, I2CWriteHex(0, {0}), s, I2CWriteHex(127, {1}), s,
                                                  I2CWriteHex(0, {4}), s, I2CWriteHex(0, {4}), s,
                                                  I2CReadHex(9, 1)}));
}

TEST_F(TransportTest, BookCacheIgnoresRegister127OfOtherPages) {
  link_->AddDevice(0x30, 2, 256);
  const uint8_t v = 1;
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 5, 127, 1));
  EXPECT_EQ(link_->GetBook(0x30), 0u);
  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 1, 5, 2, 1));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 1, 5, 2), 1);
}

TEST_F(TransportTest, SpiAddressesUseTheirKeys) {
  const uint8_t v = 0x5A;
  uint8_t r = 0;
  ASSERT_TRUE(link_->WriteRegisters(&v, 0, 0, 0, 0x10, 1));
  ASSERT_TRUE(link_->ReadRegisters(&r, 0, 0, 0, 0x10, 1));
  ASSERT_TRUE(link_->WriteRegisters(&v, 1, 0, 0, 0x10, 1));
  ASSERT_TRUE(link_->ReadRegisters(&r, 1, 0, 0, 0x10, 1));
  auto c = Commands();
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0], Hex({0x09, 0x12, 0x06, 0x00, 0x05, 0x00, 0x00, 0x20, 0x5A}));
  EXPECT_EQ(c[1], Hex({0x09, 0x12, 0x06, 0x00, 0x05, 0x01, 0x00, 0x21, 0x00}));
  EXPECT_EQ(c[2], Hex({0x09, 0x12, 0x06, 0x00, 0x05, 0x00, 0x00, 0x10, 0x5A}));
  EXPECT_EQ(c[3], Hex({0x09, 0x12, 0x06, 0x00, 0x05, 0x01, 0x00, 0x90, 0x00}));
}

TEST_F(TransportTest, RangesAreRefusedBeforeAnythingIsSent) {
  link_->AddDevice(0x30, 0, 256);
  uint8_t data[128] = {};
  struct Case {
    unsigned book, page, reg, count;
    bool ok;
  } cases[] = {
      {0, 1, 100, 29, false}, {0, 1, 100, 28, true}, {0, 256, 0, 1, false},
      {256, 1, 0, 1, false},  {0, 1, 128, 0, false}, {0, 1, 127, 1, true},
  };
  for (const auto& c : cases) {
    Mark();
    EXPECT_EQ(link_->WriteRegisters(data, 0x30, c.book, c.page, c.reg, c.count), c.ok) << c.reg << "+" << c.count;
    EXPECT_EQ(link_->ReadRegisters(data, 0x30, c.book, c.page, c.reg, c.count), c.ok) << c.reg << "+" << c.count;
    if (!c.ok) {
      EXPECT_TRUE(Commands().empty());
    }
  }
}

TEST_F(TransportTest, WriteRetriesAndReacquiresOnStatus) {
  link_->AddDevice(0x30, 0, 256);
  const uint8_t v = 7;
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 0, 1, 1));

  // Failed packet writes are retried without a trace of them.
  QuillbusFailWrites(0, 3);
  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 0, 2, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0x30), I2CWriteHex(2, {7})}));

  // A refused data command re-acquires the board (AppID) and is sent once
  // more (SPI: no select stands before it).
  link_->AddDevice(0, 0, 256);
  std::vector<int> codes;
  link_->SetConnectCallback(&codes, [](void* c, const char*, int, int s) {
    if (s != kLinkCommandDone) static_cast<std::vector<int>*>(c)->push_back(s);
  });
  ASSERT_TRUE(link_->WriteRegisters(&v, 0, 0, 0, 1, 1));
  const int appIds = QuillbusGetAppIdCount(0);
  QuillbusFailStatus(0, 1);
  Mark();
  EXPECT_TRUE(link_->WriteRegisters(&v, 0, 0, 0, 3, 1));
  EXPECT_EQ(QuillbusGetAppIdCount(0), appIds + 1);
  const std::string spiWrite = Hex({9, 0x12, 0x06, 0x00, 5, 0x00, 0x00, 6, 7});
  EXPECT_EQ(Commands().back(), spiWrite);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 3), 7);
  EXPECT_TRUE(codes.empty());

  // Refused twice: two re-acquires and a write failure.
  QuillbusSetDevicePresent(0, 0x30, 0);
  EXPECT_FALSE(link_->WriteRegisters(&v, 0, 0, 0, 3, 1));
  EXPECT_EQ(QuillbusGetAppIdCount(0), appIds + 3);
  EXPECT_EQ(codes, std::vector<int>{kLinkWriteFailed});
}

// Two codecs on one bus: an I2C select the board keeps refusing leaves the
// other codec selected, so the operation must fail without sending its
// data, and the next one must select (device and page) again.
TEST_F(TransportTest, RefusedI2CSelectFailsTheOperationAndSendsNoData) {
  link_->AddDevice(0x30, 0, 256);
  link_->AddDevice(0x32, 0, 256);
  link_->AddDevice(0x34, 0, 0);
  std::vector<int> codes;
  link_->SetConnectCallback(&codes, [](void* c, const char*, int, int s) {
    if (s != kLinkCommandDone) static_cast<std::vector<int>*>(c)->push_back(s);
  });
  uint8_t buffer[4] = {0x5A, 0x5A, 0x5A, 0x5A};
  struct Case {
    const char* name;
    std::function<bool()> op;
    int selected;    // the device whose select is refused
    int code;        // reported on failure (0: none)
    int dataOpcode;  // class 05 operation of the data command that must not go out
  } cases[] = {
      // 0x30 needs its page selected first; 0x34 has no pages.
      {"page select", [&] { return link_->WriteRegisters(buffer, 0x30, 0, 1, 5, 1); }, 0x30, kLinkWriteFailed, 0x02},
      {"write", [&] { return link_->WriteRegisters(buffer, 0x34, 0, 0, 5, 1); }, 0x34, kLinkWriteFailed, 0x02},
      {"read", [&] { return link_->ReadRegisters(buffer, 0x34, 0, 0, 5, 1); }, 0x34, kLinkReadFailed, 0x03},
      {"EEPROM read", [&] { return link_->ReadEEPROM(buffer, 0x2000, 4, false); }, 0xA0, 0, 0x05},
      {"EEPROM write", [&] { return link_->WriteEEPROM(buffer, 0x2000, 4); }, 0xA0, 0, 0x04},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint8_t mark = 0x11;
    ASSERT_TRUE(link_->WriteRegisters(&mark, 0x32, 0, 0, 5, 1));
    codes.clear();
    RefuseEveryReply();
    Mark();
    EXPECT_FALSE(c.op());
    AnswerAgain();
    const auto sent = Commands();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], SelectHex(c.selected));
    for (const auto& cmd : sent)
      EXPECT_FALSE(cmd.substr(6, 2) == "05" && cmd.substr(15, 2) == Hex({c.dataOpcode})) << cmd;
    EXPECT_EQ(codes, c.code ? std::vector<int>{c.code} : std::vector<int>{});
    // Nothing reached the codec that stayed selected.
    EXPECT_EQ(QuillbusGetRegister(0, 0x32, 0, 0, 5), 0x11);
    EXPECT_EQ(QuillbusGetRegister(0, 0x32, 0, 0, 0), 0);
    EXPECT_EQ(QuillbusGetRegister(0, 0x32, 0, 1, 5), 0);
  }
  uint8_t eeprom[4] = {};
  QuillbusReadEeprom(0, 0x2000, eeprom, 4);
  EXPECT_NE(eeprom[0], 0x5A);

  // The next write to 0x30 page 1 selects 0x30 and its page again and lands there.
  const uint8_t value = 0x5A;
  RefuseEveryReply();
  EXPECT_FALSE(link_->WriteRegisters(&value, 0x30, 0, 1, 5, 1));
  AnswerAgain();
  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&value, 0x30, 0, 1, 5, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0x30), I2CWriteHex(0, {1}), SelectHex(0x30),
                                                  I2CWriteHex(5, {0x5A})}));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 1, 5), 0x5A);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 5), 0);
  EXPECT_EQ(QuillbusGetRegister(0, 0x32, 0, 0, 5), 0x11);
}

TEST_F(TransportTest, FailedPageSelectSendsNoDataAndIsSelectedAgain) {
  link_->AddDevice(0x30, 0, 256);
  const uint8_t v = 9;
  QuillbusSetDevicePresent(0, 0x30, 0);
  EXPECT_FALSE(link_->WriteRegisters(&v, 0x30, 0, 4, 2, 1));
  for (const auto& c : Commands()) EXPECT_NE(c, I2CWriteHex(2, {9}));
  QuillbusSetDevicePresent(0, 0x30, 1);
  Mark();
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 4, 2, 1));
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0x30), I2CWriteHex(0, {4}), SelectHex(0x30),
                                                  I2CWriteHex(2, {9})}));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 4, 2), 9);
}

// A select the board refuses leaves the link with the page or book it named,
// not a guess: the next transfer to that place selects it again and lands there.
TEST_F(TransportTest, ARefusedSelectKeepsWhatItNamedAndIsSentAgain) {
  link_->AddDevice(0x30, 2, 256);
  const uint8_t v = 0x5A, zero = 0;
  const struct {
    const char* what;
    std::function<bool()> refused;  // the transfer whose first command is refused
    unsigned book, page;            // what it named
  } cases[] = {
      {"the page select of a transfer", [&] { return link_->WriteRegisters(&v, 0x30, 0, 4, 2, 1); }, 0, 4},
      {"register 0 written", [&] { const uint8_t p = 5; return link_->WriteRegisters(&p, 0x30, 0, 0, 0, 1); }, 0, 5},
      {"register 127 of page 0 written",
       [&] { const uint8_t b = 1; return link_->WriteRegisters(&b, 0x30, 0, 0, 127, 1); }, 1, 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(link_->WriteRegisters(&zero, 0x30, 0, 0, 127, 1)) << c.what;  // book 0, page 0
    RefuseEveryReply();
    EXPECT_FALSE(c.refused()) << c.what;
    AnswerAgain();
    EXPECT_EQ(link_->GetBook(0x30), c.book) << c.what;
    EXPECT_EQ(link_->GetPage(0x30), c.page) << c.what;
    const uint8_t value = uint8_t(0x40 + c.page + c.book);
    ASSERT_TRUE(link_->WriteRegisters(&value, 0x30, c.book, c.page == 0 ? 3 : c.page, 9, 1)) << c.what;
    EXPECT_EQ(QuillbusGetRegister(0, 0x30, int(c.book), c.page == 0 ? 3 : int(c.page), 9), value) << c.what;
    EXPECT_EQ(QuillbusGetSelectedBook(0, 0x30), int(c.book)) << c.what;
  }
}

TEST_F(TransportTest, ReadFailuresReportCode12) {
  link_->AddDevice(0x30, 0, 256);
  std::vector<int> codes;
  link_->SetConnectCallback(&codes, [](void* c, const char*, int, int s) {
    if (s != kLinkCommandDone) static_cast<std::vector<int>*>(c)->push_back(s);
  });
  uint8_t r[4] = {};
  QuillbusSetRegister(0, 0x30, 0, 0, 5, 0x66);
  ASSERT_TRUE(link_->ReadRegisters(r, 0x30, 0, 0, 5, 1));
  EXPECT_EQ(r[0], 0x66);
  RefuseEveryReply();
  EXPECT_FALSE(link_->ReadRegisters(r, 0x30, 0, 0, 5, 1));
  AnswerAgain();
  EXPECT_EQ(codes, std::vector<int>{kLinkReadFailed});
}

TEST_F(TransportTest, ExchangeGivesUpAfterTheRetryBound) {
  testsupport::LogCapture log;
  QuillbusSetTrace(nullptr);
  // A few lost replies are retried away.
  QuillbusFailReads(0, 3);
  HIDCommandPacket p = HIDCommandPacket::AppID();
  EXPECT_TRUE(link_->ExecuteCommand(p));
  EXPECT_FALSE(log.Contains("ExecuteCommand: Error = 0"));

  // A board that never answers, each attempt costing a millisecond: the
  // command gives up within its time budget instead of after 100001 attempts.
  QuillbusSetLatency(500);
  QuillbusFailReads(0, TUSBI2C::kMaxAttempts);
  const auto start = std::chrono::steady_clock::now();
  p = HIDCommandPacket::AppID();
  EXPECT_FALSE(link_->ExecuteCommand(p));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(log.Contains("ExecuteCommand: Error = 0"));
  EXPECT_FALSE(log.Contains("ExecuteCommand: the board is gone"));
  QuillbusFailReads(0, 0);
  QuillbusSetLatency(0);
  p = HIDCommandPacket::AppID();
  EXPECT_TRUE(link_->ExecuteCommand(p));
}

// Unplugged while exchanges have latency: every command stops at its first
// failed attempt, so a script of many lines ends at once instead of freezing.
TEST_F(TransportTest, UnpluggedBoardStopsTheRetriesAtOnce) {
  testsupport::LogCapture log;
  link_->AddDevice(0x30, 0, 256);
  QuillbusSetTrace(nullptr);
  QuillbusSetLatency(20000);
  QuillbusUnplug(0);
  const auto start = std::chrono::steady_clock::now();
  uint8_t v = 1;
  for (int line = 0; line < 10; ++line) EXPECT_FALSE(link_->WriteRegisters(&v, 0x30, 0, 0, 5, 1));
  // One attempt of 20 ms per command; the time budget alone would take 2.5 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_TRUE(log.Contains("ExecuteCommand: the board is gone"));
  QuillbusSetLatency(0);
}

TEST_F(TransportTest, UnplugInTheMiddleOfATransferFailsCleanly) {
  link_->AddDevice(0x30, 0, 256);
  uint8_t data[128] = {};
  QuillbusUnplugAfter(0, 5);
  QuillbusSetTrace(nullptr);
  EXPECT_FALSE(link_->WriteRegisters(data, 0x30, 0, 0, 0, 128));
  uint8_t r;
  EXPECT_FALSE(link_->ReadRegisters(&r, 0x30, 0, 0, 0, 1));
}

TEST_F(TransportTest, NoHandleSendsNothing) {
  auto link = std::make_unique<TUSBI2C>(false);
  uint8_t v = 1;
  EXPECT_FALSE(link->WriteRegisters(&v, 0x30, 0, 0, 1, 1));
  EXPECT_FALSE(link->ReadRegisters(&v, 0x30, 0, 0, 1, 1));
  EXPECT_FALSE(link->ReadEEPROM(&v, 0x1FE0, 1, false));
  EXPECT_FALSE(link->WriteEEPROM(&v, 0x2000, 1));
  EXPECT_EQ(link->GetSamplingRate(), 44100u);
  EXPECT_EQ(link->GetFirmwareVersion(), 0);
  EXPECT_TRUE(Commands().empty());
}

// A window without a board: nothing is sent, but the page and book caches
// and the write callback follow every write as with a board, selects included.
TEST_F(TransportTest, WithoutABoardCachesAndWriteCallbackFollowTheWrites) {
  auto link = std::make_unique<TUSBI2C>(false);
  link->AddDevice(0x30, 0, 256);
  link->AddDevice(0x40, 2, 256);
  std::vector<Recorded> written;
  link->SetWriteCallback(&written, RecordWrite);
  const uint8_t one = 1, aa = 0xAA;
  EXPECT_FALSE(link->WriteRegisters(&one, 0x30, 0, 0, 0, 1));  // "w 30 00 01"
  EXPECT_EQ(link->GetPage(0x30), 1u);
  EXPECT_FALSE(link->WriteRegisters(&aa, 0x30, 0, link->GetPage(0x30), 0x10, 1));
  EXPECT_FALSE(link->WriteRegisters(&aa, 0x30, 0, 3, 0x11, 1));
  EXPECT_EQ(link->GetPage(0x30), 3u);
  EXPECT_FALSE(link->WriteRegisters(&aa, 0x40, 1, 2, 0x12, 1));
  EXPECT_EQ(link->GetBook(0x40), 1u);
  EXPECT_EQ(link->GetPage(0x40), 2u);
  const std::vector<std::vector<unsigned>> expected = {
      {0x30, 0, 0, 0, 0}, {0x30, 0, 0, 0, 1},     // the page select the cache asks for, then "w 30 00 01"
      {0x30, 0, 1, 0x10, 0xAA},                   // no select: page 1 is cached
      {0x30, 0, 3, 0, 3}, {0x30, 0, 3, 0x11, 0xAA},  // page select, data
      // the book switch inside the page select, the page select, the data
      {0x40, 1, 0, 0, 0}, {0x40, 1, 0, 127, 1}, {0x40, 1, 2, 0, 2}, {0x40, 1, 2, 0, 2}, {0x40, 1, 2, 0x12, 0xAA}};
  std::vector<std::vector<unsigned>> got;
  for (const auto& w : written) got.push_back({w.address, w.book, w.page, w.reg, unsigned(w.first)});
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(Commands().empty());
}

TEST(MissingLibraryTest, EveryOperationFailsCleanly) {
  testsupport::LogCapture log;
  TUSBI2C::SetLibraryName("nosuch.dll");
  {
    TUSBI2C link(true);
    EXPECT_FALSE(link.LibraryLoaded());
    link.RefreshDeviceList();
    link.AcquireEVM(reinterpret_cast<void*>(0x1234));
    uint8_t v = 0;
    link.AddDevice(0x30, 0, 256);
    EXPECT_FALSE(link.WriteRegisters(&v, 0x30, 0, 0, 1, 1));
    EXPECT_FALSE(link.ReadRegisters(&v, 0x30, 0, 0, 1, 1));
    EXPECT_FALSE(link.ProgramEEPROM("x.bin"));
    EXPECT_EQ(link.GetCodecLog(), nullptr);
    EXPECT_EQ(link.TCPConnect("127.0.0.1", 1), 0);
    link.Stop();
  }
  TUSBI2C::SetLibraryName("quillbus.dll");
  bool named = false;
  for (const auto& l : log.Lines()) named |= l.find("nosuch.dll") != std::string::npos;
  EXPECT_TRUE(named);
}

TEST_F(TransportTest, ThreeThreadsNeverWriteOutsideTheirPlace) {
  link_->AddDevice(0x30, 2, 256);
  link_->AddDevice(0x32, 0, 256);
  link_->AddDevice(0x34, 0, 0);
  QuillbusSetTrace(nullptr);
  struct Job {
    unsigned address, book, page;
  } jobs[] = {{0x30, 1, 9}, {0x32, 0, 3}, {0x34, 0, 0}};
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (const auto& job : jobs) {
    threads.emplace_back([&, job] {
      uint8_t data[64];
      for (int round = 0; round < 60; ++round) {
        for (int i = 0; i < 64; ++i) data[i] = uint8_t(job.address + i + round);
        if (!link_->WriteRegisters(data, job.address, job.book, job.page, 40, 64)) failed = true;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(failed);
  for (const auto& job : jobs) {
    for (int reg = 1; reg < 127; ++reg) {
      const int want = reg >= 40 && reg < 104 ? uint8_t(job.address + reg - 40 + 59) : 0;
      ASSERT_EQ(QuillbusGetRegister(0, job.address, job.book, job.page, reg), want) << std::hex << job.address << " " << reg;
    }
  }
  // Nothing landed on the pages and books that were not written.
  for (int reg = 1; reg < 127; ++reg) {
    ASSERT_EQ(QuillbusGetRegister(0, 0x30, 0, 9, reg), 0);
    ASSERT_EQ(QuillbusGetRegister(0, 0x30, 1, 3, reg), 0);
    ASSERT_EQ(QuillbusGetRegister(0, 0x32, 0, 9, reg), 0);
  }
}

// A select the board refuses once is sent again, and the command behind it
// goes out only after the select was answered: nothing is lost.
TEST_F(TransportTest, ARefusedI2CSelectIsSentAgainAndWhatFollowsItGoesOut) {
  link_->AddDevice(0x34, 0, 0);
  uint8_t buffer[4] = {0x5A, 0x5B, 0x5C, 0x5D};
  const struct {
    const char* name;
    std::function<bool()> op;
    int selected;
    int dataOpcode;  // class 05 operation of the command behind the select
    std::function<bool()> landed;
  } cases[] = {
      {"write", [&] { return link_->WriteRegisters(buffer, 0x34, 0, 0, 5, 1); }, 0x34, 0x02,
       [] { return QuillbusGetRegister(0, 0x34, 0, 0, 5) == 0x5A; }},
      {"read", [&] { return link_->ReadRegisters(buffer, 0x34, 0, 0, 6, 1); }, 0x34, 0x03,
       [&] { return buffer[0] == 0x66; }},
      {"EEPROM write", [&] { return link_->WriteEEPROM(buffer, 0x2000, 4); }, 0xA0, 0x04,
       [] {
         uint8_t back[4] = {};
         QuillbusReadEeprom(0, 0x2000, back, 4);
         return back[0] == 0x5A && back[3] == 0x5D;
       }},
      {"EEPROM read", [&] { return link_->ReadEEPROM(buffer, 0x2000, 4, false); }, 0xA0, 0x05,
       [&] { return buffer[0] == 0x5A && buffer[3] == 0x5D; }},
  };
  QuillbusSetRegister(0, 0x34, 0, 0, 6, 0x66);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint8_t fresh[4] = {0x5A, 0x5B, 0x5C, 0x5D};
    std::copy(fresh, fresh + 4, buffer);
    QuillbusFailStatus(0, 1);
    Mark();
    EXPECT_TRUE(c.op());
    const auto sent = Commands();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0], SelectHex(c.selected));
    EXPECT_EQ(sent[1], Hex(Bytes(HIDCommandPacket::AppID())));  // the board is acquired again
    EXPECT_EQ(sent[2], SelectHex(c.selected));
    EXPECT_EQ(sent[3].substr(6, 2) + sent[3].substr(15, 2), "05" + Hex({c.dataOpcode}));
    EXPECT_TRUE(c.landed());
  }
}

// A board that comes back (unplugged and plugged again, reset) is on book 0,
// page 0 whatever the link last selected: after acquiring it, the link
// selects page and book again at its first transfer to each device.
TEST_F(TransportTest, AReacquiredBoardIsSelectedAgainAtTheFirstTransfer) {
  link_->AddDevice(0x30, 2, 256);  // with books
  link_->AddDevice(0x32, 0, 256);  // pages only
  const struct {
    int device;
    unsigned book, page;
  } cases[] = {{0x30, 1, 2}, {0x30, 0, 2}, {0x32, 0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device * 1000 + c.book * 100 + c.page);
    const uint8_t before = 0x11, after = 0xF2;
    ASSERT_TRUE(link_->WriteRegisters(&before, unsigned(c.device), c.book, c.page, 9, 1));
    ASSERT_EQ(QuillbusUnplug(0), 0);
    QuillbusReplug();
    ASSERT_EQ(OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId), 1);
    link_->AcquireEVM(OrvaneUsbHidGetDevHandle(0));
    ASSERT_EQ(QuillbusGetSelectedPage(0, c.device), 0);
    // The link still tells the place it last named.
    EXPECT_EQ(link_->GetPage(unsigned(c.device)), c.page);
    ASSERT_TRUE(link_->WriteRegisters(&after, unsigned(c.device), c.book, c.page, 9, 1));
    EXPECT_EQ(QuillbusGetRegister(0, c.device, int(c.book), int(c.page), 9), after);
    EXPECT_EQ(QuillbusGetRegister(0, c.device, 0, 0, 9), 0);
  }
}

// The book switch refused after the page select of its sequence passed:
// the link keeps the page and book the transfer named, not the page 0 of
// the switch's own first step.
TEST_F(TransportTest, ARefusedBookSwitchKeepsThePageItNamed) {
  link_->AddDevice(0x30, 2, 256);
  const uint8_t v = 0x5A;
  // select, register 0 = 0, then the select of register 127 = 1 refused for good.
  QuillbusFailStatusAfter(0, 2, 1000);
  EXPECT_FALSE(link_->WriteRegisters(&v, 0x30, 1, 2, 9, 1));
  AnswerAgain();
  EXPECT_EQ(link_->GetPage(0x30), 2u);
  EXPECT_EQ(link_->GetBook(0x30), 1u);
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 1, 2, 9, 1));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 1, 2, 9), 0x5A);
}

// A block takes a page or book select byte by byte, wherever it starts: the
// link's record follows every byte written through register 0, and through
// register 127 of page 0, and the rest of a long block lands where those
// bytes left the device.
TEST_F(TransportTest, ABlockThroughTheSelectRegistersMovesTheLinksRecord) {
  link_->AddDevice(0x30, 2, 256);
  const uint8_t zero = 0;
  ASSERT_TRUE(link_->WriteRegisters(&zero, 0x30, 0, 0, 127, 1));  // book 0, page 0

  // Registers 126 and 127 of page 0: the second byte selects book 1.
  const uint8_t pair[2] = {0x11, 0x01};
  ASSERT_TRUE(link_->WriteRegisters(pair, 0x30, 0, 0, 126, 2));
  EXPECT_EQ(QuillbusGetSelectedBook(0, 0x30), 1);
  EXPECT_EQ(link_->GetBook(0x30), 1u);
  const uint8_t v = 0x77;
  ASSERT_TRUE(link_->WriteRegisters(&v, 0x30, 0, 0, 5, 1));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 5), 0x77);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 1, 0, 5), 0);

  // Register 127 of another page is a plain register.
  ASSERT_TRUE(link_->WriteRegisters(pair, 0x30, 0, 3, 126, 2));
  EXPECT_EQ(link_->GetBook(0x30), 0u);
  EXPECT_EQ(QuillbusGetSelectedBook(0, 0x30), 0);

  // 60 bytes from register 0 of page 0 selecting page 2: every later byte on page 2.
  uint8_t block[60];
  for (int i = 0; i < 60; ++i) block[i] = uint8_t(0x80 + i);
  block[0] = 2;
  ASSERT_TRUE(link_->WriteRegisters(block, 0x30, 0, 0, 0, 60));
  EXPECT_EQ(link_->GetPage(0x30), 2u);
  for (int reg : {1, 47, 48, 59}) {
    EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 2, reg), block[reg]) << reg;
    EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, reg), 0) << reg;
  }
}
