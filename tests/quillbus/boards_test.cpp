// The device list: board files, plugging and unplugging, handles, device
// paths, board file parsing and the EEPROM kept beside the board file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "support.h"

namespace qbtest {
namespace {

using BoardsTest = QuillbusTest;

constexpr char16_t kPathPrefix[] = u"\\\\?\\hid#vid_2b1e&pid_0c0d#quillbus-";
constexpr char16_t kPathSuffix[] = u"#{4d1e55b2-f16f-11cf-88cb-001111000030}";

void Touch(const std::string& path, int secondsAhead) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec += secondsAhead;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(BoardsTest, FilesPlugAndUnplugAtRefreshInNameOrder) {
  AddBoard("b.board");
  AddBoard("notes.txt");
  ASSERT_EQ(Refresh(), 1);
  void* b = OrvaneUsbHidGetDevHandle(0);
  ASSERT_NE(b, nullptr);

  const std::string a = AddBoard("a.board");
  EXPECT_EQ(QuillbusBoardCount(), 1);  // only a refresh rescans
  ASSERT_EQ(Refresh(), 2);
  EXPECT_NE(Utf8(DevicePath(0)).find("quillbus-a.board-"), std::string::npos);
  EXPECT_EQ(OrvaneUsbHidGetDevHandle(1), b);
  EXPECT_EQ(OrvaneUsbHidRefresh(0x1234, kQuillbusProductId), 0);

  ASSERT_EQ(::unlink(a.c_str()), 0);
  ASSERT_EQ(Refresh(), 1);
  EXPECT_EQ(OrvaneUsbHidGetDevHandle(0), b);
  EXPECT_EQ(OrvaneUsbHidGetDevHandle(1), nullptr);
  EXPECT_EQ(OrvaneUsbHidGetDevHandle(-1), nullptr);
  EXPECT_NE(Log().find("unplugged"), std::string::npos);
}

TEST_F(BoardsTest, ReplugGivesNewHandleNeverReused) {
  const std::string path = AddBoard("evm.board");
  std::set<void*> handles;
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(Refresh(), 1);
    void* handle = OrvaneUsbHidGetDevHandle(0);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(handles.insert(handle).second) << "round " << round;
    EXPECT_EQ(OrvaneUsbHidGetDevHandle(0), handle);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(Refresh(), 0);
    AddBoard("evm.board");
  }
}

TEST_F(BoardsTest, UnpluggedBoardFailsUntilTouchedOrReplugged) {
  const std::string path = AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  void* first = OrvaneUsbHidGetDevHandle(0);
  ASSERT_EQ(QuillbusUnplug(0), 0);

  Bytes select = Select(0x30);
  uint16_t vid, pid, version;
  EXPECT_FALSE(OrvaneUsbHidWrite(0, select.data(), 8));
  EXPECT_FALSE(OrvaneUsbHidGetDevInfo(0, &vid, &pid, &version));
  EXPECT_EQ(OrvaneUsbHidGetDevHandle(0), nullptr);
  EXPECT_EQ(QuillbusUnplug(0), -1);
  EXPECT_EQ(Refresh(), 0);
  EXPECT_EQ(Refresh(), 0);

  Touch(path, 5);
  ASSERT_EQ(Refresh(), 1);
  void* second = OrvaneUsbHidGetDevHandle(0);
  EXPECT_NE(second, first);

  ASSERT_EQ(QuillbusUnplug(0), 0);
  EXPECT_EQ(Refresh(), 0);
  QuillbusReplug();
  ASSERT_EQ(Refresh(), 1);
  EXPECT_NE(OrvaneUsbHidGetDevHandle(0), first);
  EXPECT_NE(OrvaneUsbHidGetDevHandle(0), second);
}

TEST_F(BoardsTest, DevicePathIsStableUtf16) {
  const std::string path = AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  const std::u16string name = DevicePath(0);
  ASSERT_TRUE(name.starts_with(kPathPrefix)) << Utf8(name);
  ASSERT_TRUE(name.ends_with(kPathSuffix)) << Utf8(name);
  EXPECT_TRUE(name.substr(std::char_traits<char16_t>::length(kPathPrefix)).starts_with(u"evm.board-"));

  ASSERT_EQ(::unlink(path.c_str()), 0);
  ASSERT_EQ(Refresh(), 0);
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  EXPECT_EQ(DevicePath(0), name);

  char16_t small[8];
  EXPECT_FALSE(OrvaneUsbHidGetDevicePathName(0, small, sizeof small));
  char16_t product[64];
  ASSERT_TRUE(OrvaneUsbHidGetProductString(0, product, sizeof product));
  EXPECT_EQ(std::u16string(product), u"evm");
}

TEST_F(BoardsTest, BoardsDirectoryFromEnvironment) {
  AddBoard("evm.board");
  ::setenv("QUILLBUS_BOARDS", dir_.path().c_str(), 1);
  QuillbusSetBoardsDir(nullptr);
  EXPECT_EQ(Refresh(), 1);
  ::unsetenv("QUILLBUS_BOARDS");
  EXPECT_EQ(Refresh(), 0);
}

struct FileCase {
  const char* name;
  std::string content;
  std::u16string product;
  uint16_t firmware;
  uint32_t rate;
  const char* logged;  // expected in the log, or null
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class BoardFileTest : public QuillbusTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(BoardFileTest, ParsesOrFallsBackToDefaults) {
  AddBoard("evm.board", GetParam().content);
  ASSERT_EQ(Refresh(), 1);
  char16_t product[64];
  ASSERT_TRUE(OrvaneUsbHidGetProductString(0, product, sizeof product));
  EXPECT_EQ(std::u16string(product), GetParam().product);
  uint16_t vid = 0, pid = 0, version = 0;
  ASSERT_TRUE(OrvaneUsbHidGetDevInfo(0, &vid, &pid, &version));
  EXPECT_EQ(vid, kQuillbusVendorId);
  EXPECT_EQ(pid, kQuillbusProductId);
  EXPECT_EQ(version, GetParam().firmware);
  uint32_t rate = 0;
  ASSERT_TRUE(OrvaneUsbHidGetCurSamplingRate(0, 18, &rate));
  EXPECT_EQ(rate, GetParam().rate);
  if (GetParam().logged) {
    EXPECT_NE(Log().find(GetParam().logged), std::string::npos) << Log();
  }
  // The main codec answers whatever else the file said.
  EXPECT_EQ(Exchange(0, Select(0x30))[3], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BoardFileTest,
    ::testing::Values(
        FileCase{"Full",
                 "# Palisar emulated board\nname = QMX7XXXEVM   # the name\nfirmware = 0x0103\nrate = 96000\n"
                 "devices = 0x30, 0x32\nspi = 0x32\nspi-convention = 1\n",
                 u"QMX7XXXEVM", 0x0103, 96000, nullptr},
        FileCase{"Empty", "", u"evm", 0x0100, 48000, nullptr},
        FileCase{"UnknownKey", "colour = blue\nrate = 44100\n", u"evm", 0x0100, 44100, "unknown key 'colour'"},
        FileCase{"BadRate", "rate = fast\n", u"evm", 0x0100, 48000, "bad rate 'fast'"},
        FileCase{"BadFirmware", "firmware = 0x10000\n", u"evm", 0x0100, 48000, "bad firmware"},
        FileCase{"BlankAfterHexPrefix", "firmware = 0x 5\n", u"evm", 0x0100, 48000, "bad firmware"},
        FileCase{"BadDevices", "devices = 0x31 zz\n", u"evm", 0x0100, 48000, "no valid device address"},
        FileCase{"LineWithoutEquals", "just words\nname = X\n", u"X", 0x0100, 48000, "without '='"},
        FileCase{"Binary", std::string("\x00\xFF=\x01\n\xFE\xFD", 7), u"evm", 0x0100, 48000, "ignored"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BoardsTest, FreshEepromHasIdBlockAndPersistsBesideBoardFile) {
  const std::string path = AddBoard("evm.board", "name = ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\n");
  ASSERT_EQ(Refresh(), 1);
  Bytes id(32);
  ASSERT_EQ(QuillbusReadEeprom(0, 0x1FE0, id.data(), 32), 32);
  Bytes expected(32, 0);
  std::memcpy(expected.data(), "FWIDABCDEFGHIJKLMNOPQRSTUVWXYZ0", 31);  // name cut to 27 characters
  EXPECT_EQ(id, expected);
  Bytes other(4);
  for (int address : {0x0000, 0x1FBC, 0x2000, 0xFFFC}) {
    ASSERT_EQ(QuillbusReadEeprom(0, address, other.data(), 4), 4);
    EXPECT_EQ(other, Bytes(4, 0xFF)) << address;
  }

  ASSERT_EQ(Exchange(0, Select(0xA0))[3], 0);
  ASSERT_EQ(Exchange(0, EepromWrite(0x0100, {9, 8, 7}))[3], 0);
  const Bytes file = ReadFile(path + ".eeprom");
  ASSERT_EQ(file.size(), 65536u);
  EXPECT_EQ(Bytes(file.begin() + 0x100, file.begin() + 0x103), (Bytes{9, 8, 7}));

  // Unplug and replug, then a fresh library state as in the next program run.
  ASSERT_EQ(QuillbusUnplug(0), 0);
  QuillbusReplug();
  ASSERT_EQ(Refresh(), 1);
  QuillbusReset();
  ASSERT_EQ(Refresh(), 1);
  ASSERT_EQ(Exchange(0, Select(0xA0))[3], 0);
  EXPECT_EQ(Exchange(0, EepromRead(0x0100, 3)), Reply(EepromRead(0x0100, 3), 0, 10, {9, 8, 7}));
}

TEST_F(BoardsTest, EepromStartsFromImage) {
  WriteFile(dir_.path() + "/start.bin", "\x01\x02\x03");
  AddBoard("evm.board", "eeprom = start.bin\n");
  AddBoard("lost.board", "eeprom = missing.bin\n");
  ASSERT_EQ(Refresh(), 2);
  Bytes head(4);
  ASSERT_EQ(QuillbusReadEeprom(0, 0, head.data(), 4), 4);
  EXPECT_EQ(head, (Bytes{1, 2, 3, 0xFF}));
  ASSERT_EQ(QuillbusReadEeprom(0, 0x1FE0, head.data(), 4), 4);
  EXPECT_EQ(head, Bytes(4, 0xFF));
  ASSERT_EQ(QuillbusReadEeprom(1, 0x1FE0, head.data(), 4), 4);
  EXPECT_EQ(head, (Bytes{'F', 'W', 'I', 'D'}));
  EXPECT_NE(Log().find("cannot read EEPROM image"), std::string::npos);
}

TEST_F(BoardsTest, EepromImageThatIsADirectoryIsReportedAndStartsFresh) {
  ASSERT_EQ(::mkdir((dir_.path() + "/images").c_str(), 0755), 0);
  AddBoard("evm.board", "eeprom = images\n");
  ASSERT_EQ(Refresh(), 1);
  Bytes head(4);
  ASSERT_EQ(QuillbusReadEeprom(0, 0x1FE0, head.data(), 4), 4);
  EXPECT_EQ(head, (Bytes{'F', 'W', 'I', 'D'}));
  EXPECT_NE(Log().find("images\" (a directory, not a file), starting fresh"), std::string::npos) << Log();
}

TEST_F(BoardsTest, EndlessEepromImageIsCutNotReadWhole) {
  AddBoard("zero.board", "eeprom = /dev/zero\n");
  ASSERT_EQ(Refresh(), 1);
  Bytes tail(2);
  ASSERT_EQ(QuillbusReadEeprom(0, 0xFFFE, tail.data(), 2), 2);
  EXPECT_EQ(tail, Bytes(2, 0));
  EXPECT_NE(Log().find("cut to 65536 bytes"), std::string::npos);
}

}  // namespace
}  // namespace qbtest
