// The command-script interpreter: blocks and flushes, the interface rule,
// numbers, masks, loops and the output of reads, echoes and loops, runs
// that stay stoppable, and transfers the link refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "registers/command_script.h"
#include "platform/timing.h"
#include "quillbus/quillbus.h"
#include "tests/link/link_fixture.h"
#include "tests/registers/board_harness.h"
#include "tests/registers/script_recorder.h"
#include "tests/support/test_support.h"

using regtest::Recorder;
using Lines = std::vector<std::string>;

namespace {

// Runs `lines` synchronously with a recorder as the owner.
Recorder RunLines(const Lines& lines, std::map<int, uint8_t> registers = {}, bool withPage = false) {
  Recorder r;
  r.registers = std::move(registers);
  CommandScript script;
  r.Attach(script, withPage);
  script.SetLines(lines);
  script.RunSync();
  return r;
}

std::string Bytes(int first, int count) {
  std::string s;
  char b[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(b, sizeof b, "%02X ", first + i);
    s += b;
  }
  return s;
}

struct FlushCase {
  const char* name;
  Lines lines;
  Lines transfers;
};

class Flushes : public ::testing::TestWithParam<FlushCase> {};

TEST_P(Flushes, SendTheseTransfers) {
  EXPECT_EQ(RunLines(GetParam().lines, {{5, 0xFE}}).transfers, GetParam().transfers);
}

const char* const kEndRead = "R 30 00 n1 last=1";

INSTANTIATE_TEST_SUITE_P(
    Script, Flushes,
    ::testing::Values(
        // One write of five bytes before the read; the read's line is the last, so last=1.
        FlushCase{"ContinuedBlockBeforeRead",
                  {"w 30 10 01 02 03", "> 04 05", "r 30 00 01"},
                  {"W 30 10 [01 02 03 04 05] last=1", "R 30 00 n1 last=1", kEndRead}},
        FlushCase{"OddDeviceIsEven", {"w 31 00 AA"}, {"W 30 00 [AA] last=1", kEndRead}},
        FlushCase{"SpiConventions",
                  {"i S", "w 30 10 01", "i P", "w 30 10 02", "i I", "w 30 10 03"},
                  {"W 00 10 [01] last=0", "W 01 10 [02] last=0", "W 30 10 [03] last=1", kEndRead}},
        FlushCase{"SlashesEndTheData", {"w 30 10 01 // 02"}, {"W 30 10 [01] last=1", kEndRead}},
        FlushCase{"CommentEndsTheData", {"w 30 10 01 # 02"}, {"W 30 10 [01] last=1", kEndRead}},
        FlushCase{"CommentLinesDoNotFlush",
                  {"w 30 10 01", "# a note", "   ", "> 02", "c x"},
                  {"W 30 10 [01 02] last=1", kEndRead}},
        FlushCase{"FlushBeforeALaterLine",
                  {"w 30 10 01", "w 30 20 02", "c x"},
                  {"W 30 10 [01] last=0", "W 30 20 [02] last=1", kEndRead}},
        // Registers 0xF0..0xFF: 16 of the 20 bytes.
        FlushCase{"BlockEndsAtRegister255",
                  {"w 30 F0 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13"},
                  {"W 30 F0 [00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F] last=1", kEndRead}},
        FlushCase{"ReadModifyWrite", {"s 30 05 XXXX0001"}, {"R 30 05 n1 last=0", "W 30 05 [F1] last=1", kEndRead}},
        FlushCase{"BodyRunsLimitPlusOneTimes",
                  {":L 2", "w 30 10 01", ":L"},
                  {"W 30 10 [01] last=1", "W 30 10 [01] last=1", "W 30 10 [01] last=1", kEndRead}},
        FlushCase{"ReadInsideALoopIsNotLast", {":L 0", "r 30 05 01", ":L"}, {"R 30 05 n1 last=0", kEndRead}},
        FlushCase{"ReadUnderSpi", {"i P", "r 30 05 01"}, {"R 01 05 n1 last=1", "R 01 00 n1 last=1"}},
        FlushCase{"PollThatMatches", {"f 30 05 1111111X 100"}, {"R 30 05 n1 last=0", kEndRead}}),
    [](const auto& info) { return info.param.name; });

class BadLines : public ::testing::TestWithParam<const char*> {};

TEST_P(BadLines, Fail) {
  CommandScript script;
  std::string line = GetParam();
  EXPECT_FALSE(script.ExecuteLine(line, true, false)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Script, BadLines,
                         ::testing::Values("w 30 00", "w 30 00 0x12", "w 30 zz 01", "w 80000000 00 01",
                                           "w 30 80000000 01", "w 30 10 // 01", ">", "> zz", "r 30 00",
                                           "r 30 80000000 01", "r 30 00 1G", "s 30 05", "s 30 05 XXXX2001",
                                           "f 30 05 1XX0 1.5", "f 30 05", "g 30", "i", "i Q", "d", "d 1x",
                                           ":L", ":l 3", ":L x", "q 1 2", "9",
                                           // Tabs do not separate: no data byte follows.
                                           "w\t30 00 01"));

class GoodLines : public ::testing::TestWithParam<const char*> {};

TEST_P(GoodLines, Succeed) {
  CommandScript script;
  std::string line = GetParam();
  EXPECT_TRUE(script.ExecuteLine(line, true, false)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Script, GoodLines,
                         ::testing::Values("", "   ", "# only a comment", "L anything", "l", "/ note", "// note",
                                           "b", "c", "W 30 00 00000012", "i s", "i Spi", "d 0", "d -5", ":L 3"));

TEST(Script, LineIsTrimmedAndOnlyItsFirst255CharactersCount) {
  CommandScript script;
  std::string line = "  c x \t";
  EXPECT_TRUE(script.ExecuteLine(line, true, false));
  EXPECT_EQ(line, "c x");
  // A bad number beyond character 255 is never seen.
  std::string longLine = "c " + std::string(253, 'a') + " w zz";
  Recorder r;
  r.Attach(script);
  EXPECT_TRUE(script.ExecuteLine(longLine, true, false));
  EXPECT_EQ(r.readData, Lines{"#" + std::string(253, 'a')});
}

TEST(Script, ThirtyThirdLoopFails) {
  CommandScript script;
  for (int i = 0; i < CommandScript::kMaxLoops; ++i) {
    std::string line = ":L 1";
    ASSERT_TRUE(script.ExecuteLine(line, false, false));
  }
  std::string line = ":L 1";
  EXPECT_FALSE(script.ExecuteLine(line, false, false));
}

struct MaskCase {
  uint8_t before;
  const char* mask;
  uint8_t after;
};

class SetMasks : public ::testing::TestWithParam<MaskCase> {};

TEST_P(SetMasks, ChangeTheRegister) {
  const MaskCase& c = GetParam();
  Recorder r = RunLines({std::string("s 30 05 ") + c.mask}, {{5, c.before}});
  ASSERT_EQ(r.transfers.size(), 3u);
  char expected[48];
  std::snprintf(expected, sizeof expected, "W 30 05 [%02X] last=1", c.after);
  EXPECT_EQ(r.transfers[1], expected) << c.mask;
}

INSTANTIATE_TEST_SUITE_P(Script, SetMasks,
                         ::testing::Values(MaskCase{0xFE, "XXXX0001", 0xF1}, MaskCase{0x00, "1", 0x01},
                                           MaskCase{0xFF, "0", 0xFE}, MaskCase{0x0F, "1XXXXXXX", 0x8F},
                                           MaskCase{0xAA, "x1x0", 0xAE}, MaskCase{0xFF, "00000000", 0x00},
                                           // A ninth character changes nothing.
                                           MaskCase{0x00, "011111111", 0xFF}));

struct PollCase {
  uint8_t value;
  const char* mask;
  bool matches;
};

class PollMasks : public ::testing::TestWithParam<PollCase> {};

// Timer-driven, an endless poll ends at a match or gives the window back.
TEST_P(PollMasks, MatchOrWait) {
  const PollCase& c = GetParam();
  Recorder r;
  r.registers[5] = c.value;
  CommandScript script;
  r.Attach(script);
  script.SetLines({std::string("f 30 05 ") + c.mask + " -1"});
  script.BeginRun(false);
  const auto result = script.Tick();
  EXPECT_EQ(result.end, c.matches ? CommandScript::TickEnd::Finished : CommandScript::TickEnd::Wait) << c.mask;
  script.EndRun();
}

INSTANTIATE_TEST_SUITE_P(Script, PollMasks,
                         ::testing::Values(PollCase{0x08, "1XX0", true}, PollCase{0xF8, "1XX0", true},
                                           PollCase{0x09, "1XX0", false}, PollCase{0x00, "1XX0", false},
                                           PollCase{0x80, "1XXXXXXX", true}, PollCase{0x7F, "1XXXXXXX", false}));

TEST(Script, ReadOutput) {
  std::map<int, uint8_t> regs;
  for (int i = 0; i < 256; ++i) regs[i] = uint8_t(i - 0xF0);
  // Cut to 16 bytes at register 0xF0; page 0 without a page callback.
  EXPECT_EQ(RunLines({"r 30 F0 20"}, regs).readData, (Lines{"r 30 F0 10, Page = 0:", "  " + Bytes(0, 16)}));

  for (int i = 0; i < 256; ++i) regs[i] = uint8_t(i);
  Recorder r = RunLines({":L 0", "r 31 00 12", ":L"}, regs, true);
  EXPECT_EQ(r.readData, (Lines{"  r 30 00 12, Page = 0:", "    " + Bytes(0, 16), "  " + Bytes(16, 2)}));
}

TEST(Script, ReadWithoutTransferPrintsThePreviousBuffer) {
  CommandScript script;
  Recorder r;
  script.SetOutput(&r);
  script.SetLines({"r 30 00 02"});
  script.RunSync();
  EXPECT_EQ(r.readData, (Lines{"r 30 00 02, Page = 0:", "  00 00 "}));
}

TEST(Script, PageOfTheReadHeaderComesFromThePageCallback) {
  Recorder r;
  r.page = 3;
  CommandScript script;
  r.Attach(script, true);
  EXPECT_TRUE(script.ExecuteSingleLine("r 30 00 01"));
  EXPECT_EQ(r.readData.front(), "r 30 00 01, Page = 3:");
}

TEST(Script, LoopLines) {
  EXPECT_EQ(RunLines({":L 2", "w 30 10 01", ":L"}).readData,
            (Lines{"  #Loop [line #0 to #2], Iteration #1 of #2", "  #Loop [line #0 to #2], Iteration #2 of #2"}));
  EXPECT_EQ(RunLines({":L 1", ":L 0", "c x", ":L", ":L"}).readData,
            (Lines{"#x", "  #Loop [line #0 to #4], Iteration #1 of #1", "#x"}));
}

TEST(Script, MessagesEchoesAndBits) {
  Recorder r = RunLines({"b", "b hello world # not shown", "c some text", "c", "g 3 1", "g A 0"});
  EXPECT_EQ(r.breaks, (Lines{"break", "hello world"}));
  EXPECT_EQ(r.readData, (Lines{"#some text", "#"}));
  EXPECT_EQ(r.bits, (Lines{"3 on", "10 off"}));
}

TEST(Script, DecodeOnlyRunsWritesAndSkipsTheRest) {
  Recorder r;
  CommandScript script;
  r.Attach(script);
  for (const char* text : {"r 30 00 01", "s 30 05 1", "f 30 05 1 -1", "g 1 1", "d 100000", "b", "c x", ":L -1"}) {
    std::string line = text;
    EXPECT_TRUE(script.ExecuteLine(line, false, true)) << text;
  }
  std::string bad = "x 1";
  EXPECT_FALSE(script.ExecuteLine(bad, false, true));
  std::string write = "w 30 10 01";
  EXPECT_TRUE(script.ExecuteLine(write, true, true));
  script.FlushPending(true);
  EXPECT_EQ(r.transfers, Lines{"W 30 10 [01] last=1"});
  EXPECT_TRUE(r.readData.empty());
  EXPECT_TRUE(r.breaks.empty());
}

TEST(Script, TwoHundredFiftyLinesRunInThreeTicks) {
  CommandScript script;
  Recorder r;
  r.Attach(script);
  script.SetLines(Lines(250, "c n"));
  script.BeginRun(false);
  std::vector<int> ticks;
  CommandScript::TickResult result;
  do {
    result = script.Tick();
    ticks.push_back(result.lines);
  } while (result.end == CommandScript::TickEnd::More);
  EXPECT_EQ(result.end, CommandScript::TickEnd::Finished);
  EXPECT_EQ(ticks, (std::vector<int>{100, 100, 50}));
  EXPECT_EQ(r.readData.size(), 250u);
}

TEST(Script, FailureDropsThePendingBlock) {
  // The failing continuation leaves its block unwritten.
  Recorder r = RunLines({"w 30 10 01", "c a", "c b", "w 30 11 02", "> zz"});
  EXPECT_EQ(r.transfers, Lines{"W 30 10 [01] last=0"});
}

TEST(Script, TimerDrivenRunsNeverBlock) {
  Recorder r;
  CommandScript script;
  r.Attach(script);

  // An endless loop goes on tick after tick until stopped.
  script.SetLines({":L -1", "c x", ":L"});
  script.BeginRun(false);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(script.Tick().end, CommandScript::TickEnd::More);
  script.EndRun();
  EXPECT_EQ(script.LoopDepth(), 0);

  // A long delay becomes a wait between ticks.
  script.SetLines({"d 100000", "c after"});
  script.BeginRun(false);
  auto result = script.Tick();
  EXPECT_EQ(result.end, CommandScript::TickEnd::Wait);
  EXPECT_GT(result.waitMs, 1000);
  EXPECT_EQ(script.Tick().end, CommandScript::TickEnd::Wait);
  script.EndRun();

  // A poll that never matches stays on its line.
  r.registers[5] = 0;
  script.SetLines({"f 30 05 1XXXXXXX -1"});
  script.BeginRun(false);
  EXPECT_EQ(script.Tick().end, CommandScript::TickEnd::Wait);
  EXPECT_EQ(script.LineCounter(), 0);
  script.EndRun();
}

TEST(Script, ADelayOnTheLastLineWaitsBeforeTheEndOfTheRun) {
  Recorder r;
  CommandScript script;
  r.Attach(script);
  script.SetLines({"w 30 10 01", "d 30"});
  script.BeginRun(false);
  EXPECT_EQ(script.Tick().end, CommandScript::TickEnd::Wait);
  // The block went out before the delay; the end-of-run read waits for it.
  EXPECT_EQ(r.transfers, Lines{"W 30 10 [01] last=1"});
  CommandScript::TickResult result;
  for (int i = 0; i < 1000 && (result = script.Tick()).end == CommandScript::TickEnd::Wait; ++i)
    platform::Sleep(std::max(result.waitMs, 1));
  EXPECT_EQ(result.end, CommandScript::TickEnd::Finished);
  EXPECT_EQ(r.transfers, (Lines{"W 30 10 [01] last=1", kEndRead}));
  EXPECT_EQ(script.Tick().end, CommandScript::TickEnd::Finished);
  EXPECT_EQ(r.transfers.size(), 2u);  // the end comes once
}

TEST(Script, ASynchronousRunStopsWhenItsTimeIsUp) {
  testsupport::LogCapture log;
  Recorder r;
  CommandScript script;
  r.Attach(script);
  script.SetFileName("huge.cfg");
  script.SetSyncBudget(std::chrono::milliseconds(20));
  script.SetLines({"w 30 10 01", ":L 99999999", "c x", ":L", "w 30 11 02"});
  EXPECT_FALSE(script.RunSync());
  EXPECT_FALSE(script.Synchronous());
  // Stopped inside the loop: what ran is written and the owner gets its end-of-run read.
  EXPECT_EQ(r.transfers, (Lines{"W 30 10 [01] last=0", kEndRead}));
  bool logged = false;
  for (const std::string& line : log.Lines())
    logged |= line.rfind("Script stopped after 0.02 s, line = ", 0) == 0 &&
              line.find("(Source File = huge.cfg)") != std::string::npos;
  EXPECT_TRUE(logged);

  // Time in a message box does not count.
  struct SlowReader : Recorder {
    void Break(const std::string&) override { platform::Sleep(60); }
  } slow;
  slow.Attach(script);
  script.SetLines({"b", "c after"});
  EXPECT_TRUE(script.RunSync());
  EXPECT_EQ(slow.readData, Lines{"#after"});
}

TEST(Script, ASynchronousRunWaitsNoLongerThanItsTimeLeft) {
  // Each line alone may hold a run 10 s: with 30 ms left the run stops on time.
  struct Poller : Recorder {
    int reads = 0;
    // The poll's register never matches; each read gives the clock a millisecond.
    static int Read(void* user, int, ScriptPlace&, int, uint8_t* buffer, int count, bool isRead, bool) {
      if (!isRead) return 1;
      std::fill(buffer, buffer + count, 0);
      ++static_cast<Poller*>(user)->reads;
      platform::Sleep(1);
      return 1;
    }
  };
  for (const char* wait : {"d 10000", "f 30 05 1XXXXXXX 10000", "f 30 05 1XXXXXXX -1"}) {
    testsupport::LogCapture log;
    Poller r;
    CommandScript script;
    r.Attach(script);
    script.SetTransfer(&r, Poller::Read);
    script.SetFileName("wait.cfg");
    script.SetSyncBudget(std::chrono::milliseconds(30));
    script.SetLines({wait, "c after"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(script.RunSync()) << wait;
    // Far below the 10 s that the line alone may wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << wait;
    EXPECT_LT(r.reads, 1000) << wait;
    EXPECT_TRUE(r.readData.empty()) << wait;
    EXPECT_TRUE(log.Contains(std::string("Script stopped after 0.03 s, line = 1, ") + wait +
                             " (Source File = wait.cfg)"))
        << wait;
  }
}

TEST(Script, ScriptsStartWithTheDefaultBudget) {
  const std::chrono::milliseconds saved = CommandScript::DefaultSyncBudget();
  EXPECT_EQ(saved, std::chrono::milliseconds(CommandScript::kSyncBudgetMs));
  CommandScript::SetDefaultSyncBudget(std::chrono::milliseconds(20));
  testsupport::LogCapture log;
  Recorder r;
  CommandScript script;
  CommandScript::SetDefaultSyncBudget(saved);
  r.Attach(script);
  script.SetFileName("huge.cfg");
  script.SetLines({":L 99999999", "c x", ":L"});
  EXPECT_FALSE(script.RunSync());
  bool logged = false;
  for (const std::string& line : log.Lines())
    logged |= line.rfind("Script stopped after 0.02 s, line = ", 0) == 0 &&
              line.find("(Source File = huge.cfg)") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST(Script, SynchronousRunsRefuseWhatNobodyCouldStop) {
  testsupport::LogCapture log;
  Recorder r = RunLines({":L -1", "c x", ":L"});
  EXPECT_TRUE(r.readData.empty());
  EXPECT_TRUE(log.Contains("A loop without end cannot run synchronously: :L -1"));

  // A device that does not answer ends an endless poll.
  Recorder silent;
  silent.result = 0;
  CommandScript script;
  silent.Attach(script);
  script.SetLines({"f 30 05 1XXXXXXX -1"});
  EXPECT_TRUE(script.RunSync());
  EXPECT_TRUE(log.Contains("Transfer failed, line = 1: f 30 05 1XXXXXXX -1"));
}

TEST(Script, RefusedTransfersAreLoggedWithTheirLine) {
  testsupport::LogCapture log;
  Recorder r;
  r.result = 0;
  CommandScript script;
  r.Attach(script);
  script.SetLines({"c a", "w 30 7F 01 02", "c b", "s 30 05 1"});
  script.RunSync();
  EXPECT_TRUE(log.Contains("Transfer failed, line = 2: w 30 7F 01 02"));
  EXPECT_TRUE(log.Contains("Transfer failed, line = 4: s 30 05 1"));
  // The read-modify-write writes nothing without the register's value; the
  // end-of-run read belongs to no line and is not logged.
  EXPECT_EQ(r.transfers, (Lines{"W 30 7F [01 02] last=0", "R 30 05 n1 last=0", kEndRead}));
  int failures = 0;
  for (const std::string& line : log.Lines()) failures += line.rfind("Transfer failed", 0) == 0;
  EXPECT_EQ(failures, 2);

  script.ExecuteSingleLine("w 30 7F 01 02");
  EXPECT_TRUE(log.Contains("Transfer failed: w 30 7F 01 02"));
}

// What r, s and f make of each transfer result: a failed read shows no bytes
// it did not read, last known values are marked unless there is no board,
// and only refusals by a board are logged.
TEST(Script, TransferResultsOfReadsWritesAndPolls) {
  struct Case {
    const char* name;
    int result;
    Lines readData;   // of "r 30 05 01" after "w 30 10 01 02 03"
    Lines transfers;  // of "s 30 05 XXXX0001" and "f 30 05 1XXXXXXX 50" (register 5 holds F0)
    bool logged;
  } cases[] = {
      {"done", kTransferDone, {"r 30 05 01, Page = 0:", "  F0 "},
       {"R 30 05 n1 last=0", "W 30 05 [F1] last=1", "R 30 05 n1 last=0"}, false},
      {"refused", kTransferFailed,
       {"#Transfer failed: w 30 10 01 02 03", "r 30 05 01, Page = 0:", "  #Read failed"},
       {"R 30 05 n1 last=0", "R 30 05 n1 last=0"}, true},
      {"refused, last known values", kTransferLastKnown,
       {"#Transfer failed: w 30 10 01 02 03", "r 30 05 01, Page = 0:", "  #Read failed, last known values:", "  F0 "},
       {"R 30 05 n1 last=0", "R 30 05 n1 last=0"}, true},
      {"no board, last known values", kTransferNoBoard | kTransferLastKnown, {"r 30 05 01, Page = 0:", "  F0 "},
       {"R 30 05 n1 last=0", "W 30 05 [F1] last=1", "R 30 05 n1 last=0"}, false},
      {"no board, nothing known", kTransferNoBoard, {"r 30 05 01, Page = 0:", "  #Read failed"},
       {"R 30 05 n1 last=0", "R 30 05 n1 last=0"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::LogCapture log;
    Recorder r;
    r.registers[5] = 0xF0;
    r.result = c.result;
    CommandScript script;
    r.Attach(script);
    script.ExecuteSingleLine("w 30 10 01 02 03");
    script.ExecuteSingleLine("r 30 05 01");
    EXPECT_EQ(r.readData, c.readData);
    r.transfers.clear();
    r.registers[5] = 0xF0;
    script.ExecuteSingleLine("s 30 05 XXXX0001");
    script.ExecuteSingleLine("f 30 05 1XXXXXXX 50");
    EXPECT_EQ(r.transfers, c.transfers);
    EXPECT_EQ(log.Contains("Transfer failed: r 30 05 01"), c.logged);
  }
}

// Through a link on an emulated board, as a board window forwards it.
class ScriptOnBoard : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    link_->AddDevice(0x30, 0, 256);
    harness_.link = link_.get();
    script_.SetCallbacks(&harness_, regtest::BoardHarness::BlockTransfer);
  }
  regtest::BoardHarness harness_;
  CommandScript script_;
};

TEST_F(ScriptOnBoard, WritesReachTheBoardAndRefusedBlocksAreLogged) {
  testsupport::LogCapture log;
  script_.SetLines({"w 30 00 01", "w 30 10 AA BB", "w 30 7F 01 02"});
  script_.RunSync();
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 1, 0x10), 0xAA);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 1, 0x11), 0xBB);
  // Registers 127 and 128 do not exist on a page: the link refuses the block.
  EXPECT_TRUE(log.Contains("Transfer failed, line = 3: w 30 7F 01 02"));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 1, 0x7F), 0);
}

}  // namespace

namespace {

// An owner that keeps pages: it places a device where it says the device
// is (which another writer may change at any time) and notes where each
// transfer was sent.
struct PagedOwner : CommandScriptOutput {
  int page = 7;                 // where every device is, as far as the owner knows
  std::vector<std::string> sent;  // "30 b0 p7 r05 W"
  std::vector<std::string> readData;
  void AddReadData(const std::string& line) override { readData.push_back(line); }
  void Break(const std::string&) override {}
  static int Transfer(void* user, int device, ScriptPlace& place, int reg, uint8_t* buffer, int count, bool isRead,
                      bool) {
    auto* owner = static_cast<PagedOwner*>(user);
    if (!place.placed) place = ScriptPlace{true, device != 0x70, device == 0x40, 0, owner->page};
    char text[48];
    std::snprintf(text, sizeof text, "%02X b%d p%d r%02X %c", device, place.book, place.page, reg, isRead ? 'R' : 'W');
    owner->sent.push_back(text);
    if (isRead) std::fill(buffer, buffer + count, 0);
    // Someone else moves the device between any two transfers.
    owner->page = (owner->page + 1) % 200;
    return kTransferDone;
  }
};

TEST(Script, EachTransferGoesWhereTheRunHasSelectedOnItsDevice) {
  PagedOwner owner;
  CommandScript script;
  script.SetCallbacks(&owner, PagedOwner::Transfer);
  script.SetOutput(&owner);
  script.SetLines({"w 30 05 01", "w 30 00 02", "w 30 05 02", "w 40 00 00", "w 40 7F 03", "w 40 05 04",
                   "s 30 06 XXXXXXX1", "r 30 05 01", "w 70 00 05", "w 70 01 06", "i S", "w 30 05 05", "i I"});
  script.RunSync();
  EXPECT_EQ(owner.sent, (Lines{
                            "30 b0 p7 r05 W",  // placed where the device was
                            "30 b0 p7 r00 W",  // the select goes to the page it leaves
                            "30 b0 p2 r05 W",
                            "40 b0 p10 r00 W",  // another device, placed when first addressed
                            "40 b0 p0 r7F W",   // the book select on page 0
                            "40 b3 p0 r05 W",
                            "30 b0 p2 r06 R", "30 b0 p2 r06 W",  // both halves of s on the page selected
                            "30 b0 p2 r05 R",
                            "70 b0 p16 r00 W", "70 b0 p16 r01 W",  // no pages: register 0 selects nothing
                            "00 b0 p18 r05 W",                     // the SPI device is a device of its own
                            "00 b0 p18 r00 R",                     // the end of the run, on the last device
                        }));
  EXPECT_EQ(owner.readData, (Lines{"r 30 05 01, Page = 2:", "  00 "}));

  // Every run starts afresh where the devices are, and so does the first typed line.
  owner.sent.clear();
  owner.page = 50;
  script.SetLines({"w 30 05 01"});
  script.RunSync();
  owner.page = 60;
  script.ExecuteSingleLine("w 30 05 01");
  EXPECT_EQ(owner.sent, (Lines{"30 b0 p50 r05 W", "30 b0 p50 r00 R", "30 b0 p60 r05 W"}));
}

// Typed lines are one writer: each goes on from the page the earlier ones
// selected on its device, whatever other writers and runs did between.
TEST(Script, ATypedLineKeepsThePageTheEarlierTypedLinesSelected) {
  PagedOwner owner;
  CommandScript script;
  script.SetCallbacks(&owner, PagedOwner::Transfer);
  script.SetOutput(&owner);
  script.ExecuteSingleLine("w 30 00 03");
  owner.page = 90;
  script.ExecuteSingleLine("w 30 05 02");
  script.SetLines({"w 30 00 09", "w 30 05 09"});
  script.RunSync();
  script.ExecuteSingleLine("r 30 05 01");
  script.ExecuteSingleLine("w 40 05 01");  // another device: placed where it is
  EXPECT_EQ(owner.sent, (Lines{"30 b0 p7 r00 W", "30 b0 p3 r05 W",                     // typed
                               "30 b0 p91 r00 W", "30 b0 p9 r05 W", "30 b0 p9 r00 R",  // the run
                               "30 b0 p3 r05 R", "40 b0 p95 r05 W"}));                 // typed again
  EXPECT_EQ(owner.readData, (Lines{"r 30 05 01, Page = 3:", "  00 "}));
  // Another owner's board: typed lines start again where its devices are.
  PagedOwner other;
  other.page = 20;
  script.SetCallbacks(&other, PagedOwner::Transfer);
  script.ExecuteSingleLine("w 30 05 01");
  EXPECT_EQ(other.sent, Lines{"30 b0 p20 r05 W"});
}

// Where a write moves the run: every byte through register 0 selects the
// page, through register 127 of page 0 the book (a block counts wherever it
// starts); register 127 of another page and reads move nothing.
TEST(Script, ARunFollowsEveryByteItWritesThroughTheSelectRegisters) {
  const struct {
    const char* name;
    Lines lines;
    const char* last;  // where the last line went
  } cases[] = {
      {"book then page", {"w 40 00 00", "w 40 7F 03", "w 40 00 02", "w 40 7F 09", "w 40 05 04"}, "40 b3 p2 r05 W"},
      {"a block through register 127 of page 0", {"w 40 00 00", "w 40 7E 11 01", "w 40 05 AA"}, "40 b1 p0 r05 W"},
      {"a block from register 0 on", {"w 40 00 02 AA", "w 40 05 BB"}, "40 b0 p2 r05 W"},
      {"register 127 of another page", {"w 40 00 04", "w 40 7F 05", "w 40 05 01"}, "40 b0 p4 r05 W"},
      {"a read answered 0", {"w 30 00 02", "r 30 00 01", "w 30 05 01"}, "30 b0 p2 r05 W"},
      {"no pages", {"w 70 00 05", "w 70 05 01"}, "70 b0 p7 r05 W"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PagedOwner owner;
    CommandScript script;
    script.SetCallbacks(&owner, PagedOwner::Transfer);
    script.SetLines(c.lines);
    script.RunSync();
    ASSERT_GE(owner.sent.size(), 2u);
    EXPECT_EQ(owner.sent[owner.sent.size() - 2], c.last);  // before the end-of-run read
  }
}

}  // namespace
