// Firmware programming and the library log.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <optional>

#include "support.h"

namespace qbtest {
namespace {

struct FirmwareCase {
  const char* name;
  std::optional<std::string> content;  // none: the file does not exist
  bool programs;
  uint16_t version;  // afterwards
  const char* logged;
};

void PrintTo(const FirmwareCase& c, std::ostream* os) { *os << c.name; }

class FirmwareTest : public QuillbusTest, public ::testing::WithParamInterface<FirmwareCase> {};

TEST_P(FirmwareTest, ProgramsFromFile) {
  const std::string board = AddBoard("evm.board", "firmware = 0x0103\n");
  ASSERT_EQ(Refresh(), 1);
  std::string file = dir_.path() + "/fw.bin";
  if (GetParam().content) WriteFile(file, *GetParam().content);
  EXPECT_EQ(OrvaneUsbHidProgramEeprom(0, file.data(), 18, 0xA0, 0), GetParam().programs);
  EXPECT_EQ(QuillbusGetFirmwareVersion(0), GetParam().version);
  EXPECT_NE(Log().find(GetParam().logged), std::string::npos) << Log();

  // The image lives in the EEPROM, so the version survives a replug.
  ASSERT_EQ(QuillbusUnplug(0), 0);
  QuillbusReplug();
  ASSERT_EQ(Refresh(), 1);
  uint16_t vid, pid, version = 0;
  ASSERT_TRUE(OrvaneUsbHidGetDevInfo(0, &vid, &pid, &version));
  EXPECT_EQ(version, GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FirmwareTest,
    ::testing::Values(FirmwareCase{"Missing", std::nullopt, false, 0x0103, "cannot open firmware file"},
                      FirmwareCase{"Empty", std::string(), false, 0x0103, "is empty"},
                      FirmwareCase{"WithVersion", std::string("QBFW\x05\x02rest of image", 19), true, 0x0205,
                                   "firmware programmed"},
                      FirmwareCase{"WithoutVersion", std::string("plain image"), true, 0x0103, "firmware programmed"}),
    [](const auto& info) { return std::string(info.param.name); });

using FirmwareCallTest = QuillbusTest;

TEST_F(FirmwareCallTest, ImageGoesToApplicationAreaThroughInterface18Only) {
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  std::string file = dir_.path() + "/fw.bin";
  WriteFile(file, "QBFW\x01\x07");
  EXPECT_FALSE(OrvaneUsbHidProgramEeprom(0, file.data(), 3, 0xA0, 0));
  EXPECT_FALSE(OrvaneUsbHidProgramEeprom(4, file.data(), 18, 0xA0, 0));
  ASSERT_TRUE(OrvaneUsbHidProgramEeprom(0, file.data(), 18, 0xA0, 0));
  Bytes image(6);
  ASSERT_EQ(QuillbusReadEeprom(0, 0x2000, image.data(), 6), 6);
  EXPECT_EQ(image, (Bytes{'Q', 'B', 'F', 'W', 0x01, 0x07}));
}

// The callback checks from another thread that the library is free: were
// a lock held around the call, that thread could not get in.
std::atomic<int> calls{0};
std::atomic<int> blocked{0};

void ProbingCallback(char* text) {
  ASSERT_NE(text, nullptr);
  ++calls;
  auto probe = std::async(std::launch::async, [] { return QuillbusBoardCount(); });
  if (probe.wait_for(std::chrono::seconds(10)) != std::future_status::ready) ++blocked;
  probe.get();  // completes once the caller lets go, if it held a lock
}

using LogTest = QuillbusTest;

TEST_F(LogTest, CallbackRunsWithoutLibraryLocks) {
  calls = 0;
  blocked = 0;
  AddBoard("evm.board", "colour = blue\n");
  OrvaneSetLogCB(ProbingCallback);
  ASSERT_EQ(Refresh(), 1);
  std::string missing = dir_.path() + "/none.bin";
  EXPECT_FALSE(OrvaneUsbHidProgramEeprom(0, missing.data(), 18, 0xA0, 0));
  OrvaneSetLogCB(nullptr);
  EXPECT_GE(calls.load(), 3);  // bad key, plugged, programming failed
  EXPECT_EQ(blocked.load(), 0);
}

TEST_F(LogTest, RecentLogIsAMallocedCopyOfTheLastLines) {
  const std::string path = AddBoard("evm.board", "name = Alpha\n");
  ASSERT_EQ(Refresh(), 1);
  const std::string log = Log();
  EXPECT_NE(log.find("board 'Alpha' plugged (evm.board)\n"), std::string::npos) << log;
  for (int i = 0; i < 150; ++i) {
    std::string missing = dir_.path() + "/none.bin";
    OrvaneUsbHidProgramEeprom(0, missing.data(), 18, 0xA0, 0);
  }
  const std::string later = Log();
  EXPECT_EQ(later.find("plugged"), std::string::npos);
  EXPECT_LE(std::count(later.begin(), later.end(), '\n'), 100);
}

}  // namespace
}  // namespace qbtest
