// The main window with emulated boards: the watcher finds boards, reads
// their ID blocks, opens, keeps and closes their windows.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QRegion>
#include <QLineEdit>
#include <QProcess>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

#include "codec/instance.h"
#include "diagram/block_diagram.h"
#include "diagram/sar_data.h"
#include "common/canvas.h"
#include "host/application.h"
#include "host/board_id.h"
#include "host/diagram_form.h"
#include "host/main_form.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"
#include "quillbus/quillbus.h"
#include "registers/evm_applications_form.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

class BoardsTest : public HostTest {
 protected:
  bool WaitForWindows(size_t count) {
    return WaitFor([&] { return Windows().size() == count; });
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(LogText());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // True when `expected` appears in the log in this order (other lines between).
  bool LogHasInOrder(const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = LogLines();
    size_t next = 0;
    for (const std::string& line : lines)
      if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
  }
};

TEST_F(BoardsTest, ABoardIsFoundIdentifiedAndOpenedWithTheLogOfItsListing) {
  AddBoard("myboard", "My Board");
  Start();
  ASSERT_TRUE(WaitForWindows(1));
  ASSERT_TRUE(WaitForListings(1));
  TDiagramForm* form = Windows()[0];
  // The blank of the ID block was looked up as '_'.
  EXPECT_EQ(form->windowTitle(), "My_Board");
  EXPECT_TRUE(form->IsConnected());
  EXPECT_FALSE(form->IsSimulation());
  EXPECT_EQ(form->StatusText(0), "EVM Status: Connected");
  EXPECT_TRUE(dialogs_.modalForms.empty());
  const std::string path = form->GetLink()->GetDevicePathName();
  EXPECT_FALSE(path.empty());
  EXPECT_TRUE(LogHasInOrder({
      "USB connect CB: 0x200",
      "Change Detected",
      "USB connect CB: 0x01",
      "Connect -> Check & Load Diagram",
      "DevicePathName " + path,
      "New EVM detected...",
      "USB Device Path Name = " + path,
      "ReadEEPROM: 1",
      "EVM name: My_Board",
      "USB connect CB: 0x400",
      "Change Done",
  })) << LogText();
}

TEST_F(BoardsTest, TwoBoardsOfOneKindOpenTwoWindows) {
  AddBoard("left", "QMX7XXXEVM");
  AddBoard("right", "QMX7XXXEVM");
  Start();
  ASSERT_TRUE(WaitForWindows(2));
  const auto windows = Windows();
  EXPECT_EQ(windows[0]->windowTitle(), "QMX7XXXEVM");
  EXPECT_EQ(windows[1]->windowTitle(), "QMX7XXXEVM");
  EXPECT_STRNE(windows[0]->GetLink()->GetDevicePathName(), windows[1]->GetLink()->GetDevicePathName());
  EXPECT_NE(windows[0]->GetLink()->GetDeviceHandle(), windows[1]->GetLink()->GetDeviceHandle());
}

TEST_F(BoardsTest, AReplugggedBoardGetsItsWindowBack) {
  AddBoard("a", "QMX7XXXEVM");
  Start();
  ASSERT_TRUE(WaitForWindows(1));
  ASSERT_TRUE(WaitForListings(1));
  QPointer<TDiagramForm> first = Windows()[0];
  void* oldHandle = first->GetLink()->GetDeviceHandle();
  {
    // Between two polls of the watcher: board a goes and comes back, board b arrives.
    std::lock_guard<platform::TCriticalSection> hold(TUSBI2C::GlobalLock());
    ASSERT_EQ(QuillbusUnplug(0), 0);
    QuillbusReplug();
    AddBoard("b", "QMX7200EVM");
  }
  ASSERT_TRUE(WaitForListings(2));
  ASSERT_TRUE(WaitForWindows(2));
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(Windows()[0], first.data());
  EXPECT_EQ(Windows()[1]->windowTitle(), "QMX7200EVM");
  // Only board b was looked up; board a was re-bound to its new handle.
  EXPECT_EQ(LogCount("New EVM detected..."), 2);
  EXPECT_EQ(LogCount("Flag connection"), 1);
  EXPECT_EQ(LogCount("EVM acquired"), 1);
  EXPECT_EQ(LogCount("EVM name: QMX7XXXEVM"), 1);
  EXPECT_NE(first->GetLink()->GetDeviceHandle(), oldHandle);
  EXPECT_EQ(first->GetLink()->GetDeviceHandle(), OrvaneUsbHidGetDevHandle(0));
  EXPECT_TRUE(first->IsConnected());
}

// A board that comes back starts on page 0: its window's next write names
// its page and the link selects it, whatever page it had selected before.
TEST_F(BoardsTest, AReplugggedBoardsWindowSelectsItsPageAgain) {
  UseBoardKit();
  AddBoard("a", "QMX7XXXEVM");
  Start();
  ASSERT_TRUE(WaitForWindows(1));
  ASSERT_TRUE(WaitForListings(1));
  QPointer<TDiagramForm> form = Windows()[0];
  TUSBI2C* link = form->GetLink();
  ASSERT_TRUE(link->IsPaged(0x30));
  const uint8_t two = 2, value = 0xF2;
  ASSERT_TRUE(link->WriteRegisters(&two, 0x30, 0, 2, 0, 1));
  ASSERT_EQ(QuillbusGetSelectedPage(0, 0x30), 2);
  {
    // Between two polls, with a second board so that the watcher lists again.
    std::lock_guard<platform::TCriticalSection> hold(TUSBI2C::GlobalLock());
    ASSERT_EQ(QuillbusUnplug(0), 0);
    QuillbusReplug();
    AddBoard("b", "QMX7200EVM");
  }
  ASSERT_TRUE(WaitForListings(2));
  ASSERT_EQ(LogCount("EVM acquired"), 1);
  ASSERT_FALSE(form.isNull());
  ASSERT_EQ(QuillbusGetSelectedPage(0, 0x30), 0);
  ASSERT_TRUE(link->WriteRegisters(&value, 0x30, 0, 2, 9, 1));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 2, 9), 0xF2);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 9), 0);
}

TEST_F(BoardsTest, CancellingTheChoiceForAnUnknownBoardOpensAndWritesNothing) {
  AddBoard("m", "Mystery");
  QuillbusRescan();
  const std::vector<uint8_t> before = Eeprom(0, 0, 0x10000);
  Start();
  ASSERT_TRUE(WaitForListings(1));
  EXPECT_EQ(dialogs_.modalForms, std::vector<std::string>{"SelectEVMForm"});
  EXPECT_TRUE(Windows().empty());
  EXPECT_EQ(LogCount("EVM name: Mystery"), 1);
  EXPECT_TRUE(Eeprom(0, 0, 0x10000) == before);
}

TEST_F(BoardsTest, PickingAKindWritesExactlyTheIdBlock) {
  const std::string longName = "A_Board_Name_Far_Longer_Than_The_Block_Holds";
  WriteBoardList("<EVMList><QMX7XXXEVM/><QMX7200EVM/><" + longName + "/></EVMList>");
  const struct {
    std::string pick;
    bool recognisedAfterReplug;
  } cases[] = {{"QMX7200EVM", true}, {longName, false}};
  int listings = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pick);
    AddBoard("m", "Mystery");
    QuillbusRescan();
    const std::vector<uint8_t> fresh = Eeprom(0, 0, 0x10000);
    ASSERT_EQ(BoardNameFromId(*reinterpret_cast<const BoardIdBytes*>(&fresh[kBoardIdAddress])), "Mystery");
    dialogs_.modalForms.clear();
    dialogs_.modal = PickBoard(c.pick);
    if (!started_) Start();
    ASSERT_TRUE(WaitForListings(++listings));
    ASSERT_EQ(Windows().size(), 1u);
    EXPECT_EQ(Windows()[0]->windowTitle().toStdString(), c.pick);
    EXPECT_EQ(dialogs_.modalForms.size(), 1u);

    // The 32 bytes of the block changed, and nothing else: not the application image at 0x2000.
    std::vector<uint8_t> expected = fresh;
    const BoardIdBytes block = MakeBoardIdBlock(c.pick);
    std::copy(block.begin(), block.end(), expected.begin() + kBoardIdAddress);
    EXPECT_TRUE(Eeprom(0, 0, 0x10000) == expected);

    // Unplugged, the window closes; plugged again, the board is known (or asked for again).
    // The close follows the listing's end: wait for it, not for time.
    RemoveBoard("m");
    ASSERT_TRUE(WaitForListings(++listings));
    EXPECT_TRUE(WaitFor([&] { return Windows().empty(); }));
    dialogs_.modal = nullptr;
    AddBoard("m", "Mystery");
    ASSERT_TRUE(WaitForListings(++listings));
    if (c.recognisedAfterReplug) {
      ASSERT_EQ(Windows().size(), 1u);
      EXPECT_EQ(Windows()[0]->windowTitle().toStdString(), c.pick);
      EXPECT_EQ(dialogs_.modalForms.size(), 1u);
    } else {
      EXPECT_TRUE(Windows().empty());
      EXPECT_EQ(dialogs_.modalForms.size(), 2u);
    }
    RemoveBoard("m");
    ASSERT_TRUE(WaitForListings(++listings));
    ASSERT_TRUE(WaitFor([&] { return Windows().empty(); }));
    std::filesystem::remove(boards_ + "/m.board.eeprom");
  }
}

TEST_F(BoardsTest, ASimulatedWindowSurvivesEveryDeviceListChange) {
  Start();
  dialogs_.modal = PickBoard("QMX7200EVM");
  MainForm->NewEVMSimulationClick();
  ASSERT_EQ(Windows().size(), 1u);
  QPointer<TDiagramForm> simulated = Windows()[0];
  dialogs_.modal = nullptr;

  AddBoard("a", "QMX7XXXEVM");
  ASSERT_TRUE(WaitForListings(1));
  ASSERT_EQ(Windows().size(), 2u);
  QPointer<TDiagramForm> board = Windows()[1];
  EXPECT_EQ(board->windowTitle(), "QMX7XXXEVM");

  // Unplugging closes the board's window only.
  RemoveBoard("a");
  ASSERT_TRUE(WaitForListings(2));
  EXPECT_TRUE(WaitFor([&] { return board.isNull(); }));
  ASSERT_FALSE(simulated.isNull());
  EXPECT_EQ(Windows(), std::vector<TDiagramForm*>{simulated.data()});
  EXPECT_EQ(simulated->StatusText(0), "EVM Status: Simulation");
}

// A board served by the board server, reached through the network dialog.
class NetworkBoardTest : public BoardsTest {
 protected:
  void OpenWindow() {
    Start();
    ASSERT_TRUE(server_.Connect(dialogs_, "name = QMX7XXXEVM\nfirmware = 0x0103\n"));
  }
  void TearDown() override {
    if (started_) DestroyPermanentWindows();
    started_ = false;
    BoardsTest::TearDown();
  }

  BoardServer server_;
  const std::string& boardFile_ = server_.BoardFile();
};

TEST_F(NetworkBoardTest, ANetworkBoardOpensAWindow) {
  OpenWindow();
  EXPECT_EQ(Windows()[0]->windowTitle(), "QMX7XXXEVM");
  EXPECT_EQ(Windows()[0]->StatusText(0), "EVM Status: Connected");
}

TEST_F(NetworkBoardTest, TheApplicationsEditorWritesANetworkBoardsEEPROM) {
  OpenWindow();
  dialogs_.modal = [&](QDialog* dialog) {
    auto* editor = qobject_cast<TEVMApplicationsForm*>(dialog);
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !editor->ReadEVMTimer->isActive(); }));
    // A fresh board: no applications, and nothing to complain about.
    EXPECT_EQ(editor->TreeView->topLevelItemCount(), 0);
    editor->AddApplication1->trigger();
    QTest::mouseClick(editor->UpdateEVM, Qt::LeftButton);
  };
  dialogs_.messages.clear();
  Windows()[0]->EVMApplications->trigger();
  EXPECT_TRUE(dialogs_.messages.empty());
  // The server keeps the board's EEPROM in a file beside its board file.
  const std::string eeprom = testsupport::ReadFile(boardFile_ + ".eeprom");
  ASSERT_EQ(eeprom.size(), 0x10000u);
  EXPECT_EQ(eeprom.substr(0x2000, 20), std::string("\x01\x20\x03" "Application\0\0\0\0\0\0", 20));
}

TEST_F(NetworkBoardTest, ThePluginsBlockTransfersFromItsWriterThreadReachANetworkBoard) {
  UseBoardKit();
  OpenWindow();
  TDiagramForm* form = Windows()[0];
  ASSERT_NE(form->GetPluginInstance(), nullptr);
  const int32_t num[3] = {0x0102, 0x0304, 0x0506}, den[3] = {0, 0x0708, 0x090A};
  std::thread writer([form, &num, &den] {
    TQMX7XXXForms::SendBiquad(&TDiagramForm::PluginCommandCallback, form, 1, num, den);
  });
  writer.join();
  PumpEvents();
  uint8_t back[10] = {};
  ASSERT_TRUE(form->GetLink()->ReadRegisters(back, 0x30, 0, 8, 76, 10));
  const uint8_t expected[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(std::vector<uint8_t>(back, back + 10), std::vector<uint8_t>(expected, expected + 10));
}

// The SAR readout streaming from a network board under the real pointer:
// the pointer leaving over the scroll bar ends the stream on the link.
TEST_F(NetworkBoardTest, AStreamEndsWhenThePointerLeavesOverTheScrollBar) {
  UseBoardKit();
  OpenWindow();
  MainForm->resize(1200, 900);
  MainForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(MainForm));
  TDiagramForm* form = Windows()[0];
  form->DisplayPlaybackClick();
  TSARData* sar = nullptr;
  for (unsigned i = 0; i < form->CurrentPage()->ObjectCount() && !sar; ++i)
    sar = dynamic_cast<TSARData*>(form->CurrentPage()->Object(i));
  ASSERT_NE(sar, nullptr);
  RestOn(form, sar, {});
  ASSERT_TRUE(WaitFor([&] { return sar->GetFadeState() == kFadeLit && form->GetLink()->IsRefreshing(); },
                      std::chrono::seconds(5)));
  QScrollBar* bar = form->BlockDiagramScrollBox->verticalScrollBar();
  PointerTo(bar, bar->rect().center());
  EXPECT_TRUE(WaitFor([&] { return !form->GetLink()->IsRefreshing(); }, std::chrono::seconds(2)));
  EXPECT_EQ(sar->GetFadeState(), kFadeIdle);
  EXPECT_EQ(form->HoverCount(), 0);
  EXPECT_EQ(form->StatusText(3).toStdString(), "");
}

TEST_F(BoardsTest, Screenshot) {
  UseBoardKit();
  AddBoard("board", "QMX7XXXEVM");
  Start();
  MainForm->resize(1200, 900);
  MainForm->show();
  ASSERT_TRUE(WaitForWindows(1));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(MainForm));
  PumpEvents();
  TDiagramForm* form = Windows()[0];
  ASSERT_NE(form->Foreground(), nullptr);
  const QString path = QString(HOST_TEST_OUTPUT_DIR) + "/main_window.png";
  const QImage image = MainForm->grab().toImage();
  ASSERT_TRUE(image.save(path)) << path.toStdString();
  // The screen shows the page as drawn: the visible part of the paint box
  // is the window's foreground bitmap, pixel for pixel.
  const QImage page = form->Foreground()->Image();
  const QRect visible = form->BlockDiagramPaintBox->visibleRegion().boundingRect();
  ASSERT_GT(visible.width(), 200);
  ASSERT_GT(visible.height(), 200);
  const QPoint origin = form->BlockDiagramPaintBox->mapTo(MainForm, QPoint(0, 0));
  // The widgets' own controls (check boxes, gain edits) lie on top of the
  // page, on the control layer of the page shown.
  QRegion controls;
  for (QWidget* layer : form->BlockDiagramPaintBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!layer->isVisible()) continue;
    for (QWidget* child : layer->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child->isVisible()) controls += child->geometry().translated(layer->pos());
  }
  int compared = 0, differ = 0;
  for (int y = visible.top(); y <= visible.bottom(); y += 7)
    for (int x = visible.left(); x <= visible.right(); x += 7) {
      if (controls.contains(QPoint(x, y))) continue;
      ++compared;
      differ += image.pixel(origin + QPoint(x, y)) != page.pixel(x, y);
    }
  EXPECT_GT(compared, 5000);
  EXPECT_EQ(differ, 0) << "of " << compared;
  // And that page is the kit's first page: the diagram colour outside the
  // codec's frame, the frame's fill inside it, and a dark outline between.
  const float scale = form->Zoom() * 0.8f;
  auto at = [&](float x, float y) { return QColor(image.pixel(origin + QPoint(int(x * scale), int(y * scale)))); };
  EXPECT_EQ(at(10, 10), QColor(0xD2, 0xD2, 0xD7));
  EXPECT_EQ(at(100, 100), QColor(0xF3, 0xF5, 0xF9));
  int darkest = 255;
  for (int x = int(17 * scale); x <= int(23 * scale); ++x)
    darkest = std::min(darkest, QColor(image.pixel(origin + QPoint(x, int(300 * scale)))).lightness());
  EXPECT_LT(darkest, 0x90);
}

// Stands in for a board window's refresh report: a synchronous send to the GUI thread.
int SendingRefresh(void* context, unsigned, unsigned, unsigned, unsigned, unsigned) {
  gui::SendSync([context] { ++*static_cast<std::atomic<int>*>(context); });
  return 0;
}

TEST_F(BoardsTest, ClosingTheProgramWhileALinkIsBusyDoesNotHang) {
  AddBoard("a", "QMX7XXXEVM");
  Start();
  ASSERT_TRUE(WaitForWindows(1));
  TUSBI2C* link = Windows()[0]->GetLink();
  link->AddDevice(0x30, 0, 256);
  QuillbusSetLatency(200);
  std::atomic<int> reports{0};
  ASSERT_TRUE(link->StartRefresh(0x30, 0, 0, 0, 96, 1000, &reports, SendingRefresh));
  ASSERT_TRUE(WaitFor([&] { return reports.load() >= 3; }));
  // A second board keeps the watcher busy with a listing as well.
  AddBoard("b", "QMX7XXXEVM");
  QSignalSpy closed(MainForm, &TMainForm::Closed);
  MainForm->close();
  EXPECT_EQ(closed.count(), 1);
  // What the program does after its message loop ends.
  DestroyPermanentWindows();
  started_ = false;
  EXPECT_EQ(MainForm, nullptr);
}

}  // namespace
