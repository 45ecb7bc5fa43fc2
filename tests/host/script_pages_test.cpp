// Scripts share the board with streams, widget clicks and the plug-in's
// writer thread: every write of a script lands on the page the script
// selected, whatever the others did between its lines, and a refused reply
// never sends a later line to a page nobody named. The writer thread's
// image copies never undo a newer write. Checked on the emulated board
// through its packet trace, replayed through a model of the codec's page
// and book registers.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMdiArea>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <pugixml.hpp>
#include <set>
#include <thread>

#include "codec/codec_command.h"
#include "codec/instance.h"
#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "diagram/data_readouts.h"
#include "diagram/sar_data.h"
#include "host/diagram_form.h"
#include "host/main_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "registers/i2c_command.h"
#include "tests/codec/filter/filter_ui_support.h"
#include "tests/host/host_support.h"
#include "tests/support/codec_model.h"

namespace {

using namespace hosttest;
using testsupport::CodecModel;
using testsupport::CodecWrite;

// Page 1 register 5 and page 2 register 6, in turn, with time between the
// select and the data for whatever else runs on the board.
const std::vector<std::string> kAlternating = {":L 7",       "w 30 00 01", "d 30", "w 30 05 A1",
                                               "w 30 00 02", "d 30",       "w 30 06 A2", ":L"};
constexpr int kRounds = 8;

class ScriptPages : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    area_.resize(1200, 900);
    area_.show();
    UseBoardKit();
  }
  void TearDown() override {
    QuillbusSetTrace(nullptr);
    HostTest::TearDown();
  }

  // A window of the kit's board; the small windows the program makes come first.
  TDiagramForm* Open(bool board) {
    if (!started_) StartSmallWindows();
    EXPECT_TRUE(list_.load_string("<L><QMX7XXXEVM Diagram-1='QMX7XXX\\Page1.svg' Diagram-2='QMX7XXX\\Page2.svg'/></L>"));
    form_ = OpenBoardWindow(&area_, list_.document_element().child("QMX7XXXEVM"), board);
    return form_;
  }

  template <class Widget>
  Widget* Find() {
    TBlockDiagram* page = form_->CurrentPage();
    for (unsigned i = 0; i < page->ObjectCount(); ++i)
      if (auto* widget = dynamic_cast<Widget*>(page->Object(i))) return widget;
    return nullptr;
  }
  // The program's windows, and a board window on a board served over the network.
  bool OpenNetworkBoard(BoardServer& server) {
    Start();
    MainForm->resize(1200, 900);
    MainForm->show();
    if (!server.Connect(dialogs_, "name = QMX7XXXEVM\n")) return false;
    PumpEvents();
    if (Windows().size() != 1u) return false;
    form_ = Windows()[0];
    return true;
  }
  // A switch of the codec's page 0 on the current diagram page.
  TSwitch* PageZeroSwitch() {
    TBlockDiagram* page = form_->CurrentPage();
    for (unsigned i = 0; page && i < page->ObjectCount(); ++i) {
      auto* s = dynamic_cast<TSwitch*>(page->Object(i));
      if (s && !dynamic_cast<TAmpSwitch*>(s) && s->GetDevice() == 0x30 && s->GetPage() == 0) return s;
    }
    return nullptr;
  }

  // The trace from here on, with the codec's selection as the link knows it.
  void Mark() {
    trace_.Mark();
    startBook_ = int(form_->GetLink()->GetBook(0x30));
    startPage_ = int(form_->GetLink()->GetPage(0x30));
  }
  CodecModel Replay() {
    CodecModel model;
    model.Start(0x30, startBook_, startPage_);
    model.Replay(trace_.Lines());
    return model;
  }

  // Runs `lines` in the command window on its timer; `between` runs while it waits.
  void RunInCommandWindow(const std::vector<std::string>& lines, const std::function<void()>& between = {}) {
    form_->I2CCommand1Click();
    TI2CCommand* command = form_->CommandWindow();
    command->SetCommandLines(lines);
    command->SetReadDataLines({});
    command->Run->click();
    ASSERT_TRUE(command->Running());
    ASSERT_TRUE(WaitFor([&] {
      if (between) between();
      return !command->Running();
    }));
  }

  // Every write of kAlternating on its page; every other data write on one of `others`.
  void ExpectAlternatingOnItsPages(const std::set<int>& others) {
    int onPage1 = 0, onPage2 = 0, elsewhere = 0;
    for (const CodecWrite& w : Replay().DataWrites()) {
      if (w.device == 0x30 && w.reg == 5 && w.value == 0xA1) {
        EXPECT_EQ(w.page, 1) << ToString(w);
        ++onPage1;
      } else if (w.device == 0x30 && w.reg == 6 && w.value == 0xA2) {
        EXPECT_EQ(w.page, 2) << ToString(w);
        ++onPage2;
      } else {
        EXPECT_TRUE(others.count(w.page)) << "written on a page nobody named: " << ToString(w);
        ++elsewhere;
      }
    }
    EXPECT_EQ(onPage1, kRounds);
    EXPECT_EQ(onPage2, kRounds);
    others_ = elsewhere;
  }

  QMdiArea area_;
  pugi::xml_document list_;
  QPointer<TDiagramForm> form_;
  BoardTrace trace_{dir_.File("trace.txt")};
  int startBook_ = 0, startPage_ = 0;
  int others_ = 0;  // data writes of the other writers in the last check
};

TEST_F(ScriptPages, TheSARStreamBetweenTheLinesMovesNoWrite) {
  ASSERT_NE(Open(true), nullptr);
  form_->DisplayPlaybackClick();
  auto* sar = Find<TSARData>();
  ASSERT_NE(sar, nullptr);
  Mark();
  Hover(sar);
  RunInCommandWindow(kAlternating);
  Leave(sar);
  ExpectAlternatingOnItsPages({TSARData::kPage});
  EXPECT_GT(others_, 0) << "the SAR readout wrote nothing while the script ran";
}

TEST_F(ScriptPages, TheScopeStreamBetweenTheLinesMovesNoWrite) {
  ASSERT_NE(Open(true), nullptr);
  form_->DisplayPlaybackClick();
  auto* scope = Find<TDSVoiceRecordData>();
  ASSERT_NE(scope, nullptr);
  Mark();
  Hover(scope);
  ASSERT_TRUE(scope->IsStreaming());
  RunInCommandWindow(kAlternating);
  Leave(scope);
  // The SAR readout of the same page may write its page on the way.
  ExpectAlternatingOnItsPages({TSARData::kPage});
}

TEST_F(ScriptPages, AClickOnAWidgetOfAnotherPageBetweenTheLinesMovesNoWrite) {
  for (const bool board : {true, false}) {
    SCOPED_TRACE(board ? "board" : "no board");
    ASSERT_NE(Open(board), nullptr);
    // A switch of codec page 0, clicked through its real hit area.
    TSwitch* lever = PageZeroSwitch();
    ASSERT_NE(lever, nullptr);
    const QPoint centre = Centre(lever);
    const int reg = lever->GetFirstRegister();
    uint8_t* image = form_->GetLink()->GetRegisterImage(0x30, 0, 0, unsigned(reg));
    int clicks = 0;
    Mark();
    RunInCommandWindow(kAlternating, [&] {
      const uint8_t before = *image;
      QTest::mouseClick(form_->BlockDiagramPaintBox, Qt::LeftButton, {}, centre);
      clicks += *image != before;
    });
    EXPECT_GT(clicks, 2);
    TUSBI2C* link = form_->GetLink();
    if (board) {
      ExpectAlternatingOnItsPages({0});
      EXPECT_GE(others_, clicks);
    } else {
      // Without a board the image shows where each write went.
      EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 1, 5), 0xA1);
      EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 2, 6), 0xA2);
      for (int p : {0, 2}) EXPECT_NE(*link->GetRegisterImage(0x30, 0, unsigned(p), 5), 0xA1) << p;
      for (int p : {0, 1}) EXPECT_NE(*link->GetRegisterImage(0x30, 0, unsigned(p), 6), 0xA2) << p;
    }
    delete form_.data();
    PumpEvents();
  }
}

TEST_F(ScriptPages, TheFilterToolsWriterThreadBetweenTheLinesMovesNoWrite) {
  ASSERT_NE(Open(true), nullptr);
  ASSERT_NE(form_->GetPluginInstance(), nullptr);
  for (QAction* action : form_->PluginMenuItems())
    if (action->text() == "DAC Filter...") action->trigger();
  QWidget* tool = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->isVisible() && widget->windowTitle() == "Multi Biquad Playback Filter Tool") tool = widget;
  ASSERT_NE(tool, nullptr);
  auto* grid = tool->findChild<QTableWidget*>("Parameters");
  auto* enable = tool->findChild<QCheckBox*>("Enable0");
  ASSERT_TRUE(grid && enable);
  QTest::mouseClick(enable, Qt::LeftButton);
  int typed = 0;
  Mark();
  RunInCommandWindow(kAlternating, [&] {
    filtertest::TypeInto(grid, 0, 5, typed++ % 2 ? "-3" : "-6");
  });
  // What the writer still sends after the run is no script's business.
  ExpectAlternatingOnItsPages({8});
  EXPECT_GT(others_, 0) << "the writer thread wrote nothing while the script ran";
}

TEST_F(ScriptPages, OnANetworkBoardAClickBetweenTheLinesOrARefusedReplyMovesNoWrite) {
  BoardServer server;
  ASSERT_TRUE(OpenNetworkBoard(server));
  TSwitch* lever = PageZeroSwitch();
  ASSERT_NE(lever, nullptr);
  const QPoint centre = Centre(lever);
  Mark();
  RunInCommandWindow(kAlternating,
                     [&] { QTest::mouseClick(form_->BlockDiagramPaintBox, Qt::LeftButton, {}, centre); });
  ExpectAlternatingOnItsPages({0});
  EXPECT_GT(others_, 2);

  // The codec on page 2, the script's page select refused.
  const uint8_t two = 2;
  ASSERT_TRUE(form_->GetLink()->WriteRegisters(&two, 0x30, 0, 2, 0, 1));
  Mark();
  QuillbusFailStatus(0, 1);
  TI2CCommand window(form_.data());
  window.SetCallbacks(form_.data(), TDiagramForm::CommandTransfer);
  window.SetCommandLines({"w 30 00 01", "w 30 05 55", "r 30 05 01"});
  window.RunSync();
  const std::vector<CodecWrite> writes = Replay().DataWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(ToString(writes[0]), "30 b0 p1 r05 = 55");
}

// The board on page 2; the script selects page 1, writes register 5 and
// reads it back, with one reply refused on the way.
struct Refusal {
  const char* name;
  int skip;  // commands answered before the refused one
  friend std::ostream& operator<<(std::ostream& out, const Refusal& r) { return out << r.name; }
};

class ARefusedReply : public ScriptPages, public ::testing::WithParamInterface<Refusal> {};

TEST_P(ARefusedReply, SendsNoLaterLineToAPageNobodyNamed) {
  ASSERT_NE(Open(true), nullptr);
  const uint8_t two = 2;
  ASSERT_TRUE(form_->GetLink()->WriteRegisters(&two, 0x30, 0, 2, 0, 1));
  TI2CCommand window(form_.data());
  window.SetCallbacks(form_.data(), TDiagramForm::CommandTransfer, TDiagramForm::ScriptGPIO, nullptr,
                      TDiagramForm::ScriptPageQuery, nullptr);
  window.SetCommandLines({"w 30 00 01", "w 30 05 55", "r 30 05 01"});
  Mark();
  QuillbusFailStatusAfter(0, GetParam().skip, 1);
  window.RunSync();
  for (const CodecWrite& w : Replay().DataWrites()) EXPECT_EQ(w.page, 1) << ToString(w);
  const std::vector<std::string> read = window.ReadDataLines();
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(read[0], "r 30 05 01, Page = 1:");
  // The board ends where the script left it.
  EXPECT_EQ(QuillbusGetSelectedPage(0, 0x30), 1);
}

INSTANTIATE_TEST_SUITE_P(OnEachCommand, ARefusedReply,
                         ::testing::Values(Refusal{"PageSelectLinesI2CSelect", 0}, Refusal{"PageSelectLinesWrite", 1},
                                           Refusal{"DataLinesFirstCommand", 2}, Refusal{"DataLinesSecondCommand", 3},
                                           Refusal{"DataLinesThirdCommand", 4}, Refusal{"DataLinesFourthCommand", 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// The plug-in's writer thread and a widget write the same page-8 register:
// in either order the image ends as the board does.
TEST_F(ScriptPages, TheWriterThreadsImageCopyNeverUndoesANewerWrite) {
  ASSERT_NE(Open(true), nullptr);
  TUSBI2C* link = form_->GetLink();
  const int reg = 76;  // the first coefficient of the first left section
  uint8_t* image = link->GetRegisterImage(0x30, 0, 8, unsigned(reg));
  auto writerWrites = [&](uint8_t value) {
    uint8_t block[1] = {value};
    std::thread writer([&] {
      TI2CBlockTransfer transfer{0x30, 0, 8, reg, 1, block, 0};
      TCodecCommand record{kCodecBlockTransfer, &transfer};
      TDiagramForm::PluginCommandCallback(form_.data(), &record);
    });
    writer.join();
  };
  auto widgetWrites = [&](uint8_t value) {
    *image = value;
    TDiagramForm::ObjectWrite(form_, 0x30, 8, reg, 1);
  };
  const struct {
    const char* order;
    std::function<void()> run;
    uint8_t expected;
  } cases[] = {
      {"writer, widget, copy", [&] { writerWrites(0x11); widgetWrites(0x22); PumpEvents(); }, 0x22},
      {"widget, writer, copy", [&] { widgetWrites(0x33); writerWrites(0x44); PumpEvents(); }, 0x44},
      {"writer, copy, widget", [&] { writerWrites(0x55); PumpEvents(); widgetWrites(0x66); }, 0x66},
      {"writer, writer, copy", [&] { writerWrites(0x77); writerWrites(0x78); PumpEvents(); }, 0x78},
  };
  for (const auto& c : cases) {
    c.run();
    PumpEvents();
    EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 8, reg), c.expected) << c.order;
    EXPECT_EQ(*image, c.expected) << c.order;
  }
}

// A writer block the board refuses leaves the image as the board is, and says so.
TEST_F(ScriptPages, ARefusedWriterBlockIsLoggedAndLeavesTheImageAsTheBoardIs) {
  ASSERT_NE(Open(true), nullptr);
  TUSBI2C* link = form_->GetLink();
  const int32_t num[3] = {0x0102, 0x0304, 0x0506}, den[3] = {0, 0x0708, 0x090A};
  // One of the five blocks of a section loses its select, sent twice, each
  // time followed by the re-acquire's AppID.
  QuillbusFailStatusAfter(0, 2, 4);
  std::thread writer([&] { TQMX7XXXForms::SendBiquad(&TDiagramForm::PluginCommandCallback, form_.data(), 0, num, den); });
  writer.join();
  PumpEvents();
  for (unsigned reg = 1; reg < 128; ++reg)
    EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 8, reg), QuillbusGetRegister(0, 0x30, 0, 8, int(reg))) << reg;
  const std::string log = LogText();
  size_t refusals = 0;
  for (size_t at = log.find("QMX7XXXEVM: the board refused a plug-in write of "); at != std::string::npos;
       at = log.find("QMX7XXXEVM: the board refused a plug-in write of ", at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 1u) << log;
}

}  // namespace

namespace {

using namespace hosttest;
using testsupport::CodecModel;
using testsupport::CodecWrite;

// A person typing line by line in the command window is one writer.
class TypedLines : public ScriptPages {
 protected:
  TI2CCommand* Command() {
    form_->I2CCommand1Click();
    return form_->CommandWindow();
  }
  void Type(const std::string& line) {
    TI2CCommand* command = Command();
    command->Command->setText(QString::fromStdString(line));
    QTest::mouseClick(command->Execute, Qt::LeftButton);
  }
  std::string LastReadData() {
    const std::vector<std::string> lines = Command()->ReadDataLines();
    return lines.empty() ? std::string() : lines.back();
  }
  // Another window's widget writes register 5 of page 3: the device is left on page 3.
  void OtherWriterOnPage3() {
    uint8_t* image = form_->GetLink()->GetRegisterImage(0x30, 0, 3, 5);
    *image = 0x33;
    TDiagramForm::ObjectWrite(form_, 0x30, 3, 5, 1);
    ASSERT_EQ(form_->GetLink()->GetPage(0x30), 3u);
  }
  // The typed line selects page 1; others move the device to page 3; the next typed line writes D0.
  void TypeAcrossAnotherWriter(const std::function<void()>& between = {}) {
    Mark();
    Type("w 30 00 01");
    OtherWriterOnPage3();
    if (between) between();
    Type("w 30 05 D0");
    Type("r 30 05 01");
    EXPECT_EQ(Command()->ReadDataLines().size() >= 2 ? Command()->ReadDataLines()[0] : "", "r 30 05 01, Page = 1:");
  }
  // The board's register, read through the window's link (the control
  // interface does not reach a network board).
  int OnBoard(int page, int reg) {
    uint8_t value = 0;
    if (!form_->GetLink()->ReadRegisters(&value, 0x30, 0, unsigned(page), unsigned(reg), 1)) return -1;
    return value;
  }
  void ExpectD0OnPage1() {
    int written = 0;
    for (const CodecWrite& w : Replay().DataWrites())
      if (w.reg == 5 && w.value == 0xD0) {
        EXPECT_EQ(w.page, 1) << ToString(w);
        ++written;
      }
    EXPECT_EQ(written, 1);
    EXPECT_EQ(OnBoard(1, 5), 0xD0);
  }
};

TEST_F(TypedLines, KeepThePageTheySelectedWhileOthersMoveTheDevice) {
  // On a board, with the SAR readout streaming its own page between the lines.
  ASSERT_NE(Open(true), nullptr);
  form_->DisplayPlaybackClick();
  auto* sar = Find<TSARData>();
  ASSERT_NE(sar, nullptr);
  TypeAcrossAnotherWriter([&] {
    Hover(sar);
    ASSERT_TRUE(WaitFor([&] { return form_->GetLink()->GetPage(0x30) == unsigned(TSARData::kPage); }));
    Leave(sar);
  });
  ExpectD0OnPage1();
  delete form_.data();
  PumpEvents();

  // Without a board the image shows where each line went.
  ASSERT_NE(Open(false), nullptr);
  TypeAcrossAnotherWriter();
  TUSBI2C* link = form_->GetLink();
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 1, 5), 0xD0);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 3, 5), 0x33);
  // A read answered from the image moves nothing: the next line stays on page 2.
  Type("w 30 00 02");
  Type("r 30 00 01");
  Type("w 30 05 E2");
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 2, 5), 0xE2);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 0, 5), 0);
  // The bytes after a page select in one block land on the page it selected.
  Type("w 30 00 04 A4");
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 4, 1), 0xA4);
  EXPECT_NE(*link->GetRegisterImage(0x30, 0, 2, 1), 0xA4);
}

TEST_F(TypedLines, OnANetworkBoardKeepTheirPageAndAFailedLineShowsInReadData) {
  BoardServer server;
  ASSERT_TRUE(OpenNetworkBoard(server));
  TypeAcrossAnotherWriter();
  ExpectD0OnPage1();

  // A select refused once is sent again: the line lands and nothing is reported.
  QuillbusFailStatus(0, 1);
  Type("w 30 05 D1");
  EXPECT_EQ(OnBoard(1, 5), 0xD1);
  EXPECT_EQ(LastReadData().find("#Transfer failed"), std::string::npos);
  // Refused for good: the user sees the line, and the image keeps the board's value.
  QuillbusFailStatus(0, 1000);
  Type("w 30 05 D2");
  QuillbusFailStatus(0, 0);
  EXPECT_EQ(LastReadData(), "#Transfer failed: w 30 05 D2");
  EXPECT_NE(LogText().find("Transfer failed: w 30 05 D2"), std::string::npos);
  EXPECT_EQ(OnBoard(1, 5), 0xD1);
  EXPECT_EQ(*form_->GetLink()->GetRegisterImage(0x30, 0, 1, 5), 0xD1);
}

TEST_F(TypedLines, ARefusedLineOnABoardShowsInReadDataAndLeavesTheImageAsTheBoardIs) {
  ASSERT_NE(Open(true), nullptr);
  Type("w 30 00 01");
  Type("w 30 05 D1");
  QuillbusFailStatus(0, 1000);
  Type("w 30 05 D2 D3");
  QuillbusFailStatus(0, 0);
  EXPECT_EQ(LastReadData(), "#Transfer failed: w 30 05 D2 D3");
  TUSBI2C* link = form_->GetLink();
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 1, 5), 0xD1);
  EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 1, 6), QuillbusGetRegister(0, 0x30, 0, 1, 6));
}

// The plug-in's blocks on the GUI thread: the image takes what the board
// took, a block up to register 127 included, and nothing the board refused.
TEST_F(ScriptPages, APluginBlockOfTheGuiThreadReachesTheImageOnlyWhenTheBoardTookIt) {
  for (const bool board : {true, false}) {
    SCOPED_TRACE(board ? "board" : "no board");
    ASSERT_NE(Open(board), nullptr);
    TUSBI2C* link = form_->GetLink();
    uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    auto send = [&](int reg, int count) {
      TI2CBlockTransfer transfer{0x30, 0, 8, reg, count, block, 0};
      TCodecCommand record{kCodecBlockTransfer, &transfer};
      TDiagramForm::PluginCommandCallback(form_.data(), &record);
    };
    send(120, 8);  // ends at register 127
    for (int i = 0; i < 8; ++i) EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 8, unsigned(120 + i)), block[i]) << i;
    if (board) {
      EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 8, 127), 8);
      QuillbusFailStatus(0, 1000);
      block[0] = 0xEE;
      send(76, 2);
      QuillbusFailStatus(0, 0);
      EXPECT_EQ(*link->GetRegisterImage(0x30, 0, 8, 76), QuillbusGetRegister(0, 0x30, 0, 8, 76));
      EXPECT_NE(*link->GetRegisterImage(0x30, 0, 8, 76), 0xEE);
      EXPECT_NE(LogText().find("QMX7XXXEVM: the board refused a plug-in write of 2 bytes"), std::string::npos);
    }
    delete form_.data();
    PumpEvents();
  }
}

}  // namespace
