// The gain stage: its laws both ways, the field it writes, its gang, its
// edit box, Mute box and slider window, and what the loader refuses.
#include "diagram/amplifier.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "page_fixture.h"
#include "probes.h"

using diagramtest::PageFixture;
using diagramtest::ProbeRect;

namespace {

const float kTriangle[6] = {10, 10, 10, 40, 40, 25};

struct Writes {
  std::vector<std::array<int, 4>> list;
  static void Callback(void* user, int device, int page, int reg, int count) {
    static_cast<Writes*>(user)->list.push_back({device, page, reg, count});
  }
};

struct Blocks {
  std::vector<std::array<int, 4>> list;  // device, register, first byte, count
  static void Callback(void* user, int device, int reg, uint8_t* data, int count, bool read, bool) {
    if (!read) static_cast<Blocks*>(user)->list.push_back({device, reg, data ? data[0] : -1, count});
  }
};

struct Settings {
  float min = -12, max = 20, step = 0.5f;
  uint8_t mask = 0x3F, shift = 0;
  int law = 0;
  std::vector<float> table{};
  bool mute = false, power = false;
};

// An amplifier on register `kRegister` of a page image, recording its writes.
struct Amp {
  static constexpr int kRegister = 40;
  explicit Amp(const Settings& s, QWidget* owner = nullptr)
      : widget(owner, 0.0f, s.min, s.max, s.step, 0x30, 1, kRegister, s.mask, s.shift, s.law, s.table.data(),
               unsigned(s.table.size()), 0, -20, kTriangle, s.mute, s.power) {
    widget.SetData(&image[kRegister]);
    widget.SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
    widget.SetMode(1, nullptr);
    widget.Place(1.0f, 0, 0);
  }
  void Notify() { widget.OnRegisterChanged(0x30, 1, unsigned(kRegister)); }
  uint8_t& Byte(int offset = 0) { return image[kRegister + offset]; }

  std::array<uint8_t, 128> image{};
  Writes writes;
  TAmplifier widget;
};

// The widget the controls are shown in.
struct ShownOwner : QWidget {
  ShownOwner() {
    resize(300, 300);
    show();
  }
};

}  // namespace

// GainToCode and CodeToGain of every law and of a table, including
// negative gains and the clamps to the field.
TEST(AmplifierTest, GainLawsBothWays) {
  struct Case {
    const char* name;
    Settings s;
    float gain;
    int code;       // GainToCode(gain)
    int readCode;   // CodeToGain(readCode)
    float readGain;
  } cases[] = {
      {"law 0", {-12, 20, 0.5f}, 3.2f, 30, 0, -12},
      {"law 0 truncates", {-12, 20, 0.5f}, 3.4f, 30, 31, 3.5f},
      {"law 0 below min clamps to 0", {-12, 20, 0.5f}, -40, 0, 64, 20},
      {"law 0 above the field clamps", {-12, 20, 0.5f, 0x0F}, 20, 15, 15, -4.5f},
      {"law 1", {-60, 0, 0.5f, 0x7F, 0, 1}, -6, 12, 5, -2.5f},
      {"law 1 positive gain clamps to 0", {-60, 0, 0.5f, 0x7F, 0, 1}, 6, 0, 0, 0},
      {"law 1 truncates", {-60, 0, 0.5f, 0x7F, 0, 1}, -6.3f, 12, 13, -6.5f},
      {"law 2 truncates", {-5, 2, 1, 0x07, 0, 2}, -2.7f, 4, 4, -2},
      {"law 2", {-5, 2, 1, 0x07, 0, 2}, -3, 5, 7, -5},
      {"law 3 negative", {-32, 31, 1, 0x3F, 0, 3}, -2, 0x3E, 0x3E, -2},
      {"law 3 positive", {-32, 31, 1, 0x3F, 0, 3}, 5, 5, 5, 5},
      {"law 3 truncates toward zero", {-32, 31, 1, 0x3F, 0, 3}, -2.6f, 0x3E, 0x3D, -3},
      {"law 3 below the field's range", {-32, 31, 1, 0x3F, 0, 3}, -100, 0x20, 0x20, -32},
      {"law 3 shifted field", {-8, 7, 1, 0xF0, 4, 3}, -1, 0x0F, 0x0F, -1},
      {"law 18701 12 dB", {0, 20, 1, 0x01, 0, 18701}, 15, 1, 1, 12},
      {"law 18701 20 dB", {0, 20, 1, 0x01, 0, 18701}, 20, 2, 2, 20},
      {"law 18701 below 12", {0, 20, 1, 0x03, 0, 18701}, 11, 0, 3, 0},
      {"law 32621", {-12, 0, 6, 0x03, 0, 32621}, -8, 3, 2, -6},
      {"law 32621 0 dB", {-12, 0, 6, 0x03, 0, 32621}, 0, 1, 1, 0},
      {"law 32622", {-10, 10, 1, 0x1F, 0, 32622}, -3, 8, 8, -3},
      {"law 32622 below min", {-10, 10, 1, 0x1F, 0, 32622}, -30, 1, 1, -10},
      {"law 32622 truncates", {-10, 10, 1, 0x1F, 0, 32622}, -2.4f, 8, 9, -2},
      {"law 32622 code 0 is the lowest gain", {-10, 10, 1, 0x1F, 0, 32622}, -10, 1, 0, -10},
      {"unknown law as law 0", {-12, 20, 0.5f, 0x3F, 0, 7}, -11, 2, 2, -11},
      {"table", {-2, 0, 1, 0x03, 0, 0, {0, -6, -12}}, -7, 2, 7, -12},
      {"table first entry", {-2, 0, 1, 0x03, 0, 0, {0, -6, -12}}, 1, 0, 1, -6},
      {"table below its last", {-2, 0, 1, 0x03, 0, 0, {0, -6, -12}}, -40, 2, -1, -12},
  };
  for (const auto& c : cases) {
    Amp a(c.s);
    EXPECT_EQ(a.widget.GainToCode(c.gain), c.code) << c.name;
    EXPECT_FLOAT_EQ(a.widget.CodeToGain(c.readCode), c.readGain) << c.name;
  }
}

// The field written for a gain: other bits kept, one write of the register.
TEST(AmplifierTest, SetGainWritesTheFieldOnce) {
  struct Case {
    const char* name;
    Settings s;
    float gain;
    uint8_t before, after;
    uint8_t secondBefore, secondAfter;  // the byte 34 registers above
  } cases[] = {
      {"law 0 low bits", {-12, 20, 0.5f, 0x3F}, 3.2f, 0xC0, 0xDE, 0, 0},
      {"law 0 truncates", {-12, 20, 0.5f, 0x3F}, 3.4f, 0xC0, 0xDE, 0, 0},
      {"shifted field", {0, 7, 1, 0x70, 4}, 5, 0x8F, 0xDF, 0, 0},
      {"law 3 negative", {-32, 31, 1, 0x3F, 0, 3}, -2, 0x00, 0x3E, 0, 0},
      {"law 18701 12 dB", {0, 20, 1, 0x04, 2, 18701}, 15, 0xFF, 0xFB, 0x00, 0x04},
      {"law 18701 20 dB", {0, 20, 1, 0x04, 2, 18701}, 20, 0x00, 0x04, 0xFF, 0xFB},
  };
  for (const auto& c : cases) {
    Amp a(c.s);
    a.Byte() = c.before;
    a.Byte(TAmplifier::kSecondRegisterOffset) = c.secondBefore;
    a.widget.SetGain(c.gain, true);
    EXPECT_EQ(a.Byte(), c.after) << c.name;
    EXPECT_EQ(a.Byte(TAmplifier::kSecondRegisterOffset), c.secondAfter) << c.name;
    EXPECT_EQ(a.writes.list, (std::vector<std::array<int, 4>>{{0x30, 1, Amp::kRegister, 1}})) << c.name;
    // Without write nothing changes in the image.
    a.widget.SetGain(c.s.min, false);
    EXPECT_EQ(a.Byte(), c.after) << c.name;
    EXPECT_EQ(a.writes.list.size(), 1u) << c.name;
  }
}

TEST(AmplifierTest, AFeedingSwitchThatIsOffWritesTheMutedField) {
  const struct {
    int law;
    int sourceState;
    uint8_t after;
  } cases[] = {{0, 0, 0x3F}, {0, 1, 0x1E}, {TAmplifier::kLawThreeSteps, 0, 0x00}};
  for (const auto& c : cases) {
    Settings s{-15, 16, 0.5f, 0x3F, 0, c.law};
    Amp a(s);
    diagramtest::SwitchProbe source;
    source.state = c.sourceState;
    source.Link(&a.widget, 0);
    a.widget.SetGain(0, true);
    EXPECT_EQ(a.Byte(), c.after) << c.law << c.sourceState;
    // A refresh of the muted value turns the switch off and shows nothing.
    if (c.law == 0) {
      a.Byte() = 0x3F;
      source.state = 1;
      a.Notify();
      EXPECT_EQ(source.state, 0);
      a.Byte() = 0x10;
      a.Notify();
      EXPECT_EQ(source.state, 1);
      EXPECT_FLOAT_EQ(a.widget.GetGain(), -7);
    }
  }
}

// A refresh tells the feeding switch whether its field passes: all ones is
// the muted value, for law 32621 0 is; a muted field shows no gain.
TEST(AmplifierTest, ARefreshSetsTheFeedingSwitchFromTheField) {
  const struct {
    const char* name;
    Settings s;
    std::vector<std::array<int, 3>> steps;  // field byte, switch state, gain shown after
  } cases[] = {
      {"law 0", {-15, 16, 0.5f, 0x3F}, {{0x10, 1, -7}, {0x3F, 0, -7}, {0x00, 1, -15}, {0x3F, 0, -15}}},
      {"law 32621",
       {-12, 0, 6, 0x03, 0, TAmplifier::kLawThreeSteps},
       {{0x03, 1, -12}, {0x00, 0, -12}, {0x02, 1, -6}, {0x00, 0, -6}, {0x01, 1, 0}}},
  };
  for (const auto& c : cases) {
    Amp a(c.s);
    diagramtest::SwitchProbe source;
    source.Link(&a.widget, 0);
    for (const auto& [field, state, gain] : c.steps) {
      source.state = 1 - state;
      a.Byte() = uint8_t(0xC0 | field);
      a.Notify();
      EXPECT_EQ(source.state, state) << c.name << " field " << field;
      EXPECT_FLOAT_EQ(a.widget.GetGain(), float(gain)) << c.name << " field " << field;
    }
    EXPECT_TRUE(a.writes.list.empty()) << c.name;
  }
}

// Law 18701 reads its code back from both registers: bit 1 from its own,
// bit 0 from the one 34 registers above.
TEST(AmplifierTest, TheTwoRegisterLawReadsItsCodeFromBoth) {
  Settings s{0, 20, 1, 0x04, 2, TAmplifier::kLawTwoRegisters};
  Amp a(s);
  const struct {
    uint8_t own, second;
    float gain;
  } cases[] = {{0x04, 0x00, 20}, {0x00, 0x04, 12}, {0x04, 0x04, 0}, {0xFB, 0xFF, 12}, {0xFB, 0xFB, 0}};
  for (const auto& c : cases) {
    a.Byte() = c.own;
    a.Byte(TAmplifier::kSecondRegisterOffset) = c.second;
    a.Notify();
    EXPECT_FLOAT_EQ(a.widget.GetGain(), c.gain) << int(c.own) << " " << int(c.second);
  }
  EXPECT_TRUE(a.writes.list.empty());
}

// Before any register is read, the widget shows the gain its slider's first
// position stands for; a first position at the top is no change and shows
// nothing.
TEST(AmplifierTest, ANewAmplifierShowsTheGainOfItsFirstPosition) {
  QWidget owner;
  const struct {
    const char* name;
    Settings s;
    const char* text;
    float gain;
  } cases[] = {
      {"0 dB in range", {-12, 20, 0.5f, 0x7F}, "0", 0},
      {"a step off 0 dB", {-12.3f, 20, 0.5f, 0x7F}, "-0.3", -0.3f},
      {"0 dB below min", {2, 20, 1, 0x3F}, "2", 2},
      {"0 dB at the top", {-12, 0, 0.5f, 0x3F}, "", 0},
  };
  for (const auto& c : cases) {
    Amp a(c.s, &owner);
    EXPECT_NEAR(a.widget.GetGain(), c.gain, 1e-5) << c.name;
    EXPECT_EQ(a.widget.GetEdit()->text(), c.text) << c.name;
    EXPECT_EQ(a.widget.GetSlider()->VolumeText->text(), *c.text ? QString(c.text) + " dB" : "0 dB") << c.name;
    EXPECT_TRUE(a.writes.list.empty()) << c.name;
  }
}

TEST(AmplifierTest, RefreshShowsTheGainWithoutWriting) {
  QWidget owner;
  Settings s{-12, 20, 0.5f, 0x7F};
  Amp a(s, &owner);
  a.Byte() = 30;
  a.Notify();
  EXPECT_FLOAT_EQ(a.widget.GetGain(), 3);
  EXPECT_EQ(a.widget.GetEdit()->text(), "3");
  EXPECT_EQ(a.widget.GetSlider()->VolumeText->text(), "3 dB");
  EXPECT_EQ(a.widget.GetSlider()->GetPosition(), 30);
  // Out of range (code 100 is 38 dB): not shown.
  a.Byte() = 100;
  a.Notify();
  EXPECT_FLOAT_EQ(a.widget.GetGain(), 3);
  EXPECT_TRUE(a.writes.list.empty());
  EXPECT_EQ(a.widget.GetWrite(), &Writes::Callback);
}

TEST(AmplifierTest, LawFromOneShowsCodeZeroAsTheLowestGainMutedWhereItCan) {
  QWidget owner;
  for (const bool mute : {false, true}) {
    Settings s{-10, 10, 1, 0x1F, 0, TAmplifier::kLawFromOne, {}, mute};
    Amp a(s, &owner);
    a.Byte() = 5;
    a.Notify();
    EXPECT_FLOAT_EQ(a.widget.GetGain(), -6) << mute;
    a.Byte() = 0;
    a.Notify();
    EXPECT_EQ(a.widget.GetMuteBox()->isChecked(), mute);
    EXPECT_EQ(a.widget.GetEdit()->isHidden(), mute);
    EXPECT_FLOAT_EQ(a.widget.GetGain(), mute ? -6 : -10) << mute;
    EXPECT_EQ(a.widget.Click(20, 25), !mute) << mute;  // muted, it takes no click
    a.Byte() = 3;
    a.Notify();
    EXPECT_FALSE(a.widget.GetMuteBox()->isChecked());
    EXPECT_FLOAT_EQ(a.widget.GetGain(), -8) << mute;
    EXPECT_TRUE(a.widget.Click(20, 25)) << mute;
    a.widget.GetSlider()->hide();
    EXPECT_TRUE(a.writes.list.empty());
  }
}

TEST(AmplifierTest, TheSliderWindowRangeStepsAndPosition) {
  TSliderForm form;
  form.SetRange(3, 0, 64);
  EXPECT_EQ(form.GetPosition(), 3);
  EXPECT_EQ(form.Volume->value(), 61);
  EXPECT_EQ(form.Volume->pageStep(), 6);
  EXPECT_EQ(form.Volume->tickInterval(), 6);
  EXPECT_EQ(form.Volume->tickPosition(), QSlider::NoTicks);
  EXPECT_EQ(form.Volume->height(), 150);
  EXPECT_EQ(form.size(), QSize(49, 185));
  EXPECT_EQ(form.VolumeText->text(), "0 dB");
  EXPECT_TRUE(form.Mute->isHidden());
  EXPECT_TRUE(form.Lock->isHidden());
  // Positions outside the range stay inside it.
  form.SetPosition(-5);
  EXPECT_EQ(form.GetPosition(), 0);
  form.SetPosition(1000);
  EXPECT_EQ(form.GetPosition(), 64);
  form.SetRange(-3, 0, 5);
  EXPECT_EQ(form.GetPosition(), 0);
  // Every change reaches the owner's callback.
  int calls = 0;
  form.SetChangeCallback(&calls, [](TSliderForm*, void* user) { ++*static_cast<int*>(user); });
  form.SetPosition(2);
  form.Lock->show();
  form.show();
  QTest::mouseClick(form.Lock, Qt::LeftButton, {}, QPoint(5, 8));
  EXPECT_TRUE(form.Lock->isChecked());
  EXPECT_EQ(calls, 2);
}

TEST(AmplifierTest, TheSliderMovesTheGainInSteps) {
  const struct {
    const char* name;
    Settings s;
    int position;
    float gain;
    uint8_t field;
  } cases[] = {
      {"law 0", {-12, 20, 0.5f, 0x7F}, 30, 3, 30},
      {"top", {-12, 20, 0.5f, 0x7F}, 64, 20, 64},
      {"law 18701 between 10 and 20 is 12", {0, 20, 1, 0x01, 0, 18701}, 15, 12, 0},
      {"table by index", {-2, 0, 1, 0x03, 0, 0, {0, -6, -12}}, 1, -6, 1},
  };
  for (const auto& c : cases) {
    Amp a(c.s);
    EXPECT_EQ(a.widget.GetSlider()->GetMax(), int((c.s.max - c.s.min) / c.s.step)) << c.name;
    a.widget.GetSlider()->SetPosition(c.position);
    EXPECT_FLOAT_EQ(a.widget.GetGain(), c.gain) << c.name;
    EXPECT_EQ(a.Byte(), c.field) << c.name;
    EXPECT_EQ(a.writes.list.size(), 1u) << c.name;
  }
}

TEST(AmplifierTest, LockedAmplifiersAreGangedAndWriteOnceEach) {
  Settings s{-12, 20, 0.5f, 0x7F};
  Amp a(s), b(s);
  a.widget.Link(&b.widget, 0);
  b.widget.Link(&a.widget, 0);  // a cycle: the guards stop it
  a.widget.GetSlider()->Lock->setChecked(true);
  a.widget.GetSlider()->SetPosition(10);  // the change that finds the Lock box checked
  EXPECT_TRUE(a.widget.GetLock());
  EXPECT_TRUE(b.widget.GetSlider()->Lock->isChecked());
  EXPECT_EQ(a.writes.list.size(), 1u);
  EXPECT_EQ(b.writes.list.size(), 1u);  // brought to a's gain when the lock began
  EXPECT_EQ(b.Byte(), 10);
  a.widget.GetSlider()->SetPosition(20);
  EXPECT_EQ(a.writes.list.size(), 2u);
  EXPECT_EQ(b.writes.list.size(), 2u);
  EXPECT_EQ(b.Byte(), 20);
  // Unlocked: the change that finds the box unchecked still gangs, then only itself.
  a.widget.GetSlider()->Lock->setChecked(false);
  a.widget.GetSlider()->SetPosition(30);
  EXPECT_FALSE(a.widget.GetLock());
  EXPECT_FALSE(b.widget.GetSlider()->Lock->isChecked());
  a.widget.GetSlider()->SetPosition(40);
  EXPECT_EQ(a.writes.list.size(), 4u);
  EXPECT_EQ(b.writes.list.size(), 3u);
  EXPECT_EQ(b.Byte(), 30);
}

TEST(AmplifierTest, TheGainEditTakesANumberInRangeOnEnter) {
  QWidget owner;
  owner.resize(200, 200);
  owner.show();
  Settings s{-12, 20, 0.5f, 0x7F};
  const struct {
    const char* text;
    float gain;
  } cases[] = {{"4.7", 4.5f}, {"abc", 4.5f}, {"25", 4.5f}, {"-12", -12}};
  Amp a(s, &owner);
  QLineEdit* edit = a.widget.GetEdit();
  ASSERT_EQ(edit->parentWidget(), &owner);
  size_t writes = 0;
  for (const auto& c : cases) {
    edit->setText(c.text);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FLOAT_EQ(a.widget.GetGain(), c.gain) << c.text;
    EXPECT_EQ(edit->text().toFloat(), c.gain) << c.text;  // rewritten
    EXPECT_EQ(a.widget.GetSlider()->GetPosition(), int((c.gain + 12) / 0.5f)) << c.text;
    EXPECT_EQ(a.writes.list.size(), ++writes) << c.text;
  }
}

TEST(AmplifierTest, MuteAndPowerBoxes) {
  ShownOwner owner;
  Settings s{-12, 20, 0.5f, 0x7F};
  s.mute = s.power = true;
  Amp a(s, &owner);
  a.widget.Place(1.0f, 0, 0);
  QCheckBox* mute = a.widget.GetMuteBox();
  QCheckBox* power = a.widget.GetPowerBox();
  ASSERT_TRUE(mute->isVisible());
  ASSERT_TRUE(power->isVisible());
  // Beside the edit (text location 0, -20 from the first vertex), power
  // below mute; the edit 30 wide or what its widest gain needs.
  EXPECT_EQ(a.widget.GetEdit()->pos(), QPoint(10, -9));
  const int width = a.widget.GetEdit()->width();
  EXPECT_GE(width, 30);
  EXPECT_EQ(mute->pos(), QPoint(10 + width + 4, -9));
  EXPECT_EQ(power->pos(), QPoint(10 + width + 4, -9 + 16 + 2));
  ASSERT_TRUE(a.widget.Click(20, 25));
  EXPECT_TRUE(a.widget.GetSlider()->isVisible());
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(7, 8));
  EXPECT_TRUE(mute->isChecked());
  EXPECT_EQ(a.widget.GetMode(), 0);
  EXPECT_FALSE(a.widget.GetSlider()->isVisible());
  EXPECT_FALSE(a.widget.GetEdit()->isVisible());
  EXPECT_FALSE(a.widget.Click(20, 25));
  EXPECT_EQ(a.writes.list.size(), 1u);
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(7, 8));
  EXPECT_EQ(a.widget.GetMode(), 1);
  EXPECT_TRUE(a.widget.GetEdit()->isVisible());
  EXPECT_EQ(a.writes.list.size(), 2u);
  // The power box does nothing; a hidden page hides every control.
  QTest::mouseClick(power, Qt::LeftButton, {}, QPoint(7, 8));
  EXPECT_EQ(a.writes.list.size(), 2u);
  a.widget.SetVisible(false);
  EXPECT_FALSE(a.widget.GetEdit()->isVisible());
  EXPECT_FALSE(mute->isVisible());
  EXPECT_FALSE(power->isVisible());
}

TEST(AmplifierTest, TheRoutedPairSwitchesTheRouteAndWritesBothRegisters) {
  Settings s{-12, 20, 0.5f, 0x7F};
  for (const int id : {301001, 301002, 40}) {
    Amp a(s);
    Blocks blocks;
    a.widget.SetID(id);
    // The block callback's user is the window's: record through a static.
    static Blocks* current;
    current = &blocks;
    a.widget.SetCallbacks(&a.writes, Writes::Callback, nullptr,
                          [](void*, int d, int r, uint8_t* p, int n, bool rd, bool f) {
                            Blocks::Callback(current, d, r, p, n, rd, f);
                          });
    a.widget.SetGain(0, true);
    const bool routed = id != 40;
    EXPECT_EQ(blocks.list.size(), routed ? 1u : 0u) << id;
    if (routed) {
      EXPECT_EQ(blocks.list[0], (std::array<int, 4>{0x70, 2, 2, 1})) << id;
    }
    const int count = id == 301002 ? 2 : 1;
    EXPECT_EQ(a.writes.list.back(), (std::array<int, 4>{0x30, 1, Amp::kRegister, count})) << id;
    if (id == 301002) {
      EXPECT_EQ(a.Byte(1), a.Byte());
    }
  }
  // With its feeding switch off the pair's own register takes the muted
  // field, the one above keeps the gain it was copied from.
  Amp a(s);
  a.widget.SetID(TAmplifier::kPairedID);
  diagramtest::SwitchProbe source;
  source.Link(&a.widget, 0);
  a.widget.SetGain(0, true);
  EXPECT_EQ(a.Byte(), 0x7F);
  EXPECT_EQ(a.Byte(1), 24);  // 0 dB
  EXPECT_EQ(a.writes.list.back(), (std::array<int, 4>{0x30, 1, Amp::kRegister, 2}));
}

TEST(AmplifierTest, TheLoaderRefusesWhatWouldDivideByZeroOrLeaveThePage) {
  const struct {
    const char* attributes;
    const char* attribute;  // named by the warning; none: loaded
  } cases[] = {
      {"step=\"0\" I2CRegister=\"40\"", "step"},
      {"step=\"-0.5\" I2CRegister=\"40\"", "step"},
      {"step=\"0.5\" I2CRegister=\"40\" Shift=\"8\"", "Shift"},
      {"step=\"0.5\" I2CRegister=\"94\" CustomGain=\"18701\"", "I2CRegister"},
      {"step=\"0.5\" I2CRegister=\"93\" CustomGain=\"18701\"", nullptr},
      {"step=\"0.5\" I2CRegister=\"94\"", nullptr},
  };
  for (const auto& c : cases) {
    PageFixture f;
    std::string shift = std::string(c.attributes).find("Shift") == std::string::npos ? " Shift=\"0\"" : "";
    auto page = f.Load(std::string("<polygon points=\"0,0 10,5 0,10\" function=\"amplifier\" min=\"-12\" max=\"20\" "
                                   "I2CPage=\"0\" Mask=\"0x3F\"") +
                       shift + " " + c.attributes + "/>");
    if (!c.attribute) {
      EXPECT_EQ(page->ObjectCount(), 1u) << c.attributes;
      EXPECT_TRUE(page->Warnings().empty()) << c.attributes;
      continue;
    }
    EXPECT_EQ(page->ObjectCount(), 0u) << c.attributes;
    ASSERT_EQ(page->Warnings().size(), 1u) << c.attributes;
    EXPECT_NE(page->Warnings()[0].find(std::string("attribute \"") + c.attribute + "\""), std::string::npos)
        << page->Warnings()[0];
  }
}

// A page holds many amplifiers: the edit and the boxes are built when the
// page first shows the widget, the slider window at its first click, and
// each starts from what the widget shows by then.
TEST(AmplifierTest, ControlsBuiltLateStartFromTheWidgetsState) {
  ShownOwner owner;
  Settings s{-12, 20, 0.5f, 0x7F};
  s.mute = s.power = true;
  Amp a(s, &owner);
  a.Byte() = 30;  // 3 dB
  a.Notify();
  a.widget.Place(2.0f, 0, 0);
  EXPECT_FALSE(a.widget.HasControls());
  EXPECT_FALSE(a.widget.HasSlider());
  EXPECT_TRUE(owner.findChildren<QWidget*>().isEmpty());
  a.widget.SetVisible(true);
  ASSERT_TRUE(a.widget.HasControls());
  EXPECT_FALSE(a.widget.HasSlider());
  QLineEdit* edit = a.widget.GetEdit();
  EXPECT_EQ(edit->parentWidget(), &owner);
  EXPECT_EQ(edit->text(), "3");
  EXPECT_TRUE(edit->isVisible());
  // Where Place put them: the first vertex (20, 20) plus the text location (0, -20) x 2.
  EXPECT_EQ(edit->pos(), QPoint(20, -19));
  EXPECT_EQ(a.widget.GetMuteBox()->pos(), QPoint(20 + edit->width() + 4, -19));
  EXPECT_EQ(a.widget.GetPowerBox()->pos(), QPoint(20 + edit->width() + 4, -19 + 16 + 2));
  EXPECT_TRUE(a.widget.GetMuteBox()->isVisible());
  EXPECT_TRUE(a.widget.GetPowerBox()->isVisible());
  ASSERT_TRUE(a.widget.Click(40, 50));
  ASSERT_TRUE(a.widget.HasSlider());
  TSliderForm* slider = a.widget.GetSlider();
  EXPECT_TRUE(slider->isVisible());
  EXPECT_EQ(slider->GetPosition(), 30);
  EXPECT_EQ(slider->GetMax(), 64);
  EXPECT_EQ(slider->VolumeText->text(), "3 dB");
  EXPECT_TRUE(a.writes.list.empty());  // building wrote nothing
  slider->SetPosition(31);
  EXPECT_FLOAT_EQ(a.widget.GetGain(), 3.5f);
  EXPECT_EQ(edit->text(), "3.5");
  EXPECT_EQ(a.writes.list.size(), 1u);
  slider->hide();

  // Muted by the register before the page was shown: built checked, the edit hidden.
  Settings law{-10, 10, 1, 0x1F, 0, TAmplifier::kLawFromOne, {}, true};
  Amp b(law, &owner);
  b.Byte() = 0;
  b.Notify();
  EXPECT_FALSE(b.widget.HasControls());
  b.widget.SetVisible(true);
  EXPECT_TRUE(b.widget.GetMuteBox()->isChecked());
  EXPECT_FALSE(b.widget.GetEdit()->isVisible());
  EXPECT_EQ(b.widget.GetMode(), 0);

  // Headless: nothing to show them in, nothing is built.
  Amp c(s);
  c.widget.SetVisible(true);
  EXPECT_FALSE(c.widget.HasControls());
}
