// The "Command" window on the offscreen platform: runs, decoding, the log,
// the source generator, files, and a kit script run on an emulated board.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>

#include "registers/i2c_command.h"
#include "quillbus/quillbus.h"
#include "tests/link/link_fixture.h"
#include "tests/registers/board_harness.h"
#include "tests/registers/script_recorder.h"
#include "tests/registers/ui_support.h"
#include "tests/support/test_support.h"

using regtest::Recorder;
using Lines = std::vector<std::string>;

namespace {

const std::string kDash = TI2CCommand::kDashLine;

std::string Hex(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02X", v);
  return b;
}

// "#% 30 p0 r16 = 01" for every described byte.
void Describe(void*, std::vector<std::string>& lines, int device, int page, int reg, int value) {
  lines.push_back("#% " + Hex(device) + " p" + std::to_string(page) + " r" + std::to_string(reg) + " = " + Hex(value));
}

const char* logText = nullptr;
char* Log(void*) { return logText ? strdup(logText) : nullptr; }

class CommandWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDialogs(&dialogs_);
    window_ = std::make_unique<TI2CCommand>(nullptr);
    window_->SetCallbacks(&recorder_, Recorder::Transfer, Recorder::Bits, Describe, Recorder::Page, Log);
  }
  void TearDown() override {
    window_.reset();
    SetDialogs(nullptr);
  }
  // Runs with the Run button, tick by tick, until the run ends.
  int RunToEnd() {
    window_->Run->click();
    int ticks = 0;
    while (window_->Running() && ticks < 1000) {
      window_->RunScriptTimer();
      ++ticks;
    }
    return ticks;
  }

  regtest::TestDialogs dialogs_;
  Recorder recorder_;
  std::unique_ptr<TI2CCommand> window_;
};

TEST_F(CommandWindow, DecodingDescribesEachWriteBlockAndIsRepeatable) {
  window_->SetCommandLines({"w 30 10 01 02 03", "r 30 00 01"});
  window_->CommandDecode->click();
  const Lines once = window_->CommandLines();
  EXPECT_EQ(once, (Lines{"w 30 10 01 02 03", "#% 30 p0 r16 = 01", "#% 30 p0 r17 = 02", "#% 30 p0 r18 = 03", kDash,
                         "r 30 00 01"}));
  window_->CommandDecode->click();
  EXPECT_EQ(window_->CommandLines(), once);
  // Decoding never reaches the board.
  EXPECT_TRUE(recorder_.transfers.empty());
  window_->CommandClearDecoded->click();
  EXPECT_EQ(window_->CommandLines(), (Lines{"w 30 10 01 02 03", "r 30 00 01"}));
}

TEST_F(CommandWindow, WritesOfRegisterZeroSelectTheDecodedPage) {
  window_->SetCommandLines({"w 30 05 AA", "w 30 00 01", "w 30 05 BB"});
  window_->CommandDecode->click();
  const Lines once = window_->CommandLines();
  EXPECT_EQ(once, (Lines{"w 30 05 AA", "#% 30 p0 r5 = AA", kDash, "w 30 00 01", "#% 30 p1 r0 = 01", kDash,
                         "w 30 05 BB", "#% 30 p1 r5 = BB", kDash}));
  // The second decoding starts on page 0 again.
  window_->CommandDecode->click();
  EXPECT_EQ(window_->CommandLines(), once);
}

TEST_F(CommandWindow, DecodingMarksSyntaxErrors) {
  window_->SetCommandLines({"  w 30 10  ", "w 30 11 01"});
  window_->CommandDecode->click();
  EXPECT_EQ(window_->CommandLines(),
            (Lines{"#%Syntax Error", "w 30 10", "w 30 11 01", "#% 30 p0 r17 = 01", kDash}));
}

TEST_F(CommandWindow, ReadDecodingFollowsTheReadHeaders) {
  std::string data = "  ";
  for (int i = 0; i < 16; ++i) data += Hex(i) + " ";
  window_->SetReadDataLines({"r 30 00 10, Page = 2:", data, "  ", "#comment", "r 30 10 00, Page = 0:"});
  window_->ReadDecode->click();
  Lines expected{"r 30 00 10, Page = 2:", data};
  for (int i = 0; i < 16; ++i) expected.push_back("#% 30 p2 r" + std::to_string(i) + " = " + Hex(i));
  expected.insert(expected.end(), {kDash, "  ", "#comment", "r 30 10 00, Page = 0:", kDash});
  EXPECT_EQ(window_->ReadDataLines(), expected);
  window_->ReadClearDecoded->click();
  EXPECT_EQ(window_->ReadDataLines(), (Lines{"r 30 00 10, Page = 2:", data, "  ", "#comment", "r 30 10 00, Page = 0:"}));
}

TEST_F(CommandWindow, ReadDecodingOfWhatARunPrinted) {
  for (int i = 0; i < 18; ++i) recorder_.registers[i] = uint8_t(0xA0 + i);
  recorder_.page = 4;
  window_->Command->setText("r 30 00 12");
  window_->Execute->click();
  window_->ReadDecode->click();
  const Lines lines = window_->ReadDataLines();
  ASSERT_EQ(lines.size(), 3u + 18u + 1u);
  EXPECT_EQ(lines[0], "r 30 00 12, Page = 4:");
  EXPECT_EQ(lines[2], "  B0 B1 ");
  EXPECT_EQ(lines[3], "#% 30 p4 r0 = A0");
  EXPECT_EQ(lines[21], kDash);
}

TEST_F(CommandWindow, ReadDecodingStopsAtANumberThatDoesNotConvert) {
  const Lines before{"r 30 00 02, Page = 0:", "  zz 01 "};
  window_->SetReadDataLines(before);
  window_->ReadDecode->click();
  EXPECT_EQ(dialogs_.messages, Lines{"'zz' is not a valid integer value"});
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);
  EXPECT_EQ(window_->ReadDataLines(), before);
}

TEST_F(CommandWindow, DecodingButtonsNeedADecodeCallback) {
  window_->SetCallbacks(&recorder_, Recorder::Transfer);
  for (QPushButton* b : {window_->CommandDecode, window_->CommandClearDecoded, window_->ReadDecode,
                         window_->ReadClearDecoded})
    EXPECT_TRUE(b->isHidden()) << b->objectName().toStdString();
  EXPECT_TRUE(window_->GetLog->isHidden());
  EXPECT_TRUE(window_->GenSrc->isHidden());
  EXPECT_FALSE(window_->Run->isHidden());
}

TEST_F(CommandWindow, GetLogAppendsEachLine) {
  window_->SetCommandLines({"w 30 10 01"});
  logText = "first line\nsecond line";
  window_->GetLog->click();
  logText = "third\r\n";
  window_->GetLog->click();
  logText = nullptr;
  window_->GetLog->click();
  EXPECT_EQ(window_->CommandLines(), (Lines{"w 30 10 01", "first line", "second line", "third"}));
}

TEST_F(CommandWindow, GenSrcWritesTheScriptsWritesAsCSource) {
  testsupport::TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  testsupport::LogCapture log;
  // The poll would wait for ever on a board; here it reads once. The s line
  // is written back with its set bits (the read gives nothing to keep).
  window_->SetCommandLines({"w 30 10 AB CD", "r 30 00 01", "f 30 05 1XXXXXXX -1", "g 1 1", "s 30 05 XXXX0101"});
  window_->GenSrc->click();
  std::filesystem::current_path(previous);

  const std::string expected =
      "const QMX7440_VRA5520_REG_T __packed pFixedCfgRegs[] AT(FIXED_REGS_ADDR) = {\r\n"
      "  {016, 0xAB},\r\n"
      "  {017, 0xCD},\r\n"
      "  {005, 0x05},\r\n"
      "  // VRA5520\n  { 0x01, 0xC0 }, // Enable both amps, stereo headphone mode, not shutdown\n"
      "  { 0x02, 0x1A }  // Unmute and set volume\n};\n\n\r\n"
      "const IXD_CMD_T __packed pFixedCfgRegsCmdList[] = {\r\n"
      "  { QMX7440_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + 0},\r\n"
      "  { QMX7440_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + 1},\r\n"
      "  { QMX7440_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + 2},\r\n"
      "  { VRA5520_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + 3 },\n"
      "  { VRA5520_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + 4 },\n"
      "  { VRA5520_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), 0x0000               }\n};\n\r\n";
  EXPECT_EQ(testsupport::ReadFile(dir.File("GenSrc.c")), expected);
  EXPECT_TRUE(log.Lines().empty());
  // Nothing reached the owner: no transfer, no board bits.
  EXPECT_TRUE(recorder_.transfers.empty());
  EXPECT_TRUE(recorder_.bits.empty());
  // The owner's transfer callback is back.
  window_->Command->setText("w 30 10 01");
  window_->Execute->click();
  EXPECT_EQ(recorder_.transfers, Lines{"W 30 10 [01] last=1"});
}

TEST_F(CommandWindow, RunDisablesTheControlsAndStopRestoresThem) {
  window_->SetCommandLines(Lines(10, "c x"));
  window_->Run->click();
  EXPECT_EQ(window_->Run->text(), "Stop");
  EXPECT_TRUE(window_->RunScript->isActive());
  EXPECT_FALSE(window_->ProgressBar->isHidden());
  for (QWidget* w : std::initializer_list<QWidget*>{window_->Execute, window_->Open, window_->Save,
                                                    window_->CommandBuffer, window_->Record, window_->ClearReadData,
                                                    window_->ClearCommandBuffer, window_->GetLog, window_->GenSrc,
                                                    window_->CommandDecode, window_->CommandClearDecoded,
                                                    window_->ReadDecode, window_->ReadClearDecoded})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  window_->Run->click();
  EXPECT_EQ(window_->Run->text(), "Run");
  EXPECT_FALSE(window_->RunScript->isActive());
  EXPECT_TRUE(window_->ProgressBar->isHidden());
  EXPECT_TRUE(window_->Execute->isEnabled());
  EXPECT_TRUE(window_->CommandBuffer->isEnabled());
}

TEST_F(CommandWindow, TwoHundredFiftyLinesRunInThreeTicks) {
  window_->SetCommandLines(Lines(250, "c n"));
  window_->Run->click();
  std::vector<size_t> seen;
  for (int i = 0; i < 3; ++i) {
    window_->RunScriptTimer();
    seen.push_back(window_->ReadDataLines().size());
  }
  EXPECT_EQ(seen, (std::vector<size_t>{100, 200, 250}));
  EXPECT_EQ(window_->Run->text(), "Run");
  EXPECT_EQ(recorder_.transfers, Lines{"R 30 00 n1 last=1"});
}

TEST_F(CommandWindow, AFailedLineIsReportedAndSelected) {
  window_->setWindowTitle("Command QMX7XXXEVM");
  window_->SetCommandLines({"w 30 10 01", "c a", "c b", "w 30 11 02", "  > zz"});
  RunToEnd();
  EXPECT_EQ(dialogs_.messages,
            Lines{"Error, line = 5,   > zz\n\r\n\rSource File = Command QMX7XXXEVM"});
  EXPECT_EQ(window_->CommandBuffer->textCursor().selectedText().toStdString(), "  > zz");
  EXPECT_EQ(recorder_.transfers, Lines{"W 30 10 [01] last=0"});
  EXPECT_EQ(window_->Run->text(), "Run");
}

TEST_F(CommandWindow, RunsStayStoppable) {
  window_->SetCommandLines({":L -1", "c x", ":L"});
  window_->Run->click();
  for (int i = 0; i < 3; ++i) window_->RunScriptTimer();
  EXPECT_TRUE(window_->RunScript->isActive());
  window_->Run->click();
  EXPECT_FALSE(window_->Running());

  window_->SetCommandLines({"d 100000", "w 30 10 01"});
  window_->Run->click();
  window_->RunScriptTimer();
  EXPECT_TRUE(window_->RunScript->isActive());
  EXPECT_GT(window_->RunScript->interval(), 1000);
  window_->Run->click();
  EXPECT_FALSE(window_->Running());
  EXPECT_TRUE(recorder_.transfers.empty());

  // Synchronously nothing could stop it: refused as a failed line.
  window_->SetCommandLines({":L -1", "c x", ":L"});
  window_->RunSync();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].rfind("Error, line = 1, :L -1", 0), 0u);
}

TEST_F(CommandWindow, ADelayOnTheLastLineWaitsBeforeTheEndOfTheRun) {
  window_->SetCommandLines({"w 30 10 01", "d 100000"});
  window_->Run->click();
  window_->RunScriptTimer();
  EXPECT_TRUE(window_->Running());
  EXPECT_GT(window_->RunScript->interval(), 1000);
  EXPECT_EQ(recorder_.transfers, Lines{"W 30 10 [01] last=1"});
}

TEST_F(CommandWindow, AHugeSynchronousLoopEndsAndReadDataStaysBounded) {
  testsupport::LogCapture log;
  window_->Script().SetFileName("init.cfg");
  // More lines than ReadData keeps: the newest stay.
  window_->SetCommandLines({":L 5999", "c x", ":L", "c last"});
  window_->RunSync();
  EXPECT_EQ(window_->ReadData->document()->blockCount(), TI2CCommand::kReadDataLines);
  EXPECT_EQ(window_->ReadDataLines().back(), "#last");

  window_->Script().SetSyncBudget(std::chrono::milliseconds(30));
  window_->SetCommandLines({":L 99999999", "c x", ":L"});
  window_->RunSync();
  EXPECT_FALSE(window_->Script().Synchronous());
  EXPECT_LE(window_->ReadData->document()->blockCount(), TI2CCommand::kReadDataLines);
  EXPECT_TRUE(dialogs_.messages.empty());
  bool logged = false;
  for (const std::string& line : log.Lines())
    logged |= line.rfind("Script stopped after 0.03 s, line = ", 0) == 0 &&
              line.find("(Source File = init.cfg)") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(CommandWindow, RunSyncShowsBreaksAndRunsToTheEnd) {
  window_->SetCommandLines({"b", "w 30 10 01", "c done"});
  window_->RunSync();
  EXPECT_EQ(dialogs_.messages, Lines{"break"});
  EXPECT_EQ(recorder_.transfers, (Lines{"W 30 10 [01] last=1", "R 30 00 n1 last=1"}));
  EXPECT_EQ(window_->ReadDataLines(), Lines{"#done"});
  EXPECT_TRUE(window_->ProgressBar->isHidden());
  EXPECT_FALSE(window_->Script().Synchronous());
}

TEST_F(CommandWindow, RunSyncForEndsAScriptWithinItsHoldAsRunSyncDoes) {
  const std::vector<Lines> scripts = {
      {"# Init script of the QMX7XXX diagram pages: start on page 0.", "w 30 00 00"},
      {"w 30 10 01 02", "> 03", "d 2", "s 30 05 XXXX0001", "f 30 05 XXXXXXX1 100", "r 30 10 03", "c done"},
      {":L 2", "w 30 10 01", "r 30 10 01", ":L", "g 4 1", "b hello", "w 30 11 02"},
      {"w 30 10 01", "x 1", "w 30 11 02"},
      {"w 30 10 01", "d 1"},
      Lines(250, "c n"),
  };
  for (const Lines& script : scripts) {
    auto run = [&](bool held) {
      recorder_ = Recorder{};
      dialogs_.messages.clear();
      window_->SetCommandLines(script);
      window_->SetReadDataLines({});
      if (held) EXPECT_TRUE(window_->RunSyncFor(std::chrono::seconds(20))) << script[0];
      else window_->RunSync();
      EXPECT_FALSE(window_->Running()) << script[0];
      EXPECT_FALSE(window_->Script().Synchronous()) << script[0];
      EXPECT_TRUE(window_->ProgressBar->isHidden()) << script[0];
      EXPECT_EQ(window_->Run->text(), "Run") << script[0];
      return std::make_tuple(recorder_.transfers, recorder_.bits, window_->ReadDataLines(), dialogs_.messages);
    };
    const auto held = run(true);
    EXPECT_EQ(held, run(false)) << script[0];
  }
}

TEST_F(CommandWindow, RunSyncForHandsARunNotEndedToTheTimerWhereItIs) {
  // A loop without end may run now: Stop can end it.
  window_->SetCommandLines({"w 30 10 01", ":L -1", "c x", ":L"});
  EXPECT_FALSE(window_->RunSyncFor(std::chrono::milliseconds(0)));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->ShownForHandOver());
  EXPECT_EQ(window_->Run->text(), "Stop");
  EXPECT_TRUE(window_->RunScript->isActive());
  EXPECT_FALSE(window_->Execute->isEnabled());
  EXPECT_FALSE(window_->ProgressBar->isHidden());
  const size_t held = window_->ReadDataLines().size();
  EXPECT_GT(held, 0u);
  for (int i = 0; i < 3; ++i) window_->RunScriptTimer();
  EXPECT_GT(window_->ReadDataLines().size(), held);
  // The line before the loop ran once, before the hand-over.
  EXPECT_EQ(recorder_.transfers, Lines{"W 30 10 [01] last=0"});
  window_->Stop();
  EXPECT_FALSE(window_->Running());
  EXPECT_EQ(window_->Run->text(), "Run");
  EXPECT_TRUE(window_->Execute->isEnabled());
  EXPECT_TRUE(dialogs_.messages.empty());

  // A delay the hold did not see to its end goes on waiting on the timer.
  window_->SetCommandLines({"w 30 10 01", "d 100000", "w 30 11 02"});
  recorder_.transfers.clear();
  EXPECT_FALSE(window_->RunSyncFor(std::chrono::milliseconds(0)));
  EXPECT_GT(window_->RunScript->interval(), 1000);
  window_->RunScriptTimer();
  EXPECT_TRUE(window_->Running());
  EXPECT_EQ(recorder_.transfers, Lines{"W 30 10 [01] last=0"});
  // Shown already, the window was not shown for this run.
  EXPECT_FALSE(window_->ShownForHandOver());
  window_->Run->click();
  EXPECT_FALSE(window_->Running());
}

TEST_F(CommandWindow, RunSyncForCountsNoTimeInMessageBoxes) {
  // The user reads the message for longer than the hold; what follows it
  // fills a second tick and ends well within the rest of the hold.
  Lines script{"b read me"};
  script.resize(150, "c n");
  window_->SetCommandLines(script);
  dialogs_.onMessage = [] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); };
  EXPECT_TRUE(window_->RunSyncFor(std::chrono::milliseconds(200)));
  EXPECT_FALSE(window_->Running());
  EXPECT_EQ(window_->ReadDataLines().size(), 149u);
}

TEST_F(CommandWindow, AStopFromAMessageBoxOfTheRunEndsItAfterItsTick) {
  testsupport::LogCapture log;
  window_->setWindowTitle("Init Script: x.cfg");
  window_->SetStopOnClose(true);
  window_->SetCommandLines({"b stop now", ":L 1000", "c x", ":L"});
  dialogs_.onMessage = [this] { window_->close(); };
  window_->Run->click();
  window_->RunScriptTimer();
  // The tick ran to its end with its loop intact, then the run stopped.
  EXPECT_FALSE(window_->Running());
  EXPECT_EQ(dialogs_.messages, Lines{"stop now"});
  EXPECT_EQ(window_->ReadDataLines().size(), 98u);
  EXPECT_TRUE(log.Contains("Init Script: x.cfg: the run stopped, its window was closed"));

  // A window that does not stop on close keeps its run.
  window_->SetStopOnClose(false);
  window_->SetCommandLines({":L -1", "c x", ":L"});
  dialogs_.onMessage = nullptr;
  window_->show();
  window_->Run->click();
  window_->close();
  EXPECT_TRUE(window_->Running());
  window_->Run->click();
}

TEST_F(CommandWindow, ExecuteRunsTheTypedLine) {
  window_->Command->setText("w 30 10 01 02");
  window_->Execute->click();
  EXPECT_EQ(recorder_.transfers, Lines{"W 30 10 [01 02] last=1"});
  window_->Command->setText("g 4 1");
  QTest::mouseClick(window_->Execute, Qt::LeftButton);
  EXPECT_EQ(recorder_.bits, Lines{"4 on"});
  window_->Command->setText("w 30 10");
  window_->Execute->click();
  EXPECT_EQ(dialogs_.messages, Lines{"Error, line = 1, w 30 10\n\r\n\rSource File = Command"});
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);
  // A huge line is quoted in part only.
  dialogs_.messages.clear();
  window_->Command->setText(QString::fromStdString("w 30 10" + std::string(100000, 'x')));
  window_->Execute->click();
  EXPECT_EQ(dialogs_.messages,
            Lines{"Error, line = 1, w 30 10" + std::string(73, 'x') + "\u2026\n\r\n\rSource File = Command"});
}

TEST_F(CommandWindow, OpenAndSave) {
  testsupport::TempDir dir;
  window_->SetCommandLines({"w 30 10 01", "c x"});
  dialogs_.saveFile = dir.File("saved.cfg");
  window_->Save->click();
  EXPECT_EQ(testsupport::ReadFile(dialogs_.saveFile), "w 30 10 01\r\nc x\r\n");
  EXPECT_EQ(window_->Script().FileName(), dialogs_.saveFile);
  EXPECT_EQ(dialogs_.filters.back(), "Command script files (*.txt, *.cfg)|*.TXT;*.CFG");

  testsupport::WriteFile(dir.File("other.txt"), "r 30 00 01\nc y\n");
  dialogs_.openFile = dir.File("other.txt");
  window_->Open->click();
  EXPECT_EQ(window_->CommandLines(), (Lines{"r 30 00 01", "c y"}));
  EXPECT_EQ(window_->windowTitle().toStdString(), dialogs_.openFile);
  EXPECT_EQ(window_->Script().FileName(), dialogs_.saveFile);

  dialogs_.openFile = dir.File("missing.txt");
  window_->Open->click();
  EXPECT_EQ(window_->CommandLines(), (Lines{"r 30 00 01", "c y"}));
  EXPECT_EQ(window_->windowTitle().toStdString(), dir.File("other.txt"));

  // Save proposes the stored name.
  window_->Save->click();
  EXPECT_EQ(dialogs_.proposed, (Lines{"untitled.cfg", dialogs_.saveFile}));
}

TEST_F(CommandWindow, LoadScriptKeepsTheCaption) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("s.cfg"), "w 30 10 01\r\n");
  EXPECT_TRUE(window_->LoadScript(dir.File("s.cfg")));
  EXPECT_EQ(window_->CommandLines(), Lines{"w 30 10 01"});
  EXPECT_EQ(window_->windowTitle(), "Command");
  testsupport::LogCapture log;
  EXPECT_FALSE(window_->LoadScript(dir.File("none.cfg")));
  EXPECT_TRUE(window_->CommandLines().empty());
  EXPECT_TRUE(log.Contains("Cannot open the script file \"" + dir.File("none.cfg") + "\": No such file or directory"));
  EXPECT_FALSE(window_->LoadScript("/dev/zero"));  // endless: refused, not read
  EXPECT_TRUE(log.Contains("Cannot open the script file \"/dev/zero\": not a regular file"));
}

TEST_F(CommandWindow, ResizeSplitsTheWindowBetweenTheGroups) {
  window_->show();
  window_->resize(1000, 600);
  regtest::PumpEvents();
  EXPECT_EQ(window_->CommandBufferGroup->geometry(), QRect(6, 6, 485, 530));
  EXPECT_EQ(window_->ReadDataGroup->geometry(), QRect(497, 6, 485, 530));
  EXPECT_EQ(window_->ProgressBar->width(), 235);
}

// A kit script through a command window bound to an emulated board.
class CommandWindowOnBoard : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    SetDialogs(&dialogs_);
    link_->AddDevice(0x30, 0, 256);
    harness_.link = link_.get();
    window_ = std::make_unique<TI2CCommand>(nullptr);
    window_->SetCallbacks(&harness_, regtest::BoardHarness::BlockTransfer, regtest::BoardHarness::ScriptGPIO,
                          regtest::BoardHarness::ScriptDecode, regtest::BoardHarness::ScriptPageQuery,
                          regtest::BoardHarness::ScriptLog);
  }
  void TearDown() override {
    window_.reset();
    SetDialogs(nullptr);
    LinkFixture::TearDown();
  }
  int Reg(int page, int reg) { return QuillbusGetRegister(0, 0x30, 0, page, reg); }

  regtest::TestDialogs dialogs_;
  regtest::BoardHarness harness_;
  std::unique_ptr<TI2CCommand> window_;
};

TEST_F(CommandWindowOnBoard, KitScriptSetsTheCodec) {
  QuillbusSetRegister(0, 0x30, 0, 0, 0x40, 0xFF);
  QuillbusSetRegister(0, 0x30, 0, 0, 0x1E, 0x05);
  ASSERT_TRUE(window_->LoadScript(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7XXX/Playback.cfg"));
  window_->Run->click();
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    regtest::PumpEvents();
    return !window_->Running();
  }));
  EXPECT_TRUE(dialogs_.messages.empty());
  const std::vector<int> expected{0x03, 0x91, 0x08, 0x07, 0x80};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Reg(0, 4 + i), expected[size_t(i)]) << i;
  EXPECT_EQ(Reg(0, 0x0B), 0x82);
  EXPECT_EQ(Reg(0, 0x0C), 0x88);
  EXPECT_EQ(Reg(0, 0x0D), 0x00);
  EXPECT_EQ(Reg(0, 0x0E), 0x80);
  EXPECT_EQ(Reg(0, 0x1E), 0x85);
  EXPECT_EQ(Reg(0, 0x40), 0x00);
  EXPECT_EQ(Reg(0, 0x01), 0x00);
  EXPECT_EQ(QuillbusGetSelectedPage(0, 0x30), 0);

  const Lines read = window_->ReadDataLines();
  const Lines expectedRead{"#Clocks, interface and DAC set",
                           "r 30 04 05, Page = 0:",
                           "  03 91 08 07 80 ",
                           "  r 30 40 03, Page = 0:",
                           "    00 00 00 ",
                           "  #Loop [line #26 to #28], Iteration #1 of #1",
                           "  r 30 40 03, Page = 0:",
                           "    00 00 00 "};
  EXPECT_EQ(read, expectedRead);

  // With the kit's register map the reads are described.
  ASSERT_TRUE(link_->LoadRegisterMap(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7XXX/QMX7XXX.xml", 0x30));
  window_->ReadDecode->click();
  const Lines decoded = window_->ReadDataLines();
  EXPECT_NE(std::find(decoded.begin(), decoded.end(), "#%  PllPowerAndDividers, Data = 0x91"), decoded.end());
  EXPECT_NE(std::find(decoded.begin(), decoded.end(), "#%  PllPower: Powered up"), decoded.end());
}

TEST_F(CommandWindowOnBoard, RefusedTransfersReachTheLog) {
  testsupport::LogCapture log;
  window_->Command->setText("w 30 7F 01 02");
  window_->Execute->click();
  EXPECT_TRUE(log.Contains("Transfer failed: w 30 7F 01 02"));
  window_->SetCommandLines({"c a", "r 30 7E 04"});
  window_->SetReadDataLines({});
  window_->RunSync();
  EXPECT_TRUE(log.Contains("Transfer failed, line = 2: r 30 7E 04"));
  // The refused read shows its failure, not the bytes the write left in the buffer.
  EXPECT_EQ(window_->ReadDataLines(), (Lines{"#a", "r 30 7E 04, Page = 0:", "  #Read failed"}));
}

}  // namespace
