// The coefficient slider: the records of its file and what one step writes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QSlider>
#include <filesystem>
#include <functional>
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

// What a user's action on the slider sends, in order: the scripts' last
// bytes and the writes, each with the first coefficient the image holds
// as it is written.
class CoefficientSliderOrderTest : public CoefficientSliderTest {
 protected:
  void SetUp() override {
    CoefficientSliderTest::SetUp();
    testsupport::WriteFile("up.cfg", "w 30 00 03\n");
    testsupport::WriteFile("down.cfg", "w 30 00 04\n");
    // Each mode's file has its own first coefficient.
    for (int mode = 0; mode < 3; ++mode) {
      std::string text;
      for (int i = 0; i < 5; ++i)
        text += std::to_string(mode + 1) + " 2 3 4 5 6 7 8 9 a b c d " + std::to_string(i) + "\n";
      testsupport::WriteFile(std::string("Codecs/") + kFiles[mode], text);
    }
  }
  static constexpr const char* kFiles[3] = {"QMX7350_VolumeCoeff.txt", "QMX7350_VolumeFilterCoeff.txt",
                                            "QMX7350_FilterCoeff.txt"};

  struct Recorder {
    std::vector<std::string>* events;
    const std::vector<uint8_t>* image;
  };
  static void OnWrite(void* user, int device, int page, int reg, int count) {
    auto* r = static_cast<Recorder*>(user);
    char text[64];
    std::snprintf(text, sizeof text, "write %02X %d/%d+%d c1=%02X%02X", device, page, reg, count,
                  (*r->image)[128 + 1], (*r->image)[128 + 2]);
    r->events->push_back(text);
  }
  static int OnTransfer(void* user, int, ScriptPlace&, int, uint8_t* data, int count, bool read, bool) {
    if (!read && count > 0) {
      char text[16];
      std::snprintf(text, sizeof text, "script %02X", data[count - 1]);
      static_cast<Recorder*>(user)->events->push_back(text);
    }
    return 1;
  }
  std::unique_ptr<TQMX7350Slider> MakeRecorded() {
    auto slider = std::make_unique<TQMX7350Slider>(&owner, &recorder, OnTransfer, "c.txt", "mute.cfg", "unmute.cfg",
                                                   "up.cfg", "down.cfg", rect);
    slider->SetData(&image[128]);
    slider->SetCallbacks(&recorder, OnWrite, nullptr, nullptr);
    return slider;
  }
  // The three writes of one step, the image holding `c1` first.
  static std::vector<std::string> Step(const char* c1) {
    return {std::string("write 30 0/43+2 c1=") + c1, std::string("write 30 1/1+26 c1=") + c1,
            std::string("write 30 1/27+26 c1=") + c1};
  }
  static std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
  }

  std::vector<std::string> events;
  Recorder recorder{&events, &image};
};

// A mode change is muted while the new file's coefficients are written,
// then unmuted and written again; a mute click runs its script and writes
// the step again; the Power box runs power-down when cleared, power-up when
// set.
TEST_F(CoefficientSliderOrderTest, EachActionRunsItsScriptsAroundItsWritesInOrder) {
  auto slider = MakeRecorded();
  const std::vector<std::string> mute = {"script 01"}, unmute = {"script 02"};
  struct Case {
    const char* action;
    std::function<void()> act;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"Volume Control + Filter", [&] { slider->ModeButton(1)->click(); },
       Join({mute, Step("0002"), unmute, Step("0002")})},
      {"Filter Only", [&] { slider->ModeButton(2)->click(); }, Join({mute, Step("0003"), unmute, Step("0003")})},
      {"Mute checked", [&] { slider->MuteBox()->click(); }, Join({mute, Step("0003")})},
      {"Mute cleared", [&] { slider->MuteBox()->click(); }, Join({unmute, Step("0003")})},
      {"Volume Control Only", [&] { slider->ModeButton(0)->click(); },
       Join({mute, Step("0001"), unmute, Step("0001")})},
      {"Power cleared", [&] { slider->PowerBox()->click(); }, {"script 04"}},
      {"Power set", [&] { slider->PowerBox()->click(); }, {"script 03"}},
  };
  for (const Case& c : cases) {
    events.clear();
    c.act();
    EXPECT_EQ(events, c.expected) << c.action;
  }
  EXPECT_FALSE(slider->MuteBox()->isChecked());
}

// A file of another length keeps the track bar where it stood relative to
// the range, rounded to the nearest record.
TEST_F(CoefficientSliderTest, AReloadKeepsTheRelativePositionRoundedToTheNearestRecord) {
  struct Case {
    int lines, position, newLines, expected;
  };
  const Case cases[] = {
      {4, 1, 3, 1},    // 1/3 of 2: 0.67
      {10, 4, 5, 2},   // 4/9 of 4: 1.78
      {11, 9, 5, 4},   // 9/10 of 4: 3.6
      {11, 3, 8, 2},   // 3/10 of 7: 2.1
      {11, 5, 21, 10}, // the middle stays the middle
      {11, 10, 3, 2},  // the end stays the end
      {11, 0, 6, 0},
      {1, 0, 9, 0},    // from a range of one record
  };
  auto slider = Make();
  for (const Case& c : cases) {
    testsupport::WriteFile("before.txt", Lines(c.lines, true));
    testsupport::WriteFile("after.txt", Lines(c.newLines, true));
    ASSERT_TRUE(slider->LoadCoefficients("before.txt"));
    slider->TrackBar()->setValue(c.position);
    ASSERT_EQ(slider->TrackBar()->value(), c.position);
    ASSERT_TRUE(slider->LoadCoefficients("after.txt"));
    EXPECT_EQ(slider->TrackBar()->maximum(), c.newLines - 1);
    EXPECT_EQ(slider->TrackBar()->value(), c.expected)
        << c.position << " of " << c.lines - 1 << " in a range of " << c.newLines - 1;
  }
}

}  // namespace
