// The filter tool on the kit's board: "DAC Filter..." opens it, a gain typed
// into its grid reaches the emulated codec's biquad registers on page 8 in
// both channels, through the writer thread and the board window's link.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <pugixml.hpp>
#include <thread>

#include "host/diagram_form.h"
#include "diagram/block_diagram.h"
#include "link/usbi2c.h"
#include "platform/library.h"
#include "tests/codec/filter/filter_ui_support.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

class FilterToolOnBoard : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    StartSmallWindows();
    area_.resize(900, 700);
    area_.show();
  }

  TDiagramForm* OpenKit() {
    UseBoardKit();
    EXPECT_TRUE(list_.load_string(
        "<L><B Diagram-1='QMX7XXX\\Page1.svg' Diagram-2='QMX7XXX\\Page2.svg' Diagram-Clock='QMX7XXX\\Clock.svg'/></L>"));
    return OpenBoardWindow(&area_, list_.document_element().child("B"), true);
  }

  static QWidget* ShownTool() {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (widget->isVisible() && widget->windowTitle() == "Multi Biquad Playback Filter Tool") return widget;
    return nullptr;
  }

  static void Type(QTableWidget* grid, int row, int column, const QString& text) {
    filtertest::TypeInto(grid, row, column, text);
  }

  // Waits until the writer thread has sent everything queued.
  void Quiet() {
    trace_.Mark();
    size_t seen = 0;
    for (int round = 0; round < 50; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      PumpEvents();
      const size_t now = trace_.Commands().size();
      if (round > 1 && now == seen) return;
      seen = now;
    }
  }

  // Register writes to the codec since the mark: register and data bytes.
  std::vector<std::string> Writes() {
    std::vector<std::string> writes;
    for (const std::string& c : trace_.Commands())
      if (c.size() > 21 && c.compare(15, 2, "02") == 0) writes.push_back(c.substr(21));
    return writes;
  }

  QMdiArea area_;
  pugi::xml_document list_;
  BoardTrace trace_{dir_.File("trace.txt")};
};

TEST_F(FilterToolOnBoard, AGainTypedInTheGridReachesPage8InBothChannels) {
  TDiagramForm* form = OpenKit();
  ASSERT_NE(form->GetPluginInstance(), nullptr);
  ASSERT_EQ(ShownTool(), nullptr);
  QAction* item = nullptr;
  for (QAction* action : form->PluginMenuItems())
    if (action->text() == "DAC Filter...") item = action;
  ASSERT_NE(item, nullptr);
  item->trigger();
  QWidget* tool = ShownTool();
  ASSERT_NE(tool, nullptr);
  auto* grid = tool->findChild<QTableWidget*>("Parameters");
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(grid->rowCount(), 5);

  // The board's rate report reached the tool.
  auto* rate = tool->findChild<QLineEdit*>("SampleRateEdit");
  ASSERT_NE(rate, nullptr);
  EXPECT_EQ(rate->text(), "48000");  // the emulated board's rate
  // The worked example's rate, the host's way.
  auto setRate = reinterpret_cast<void (*)(void*, unsigned)>(
      platform::ResolveSymbol(form->Page(0)->GetModule(), "_SetSampleRate"));
  ASSERT_NE(setRate, nullptr);
  setRate(form->GetPluginInstance(), 44100);
  EXPECT_EQ(rate->text(), "44100");

  // Section 1: an EQ at 1000 Hz, 200 Hz wide, then -3 dB typed as its gain.
  auto* enable = tool->findChild<QCheckBox*>("Enable0");
  ASSERT_NE(enable, nullptr);
  QTest::mouseClick(enable, Qt::LeftButton);
  ASSERT_TRUE(enable->isChecked());
  Type(grid, 0, 4, "1000");
  EXPECT_EQ(grid->item(0, 4)->text(), "1000");
  Type(grid, 0, 6, "200");
  EXPECT_EQ(grid->item(0, 4)->text(), "1000");
  EXPECT_EQ(grid->item(0, 6)->text(), "200");
  Quiet();
  trace_.Mark();
  Type(grid, 0, 5, "-3");
  EXPECT_EQ(grid->item(0, 5)->text(), "-3.0");

  // N0, N1, N2, D1, D2 = 32578, -31795, 31662, 31795, -31474 at 16 bits.
  const std::string block = "7F 42 83 CD 7B AE 7C 33 85 0E";
  const std::vector<std::string> expected = {"02 " + block, "42 " + block, "01 05", "02 " + block, "42 " + block};
  ASSERT_TRUE(WaitFor([&] { return Writes().size() >= 5; }, std::chrono::seconds(10)));
  std::vector<std::string> writes = Writes();
  writes.erase(std::remove(writes.begin(), writes.end(), "00 08"), writes.end());  // page selects
  EXPECT_EQ(writes, expected);
  const uint8_t bytes[10] = {0x7F, 0x42, 0x83, 0xCD, 0x7B, 0xAE, 0x7C, 0x33, 0x85, 0x0E};
  for (int first : {2, 66}) {
    const uint8_t* image = form->GetLink()->GetRegisterImage(0x30, 0, 8, first);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(image, image + 10), std::vector<uint8_t>(bytes, bytes + 10)) << "register " << first;
  }

  // Hidden, the tool's writes are dropped.
  tool->hide();
  trace_.Mark();
  tool->findChild<QCheckBox*>("Enable1")->click();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  PumpEvents();
  EXPECT_TRUE(Writes().empty());
}

}  // namespace
