// The host's side of the codec plug-in: loading the library a page names,
// one instance per board window, the plug-in's register windows on every
// page, its View menu items, and the command callback. Against a recording
// plug-in module and against the real QMX7XXX module, both loaded by path.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <pugixml.hpp>
#include <thread>

#include "codec/instance.h"
#include "common/shapes.h"
#include "diagram/block_diagram.h"
#include "diagram/processing_blocks.h"
#include "host/diagram_form.h"
#include "host/load_form.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"
#include "platform/library.h"
#include "quillbus/quillbus.h"
#include "tests/host/fake_plugin.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

const char* const kFakeLibrary = "Codecs\\FakeCodec.dll";

std::string Page(const std::string& dll, const std::string& body = "") {
  const std::string library = dll.empty() ? "" : "<dll>" + dll + "</dll>";
  const std::string metadata = "<metadata>" + library + "<pages>255</pages></metadata>";
  return "<svg width='400' height='300'>" + metadata + body + "</svg>";
}

class PluginBindingTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    StartSmallWindows();
    void* module = platform::LoadModule(kFakeLibrary);
    ASSERT_NE(module, nullptr);
    fake_ = reinterpret_cast<TFakePluginState>(platform::ResolveSymbol(module, "FakePluginState"))();
    reinterpret_cast<TFakePluginReset>(platform::ResolveSymbol(module, "FakePluginReset"))();
    window_ = reinterpret_cast<TFakePluginWindow>(platform::ResolveSymbol(module, "FakePluginWindow"));
    area_.resize(900, 700);
    area_.show();
  }

  // A window for board element B of `list`, on the emulated board.
  TDiagramForm* Open(const std::string& list, bool board = true) {
    EXPECT_TRUE(list_.load_string(list.c_str()));
    return OpenBoardWindow(&area_, list_.document_element().child("B"), board);
  }
  TDiagramForm* OpenTwoPages(bool board = true) {
    testsupport::WriteFile(dir_.File("one.svg"), Page(kFakeLibrary));
    testsupport::WriteFile(dir_.File("two.svg"), Page(kFakeLibrary));
    return Open("<L><B Diagram-1='one.svg' Diagram-2='two.svg'/></L>", board);
  }

  int Send(int type, void* payload) {
    TCodecCommand command{type, payload};
    return fake_->command(fake_->host, &command);
  }

  static bool Holds(TBlockDiagram* page, TI2CObject* window) {
    for (unsigned i = 0; i < page->RegisterWindowCount(); ++i)
      if (page->RegisterWindow(i) == window) return true;
    return false;
  }

  void Mark() { trace_.Mark(); }
  std::vector<std::string> Commands() { return trace_.Commands(); }

  FakePluginState* fake_ = nullptr;
  TFakePluginWindow window_ = nullptr;
  pugi::xml_document list_;
  QMdiArea area_;
  BoardTrace trace_{dir_.File("trace.txt")};
};

TEST_F(PluginBindingTest, TwoPagesNamingOneLibraryShareOneInstance) {
  QPointer<TDiagramForm> form = OpenTwoPages();
  ASSERT_EQ(form->PageCount(), 2);
  EXPECT_EQ(fake_->init, 1);
  ASSERT_NE(fake_->lastInstance, nullptr);
  EXPECT_EQ(form->GetPluginInstance(), fake_->lastInstance);
  EXPECT_EQ(fake_->host, form.data());
  EXPECT_EQ(fake_->names, (std::vector<std::string>{"B", "B"}));
  // Asked 0, 1, 2, 3 on each page; the three windows are on both pages,
  // bound to the board window's handlers.
  EXPECT_EQ(fake_->windowIndices, (std::vector<unsigned>{0, 1, 2, 3, 0, 1, 2, 3}));
  for (unsigned i = 0; i < 3; ++i) {
    TI2CObject* window = window_(i);
    EXPECT_TRUE(Holds(form->Page(0), window)) << i;
    EXPECT_TRUE(Holds(form->Page(1), window)) << i;
    EXPECT_EQ(window->GetUser(), form.data());
    EXPECT_EQ(window->GetWrite(), &TDiagramForm::ObjectWrite);
    EXPECT_EQ(window->GetPoll(), &TDiagramForm::ObjectRefreshRequest);
    EXPECT_EQ(window->GetBlock(), &TDiagramForm::BlockTransfer);
  }
  // The first page destroyed frees the instance; the second finds none.
  void* instance = fake_->lastInstance;
  QuillbusReset();
  delete form.data();
  EXPECT_EQ(fake_->freed, (std::vector<void*>{instance}));
}

TEST_F(PluginBindingTest, TheFirstBindingShowsInitializingAt80) {
  testsupport::WriteFile(dir_.File("one.svg"), Page(kFakeLibrary));
  Open("<L><B Diagram-1='one.svg'/></L>", false);
  EXPECT_EQ(LoadForm->Loading->text(), "Initializing Library...");
  EXPECT_EQ(LoadForm->ProgressBar->value(), 80);
}

TEST_F(PluginBindingTest, NoWindowAtIndexZeroRegistersNothing) {
  fake_->windowCount = 0;
  TDiagramForm* form = OpenTwoPages(false);
  EXPECT_EQ(fake_->windowIndices, (std::vector<unsigned>{0, 0}));
  EXPECT_FALSE(Holds(form->Page(0), window_(0)));
}

TEST_F(PluginBindingTest, WithoutAnInstanceNothingElseIsSentAndALaterPageTriesAgain) {
  fake_->initFails = true;
  TDiagramForm* form = OpenTwoPages(false);
  EXPECT_EQ(fake_->init, 2);
  EXPECT_EQ(form->GetPluginInstance(), nullptr);
  EXPECT_TRUE(fake_->names.empty());
  EXPECT_TRUE(fake_->windowIndices.empty());
  form->PluginMenuItems().at(0)->trigger();
  form->Page(0)->SetSampleRate(48000);
  EXPECT_TRUE(fake_->selected.empty());
  EXPECT_TRUE(fake_->rates.empty());
}

TEST_F(PluginBindingTest, MenuItemsCarryTheirIndexAndSelectThePluginForm) {
  TDiagramForm* form = OpenTwoPages(false);
  const auto& items = form->PluginMenuItems();
  ASSERT_EQ(items.size(), 4u);
  const QList<QAction*> view = form->View->actions();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(items[size_t(i)]->data().toInt(), i);
    // Appended at the end of View, after the window's own items.
    EXPECT_EQ(view[view.size() - 4 + i], items[size_t(i)]);
  }
  EXPECT_EQ(items[0]->text(), "One...");
  items[2]->trigger();
  EXPECT_EQ(fake_->selected, (std::vector<unsigned>{2}));
}

TEST_F(PluginBindingTest, ClickedObjectsOtherThanPageSwitchesOpenPluginDialogs) {
  testsupport::WriteFile(dir_.File("one.svg"),
                         Page(kFakeLibrary,
                              "<rect x='10' y='10' width='50' height='30' function='CLK'/>"
                              "<rect x='100' y='10' width='50' height='30' function='DConf'/>"));
  TDiagramForm* form = Open("<L><B Diagram-1='one.svg'/></L>", false);
  TBlockDiagram* page = form->Page(0);
  ASSERT_EQ(page->ObjectCount(), 2u);
  page->ShowPluginDialog(page->Object(0));
  page->ShowPluginDialog(page->Object(1));
  EXPECT_EQ(fake_->dialogs, (std::vector<std::string>{"CLK"}));
}

TEST_F(PluginBindingTest, ARateReportFromAnotherThreadReachesThePluginOnTheGuiThread) {
  TDiagramForm* form = OpenTwoPages(false);
  fake_->rates.clear();
  std::thread link([form] { form->Page(1)->SetSampleRate(48000); });
  link.join();
  EXPECT_TRUE(fake_->rates.empty());
  PumpEvents();
  EXPECT_EQ(fake_->rates, (std::vector<unsigned>{48000}));
  EXPECT_EQ(fake_->rateThread, std::this_thread::get_id());
}

TEST_F(PluginBindingTest, ProgressCommandsMoveTheLoadBarFrom80To95) {
  OpenTwoPages(false);
  TCodecProgress progress{"Filters", 1, 2};
  EXPECT_EQ(Send(kCodecProgress, &progress), 0);
  EXPECT_EQ(LoadForm->ProgressBar->value(), 87);
  EXPECT_EQ(LoadForm->Loading->text(), "Filters");
  // A total of 0 would divide by zero: the bar stays and the log says so.
  TCodecProgress empty{"None", 3, 0};
  EXPECT_EQ(Send(kCodecProgress, &empty), 0);
  EXPECT_EQ(LoadForm->ProgressBar->value(), 87);
  EXPECT_NE(LogText().find("total of 0"), std::string::npos);
  // Type 4 is a log line; type 5 and a null record do nothing.
  TCodecLogLine line{"plug-in says hello"};
  EXPECT_EQ(Send(kCodecLogLine, &line), 0);
  EXPECT_EQ(LogCount("plug-in says hello"), 1);
  EXPECT_EQ(Send(5, &progress), 0);
  EXPECT_EQ(fake_->command(fake_->host, nullptr), 0);
  EXPECT_EQ(LoadForm->ProgressBar->value(), 87);
}

TEST_F(PluginBindingTest, BlockTransfersAndScriptsReachTheBoard) {
  TDiagramForm* form = OpenTwoPages();
  Mark();
  uint8_t bytes[3] = {0x11, 0x22, 0x33};
  TI2CBlockTransfer write{0x30, 0, 8, 2, 3, bytes, 0};
  EXPECT_EQ(Send(kCodecBlockTransfer, &write), 0);
  // The image follows the write; the SPI box is not applied.
  const uint8_t* image = form->GetLink()->GetRegisterImage(0x30, 0, 8, 2);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image[0], 0x11);
  EXPECT_EQ(image[2], 0x33);
  uint8_t back[3] = {};
  TI2CBlockTransfer read{0x30, 0, 8, 2, 3, back, 1};
  EXPECT_EQ(Send(kCodecBlockTransfer, &read), 0);
  EXPECT_EQ(back[1], 0x22);
  // From the writer thread: the link takes it there, the rest is posted.
  uint8_t late = 0x44;
  std::thread writer([&] {
    TI2CBlockTransfer t{0x30, 0, 8, 10, 1, &late, 0};
    Send(kCodecBlockTransfer, &t);
  });
  writer.join();
  PumpEvents();
  EXPECT_EQ(form->GetLink()->GetRegisterImage(0x30, 0, 8, 10)[0], 0x44);
  // A script runs in a temporary command window.
  TCodecScriptRequest script{"w 30 00 00\nw 30 41 5A\n", nullptr};
  EXPECT_EQ(Send(kCodecRunScript, &script), 0);
  const auto commands = Commands();
  // Write packets end in: operation 02, register, the bytes.
  auto sent = [&](const std::string& tail) {
    for (const auto& c : commands)
      if (c.find(tail) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(sent("02 00 02 11 22 33")) << "block write";
  EXPECT_TRUE(sent("02 00 0A 44")) << "writer thread's block";
  EXPECT_TRUE(sent("02 00 41 5A")) << "script";
}

TEST_F(PluginBindingTest, WithoutABoardABlockWriteStillReachesTheImage) {
  TDiagramForm* form = OpenTwoPages(false);
  uint8_t bytes[2] = {0x5A, 0xA5};
  std::thread writer([&] {
    TI2CBlockTransfer t{0x30, 0, 8, 20, 2, bytes, 0};
    Send(kCodecBlockTransfer, &t);
  });
  writer.join();
  PumpEvents();
  EXPECT_EQ(form->GetLink()->GetRegisterImage(0x30, 0, 8, 21)[0], 0xA5);
  // A block past the page's end is sent (and refused there), not mirrored.
  uint8_t tail[4] = {1, 2, 3, 4};
  TI2CBlockTransfer past{0x30, 0, 8, 126, 4, tail, 0};
  EXPECT_EQ(Send(kCodecBlockTransfer, &past), 0);
  EXPECT_EQ(form->GetLink()->GetRegisterImage(0x30, 0, 8, 127)[0], 0);
}

TEST_F(PluginBindingTest, ABiquadReachesTheBoardAsFiveBlocksOnPage8) {
  TDiagramForm* form = OpenTwoPages();
  Mark();
  const int32_t num[3] = {-1, 0, 0x12345}, den[3] = {0, 0x0102, 0x0304};
  ASSERT_TRUE(TQMX7XXXForms::SendBiquad(&TDiagramForm::PluginCommandCallback, form, 5, num, den));
  std::vector<std::string> writes;
  for (const std::string& c : Commands())
    if (c.compare(15, 2, "02") == 0) writes.push_back(c.substr(21));
  const std::string block = "FF FF 00 00 23 45 01 02 03 04";
  const std::vector<std::string> expected = {"00 08",          "34 " + block, "74 " + block, "01 05",
                                             "34 " + block, "74 " + block};
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(form->GetLink()->GetRegisterImage(0x30, 0, 8, 116)[9], 0x04);
}

// The plug-in's writer thread: the link takes each block on that thread,
// the image takes them on the GUI thread, all of them and in their order.
TEST_F(PluginBindingTest, BlockWritesOfAnotherThreadReachTheImageOnTheGuiThreadInOrder) {
  for (const bool board : {true, false}) {
    TDiagramForm* form = OpenTwoPages(board);
    PumpEvents();
    Mark();
    const uint8_t* image = form->GetLink()->GetRegisterImage(0x30, 0, 8, 0);
    ASSERT_NE(image, nullptr);
    const std::vector<uint8_t> before(image, image + 128);
    auto send = [form](int reg, std::vector<uint8_t> bytes) {
      TI2CBlockTransfer t{0x30, 0, 8, reg, int(bytes.size()), bytes.data(), 0};
      TCodecCommand command{kCodecBlockTransfer, &t};
      TDiagramForm::PluginCommandCallback(form, &command);
    };
    std::thread writer([&] {
      for (unsigned slot = 0; slot < 3; ++slot) {
        const int32_t num[3] = {int32_t(slot + 1), 0x0203, -2}, den[3] = {0, 0x0405, int32_t(0x0600 + slot)};
        TQMX7XXXForms::SendBiquad(&TDiagramForm::PluginCommandCallback, form, slot, num, den);
      }
      send(100, {1});
      send(100, {2, 3});
      send(101, {4});
      send(110, {7});
    });
    writer.join();
    // Until the GUI thread runs its events the image is as it was.
    EXPECT_EQ(std::vector<uint8_t>(image, image + 128), before) << board;
    if (board) {
      std::vector<std::string> writes;
      for (const std::string& c : Commands())
        if (c.compare(15, 2, "02") == 0) writes.push_back(c.substr(21));
      ASSERT_GE(writes.size(), 4u);
      const std::vector<std::string> last(writes.end() - 4, writes.end());
      EXPECT_EQ(last, (std::vector<std::string>{"64 01", "64 02 03", "65 04", "6E 07"}));
    }
    // A block of the GUI thread lands after those still queued.
    send(110, {9});
    EXPECT_EQ(image[110], 9) << board;
    PumpEvents();
    EXPECT_EQ(image[100], 2) << board;
    EXPECT_EQ(image[101], 4) << board;
    EXPECT_EQ(image[110], 9) << board;
    for (unsigned slot = 0; slot < 3; ++slot) {
      const uint8_t expected[10] = {0x00, uint8_t(slot + 1), 0x02, 0x03, 0xFF, 0xFE, 0x04, 0x05, 0x06, uint8_t(slot)};
      for (int reg : {TQMX7XXXForms::kBiquadLeft[slot], TQMX7XXXForms::kBiquadRight[slot]})
        EXPECT_EQ(std::vector<uint8_t>(image + reg, image + reg + 10), std::vector<uint8_t>(expected, expected + 10))
            << board << " slot " << slot << " register " << reg;
    }
    EXPECT_EQ(image[1], 0x05) << board;
  }
}

TEST_F(PluginBindingTest, ALibraryThatDoesNotLoadIsLoggedAndLeavesThePagePlain) {
  testsupport::WriteFile(dir_.File("one.svg"), Page("Codecs\\Nowhere.dll"));
  TDiagramForm* form = Open("<L><B Diagram-1='one.svg'/></L>", false);
  EXPECT_EQ(form->Page(0)->GetModule(), nullptr);
  EXPECT_EQ(form->GetPluginInstance(), nullptr);
  EXPECT_TRUE(form->PluginMenuItems().empty());
  EXPECT_NE(LogText().find("Codecs\\Nowhere.dll cannot be loaded"), std::string::npos);
}

// The real module: the kit's first page names it.
TEST_F(PluginBindingTest, TheKitBoardLoadsTheCodecModuleWithItsMenuAndWindows) {
  UseBoardKit();
  TDiagramForm* form = Open(
      "<L><B Diagram-1='QMX7XXX\\Page1.svg' Diagram-2='QMX7XXX\\Page2.svg' Diagram-Clock='QMX7XXX\\Clock.svg'/></L>");
  ASSERT_NE(form->Page(0)->GetModule(), nullptr);
  ASSERT_NE(form->GetPluginInstance(), nullptr);
  std::vector<std::string> captions;
  for (QAction* item : form->PluginMenuItems()) captions.push_back(item->text().toStdString());
  EXPECT_EQ(captions, (std::vector<std::string>{"Digital Setup...", "Audio Outputs...", "SAR ADC...", "DAC Filter..."}));
  // All 21 windows of the module come last on every page that names it,
  // before only the processing-block window's.
  for (TBlockDiagram* page : {form->Page(0), form->Page(1), form->ClockPage()}) {
    ASSERT_GE(page->RegisterWindowCount(), 22u);
    EXPECT_EQ(page->RegisterWindow(page->RegisterWindowCount() - 1), &form->ProcessingBlocks()->Window());
    TI2CObject* last = page->RegisterWindow(page->RegisterWindowCount() - 2);
    EXPECT_EQ(last->GetFirstRegister(), 86);  // the AGC window
    EXPECT_EQ(last->GetUser(), form);
  }
}

TEST_F(PluginBindingTest, TheModulesOwnLogLinesReachTheLogWindow) {
  UseBoardKit();
  TDiagramForm* form = Open("<L><B Diagram-1='QMX7XXX\\Page1.svg'/></L>");
  ASSERT_NE(form->GetPluginInstance(), nullptr);
  // The filter tool refuses a rate of 0 with a line of the module's own log.
  form->Page(0)->SetSampleRate(0);
  PumpEvents();
  EXPECT_EQ(LogCount("Filter tool: sample rate 0 ignored"), 1);
}

}  // namespace
