// The coefficient slider: the records of its file and what one step writes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QSlider>
#include <filesystem>
#include <tuple>
#include <vector>

#include "diagram/coefficient_slider.h"
#include "registers/i2c_command.h"
#include "tests/support/test_support.h"

namespace {

using Write = std::tuple<int, int, int, int>;  // device, page, register, count

struct Board {
  std::vector<Write> writes;
  std::vector<std::vector<uint8_t>> scripted;  // bytes the scripts sent
  static void OnWrite(void* user, int device, int page, int reg, int count) {
    static_cast<Board*>(user)->writes.emplace_back(device, page, reg, count);
  }
  static int OnTransfer(void* user, int, ScriptPlace&, int, uint8_t* data, int count, bool read, bool) {
    if (!read) static_cast<Board*>(user)->scripted.emplace_back(data, data + count);
    return 1;
  }
};

std::string Lines(int n, bool finalBreak, uint32_t f4 = 0x0004) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "0x1 2 3 %x 5 6 7 8 9 a b c d %x", f4, i);
    text += line;
    if (i + 1 < n || finalBreak) text += "\n";
  }
  return text;
}

class CoefficientSliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::filesystem::create_directory("Codecs");
    testsupport::WriteFile("mute.cfg", "w 30 00 01\n");
    testsupport::WriteFile("unmute.cfg", "w 30 00 02\n");
  }
  void TearDown() override { std::filesystem::current_path(saved); }

  std::unique_ptr<TQMX7350Slider> Make() {
    auto slider = std::make_unique<TQMX7350Slider>(&owner, &board, Board::OnTransfer, "c.txt", "mute.cfg",
                                                   "unmute.cfg", "up.cfg", "down.cfg", rect);
    slider->SetData(&image[128]);
    slider->SetCallbacks(&board, Board::OnWrite, nullptr, nullptr);
    return slider;
  }

  testsupport::TempDir dir;
  std::filesystem::path saved;
  QWidget owner;
  const float rect[6] = {10, 10, 30, 160, 1, 1};
  std::vector<uint8_t> image = std::vector<uint8_t>(256);
  Board board;
};

TEST(CoefficientRecords, OnlyCompleteRecordsCountAndAtMost128) {
  EXPECT_EQ(TQMX7350Slider::ParseRecords(Lines(10, false)).size(), 10u);
  EXPECT_EQ(TQMX7350Slider::ParseRecords(Lines(10, true)).size(), 10u);
  EXPECT_EQ(TQMX7350Slider::ParseRecords(Lines(130, true)).size(), 128u);
  EXPECT_EQ(TQMX7350Slider::ParseRecords(Lines(3, true) + "1 2 3\n").size(), 3u);
  EXPECT_EQ(TQMX7350Slider::ParseRecords("").size(), 0u);
  EXPECT_EQ(TQMX7350Slider::ParseRecords(Lines(2, true))[1][13], 1u);
}

TEST_F(CoefficientSliderTest, AStepWritesTheRecordIntoBothChannelsAndTheVolume) {
  testsupport::WriteFile("Codecs/QMX7350_VolumeCoeff.txt", Lines(10, true, 0x1234));
  auto slider = Make();
  EXPECT_EQ(slider->GetHintText(), "QMX7350 Custom Slider");
  EXPECT_EQ(slider->TrackBar()->maximum(), 9);
  image[43] = 0x80;
  board.writes.clear();
  slider->TrackBar()->setValue(9);
  const std::vector<Write> writes = {{0x30, 0, 43, 2}, {0x30, 1, 1, 26}, {0x30, 1, 27, 26}};
  EXPECT_EQ(board.writes, writes);
  EXPECT_EQ(image[43], 0x89);
  EXPECT_EQ(image[44], 0x09);
  // f4 is the seventh coefficient in register order: bytes 13 and 14, and again 39 and 40.
  EXPECT_EQ(image[128 + 13], 0x12);
  EXPECT_EQ(image[128 + 14], 0x34);
  EXPECT_EQ(image[128 + 39], 0x12);
  EXPECT_EQ(image[128 + 40], 0x34);
  EXPECT_EQ(image[128 + 7], 0x00);
  EXPECT_EQ(image[128 + 8], 0x06);
  EXPECT_EQ(slider->StepText()->text(), "9");
}

TEST_F(CoefficientSliderTest, MuteRunsItsScriptsAndAFileTwiceAsLongKeepsTheRelativePosition) {
  testsupport::WriteFile("Codecs/QMX7350_VolumeCoeff.txt", Lines(11, true));
  auto slider = Make();
  // Construction runs mute then unmute.
  ASSERT_EQ(board.scripted.size(), 2u);
  board.scripted.clear();
  slider->MuteBox()->click();
  ASSERT_EQ(board.scripted.size(), 1u);
  EXPECT_EQ(board.scripted[0].back(), 0x01);
  slider->MuteBox()->click();
  EXPECT_EQ(board.scripted.back().back(), 0x02);

  slider->TrackBar()->setValue(5);
  testsupport::WriteFile("twice.txt", Lines(21, true));
  EXPECT_TRUE(slider->LoadCoefficients("twice.txt"));
  EXPECT_EQ(slider->TrackBar()->maximum(), 20);
  EXPECT_EQ(slider->TrackBar()->value(), 10);
}

// A right click on the Mute or Power box, or on its caption, shows that
// box's two script windows and no others.
TEST_F(CoefficientSliderTest, ARightClickOnABoxOrItsCaptionShowsItsTwoScripts) {
  auto slider = Make();
  owner.show();
  struct Case {
    QWidget* control;
    int first;
  };
  for (const Case& c : {Case{slider->MuteBox(), 0}, Case{slider->MuteLabel(), 0}, Case{slider->PowerBox(), 2},
                        Case{slider->PowerLabel(), 2}}) {
    for (int i = 0; i < 4; ++i)
      if (slider->ScriptWindow(i)) slider->ScriptWindow(i)->hide();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), c.control->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(c.control, &event);
    for (int i = 0; i < 4; ++i) {
      const bool shown = slider->ScriptWindow(i) && slider->ScriptWindow(i)->isVisible();
      EXPECT_EQ(shown, i == c.first || i == c.first + 1) << "script " << i << " after a right click on "
                                                         << c.control->metaObject()->className();
    }
  }
  EXPECT_EQ(slider->ScriptWindow(0)->windowTitle().toStdString(), "mute.cfg");
}

TEST_F(CoefficientSliderTest, AFileWithoutRecordsDisablesTheSliderAndSaysSo) {
  testsupport::LogCapture log;
  auto slider = Make();  // no coefficient file at all
  EXPECT_FALSE(slider->TrackBar()->isEnabled());
  EXPECT_TRUE(log.Contains("QMX7350 Slider: cannot read Codecs\\QMX7350_VolumeCoeff.txt"));
  board.writes.clear();
  slider->PositionChange();
  EXPECT_TRUE(board.writes.empty());
  testsupport::WriteFile("empty.txt", "\n\n");
  EXPECT_FALSE(slider->LoadCoefficients("empty.txt"));
  EXPECT_TRUE(log.Contains("QMX7350 Slider: no coefficient record in empty.txt"));
  testsupport::WriteFile("one.txt", Lines(1, true));
  EXPECT_TRUE(slider->LoadCoefficients("one.txt"));
  EXPECT_TRUE(slider->TrackBar()->isEnabled());
}

}  // namespace
