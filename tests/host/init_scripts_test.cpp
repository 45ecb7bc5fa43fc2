// The pages' init scripts in the kit's board window, on an emulated board
// and without one: a script that ends at once runs where the page's other
// effects expect it; one that does not goes on in its window, stoppable,
// while the board window takes clicks. At most one init script runs at a
// time, and none after its window or the board window closed.
#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "diagram/bit_widgets.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "registers/i2c_command.h"
#include "tests/host/diagram_pages_fixture.h"
#include "tests/host/host_support.h"

using namespace hosttest;

namespace {

// The kit's init script made endless around its one write.
const char* const kEndless = "# Init script of the QMX7XXX diagram pages: start on page 0.\n:L 99999999\nw 30 00 00\n:L\n";
const char* const kName = "Init Script: QMX7XXX\\Init.cfg";

class InitScripts : public DiagramPagesTest {
 protected:
  void SetUp() override {
    DiagramPagesTest::SetUp();
    hold_ = TDiagramForm::InitScriptHold();
    // An endless script is handed over after the hold whatever its length:
    // a short one spares the tests a second at each run.
    TDiagramForm::SetInitScriptHold(std::chrono::milliseconds(20));
  }
  void TearDown() override {
    TDiagramForm::SetInitScriptHold(hold_);
    DiagramPagesTest::TearDown();
  }

  void WriteKitInitScript(const std::string& text) { testsupport::WriteFile(dir_.File("QMX7XXX/Init.cfg"), text); }

  // The script's window offers Stop for its run.
  static bool OffersStop(TI2CCommand* window) {
    return window && window->isVisible() && window->Running() && window->Run->text() == "Stop" &&
           window->RunScript->isActive();
  }
  static bool Idle(TI2CCommand* window) {
    return window && !window->Running() && window->Run->text() == "Run" && !window->RunScript->isActive();
  }
  int Count(const std::vector<std::string>& lines, const std::string& line) {
    return int(std::count(lines.begin(), lines.end(), line));
  }
  // A line run in the board's command window on its timer, to its end: the
  // event loop goes round meanwhile, so a run still going would write too.
  void RunInCommandWindow(TDiagramForm* form, const std::string& line) {
    form->I2CCommand1Click();
    TI2CCommand* command = form->CommandWindow();
    command->SetCommandLines({line});
    command->Run->click();
    ASSERT_TRUE(command->Running());
    ASSERT_TRUE(WaitFor([&] { return !command->Running(); }));
  }

  std::chrono::milliseconds hold_{};
};

TEST_F(InitScripts, AnEndlessOneGoesOnInItsWindowWhileTheBoardWindowWorksAndStopEndsIt) {
  WriteKitInitScript(kEndless);
  TDiagramForm* form = Open("QMX7XXXEVM");
  ASSERT_NE(form, nullptr);
  // The window opened: shown, drawn, on its first page.
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->DrawingEnabled());
  EXPECT_EQ(form->CurrentPage(), form->Page(0));
  TI2CCommand* init = form->InitScriptWindow(form->Page(0));
  ASSERT_TRUE(OffersStop(init));
  EXPECT_TRUE(init->ShownForHandOver());
  EXPECT_FALSE(init->Execute->isEnabled());

  // The run goes on between the events the GUI thread serves.
  Mark();
  ASSERT_TRUE(WaitFor([&] { return Count(Writes(), WriteHex(0, 0)) >= 3; }));
  // A click on the page meanwhile writes its switch.
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const int before = QuillbusGetRegister(0, 0x30, 0, 0, 63);
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, Centre(lever));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 63), before ^ 0x80);
  EXPECT_TRUE(OffersStop(init));

  // Stop ends it: what the event loop runs from then on writes no line of it.
  QTest::mouseClick(init->Run, Qt::LeftButton);
  EXPECT_TRUE(Idle(init));
  EXPECT_TRUE(init->Execute->isEnabled());
  Mark();
  RunInCommandWindow(form, "w 30 11 55");
  EXPECT_EQ(Writes(), std::vector<std::string>{WriteHex(0x11, 0x55)});
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(InitScripts, ASecondRunOfTheSamePageLeavesItsRunAndAnotherPagesRunEndsIt) {
  WriteKitInitScript(kEndless);
  testsupport::LogCapture log;
  TDiagramForm* form = Open("QMX7XXXEVM");
  TI2CCommand* first = form->InitScriptWindow(form->Page(0));
  TI2CCommand* second = form->InitScriptWindow(form->Page(1));
  ASSERT_NE(first, second);
  const std::string runsOn = std::string(kName) + ": runs on in its window (Stop ends it)";
  const std::string gaveWay = std::string(kName) + ": stopped, another page's init script runs";
  const std::string goesOn = std::string(kName) + ": still runs, not started again";
  // The connection ran the last page loaded, the first show page 0: the
  // second page's run ended for it, and its window, shown for the run, went.
  EXPECT_TRUE(OffersStop(first));
  EXPECT_TRUE(Idle(second));
  EXPECT_FALSE(second->isVisible());
  EXPECT_EQ(Count(log.Lines(), runsOn), 2);
  EXPECT_EQ(Count(log.Lines(), gaveWay), 1);

  // The board's connection again, and the page's own command: the run goes
  // on where it is, without a second run or a new hold.
  form->UpdateEVMStatus(1);
  form->SelectDiagram(0);
  EXPECT_TRUE(OffersStop(first));
  EXPECT_EQ(Count(log.Lines(), goesOn), 2);
  EXPECT_EQ(Count(log.Lines(), runsOn), 2);

  // A page switch ends the run of the page left and starts the new page's.
  form->DisplayPlaybackClick();
  EXPECT_EQ(form->CurrentPage(), form->Page(1));
  EXPECT_TRUE(Idle(first));
  EXPECT_FALSE(first->isVisible());
  EXPECT_TRUE(OffersStop(second));
  form->DisplayFullClick();
  EXPECT_TRUE(OffersStop(first));
  EXPECT_TRUE(Idle(second));
  EXPECT_EQ(Count(log.Lines(), runsOn), 4);
  EXPECT_EQ(Count(log.Lines(), gaveWay), 3);

  // A window the user opened stays when its run gives way.
  form->DisplayPlaybackClick();
  form->InitScriptClick();
  QTest::mouseClick(second->Run, Qt::LeftButton);
  EXPECT_TRUE(Idle(second));
  QTest::mouseClick(second->Run, Qt::LeftButton);
  EXPECT_TRUE(second->Running());
  EXPECT_FALSE(second->ShownForHandOver());
  form->DisplayFullClick();
  EXPECT_TRUE(Idle(second));
  EXPECT_TRUE(second->isVisible());
  EXPECT_TRUE(OffersStop(first));
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(InitScripts, ClosingItsWindowOrTheBoardWindowEndsTheRun) {
  WriteKitInitScript(kEndless);
  testsupport::LogCapture log;
  QPointer<TDiagramForm> form = Open("QMX7XXXEVM");
  TI2CCommand* first = form->InitScriptWindow(form->Page(0));
  ASSERT_TRUE(OffersStop(first));
  first->close();
  EXPECT_TRUE(Idle(first));
  EXPECT_FALSE(first->isVisible());
  EXPECT_TRUE(log.Contains(std::string(kName) + ": the run stopped, its window was closed"));
  Mark();
  RunInCommandWindow(form, "w 30 11 55");
  EXPECT_EQ(Writes(), std::vector<std::string>{WriteHex(0x11, 0x55)});

  // The next page's run, then the board window closes (its board gone).
  form->DisplayPlaybackClick();
  QPointer<TI2CCommand> second = form->InitScriptWindow(form->Page(1));
  ASSERT_TRUE(OffersStop(second));
  form->GetLink()->SetDeviceHandle(nullptr);
  Mark();
  form->FileExit1Execute();
  if (second) {
    EXPECT_TRUE(Idle(second));
  }
  EXPECT_TRUE(log.Contains(std::string(kName) + ": stopped, the board window closes"));
  PumpEvents();
  EXPECT_TRUE(form.isNull());
  EXPECT_EQ(Count(Writes(), WriteHex(0, 0)), 0);
}

TEST_F(InitScripts, WithoutABoardAnEndlessOneGoesOnOnTheImage) {
  WriteKitInitScript(":L 99999999\nw 30 10 5A\nc round\n:L\n");
  TDiagramForm* form = Open("QMX7XXXEVM", "", false);
  ASSERT_TRUE(form->IsSimulation());
  TI2CCommand* init = form->InitScriptWindow(form->Page(0));
  ASSERT_TRUE(OffersStop(init));
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 0x10), 0x5A);
  // Its rounds go on between events, until Stop.
  init->ClearReadDataClick();
  ASSERT_TRUE(WaitFor([&] { return !init->ReadDataLines().empty(); }));
  QTest::mouseClick(init->Run, Qt::LeftButton);
  EXPECT_TRUE(Idle(init));
  const std::vector<std::string> rounds = init->ReadDataLines();
  RunInCommandWindow(form, "c x");
  EXPECT_EQ(init->ReadDataLines(), rounds);
  EXPECT_EQ(form->StatusText(0), "EVM Status: Simulation");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(InitScripts, OneThatEndsAtOnceRunsBeforeWhatFollowsItOnThePage) {
  // The program's own hold.
  TDiagramForm::SetInitScriptHold(hold_);
  const std::string refresh = WriteHex(0x7F, 0x00);  // the first show's refresh selects book 0
  const struct {
    const char* what;
    const char* script;                // null: the kit's own
    std::vector<std::string> writes;   // its writes, where the trace tells them from the page's
  } cases[] = {
      {"the kit's", nullptr, {}},
      {"a longer one", "w 30 10 0A\nd 1\nw 30 11 0B\nf 30 11 XXXX1011 100\ns 30 12 00000001\nr 30 10 02\n",
       {WriteHex(0x10, 0x0A), WriteHex(0x11, 0x0B), WriteHex(0x12, 0x01)}},
  };
  for (const auto& c : cases) {
    if (c.script) WriteKitInitScript(c.script);
    Mark();
    QPointer<TDiagramForm> form = Open("QMX7XXXEVM");
    // Once at the connection (the last page loaded), once at the first show
    // (page 0), both before the first show's refresh.
    std::vector<std::string> expected = c.writes, writes = Writes();
    expected.insert(expected.end(), c.writes.begin(), c.writes.end());
    expected.push_back(refresh);
    writes.erase(std::remove_if(writes.begin(), writes.end(),
                                [&](const std::string& w) {
                                  return w != refresh &&
                                         std::find(c.writes.begin(), c.writes.end(), w) == c.writes.end();
                                }),
                 writes.end());
    EXPECT_EQ(writes, expected) << c.what;
    for (int page = 0; page < 2; ++page) {
      TI2CCommand* init = form->InitScriptWindow(form->Page(page));
      EXPECT_TRUE(Idle(init)) << c.what;
      EXPECT_FALSE(init->isVisible()) << c.what;
    }
    // A page switch has run the new page's script when it returns, and sent
    // exactly what a run of the whole script at once sends.
    Mark();
    form->DisplayPlaybackClick();
    const std::vector<std::string> switched = Commands();
    TI2CCommand* init = form->InitScriptWindow(form->Page(1));
    EXPECT_TRUE(Idle(init)) << c.what;
    EXPECT_FALSE(init->isVisible()) << c.what;
    Mark();
    init->RunSync();
    EXPECT_EQ(switched, Commands()) << c.what;
    EXPECT_FALSE(switched.empty()) << c.what;
    EXPECT_EQ(LogText().find("runs on in its window"), std::string::npos) << c.what;
    EXPECT_TRUE(dialogs_.messages.empty()) << c.what;
    form->GetLink()->SetDeviceHandle(nullptr);
    form->FileExit1Execute();
    PumpEvents();
    EXPECT_TRUE(form.isNull()) << c.what;
    RemoveBoard("board");
  }
}

}  // namespace
