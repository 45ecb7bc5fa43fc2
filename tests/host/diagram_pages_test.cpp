// The board window with its pages, on the bundled board kit and an
// emulated board: loading, page switching, register traffic, the view and
// a real click on a switch.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QProgressBar>
#include <QMdiArea>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <pugixml.hpp>
#include <sstream>
#include <thread>

#include "common/canvas.h"
#include "common/shapes.h"
#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "host/load_form.h"
#include "registers/i2c_command.h"
#include "registers/register_inspector.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "tests/host/diagram_pages_fixture.h"
#include "tests/host/host_support.h"

using namespace hosttest;

TEST_F(DiagramPagesTest, TheKitBoardOpensWithItsPagesAndTools) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  EXPECT_TRUE(dialogs_.messages.empty());
  ASSERT_EQ(form->PageCount(), 2);
  ASSERT_NE(form->ClockPage(), nullptr);
  // After the first show page 0 is current and the one "return" leads to.
  EXPECT_EQ(form->CurrentPage(), form->Page(0));
  EXPECT_EQ(form->PreviousPage(), form->Page(0));
  EXPECT_TRUE(form->DrawingEnabled());
  EXPECT_FALSE(form->Test->isVisible());
  EXPECT_EQ(form->ZoomBox->currentText(), "100%");
  ASSERT_NE(form->Foreground(), nullptr);
  EXPECT_EQ(form->Foreground()->Width(), 1536);
  EXPECT_EQ(form->Inspector()->windowTitle(), "Register Inspector QMX7XXXEVM");
  EXPECT_EQ(form->Inspector()->Name(), "QMX7XXXEVM");
  EXPECT_EQ(form->CommandWindow()->windowTitle(), "Command QMX7XXXEVM");
  // The pages reported their load on the load window, which is gone again.
  EXPECT_FALSE(LoadForm->isVisible());
  EXPECT_EQ(LoadForm->EVM->text(), "EVM: QMX7XXXEVM");
  EXPECT_EQ(LoadForm->Loading->text(), "Loading SVG Nodes...");
  EXPECT_GE(LoadForm->ProgressBar->value(), 5);
  // The pages declared their codec device on the link.
  EXPECT_NE(form->GetLink()->FindDevice(0x30), -1);
  // The XML register map named the inspector's registers.
  EXPECT_FALSE(form->Inspector()->Description(0, 63).empty());
}

TEST_F(DiagramPagesTest, APageThatFailsToLoadIsReportedAndTheOthersLoad) {
  TDiagramForm* form = Open("B",
                            "<L><B Diagram-1='QMX7XXX\\Missing.svg' Diagram-2='QMX7XXX\\Page2.svg'"
                            " Diagram-3='QMX7XXX\\Page1.svg'/></L>");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find("QMX7XXX\\Missing.svg"), std::string::npos) << dialogs_.messages[0];
  EXPECT_NE(dialogs_.messages[0].find("cannot be read"), std::string::npos) << dialogs_.messages[0];
  EXPECT_EQ(LogCount(dialogs_.messages[0]), 1);
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);
  EXPECT_EQ(form->PageCount(), 2);
  EXPECT_EQ(form->Page(0)->FileName(), "QMX7XXX\\Page2.svg");
}

TEST_F(DiagramPagesTest, NoMessageOfTheWindowsLoadIsShownUnderTheLoadWindow) {
  // The load window stays on top, so a message shown while it is up sits under it.
  testsupport::WriteFile(dir_.File("bad.cfg"), "x 1\n");
  testsupport::WriteFile(dir_.File("bad.svg"),
                         "<svg width='100' height='100'><metadata><file>bad.cfg</file></metadata></svg>");
  const struct {
    const char* what;
    const char* list;
    const char* message;  // the start of the message
  } cases[] = {
      {"a page that cannot be loaded",
       "<L><B Diagram-1='QMX7XXX\\Missing.svg' Diagram-2='QMX7XXX\\Page2.svg'/></L>", "The diagram "},
      {"the clock page", "<L><B Diagram-1='QMX7XXX\\Page2.svg' Diagram-Clock='nothing.svg'/></L>", "The diagram "},
      {"a failed line of the init script run at connect", "<L><B Diagram-1='bad.svg'/></L>", "Error, line = 1, x 1"},
  };
  for (const auto& c : cases) {
    dialogs_.messages.clear();
    std::vector<bool> loadWindowUp;
    dialogs_.onMessage = [&](const std::string&) { loadWindowUp.push_back(LoadForm->isVisible()); };
    QPointer<TDiagramForm> form = Open("B", c.list);
    dialogs_.onMessage = nullptr;
    ASSERT_FALSE(dialogs_.messages.empty()) << c.what;
    EXPECT_EQ(dialogs_.messages[0].rfind(c.message, 0), 0u) << c.what << ": " << dialogs_.messages[0];
    EXPECT_EQ(loadWindowUp, std::vector<bool>(dialogs_.messages.size(), false)) << c.what;
    EXPECT_FALSE(LoadForm->isVisible()) << c.what;
    ASSERT_FALSE(form.isNull()) << c.what;
    form->GetLink()->SetDeviceHandle(nullptr);
    form->FileExit1Execute();
    PumpEvents();
  }
}

TEST_F(DiagramPagesTest, AtMostFivePagesAreLoaded) {
  std::string attributes;
  for (int i = 1; i <= 7; ++i) attributes += " Diagram-" + std::to_string(i) + "='QMX7XXX\\Page2.svg'";
  TDiagramForm* form = Open("B", "<L><B" + attributes + "/></L>", false);
  EXPECT_EQ(form->PageCount(), 5);
  EXPECT_FALSE(form->AddDiagram("QMX7XXX\\Page1.svg"));
  EXPECT_EQ(form->PageCount(), 5);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(DiagramPagesTest, BoardsWithoutAFirstDiagramOpenOnAnEmptyPage) {
  const struct {
    const char* what;
    const char* list;
    size_t messages;
  } cases[] = {
      {"no Diagram-1", "<L><B Diagram-2='QMX7XXX\\Page1.svg'/></L>", 0},
      {"no attributes", "<L><B/></L>", 0},
      {"the only page fails", "<L><B Diagram-1='nothing.svg'/></L>", 1},
  };
  for (const auto& c : cases) {
    dialogs_.messages.clear();
    QPointer<TDiagramForm> form = Open("B", c.list, false);
    EXPECT_EQ(dialogs_.messages.size(), c.messages) << c.what;
    ASSERT_EQ(form->PageCount(), 1) << c.what;
    EXPECT_EQ(form->CurrentPage()->ObjectCount(), 0u) << c.what;
    // The window works: drawing, refresh and a click on nothing.
    form->RefreshClick();
    QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form->StatusText(0), "EVM Status: Simulation") << c.what;
    form->FileExit1Execute();
    PumpEvents();
    EXPECT_TRUE(form.isNull()) << c.what;
  }
}

TEST_F(DiagramPagesTest, DConfAndReturnSwitchToTheClockPageAndBack) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  const float box[4] = {0, 0, 10, 10};
  TGUIRectangle dconf(box, 1, 0), back(box, 1, 0);
  dconf.SetFunctionName("DConf");
  back.SetFunctionName("return");
  form->ObjectClicked(&dconf);
  EXPECT_EQ(form->CurrentPage(), form->ClockPage());
  EXPECT_EQ(form->PreviousPage(), form->Page(0));
  // The clock page has its own zoom factor (1.1).
  EXPECT_EQ(form->Foreground()->Width(), int(1000 * (100 * 0.01 * 1.1 * 1536 / 1000.0f)));
  form->ObjectClicked(&dconf);  // a second DConf keeps the way back
  EXPECT_EQ(form->PreviousPage(), form->Page(0));
  form->ObjectClicked(&back);
  EXPECT_EQ(form->CurrentPage(), form->Page(0));

  // Without a clock page the click is ignored and logged.
  TDiagramForm* plain = Open("B", "<L><B Diagram-1='QMX7XXX\\Page1.svg'/></L>", false);
  TBlockDiagram* before = plain->CurrentPage();
  plain->ObjectClicked(&dconf);
  EXPECT_EQ(plain->CurrentPage(), before);
  EXPECT_EQ(LogCount("DConf: B has no clock page; the click is ignored"), 1);
}

TEST_F(DiagramPagesTest, PageCommandsSelectTheirPage) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->DisplayPlaybackClick();
  EXPECT_EQ(form->CurrentPage(), form->Page(1));
  EXPECT_TRUE(form->Page(1)->Object(0)->IsVisible());
  EXPECT_FALSE(form->Page(0)->Object(0)->IsVisible());
  form->DisplayRecordClick();  // no third page: nothing happens
  EXPECT_EQ(form->CurrentPage(), form->Page(1));
  form->DisplayFullClick();
  EXPECT_EQ(form->CurrentPage(), form->Page(0));
}

TEST_F(DiagramPagesTest, RecordAppendsTheWritesAsScriptLines) {
  EXPECT_EQ(TDiagramForm::RecordLine((const uint8_t*)"\x12", 0x30, 0x05, 1), "w 30 05 12");
  const uint8_t two[] = {0xAB, 0x01};
  EXPECT_EQ(TDiagramForm::RecordLine(two, 0x70, 0x7F, 2), "w 70 7f ab 01");

  TDiagramForm* form = Open("QMX7XXXEVM");
  form->CommandWindow()->SetCommandLines({});
  *form->GetLink()->GetRegisterImage(0x30, 0, 0, 5) = 0x12;
  TDiagramForm::ObjectWrite(form, 0x30, 0, 5, 1);  // not recording
  EXPECT_TRUE(form->CommandWindow()->CommandLines().empty());
  form->CommandWindow()->Record->setChecked(true);
  TDiagramForm::ObjectWrite(form, 0x30, 0, 5, 1);
  EXPECT_EQ(form->CommandWindow()->CommandLines(), (std::vector<std::string>{"w 30 05 12"}));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 5), 0x12);
  // Block transfers are not recorded.
  uint8_t data = 0x33;
  TDiagramForm::BlockTransfer(form, 0x30, 6, &data, 1, false, false);
  EXPECT_EQ(form->CommandWindow()->CommandLines().size(), 1u);
}

// A window without a board keeps its image as a board window keeps the
// board: page selects land, scripts' read-modify-writes change the last known
// values, Record records the data writes, and the log says once that there
// is no board instead of logging every line.
TEST_F(DiagramPagesTest, ASimulatedWindowRunsTheKitScriptsOnItsImage) {
  TDiagramForm* form = Open("QMX7XXXEVM", "", false);
  ASSERT_TRUE(form->IsSimulation());
  TUSBI2C* link = form->GetLink();
  auto image = [&](unsigned page, unsigned reg) -> uint8_t& { return *link->GetRegisterImage(0x30, 0, page, reg); };
  form->I2CCommand1Click();  // the user opens the command window
  TI2CCommand* command = form->CommandWindow();
  auto execute = [&](const std::string& line) {
    command->Command->setText(QString::fromStdString(line));
    command->Execute->click();
  };

  execute("w 30 00 01");
  execute("w 30 10 AA");
  EXPECT_EQ(image(1, 0x10), 0xAA);
  EXPECT_EQ(image(0, 0x10), 0);
  // Block transfers (widgets, the plug-in) follow the page too.
  uint8_t bb = 0xBB;
  TDiagramForm::BlockTransfer(form, 0x30, 0x11, &bb, 1, false, false);
  EXPECT_EQ(image(1, 0x11), 0xBB);

  // s changes the last known value; r shows the image, page included.
  image(1, 5) = 0xF0;
  execute("s 30 05 XXXX0001");
  EXPECT_EQ(image(1, 5), 0xF1);
  command->SetReadDataLines({});
  execute("r 30 05 01");
  EXPECT_EQ(command->ReadDataLines(), (std::vector<std::string>{"r 30 05 01, Page = 1:", "  F1 "}));

  // The kit's slider scripts and init script, as a widget runs them.
  struct Script {
    const char* file;
    uint8_t expected;  // page 1 register 63 afterwards
  } scripts[] = {{"SliderPowerUp.cfg", 0x40}, {"SliderMute.cfg", 0xC0}, {"SliderUnmute.cfg", 0x40},
                 {"SliderPowerDown.cfg", 0x00}, {"Init.cfg", 0x00}};
  image(1, 63) = 0;
  for (const auto& script : scripts) {
    TI2CCommand window(form);
    window.SetCallbacks(form, TDiagramForm::CommandTransfer, TDiagramForm::ScriptGPIO, nullptr,
                        TDiagramForm::ScriptPageQuery, nullptr);
    ASSERT_TRUE(window.LoadScript(dir_.File(std::string("QMX7XXX/") + script.file)));
    window.RunSync();
    EXPECT_EQ(image(1, 63), script.expected) << script.file;
    EXPECT_EQ(link->GetPage(0x30), 0u) << script.file;
  }
  TI2CCommand playback(form);
  playback.SetCallbacks(form, TDiagramForm::CommandTransfer, TDiagramForm::ScriptGPIO, nullptr,
                        TDiagramForm::ScriptPageQuery, nullptr);
  ASSERT_TRUE(playback.LoadScript(dir_.File("QMX7XXX/Playback.cfg")));
  playback.RunSync();
  EXPECT_EQ(image(0, 4), 0x03);
  EXPECT_EQ(image(0, 0x1E) & 0x80, 0x80);

  // Record: a widget's write on page 1 records its page select and its data.
  command->SetCommandLines({});
  command->Record->setChecked(true);
  image(1, 5) = 0x5A;
  TDiagramForm::ObjectWrite(form, 0x30, 1, 5, 1);
  EXPECT_EQ(command->CommandLines(), (std::vector<std::string>{"w 30 00 01", "w 30 05 5a"}));

  EXPECT_EQ(LogCount("QMX7XXXEVM: no board; register transfers change the register image only"), 1);
  EXPECT_EQ(LogText().find("Transfer failed"), std::string::npos);
}

TEST_F(DiagramPagesTest, WritesOfOtherThreadsAreRecordedByPosting) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->CommandWindow()->SetCommandLines({});
  form->CommandWindow()->Record->setChecked(true);
  std::thread writer([form] {
    const uint8_t value = 0x12;
    form->GetLink()->WriteRegisters(&value, 0x30, 0, 0, 5, 1);
  });
  writer.join();
  // Queued by the writer, appended once the GUI thread runs.
  EXPECT_TRUE(form->CommandWindow()->CommandLines().empty());
  EXPECT_TRUE(WaitFor([&] { return form->CommandWindow()->CommandLines().size() == 1; }));
  EXPECT_EQ(form->CommandWindow()->CommandLines()[0], "w 30 05 12");
}

TEST_F(DiagramPagesTest, BlockTransfersMirrorTheImage) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TUSBI2C* link = form->GetLink();
  // Device 0x70 takes its value in the register byte: registers 0..6 show it.
  uint8_t value = 0x5A;
  *link->GetRegisterImage(0x70, 0, 0, 7) = 0x11;
  TDiagramForm::BlockTransfer(form, 0x70, 0x5A, &value, 1, false, false);
  for (unsigned r = 0; r < 7; ++r) EXPECT_EQ(*link->GetRegisterImage(0x70, 0, 0, r), 0x5A) << r;
  EXPECT_EQ(*link->GetRegisterImage(0x70, 0, 0, 7), 0x11);

  // A read fills the image; a block past the page's end is transferred but not mirrored.
  QuillbusSetRegister(0, 0x30, 0, 0, 10, 0x44);
  uint8_t read = 0;
  ScriptPlace place;
  EXPECT_EQ(TDiagramForm::CommandTransfer(form, 0x30, place, 10, &read, 1, true, false), 1);
  EXPECT_EQ(read, 0x44);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 0, 10), 0x44);
  uint8_t tail[4] = {1, 2, 3, 4};
  *link->GetRegisterImage(0x30, 0, 1, 0) = 0x77;
  TDiagramForm::BlockTransfer(form, 0x30, 126, tail, 4, false, false);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 0, 126), 0);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 1, 0), 0x77);
}

TEST_F(DiagramPagesTest, UseSpiSendsToAddressZeroButKeepsTheDevicesImage) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TUSBI2C* link = form->GetLink();
  const bool cases[] = {true, false};
  for (const bool spi : cases) {
    form->SPI->setChecked(spi);
    *link->GetRegisterImage(0x30, 0, 0, 5) = 0x12;
    Mark();
    TDiagramForm::ObjectWrite(form, 0x30, 0, 5, 1);
    EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 0, 5), 0x12) << spi;
    // Address 0 is the link's SPI convention: an SPI write, no I2C select or write of 0x30.
    const std::vector<std::string> commands = Commands();
    ASSERT_FALSE(commands.empty()) << spi;
    const HIDCommandPacket expected =
        spi ? HIDCommandPacket::SPIWrite(HIDCommandPacket::SPIWriteKey(0, 5), link->GetRegisterImage(0x30, 0, 0, 5), 1)
            : HIDCommandPacket::I2CWrite(5, link->GetRegisterImage(0x30, 0, 0, 5), 1);
    EXPECT_EQ(commands.back(), Hex(expected)) << spi;
  }
}

TEST_F(DiagramPagesTest, ZoomTextGivesTheBitmapSize) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  const struct {
    const char* text;
    int width;
  } cases[] = {{"125%", 1920}, {"50%", 768}, {"200%", 3072}, {"100%", 1536}, {"abc", 1}};
  for (const auto& c : cases) {
    form->ZoomBox->setEditText(c.text);
    EXPECT_EQ(form->Foreground()->Width(), c.width) << c.text;
    EXPECT_EQ(form->Background()->Width(), c.width) << c.text;
  }
  form->ZoomBox->setEditText("abc");
  EXPECT_EQ(form->Zoom(), 0.0f);
  form->ZoomBox->setEditText("125%");
  EXPECT_FLOAT_EQ(form->Zoom(), 1.92f);
  EXPECT_EQ(form->BlockDiagramPaintBox->width(), 1920);
}

TEST_F(DiagramPagesTest, ARefreshReportOfAnotherBookNotifiesNoRegisterWindow) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const uint8_t before = lever->GetSwitchState();
  uint8_t* image = form->GetLink()->GetRegisterImage(0x30, 0, 0, 63);
  *image ^= 0x80;
  form->NotifyRegisterObjects(0x30, 1, 0, 63);
  EXPECT_EQ(lever->GetSwitchState(), before);
  form->NotifyRegisterObjects(0x30, 0, 0, 63);
  EXPECT_NE(lever->GetSwitchState(), before);
}

TEST_F(DiagramPagesTest, ClickingASwitchWritesItsBitAndAClickBackRestoresIt) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const QPoint centre = Centre(lever);
  const struct {
    uint8_t codecPage;  // the page the codec is on before the clicks
    bool select;        // so the first click selects page 0 first
  } cases[] = {{0, false}, {1, true}};
  for (const auto& c : cases) {
    form->GetLink()->WriteRegisters(&c.codecPage, 0x30, 0, 0, 0, 1);
    const int start = QuillbusGetRegister(0, 0x30, 0, 0, 63);
    for (int click = 1; click <= 2; ++click) {
      Mark();
      QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, centre);
      const int expected = click == 1 ? start ^ 0x80 : start;
      EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 63), expected) << click;
      std::vector<std::string> writes;
      if (click == 1 && c.select) writes.push_back(WriteHex(0, 0));
      writes.push_back(WriteHex(63, uint8_t(expected)));
      EXPECT_EQ(Writes(), writes) << int(c.codecPage) << " click " << click;
    }
  }
}

TEST_F(DiagramPagesTest, AClickRedrawsTheClickedSwitchOnceItsWriteIsSent) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const TPointF a = lever->GetPlacedPoint(0), b = lever->GetPlacedPoint(1);
  const QRect box(QPoint(int(a.x), int(a.y)), QPoint(int(b.x), int(b.y)));
  const QImage before = form->Foreground()->Image().copy(box);
  Mark();
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, Centre(lever));
  EXPECT_EQ(Writes().size(), 1u);
  // The lever moved on the drawn page (on is the bottom edge, off the diagonal).
  EXPECT_NE(form->Foreground()->Image().copy(box), before);
  EXPECT_TRUE(form->DrawingEnabled());
}

TEST_F(DiagramPagesTest, ARegisterReadBackByRefreshMovesTheWidgetsAndWritesNothingBack) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const uint8_t before = lever->GetSwitchState();
  QuillbusSetRegister(0, 0x30, 0, 0, 63, QuillbusGetRegister(0, 0x30, 0, 0, 63) ^ 0x80);
  Mark();
  form->RefreshClick();
  EXPECT_NE(lever->GetSwitchState(), before);
  // Page and book selects only (register 0 and 127): no register is written back.
  ASSERT_FALSE(Writes().empty());
  for (const std::string& w : Writes()) {
    const std::string reg = w.substr(21, 2);
    EXPECT_TRUE(reg == "00" || reg == "7F") << w;
  }
}

TEST_F(DiagramPagesTest, ARefreshOnTheLinkThreadReachesTheWidgets) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const uint8_t before = lever->GetSwitchState();
  TDiagramForm::ObjectRefreshRequest(form, 0x30, 0, 63, 1, 100);
  QuillbusSetRegister(0, 0x30, 0, 0, 63, QuillbusGetRegister(0, 0x30, 0, 0, 63) ^ 0x80);
  EXPECT_TRUE(WaitFor([&] { return lever->GetSwitchState() != before; }));
  // The window goes with its refresh running: stopped first, then the pages, then the link.
  EXPECT_TRUE(form->GetLink()->IsRefreshing());
  QPointer<TDiagramForm> closing = form;
  delete form;
  EXPECT_TRUE(closing.isNull());
  PumpEvents();
}

TEST_F(DiagramPagesTest, HoverShowsTheHintAndActiveObjectsOffStopsIt) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  const QPoint centre = Centre(lever);
  // From elsewhere onto the switch: the platform's pointer may already be anywhere.
  QTest::mouseMove(form->BlockDiagramPaintBox, QPoint(2, 2));
  QTest::mouseMove(form->BlockDiagramPaintBox, centre);
  EXPECT_EQ(form->StatusText(3).toStdString(), lever->GetHintText());
  EXPECT_TRUE(form->BlockDiagramPaintBox->toolTip().isEmpty());  // panel 3 only
  EXPECT_EQ(form->HoverCount(), 1);
  form->BlockDiagramPaintBoxMouseMove(2, 2);
  form->ActiveObjects->setChecked(false);
  form->ActiveObjectsClick();
  const int before = form->HoverCount();
  form->BlockDiagramPaintBoxMouseMove(centre.x(), centre.y());
  EXPECT_EQ(form->HoverCount(), before);  // no entry while inactive
}

TEST_F(DiagramPagesTest, PanningScrollsTheDiagram) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->ZoomBox->setEditText("200%");
  form->resize(800, 600);
  PumpEvents();
  form->BlockDiagramPaintBoxMouseDown(300, 300);
  EXPECT_TRUE(form->IsPanning());
  form->BlockDiagramPaintBoxMouseMove(250, 260);
  EXPECT_EQ(form->BlockDiagramScrollBox->horizontalScrollBar()->value(), 50);
  EXPECT_EQ(form->BlockDiagramScrollBox->verticalScrollBar()->value(), 40);
  form->BlockDiagramPaintBoxMouseUp(250, 260);
  EXPECT_FALSE(form->IsPanning());
}

TEST_F(DiagramPagesTest, EveryPageOfTheDefaultBoardIsDrawnAt100Percent) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  const float box[4] = {0, 0, 10, 10};
  TGUIRectangle dconf(box, 1, 0);
  dconf.SetFunctionName("DConf");
  for (int i = 0; i <= form->PageCount(); ++i) {
    if (i < form->PageCount()) form->SelectDiagram(i);
    else form->ObjectClicked(&dconf);
    EXPECT_EQ(form->ZoomBox->currentText(), "100%");
    const QImage image = form->Foreground()->Image();
    // Something besides the background colour was drawn.
    const QRgb background = image.pixel(0, 0);
    int drawn = 0;
    for (int y = 0; y < image.height(); y += 8)
      for (int x = 0; x < image.width(); x += 8) drawn += image.pixel(x, y) != background;
    EXPECT_GT(drawn, 100) << i;
    const std::string name = i < form->PageCount() ? "page" + std::to_string(i + 1) : std::string("clock");
    EXPECT_TRUE(image.save(QString(HOST_TEST_OUTPUT_DIR "/QMX7XXXEVM-") + name.c_str() + ".png")) << name;
  }
}

TEST_F(DiagramPagesTest, TheCommandWindowGetsTheBoardsCallbacks) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->I2CCommand1Click();
  EXPECT_TRUE(form->CommandWindow()->isVisible());
  form->CommandWindow()->SetCommandLines({"w 30 05 21"});
  form->CommandWindow()->RunSync();
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 5), 0x21);
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 5), 0x21);
  form->RegisterInspector1Click();
  EXPECT_TRUE(form->Inspector()->isVisible());
  form->InitScriptClick();
  TI2CCommand* init = form->InitScriptWindow(form->CurrentPage());
  ASSERT_NE(init, nullptr);
  EXPECT_TRUE(init->isVisible());
  EXPECT_EQ(init->CommandLines().back(), "w 30 00 00");
  // The page's own window: named after its script, narrow, nothing to record,
  // and only the transfers (no decoding, no page query: reads show page 0).
  EXPECT_EQ(init->windowTitle().toStdString(), "Init Script: QMX7XXX\\Init.cfg");
  EXPECT_EQ(init->width(), 420);
  EXPECT_TRUE(init->Record->isHidden());
  EXPECT_TRUE(init->CommandDecode->isHidden());
  EXPECT_EQ(init->Script().Transfer(), &TDiagramForm::CommandTransfer);
  EXPECT_EQ(init->Script().Bits(), nullptr);
  EXPECT_EQ(init->Script().PageQuery(), nullptr);
  EXPECT_EQ(init->Script().Log(), nullptr);
  // Its writes still reach the board.
  init->SetCommandLines({"w 30 05 3C"});
  init->RunSync();
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 5), 0x3C);
}

TEST_F(DiagramPagesTest, InspectorAccessWritesOneRegisterOrReadsAPage) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TUSBI2C* link = form->GetLink();
  // Mode 0: the edited image byte goes to the board.
  *link->GetRegisterImage(0x30, 0, 0, 9) = 0x5C;
  TDiagramForm::InspectorAccess(form, 0x30, 0, 0, 9, 0);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 9), 0x5C);
  // Mode 1: the page is read fresh and the codec left on the page it was on.
  QuillbusSetRegister(0, 0x30, 0, 1, 20, 0x66);
  TDiagramForm::InspectorAccess(form, 0x30, 0, 1, 0, 1);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 1, 20), 0x66);
  EXPECT_EQ(QuillbusGetSelectedPage(0, 0x30), 0);
  // Other modes do nothing.
  *link->GetRegisterImage(0x30, 0, 0, 9) = 0x01;
  TDiagramForm::InspectorAccess(form, 0x30, 0, 0, 9, 2);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 9), 0x5C);
  EXPECT_EQ(TDiagramForm::ScriptPageQuery(form, 0x30), int(link->GetPage(0x30)));
}

TEST_F(DiagramPagesTest, RefreshOfAPageWithOnePageReadsOnlyPageZero) {
  testsupport::WriteFile(dir_.File("one.svg"),
                         "<svg width='400' height='300'><metadata><I2CAddress>0x30</I2CAddress></metadata>"
                         "<rect x='10' y='10' width='30' height='20' function='switch' Bit='1' I2CPage='0'"
                         " I2CRegister='20'/></svg>");
  TDiagramForm* form = Open("B", "<L><B Diagram-1='one.svg'/></L>");
  QuillbusSetRegister(0, 0x30, 0, 0, 20, 0x02);
  Mark();
  form->RefreshClick();
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 20), 0x02);
  const std::vector<std::string> commands = Commands();
  ASSERT_FALSE(commands.empty());
  // No page or book select before the reads; only the page restore at the end writes.
  EXPECT_FALSE(IsRegisterWrite(commands.front())) << commands.front();
  EXPECT_EQ(Writes(), (std::vector<std::string>{WriteHex(0, 0)}));
}

TEST_F(DiagramPagesTest, HoverEndsWithTheFadeAndClearsTheHint) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lever = FindSwitch(form, 63, 7);
  ASSERT_NE(lever, nullptr);
  TDiagramForm::ObjectEvent(form, lever, kEventEntered);
  EXPECT_EQ(form->StatusText(3).toStdString(), lever->GetHintText());
  EXPECT_TRUE(form->BlockDiagramPaintBox->toolTip().isEmpty());  // no tooltip
  TDiagramForm::ObjectEvent(form, lever, kEventLeft);
  EXPECT_EQ(form->HoverCount(), 1);
  TDiagramForm::ObjectEvent(form, lever, kEventHoverEnded);
  EXPECT_EQ(form->HoverCount(), 0);
  EXPECT_TRUE(form->BlockDiagramPaintBox->toolTip().isEmpty());
  EXPECT_TRUE(form->StatusText(3).isEmpty());
  TDiagramForm::ObjectEvent(form, lever, kEventHoverEnded);  // never below 0
  EXPECT_EQ(form->HoverCount(), 0);
}

TEST_F(DiagramPagesTest, TheTextRegisterListNamesAndSeedsTheImage) {
  // A bad entry costs only itself: the one after it still counts.
  testsupport::WriteFile(dir_.File("list.txt"), "0 5 1f ff Volume\n0 x 1 1 Bad\n0 6 0x80 0f Mute\n300 1 1 1 Outside\n");
  testsupport::LogCapture log;
  TDiagramForm* form = Open("B", "<L><B Diagram-1='QMX7XXX\\Page1.svg' Registermap='list.txt'/></L>", false);
  bool warned = false;
  for (const std::string& line : log.Lines())
    warned |= line.find("list.txt:2: '0 x 1 1' is not page, register, default and mask; skipped") != std::string::npos;
  EXPECT_TRUE(warned);
  EXPECT_EQ(form->Inspector()->Description(0, 5), "Volume");
  EXPECT_EQ(form->Inspector()->WritableMask(0, 5), 0xFF);
  EXPECT_EQ(form->Inspector()->WritableMask(0, 6), 0x0F);
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 5), 0x1F);
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 6), 0x80);
}


// The first object of the current page with `function`.
TGUIObject* FindFunction(TDiagramForm* form, const std::string& function) {
  TBlockDiagram* page = form->CurrentPage();
  for (unsigned i = 0; page && i < page->ObjectCount(); ++i)
    if (page->Object(i)->GetFunctionName() == function) return page->Object(i);
  return nullptr;
}

QAction* FindAction(QMenu* menu, const QString& name) {
  for (QAction* action : menu->actions())
    if (action->objectName() == name) return action;
  return nullptr;
}

TEST_F(DiagramPagesTest, EveryLoadedPageIsReachableFromTheViewMenu) {
  // Pages without a title are named by their file name.
  testsupport::WriteFile(dir_.File("Plain.svg"), "<svg width='100' height='100'><rect x='1' y='1' width='5' height='5'/></svg>");
  TDiagramForm* form = Open("B",
                            "<L><B Diagram-1='QMX7XXX\\Page1.svg' Diagram-2='Plain.svg' Diagram-3='QMX7XXX\\Page2.svg'"
                            " Diagram-4='Plain.svg' Diagram-5='Plain.svg' Diagram-Clock='QMX7XXX\\Clock.svg'/></L>",
                            false);
  ASSERT_EQ(form->PageCount(), 5);
  QStringList captions;
  for (QAction* action : form->View->actions())
    if (!action->isSeparator()) captions << action->text();
  EXPECT_EQ(captions, (QStringList{"&Init Script...", "&Command...", "&Register Inspector...", "&Test...",
                                   "&Processing Blocks...", "Playback",
                                   "Plain.svg", "Record and Readouts", "Plain.svg", "Plain.svg", "Clocks"}));
  for (int i = 4; i >= 0; --i) {
    QAction* item = FindAction(form->View, QString("Page%1").arg(i + 1));
    ASSERT_NE(item, nullptr) << i;
    item->trigger();
    EXPECT_EQ(form->CurrentPage(), form->Page(i)) << i;
    EXPECT_TRUE(form->Page(i)->Object(0)->IsVisible()) << i;
  }
  FindAction(form->View, "Page3")->trigger();
  FindAction(form->View, "ClockPage")->trigger();
  EXPECT_EQ(form->CurrentPage(), form->ClockPage());
  EXPECT_EQ(form->PreviousPage(), form->Page(2));
  // The clock page's own zoom (ZoomFactor 1.1) made the bitmap.
  EXPECT_EQ(form->Foreground()->Width(), int(1000 * (100 * 0.01 * 1.1 * 1536 / 1000.0f)));
}

TEST_F(DiagramPagesTest, TheKitsDConfAndReturnObjectsLeadToTheClockPageAndBack) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TGUIObject* dconf = FindFunction(form, "DConf");
  ASSERT_NE(dconf, nullptr);
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, Centre(dconf));
  ASSERT_EQ(form->CurrentPage(), form->ClockPage());
  EXPECT_EQ(form->PreviousPage(), form->Page(0));
  TGUIObject* back = FindFunction(form, "return");
  ASSERT_NE(back, nullptr);
  // The click that switched the page drew the clock page: the button's fill.
  const QPoint button = Centre(back);
  EXPECT_EQ(form->Foreground()->PixelColour(button.x(), button.y() - 8), 0xF2E6DCu);
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, Centre(back));
  EXPECT_EQ(form->CurrentPage(), form->Page(0));
}

TEST_F(DiagramPagesTest, TheSecondBoardKindOpensItsPageWithItsRegisterList) {
  TDiagramForm* form = Open("QMX7200EVM", "", false);
  EXPECT_TRUE(dialogs_.messages.empty());
  ASSERT_EQ(form->PageCount(), 1);
  EXPECT_GT(form->CurrentPage()->RegisterWindowCount(), 5u);
  EXPECT_EQ(form->Inspector()->Description(0, 10), "DacMute");
  EXPECT_EQ(form->Inspector()->Description(0, 15), "DeviceId");
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 10), 0x0C);
  EXPECT_EQ(*form->GetLink()->GetRegisterImage(0x30, 0, 0, 12), 0x20);
  // The widgets show the defaults: the mute boxes of register 10 are checked.
  int checked = 0;
  for (unsigned i = 0; i < form->CurrentPage()->ObjectCount(); ++i)
    if (auto* box = dynamic_cast<TPlCheckBox*>(form->CurrentPage()->Object(i))) checked += box->GetControl()->isChecked();
  EXPECT_EQ(checked, 2);
}
