// EEPROM reads (direct and through the cache window), writes, firmware
// programming, board commands and the network board.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/link/link_fixture.h"

namespace {

std::string EEPROMReadHead(int address, int n) {
  return Hex({n + 10, 0x12, 0x05, 0x00, n + 6, 0x05, 0x00, 0x00, address >> 8, address & 0xFF});
}

// The EEPROM commands of the trace, as their first ten bytes.
std::vector<std::string> EEPROMCommands(const std::vector<std::string>& commands) {
  std::vector<std::string> out;
  for (const auto& c : commands)
    if (c.size() >= 29 && c.substr(6, 2) == "05" && (c.substr(15, 2) == "04" || c.substr(15, 2) == "05"))
      out.push_back(c.substr(0, 29));
  return out;
}

}  // namespace

using EEPROMTest = LinkFixture;

TEST_F(EEPROMTest, IdBlockOfAFreshBoard) {
  uint8_t id[32] = {};
  ASSERT_TRUE(link_->ReadEEPROM(id, 0x1FE0, 32, false));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 4), "FWID");
  EXPECT_STREQ(reinterpret_cast<char*>(id + 4), "QMX7XXXEVM");
  EXPECT_EQ(Commands(), (std::vector<std::string>{SelectHex(0xA0), Hex([] {
                                                    std::vector<int> b = {0x2A, 0x12, 0x05, 0x00, 0x26, 0x05,
                                                                          0x00, 0x00, 0x1F, 0xE0};
                                                    b.resize(42, 0);
                                                    return b;
                                                  }())}));
}

TEST_F(EEPROMTest, CacheWindow) {
  uint8_t image[300];
  for (int i = 0; i < 300; ++i) image[i] = uint8_t(i * 7 + 1);
  QuillbusWriteEeprom(0, 0x2000, image, 300);
  uint8_t b[300] = {};

  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2000, 1, true));
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2001, 16, true));
  EXPECT_EQ(std::memcmp(b, image + 1, 16), 0);
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2020, 16, true));  // ends at the window's end: refills
  EXPECT_EQ(EEPROMCommands(Commands()), (std::vector<std::string>{EEPROMReadHead(0x2000, 48), EEPROMReadHead(0x2020, 48)}));

  // Longer than the window: the EEPROM's bytes all the same.
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2000, 259, true));
  EXPECT_EQ(std::memcmp(b, image, 259), 0);

  // A request of the window's full size refills from its own address, even
  // inside the window, so it sees what changed on the board meanwhile.
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2000, 1, true));
  image[5] ^= 0xFF;
  QuillbusWriteEeprom(0, 0x2005, image + 5, 1);
  Mark();
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2000, 48, true));
  EXPECT_EQ(std::memcmp(b, image, 48), 0);
  EXPECT_EQ(EEPROMCommands(Commands()), std::vector<std::string>{EEPROMReadHead(0x2000, 48)});

  // A direct read copies one packet's worth.
  uint8_t direct[64];
  std::memset(direct, 0xEE, sizeof direct);
  ASSERT_TRUE(link_->ReadEEPROM(direct, 0x2000, 64, false));
  EXPECT_EQ(std::memcmp(direct, image, 48), 0);
  EXPECT_EQ(direct[48], 0xEE);
}

TEST_F(EEPROMTest, WritesAreSplitAndEmptyTheCache) {
  uint8_t data[100];
  for (int i = 0; i < 100; ++i) data[i] = uint8_t(200 - i);
  uint8_t b[16];
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2000, 1, true));
  Mark();
  ASSERT_TRUE(link_->WriteEEPROM(data, 0x2000, 100));
  auto c = Commands();
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[0], SelectHex(0xA0));
  EXPECT_EQ(c[1].substr(0, 29), Hex({58, 0x12, 5, 0, 54, 4, 0, 0, 0x20, 0x00}));
  EXPECT_EQ(c[3].substr(0, 29), Hex({58, 0x12, 5, 0, 54, 4, 0, 0, 0x20, 0x30}));
  EXPECT_EQ(c[5].substr(0, 29), Hex({14, 0x12, 5, 0, 10, 4, 0, 0, 0x20, 0x60}));
  uint8_t back[100];
  QuillbusReadEeprom(0, 0x2000, back, 100);
  EXPECT_EQ(std::memcmp(back, data, 100), 0);
  // The cache was emptied: the next cached read goes to the board.
  Mark();
  ASSERT_TRUE(link_->ReadEEPROM(b, 0x2001, 4, true));
  EXPECT_EQ(b[0], data[1]);
  EXPECT_EQ(EEPROMCommands(Commands()).size(), 1u);
}

TEST_F(EEPROMTest, FailuresAreReportedAsFailures) {
  uint8_t b[4] = {1, 2, 3, 4};
  // The select refused, and refused again when sent once more: nothing follows it.
  QuillbusFailStatus(0, 1000);
  EXPECT_FALSE(link_->ReadEEPROM(b, 0x2000, 4, false));
  EXPECT_FALSE(link_->WriteEEPROM(b, 0x2000, 4));
  EXPECT_FALSE(link_->ReadEEPROM(b, 0x3000, 4, true));
  QuillbusFailStatus(0, 0);
  EXPECT_FALSE(link_->ReadEEPROM(b, 0xFFFE, 4, false));
  EXPECT_FALSE(link_->WriteEEPROM(b, 0xFFFE, 4));
  EXPECT_TRUE(link_->ReadEEPROM(b, 0xFFFC, 4, true));
}

TEST_F(EEPROMTest, EEPROMPersistsAcrossReplug) {
  const uint8_t data[3] = {0x11, 0x22, 0x33};
  ASSERT_TRUE(link_->WriteEEPROM(data, 0x2100, 3));
  link_.reset();
  QuillbusReset();
  QuillbusSetBoardsDir(dir_.path().c_str());
  link_ = OpenLink(0);
  uint8_t back[3] = {};
  ASSERT_TRUE(link_->ReadEEPROM(back, 0x2100, 3, false));
  EXPECT_EQ(std::memcmp(back, data, 3), 0);
}

TEST_F(EEPROMTest, BoardCommandsAndQueries) {
  ASSERT_TRUE(link_->SetControllerBits(0xFFB1, 0x11, true));
  EXPECT_EQ(QuillbusGetControllerByte(0, 0xFFB1), 0x11);
  ASSERT_TRUE(link_->SetControllerBits(0xFFB1, 0x01, false));
  EXPECT_EQ(QuillbusGetControllerByte(0, 0xFFB1), 0x10);
  ASSERT_TRUE(link_->SetBoardBits(0x06, true));
  ASSERT_TRUE(link_->SetBoardBits(0x02, false));
  EXPECT_EQ(QuillbusGetBoardByte(0), 0x04);
  EXPECT_EQ(Commands().front(), Hex({0x0A, 0x12, 0x04, 0x00, 0x06, 0x00, 0x00, 0xFF, 0xB1, 0x11}));

  EXPECT_EQ(link_->GetSamplingRate(), 48000u);
  EXPECT_EQ(link_->GetFirmwareVersion(), 0x0103);
  char* log = link_->GetCodecLog();
  ASSERT_NE(log, nullptr);
  std::free(log);
}

TEST_F(EEPROMTest, FirmwareProgramming) {
  EXPECT_FALSE(link_->ProgramEEPROM(dir_.File("missing.bin").c_str()));
  testsupport::WriteFile(dir_.File("empty.bin"), "");
  EXPECT_FALSE(link_->ProgramEEPROM(dir_.File("empty.bin").c_str()));
  testsupport::WriteFile(dir_.File("good.bin"), std::string("QBFW\x05\x02", 6) + std::string(100, '\x5A'));
  EXPECT_TRUE(link_->ProgramEEPROM(dir_.File("good.bin").c_str()));
  EXPECT_EQ(link_->GetFirmwareVersion(), 0x0205);
}

namespace {

// A board server process on a board file, on a port of its choosing.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& boardFile) {
    int out[2];
    if (::pipe(out) != 0) return;
    const std::string server = platform::ProgramDirectory() + "quillbus-board";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::execl(server.c_str(), server.c_str(), "--port", "0", boardFile.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = ::fdopen(out[0], "r");
    char line[128] = {};
    if (std::fgets(line, sizeof line, output_)) std::sscanf(line, "listening on 127.0.0.1:%d", &port_);
  }
  ~ServerProcess() { Stop(); }
  int Port() const { return port_; }
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (output_) std::fclose(output_);
    output_ = nullptr;
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  int port_ = 0;
};

}  // namespace

TEST_F(EEPROMTest, NetworkBoardOverLoopback) {
  testsupport::TempDir serverDir;
  testsupport::WriteFile(serverDir.File("net.board"), "name = NETEVM\nfirmware = 0x0301\nrate = 96000\n");
  ServerProcess server(serverDir.File("net.board"));
  const int port = server.Port();
  ASSERT_GT(port, 0);

  EXPECT_EQ(link_->TCPConnect("127.0.0.1", port), 1);
  ASSERT_EQ(OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId), 2);
  TUSBI2C net(false);
  net.AcquireEVM(OrvaneUsbHidGetDevHandle(1));
  EXPECT_EQ(net.GetSamplingRate(), 96000u);
  uint8_t id[32] = {};
  ASSERT_TRUE(net.ReadEEPROM(id, 0x1FE0, 32, false));
  EXPECT_STREQ(reinterpret_cast<char*>(id + 4), "NETEVM");
  net.AddDevice(0x30, 0, 256);
  const uint8_t v = 0x77;
  uint8_t r = 0;
  ASSERT_TRUE(net.WriteRegisters(&v, 0x30, 0, 2, 5, 1));
  ASSERT_TRUE(net.ReadRegisters(&r, 0x30, 0, 2, 5, 1));
  EXPECT_EQ(r, 0x77);

  // The board leaves the list when its server goes away.
  server.Stop();
  EXPECT_TRUE(testsupport::WaitUntil(
      [] { return OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId) == 1; }));
  net.Stop();
}

// A network board that reconnects (here a new server on the same board
// file, which starts on page 0) is on a page nobody knows: once the link
// has acquired it again, its next transfer selects the page it names.
TEST_F(EEPROMTest, AReconnectedNetworkBoardIsSelectedAgain) {
  testsupport::TempDir serverDir;
  const std::string boardFile = serverDir.File("net.board");
  testsupport::WriteFile(boardFile, "name = NETEVM\nfirmware = 0x0301\nrate = 96000\n");
  TUSBI2C net(false);
  net.AddDevice(0x30, 0, 256);
  const uint8_t before = 0x11, after = 0xF2;
  // Connects to the server and writes register 9 of page 2 through the network link.
  auto connectAndWrite = [&](ServerProcess& server, uint8_t value) {
    ASSERT_GT(server.Port(), 0);
    ASSERT_EQ(link_->TCPConnect("127.0.0.1", server.Port()), 1);
    ASSERT_EQ(OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId), 2);
    net.AcquireEVM(OrvaneUsbHidGetDevHandle(1));
    ASSERT_TRUE(net.WriteRegisters(&value, 0x30, 0, 2, 9, 1));
  };
  {
    ServerProcess first(boardFile);
    connectAndWrite(first, before);
  }
  ASSERT_TRUE(testsupport::WaitUntil(
      [] { return OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId) == 1; }));
  ServerProcess second(boardFile);
  connectAndWrite(second, after);
  uint8_t onPage0 = 0xFF, onPage2 = 0;
  ASSERT_TRUE(net.ReadRegisters(&onPage0, 0x30, 0, 0, 9, 1));
  ASSERT_TRUE(net.ReadRegisters(&onPage2, 0x30, 0, 2, 9, 1));
  EXPECT_EQ(onPage0, 0);
  EXPECT_EQ(onPage2, 0xF2);
  net.Stop();
}
