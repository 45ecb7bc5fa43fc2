// The bit and field widgets: clicks edit the image byte and write it once,
// refreshes read it back without writing, and the switch family carries
// the path highlighting across its nets.
#include "diagram/bit_widgets.h"

#include <gtest/gtest.h>

#include <QScrollArea>
#include <QTest>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "page_fixture.h"
#include "probes.h"

using diagramtest::Events;
using diagramtest::ProbeRect;
using diagramtest::WhiteCanvas;

namespace {

const float kRect[6] = {10, 10, 40, 30, 1, 1};
constexpr int kDevice = 0x18;
constexpr int kRegister = 5;

struct Writes {
  std::vector<std::array<int, 4>> list;
  static void Callback(void* user, int device, int page, int reg, int count) {
    static_cast<Writes*>(user)->list.push_back({device, page, reg, count});
  }
};

// A widget bound to one image byte, recording its writes and events.
template <class Widget>
struct Bound {
  template <class... Args>
  explicit Bound(uint8_t start, Args&&... args) : byte(start), widget(std::forward<Args>(args)...) {
    widget.SetData(&byte);
    widget.SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
    widget.SetCallback(&events, Events::Callback);
    widget.SetMode(1, nullptr);
    widget.Place(1.0f, 0, 0);
  }
  int Count(int event) const {
    int n = 0;
    for (int code : events.Codes()) n += code == event;
    return n;
  }
  // A register change as the board window reports it (writes parked).
  void Notify() { widget.OnRegisterChanged(widget.GetDevice(), widget.GetPage(), unsigned(widget.GetFirstRegister())); }

  uint8_t byte;
  Writes writes;
  Events events;
  Widget widget;
};

// A member of a net that is on (or off) since load.
std::unique_ptr<ProbeRect> NetMember(int net, bool on) {
  auto member = std::make_unique<ProbeRect>();
  member->AddNet(net);
  member->SetOnColour(0x00A000);
  member->SetState(on);
  member->AfterLoad();
  return member;
}

// Whether anything is drawn at or next to the pixel.
bool Dark(const TCanvas& canvas, int x, int y) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (canvas.PixelColour(x + dx, y + dy) != 0xFFFFFF) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------- switch

struct SwitchClickCase {
  const char* name;
  int bit, page;
  uint8_t start;
  int mode, x, clicks;
  bool result;
  uint8_t state, byte;
  size_t writes;
};

TEST(SwitchTest, ClicksSetTheBitAndWriteTheRegisterOnce) {
  const SwitchClickCase cases[] = {
      {"bit 3 once", 3, 2, 0x00, 1, 20, 1, true, 1, 0x08, 1},
      {"bit 3 twice", 3, 2, 0x00, 1, 20, 2, true, 0, 0x00, 2},
      {"other bits kept", 7, 2, 0x7F, 1, 20, 1, true, 1, 0xFF, 1},
      {"page 128 writes nothing", 3, 128, 0x00, 1, 20, 1, true, 1, 0x00, 0},
      {"page 129 is inert", 3, 129, 0x00, 1, 20, 1, false, 0, 0x00, 0},
      {"mode 0", 3, 2, 0x00, 0, 20, 1, false, 0, 0x00, 0},
      {"outside", 3, 2, 0x00, 1, 100, 1, false, 0, 0x00, 0},
  };
  for (const auto& c : cases) {
    Bound<TSwitch> s(c.start, nullptr, c.bit, kDevice, c.page, kRegister, kRect);
    s.widget.SetMode(c.mode, nullptr);
    s.widget.AfterLoad();
    bool result = false;
    for (int i = 0; i < c.clicks; ++i) result = s.widget.Click(c.x, 20);
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(s.widget.GetSwitchState(), c.state) << c.name;
    EXPECT_EQ(s.byte, c.byte) << c.name;
    ASSERT_EQ(s.writes.list.size(), c.writes) << c.name;
    for (const auto& w : s.writes.list) EXPECT_EQ(w, (std::array<int, 4>{kDevice, c.page, kRegister, 1})) << c.name;
    EXPECT_EQ(s.Count(kEventStateChanged), c.result ? c.clicks : 0) << c.name;
  }
}

TEST(SwitchTest, RefreshShowsTheBitWithoutWriting) {
  struct Case {
    int page;
    uint8_t byte;
    uint8_t state;
    int events;
  } cases[] = {{2, 0x08, 1, 1}, {2, 0xF7, 0, 1}, {128, 0x08, 0, 0}};
  for (const auto& c : cases) {
    Bound<TSwitch> s(c.byte, nullptr, 3, kDevice, c.page, kRegister, kRect);
    s.Notify();
    EXPECT_EQ(s.widget.GetSwitchState(), c.state) << c.page;
    EXPECT_EQ(s.Count(kEventStateChanged), c.events) << c.page;
    EXPECT_TRUE(s.writes.list.empty());
    EXPECT_EQ(s.widget.GetWrite(), &Writes::Callback);  // resumed after the refresh
    EXPECT_EQ(s.byte, c.byte);
  }
}

TEST(SwitchTest, RequestsAndHint) {
  Bound<TSwitch> s(0, nullptr, 3, kDevice, 2, kRegister, kRect);
  uint8_t one = 1;
  EXPECT_EQ(s.widget.Request(1, nullptr), 0);
  EXPECT_EQ(s.widget.Request(2, &one), 0);
  EXPECT_EQ(s.widget.Request(1, nullptr), 1);
  EXPECT_EQ(s.widget.Request(3, nullptr), -1);
  EXPECT_TRUE(s.writes.list.empty());
  EXPECT_EQ(s.widget.GetHintText(), "Switch: I2C Address: 0x18, Page: 2, Register: 5, Bit: 3");
  TSwitch custom(nullptr, 1, kDevice, 130, 0, kRect);
  EXPECT_EQ(custom.GetHintText(), "Switch: custom control");
}

TEST(SwitchTest, ClickAsksTheFirstTargetToWriteAgain) {
  struct Target : ProbeRect {
    int code = 0;
    void* data = nullptr;
    int Request(int c, void* d) override { return code = c, data = d, 0; }
  } target;
  Bound<TSwitch> s(0, nullptr, 3, kDevice, 2, kRegister, kRect);
  s.widget.Link(&target, 0);
  ASSERT_TRUE(s.widget.Click(20, 20));
  EXPECT_EQ(target.code, 3);
  EXPECT_EQ(target.data, static_cast<TGUIObject*>(&s.widget));
}

// Net record 0 holds `a`, record 1 holds `b`.
TEST(SwitchTest, SetSwitchCarriesTheOnSideAcross) {
  struct Case {
    bool aOn, bOn;
    bool event;
    bool aAfter, bAfter;
  } cases[] = {
      {true, true, false, true, true},     // both sides on: state changes, no event
      {true, false, true, true, true},     // input side on: the output follows
      {false, true, true, true, true},     // output side on: the input follows
      {false, false, true, false, false},  // nothing to carry
  };
  for (const auto& c : cases) {
    auto a = NetMember(1, c.aOn), b = NetMember(2, c.bOn);
    Bound<TSwitch> s(0, nullptr, 3, kDevice, 2, kRegister, kRect);
    s.widget.AddNet(1);
    s.widget.AddNet(2);
    s.widget.AddNetMember(a.get(), 0);
    s.widget.AddNetMember(b.get(), 1);
    s.widget.SetSwitch(1);
    EXPECT_EQ(s.widget.GetSwitchState(), 1);
    EXPECT_EQ(s.Count(kEventStateChanged), c.event ? 1 : 0) << c.aOn << c.bOn;
    EXPECT_EQ(a->IsOn(), c.aAfter) << c.aOn << c.bOn;
    EXPECT_EQ(b->IsOn(), c.bAfter) << c.aOn << c.bOn;
  }
}

TEST(SwitchTest, NetMembershipFollowsTheLever) {
  Bound<TSwitch> s(0, nullptr, 3, kDevice, 2, kRegister, kRect);
  EXPECT_FALSE(s.widget.HasNet(0));  // without two nets, in none
  s.widget.AddNet(7);
  s.widget.AddNet(8);
  EXPECT_TRUE(s.widget.HasNet(7));
  EXPECT_FALSE(s.widget.HasNet(8));
  s.widget.SetSwitch(1);
  EXPECT_TRUE(s.widget.HasNet(8));
  EXPECT_FALSE(s.widget.GetState());  // not on
  s.widget.SetState(true);
  EXPECT_TRUE(s.widget.GetState());
}

// Opened, a switch gives back the light its own closing gave it (the off
// pass of its output net no longer reaches it); a light that a neighbour's
// pass over its input gave it stays. Net 1 is the input, driven by `a`;
// each record holds the switch too, as the loader makes them.
TEST(SwitchTest, OpeningGivesBackTheLightOfItsOwnClosing) {
  const struct {
    const char* name;
    bool litBefore, litWhileClosed;  // by a neighbour's pass over the input
    bool onAfter;
  } cases[] = {
      {"closed and opened", false, false, false},
      {"lit through its input before closing", true, false, true},
      {"lit through its input while closed", false, true, true},
  };
  for (const auto& c : cases) {
    auto a = NetMember(1, true), b = NetMember(2, false);
    Bound<TSwitch> s(0, nullptr, 3, kDevice, 2, kRegister, kRect);
    TSwitch& lever = s.widget;
    lever.AddNet(1);
    lever.AddNet(2);
    for (TGUIObject* member : {static_cast<TGUIObject*>(a.get()), static_cast<TGUIObject*>(&lever)}) {
      lever.AddNetMember(member, 0);
      a->AddNetMember(member, 0);
    }
    lever.AddNetMember(b.get(), 1);
    lever.AddNetMember(&lever, 1);
    if (c.litBefore) a->SetNetState(0, true, 0x00A000);
    lever.SetSwitch(1);
    EXPECT_TRUE(lever.IsOn()) << c.name;
    EXPECT_TRUE(b->IsOn()) << c.name;
    if (c.litWhileClosed) a->SetNetState(0, true, 0x00A000);
    lever.SetSwitch(0);
    EXPECT_FALSE(b->IsOn()) << c.name;
    EXPECT_EQ(lever.IsOn(), c.onAfter) << c.name;
    EXPECT_EQ(lever.GetCurrentColour(), c.onAfter ? TColor(0x00A000) : TColor(0)) << c.name;
  }
}

TEST(AmpSwitchTest, NeverBreaksThePathAndDoesNotPropagate) {
  auto a = NetMember(1, true), b = NetMember(2, false);
  Bound<TAmpSwitch> s(0, nullptr, 5, kDevice, 1, 31, kRect);
  s.widget.AddNet(1);
  s.widget.AddNet(2);
  s.widget.AddNetMember(a.get(), 0);
  s.widget.AddNetMember(b.get(), 1);
  EXPECT_TRUE(s.widget.GetState());
  ASSERT_TRUE(s.widget.Click(20, 20));
  EXPECT_EQ(s.byte, 0x20);
  EXPECT_EQ(s.writes.list.size(), 1u);
  EXPECT_EQ(s.Count(kEventStateChanged), 1);
  EXPECT_FALSE(b->IsOn());
}

// ---------------------------------------------------------------- arrow

TEST(IOArrowTest, ClickWritesTheBitOnDevice0x30) {
  Bound<TIOArrow> s(0, nullptr, 1, 1, 51, kRect);
  ASSERT_TRUE(s.widget.Click(20, 20));
  EXPECT_EQ(s.byte, 0x02);
  ASSERT_EQ(s.writes.list.size(), 1u);
  EXPECT_EQ(s.writes.list[0], (std::array<int, 4>{0x30, 1, 51, 1}));
  EXPECT_EQ(s.Count(kEventLit), 1);
}

TEST(IOArrowTest, ArrowsLinkedBothWaysShowOppositeDirections) {
  Bound<TIOArrow> a(0, nullptr, 1, 1, 51, kRect), b(0, nullptr, 0, 1, 51, kRect);
  for (auto* arrow : {&a.widget, &b.widget}) {
    arrow->AddNet(1);
    arrow->AddNet(2);
  }
  a.widget.Link(&b.widget, 0);
  b.widget.Link(&a.widget, 0);
  ASSERT_TRUE(a.widget.Click(20, 20));  // returns: the guard ends the ping-pong
  EXPECT_EQ(a.widget.GetSwitchState(), 1);
  EXPECT_EQ(b.widget.GetSwitchState(), 0);
  b.widget.SetSwitch(1);
  EXPECT_EQ(a.widget.GetSwitchState(), 0);
}

TEST(IOArrowTest, WithoutARegisterTheClickGoesToThePinSelect) {
  struct Listener : ProbeRect, TArrowClickListener {
    std::vector<int> directions;
    void ArrowClicked(TIOArrow* arrow) override { directions.push_back(arrow->GetSwitchState()); }
  } pins;
  Bound<TIOArrow> lone(0, nullptr, 7, 128, 128, kRect);
  EXPECT_FALSE(lone.widget.Click(20, 20));
  Bound<TIOArrow> s(0, nullptr, 7, 128, 128, kRect);
  s.widget.Link(&pins, 0);
  s.widget.Link(&pins, 0);
  ASSERT_TRUE(s.widget.Click(20, 20));
  ASSERT_TRUE(s.widget.Click(20, 20));
  EXPECT_EQ(pins.directions, (std::vector<int>{1, 0}));
  EXPECT_TRUE(s.writes.list.empty());
  EXPECT_TRUE(s.events.list.empty());
}

// ---------------------------------------------------------------- toggle

TEST(ToggleTest, ClicksStepThroughThePositionsIntoTheField) {
  struct Case {
    int id, positions, mask, shift;
    uint8_t start;
    std::vector<int> fields;  // after each click
  } cases[] = {
      {1, 3, 0x30, 4, 0xC5, {1, 2, 0}},
      {1, 2, 0x03, 0, 0x00, {1, 0, 1}},
      {TToggle::kRotatedFieldID, 3, 0x30, 4, 0x00, {2, 0, 1}},
  };
  for (const auto& c : cases) {
    Bound<TToggle> t(c.start, nullptr, c.mask, c.shift, kDevice, 1, 35, kRect, c.positions);
    t.widget.SetID(c.id);
    for (size_t i = 0; i < c.fields.size(); ++i) {
      ASSERT_TRUE(t.widget.Click(20, 20));
      EXPECT_EQ(t.widget.GetPosition(), int(i + 1) % c.positions) << c.id;
      EXPECT_EQ((t.byte & c.mask) >> c.shift, c.fields[i]) << c.id << " click " << i;
      EXPECT_EQ(t.byte & ~c.mask, c.start & ~c.mask);
    }
    EXPECT_EQ(t.writes.list.size(), c.fields.size());
    EXPECT_EQ(t.writes.list[0], (std::array<int, 4>{kDevice, 1, 35, 1}));
    EXPECT_EQ(t.Count(kEventLit), int(c.fields.size()));
  }
}

TEST(ToggleTest, RefreshSetsThePositionFromTheField) {
  struct Case {
    int id, positions, mask, shift;
    uint8_t byte;
    int position;
  } cases[] = {
      {1, 3, 0x30, 4, 0x20, 2},
      {1, 3, 0x30, 4, 0x30, 2},  // past the last position: the last
      {1, 2, 0x03, 0, 0x01, 1},
      {TToggle::kRotatedFieldID, 3, 0x30, 4, 0x20, 1},  // what its click writes for 1
      {TToggle::kRotatedFieldID, 3, 0x30, 4, 0x00, 2},
      {TToggle::kRotatedFieldID, 3, 0x30, 4, 0x10, 0},
  };
  for (const auto& c : cases) {
    Bound<TToggle> t(c.byte, nullptr, c.mask, c.shift, kDevice, 1, 35, kRect, c.positions);
    t.widget.SetID(c.id);
    t.Notify();
    EXPECT_EQ(t.widget.GetPosition(), c.position) << c.id << " " << int(c.byte);
    EXPECT_TRUE(t.writes.list.empty());
    EXPECT_EQ(t.Count(kEventLit), 1);
  }
}

TEST(ToggleTest, LinkedTogglesFollowAndPositionsAreKeptInRange) {
  TToggle a(nullptr, 0x30, 4, kDevice, 1, 35, kRect, 3), b(nullptr, 0x03, 0, kDevice, 1, 36, kRect, 3);
  a.Link(&b, 0);
  b.Link(&a, 0);  // both ways: the guard stops the round trip
  a.SetPosition(2);
  EXPECT_EQ(b.GetPosition(), 2);
  a.SetPosition(9);
  EXPECT_EQ(a.GetPosition(), 2);
  EXPECT_EQ(TToggle(nullptr, 1, 0, 0, 0, 0, kRect, 1).GetPositions(), 2);
  EXPECT_EQ(TToggle(nullptr, 1, 0, 0, 0, 0, kRect, 40).GetPositions(), 15);
  EXPECT_EQ(a.GetHintText(), "Switch: I2C Address: 0x18, Page: 1, Register: 35, LSB: 4");
}

TEST(ToggleTest, TheSelectedOutputJoinsTheCommonSide) {
  // Records 0..2 are the outputs of the positions, record 3 the common side.
  auto common = NetMember(40, true);
  std::unique_ptr<ProbeRect> outputs[3] = {NetMember(10, false), NetMember(11, false), NetMember(12, false)};
  TToggle t(nullptr, 0x30, 4, kDevice, 1, 35, kRect, 3);
  for (int i = 0; i < 3; ++i) {
    t.AddNet(10 + i);
    t.AddNetMember(outputs[i].get(), unsigned(i));
  }
  t.AddNet(40);
  t.AddNetMember(common.get(), 3);
  t.SetPosition(1);
  EXPECT_FALSE(outputs[0]->IsOn());
  EXPECT_TRUE(outputs[1]->IsOn());
  EXPECT_EQ(outputs[1]->GetOnColour(), 0x00A000u);
  EXPECT_TRUE(t.HasNet(11));
  EXPECT_TRUE(t.HasNet(40));
  EXPECT_FALSE(t.HasNet(10));
}

// Moved on, a toggle gives back the light it passed into the position it
// left, unless a member of that net drives it; a light that a neighbour's
// pass over its common side gave it stays. Record 0 is "off" (net 0, no
// members), record 1 an output, record 2 the common side, driven.
TEST(ToggleTest, MovingOnGivesBackTheLightItPassedIntoThePositionItLeft) {
  const struct {
    const char* name;
    bool outputDrives, litFromCommon;
    bool outputAfter, toggleAfter;
  } cases[] = {
      {"out and off", false, false, false, false},
      {"an output that drives itself", true, false, true, false},
      {"lit from its common side", false, true, false, true},
  };
  for (const auto& c : cases) {
    auto common = NetMember(40, true), output = NetMember(11, c.outputDrives);
    TToggle t(nullptr, 0x30, 4, kDevice, 1, 35, kRect, 2);
    t.AddNet(0);
    t.AddNet(11);
    t.AddNet(40);
    t.AddNetMember(output.get(), 1);
    t.AddNetMember(&t, 1);
    for (TGUIObject* member : {static_cast<TGUIObject*>(common.get()), static_cast<TGUIObject*>(&t)}) {
      t.AddNetMember(member, 2);
      common->AddNetMember(member, 0);
    }
    t.SetPosition(1);
    EXPECT_TRUE(output->IsOn()) << c.name;
    EXPECT_TRUE(t.IsOn()) << c.name;
    if (c.litFromCommon) common->SetNetState(0, true, 0x00A000);
    t.SetPosition(0);
    EXPECT_EQ(output->IsOn(), c.outputAfter) << c.name;
    EXPECT_EQ(t.IsOn(), c.toggleAfter) << c.name;
    EXPECT_TRUE(common->IsOn()) << c.name;
  }
}

// ---------------------------------------------------------------- impedance select

TEST(ImpedanceSelectTest, RefreshReadsFieldValuesOneToThree) {
  const int positions[4] = {0, 0, 1, 2};  // field 0 shows position 0
  for (int field = 0; field < 4; ++field) {
    Bound<TImpedanceSelect> s(uint8_t(0x81 | field << 2), nullptr, 0x0C, 2, 1, 48, kRect);
    s.Notify();
    EXPECT_EQ(s.widget.GetPosition(), positions[field]) << field;
    EXPECT_TRUE(s.writes.list.empty());
  }
}

TEST(ImpedanceSelectTest, ClickFromTheLastWayWritesFieldValueOne) {
  Bound<TImpedanceSelect> s(0x81 | 3 << 2, nullptr, 0x0C, 2, 1, 48, kRect);
  s.Notify();
  ASSERT_EQ(s.widget.GetPosition(), 2);
  ASSERT_TRUE(s.widget.Click(20, 20));
  EXPECT_EQ(s.widget.GetPosition(), 0);
  EXPECT_EQ(s.byte, 0x81 | 1 << 2);
  ASSERT_EQ(s.writes.list.size(), 1u);
  EXPECT_EQ(s.writes.list[0], (std::array<int, 4>{0x30, 1, 48, 1}));
  EXPECT_EQ(s.Count(kEventLit), 1);
  EXPECT_EQ(s.widget.GetHintText(), "Impedance Select: Page: 1, Register: 48");
}

TEST(ImpedanceSelectTest, OffClearsTheFieldAndTurnsInert) {
  Bound<TImpedanceSelect> s(0xFF, nullptr, 0x0C, 2, 1, 48, kRect);
  s.widget.SetState(false);
  EXPECT_EQ(s.byte, 0xF3);
  EXPECT_EQ(s.widget.GetMode(), 0);
  EXPECT_FALSE(s.widget.Click(20, 20));
  EXPECT_TRUE(s.writes.list.empty());
  s.widget.SetState(true);
  EXPECT_EQ(s.byte, 0xF7);  // position 0 is field value 1
  EXPECT_EQ(s.widget.GetMode(), 1);
}

// ---------------------------------------------------------------- drawing

TEST(BitWidgetDrawTest, LeversArrowsAndSpokesLieWhereTheStateSays) {
  struct Point {
    int x, y;
    bool dark;
  };
  struct Case {
    const char* name;
    std::function<std::unique_ptr<TGUIObject>()> make;
    std::vector<Point> points;
  };
  auto switchAt = [](uint8_t state) {
    auto s = std::make_unique<TSwitch>(nullptr, 3, kDevice, 2, kRegister, kRect, 2, 0);
    s->SetSwitch(state);
    return s;
  };
  auto toggleAt = [](int position) {
    auto t = std::make_unique<TToggle>(nullptr, 3, 0, kDevice, 2, kRegister, kRect, 3, 2, 0);
    t->SetPosition(position);
    return t;
  };
  auto arrowAt = [](uint8_t state, bool enabled = true) {
    auto a = std::make_unique<TIOArrow>(nullptr, 1, 1, 51, kRect, 2, 0);
    a->SetBackgroundColour(0xFFFFFF);
    a->SetEnabled(enabled);
    a->SetSwitch(state);
    return a;
  };
  static uint8_t selectBytes[3];
  auto selectAt = [](int position) {
    auto s = std::make_unique<TImpedanceSelect>(nullptr, 3, 0, 1, 48, kRect, 2, 0);
    s->SetBackgroundColour(0xFFFFFF);
    selectBytes[position] = uint8_t(position + 1);
    s->SetData(&selectBytes[position]);
    s->Refresh();
    return s;
  };
  const Case cases[] = {
      {"switch off: diagonal", [&] { return switchAt(0); }, {{25, 20, true}, {25, 30, false}}},
      {"switch on: bottom edge", [&] { return switchAt(1); }, {{25, 20, false}, {25, 30, true}}},
      {"toggle top", [&] { return toggleAt(0); }, {{12, 11, true}, {12, 29, false}}},
      {"toggle bottom", [&] { return toggleAt(2); }, {{12, 11, false}, {12, 29, true}}},
      {"arrow right", [&] { return arrowAt(1); }, {{10, 14, true}, {40, 14, false}}},
      {"arrow left", [&] { return arrowAt(0); }, {{10, 14, false}, {40, 14, true}}},
      {"arrow disabled: crossed",
       [&] { return arrowAt(1, false); },
       {{16, 14, true}, {10, 14, false}, {40, 14, false}}},
      {"select first", [&] { return selectAt(0); }, {{17, 20, true}, {25, 22, false}, {32, 20, false}}},
      {"select last", [&] { return selectAt(2); }, {{17, 20, false}, {25, 22, false}, {32, 20, true}}},
  };
  for (const auto& c : cases) {
    WhiteCanvas canvas;
    auto object = c.make();
    object->Place(1.0f, 0, 0);
    object->Paint(&canvas);
    for (const auto& p : c.points) EXPECT_EQ(Dark(canvas, p.x, p.y), p.dark) << c.name << " at " << p.x << "," << p.y;
  }
}

// ---------------------------------------------------------------- check box

TEST(CheckBoxTest, TheControlSetsTheBitAndRefreshSetsTheMark) {
  QWidget owner;
  Bound<TPlCheckBox> c(0x00, &owner, kDevice, 0, 64, "Mute left", 3, kRect);
  QCheckBox* box = c.widget.GetControl();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->parentWidget(), &owner);
  EXPECT_EQ(box->pos(), QPoint(10, 11));
  EXPECT_EQ(box->size(), QSize(14, 16));
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(c.widget.HitTest(20, 20));
  EXPECT_FALSE(c.widget.Click(20, 20));

  box->click();
  EXPECT_EQ(c.byte, 0x08);
  box->click();
  EXPECT_EQ(c.byte, 0x00);
  ASSERT_EQ(c.writes.list.size(), 2u);
  EXPECT_EQ(c.writes.list[0], (std::array<int, 4>{kDevice, 0, 64, 1}));

  c.byte = 0x0C;
  c.Notify();
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(c.byte, 0x0C);
  EXPECT_EQ(c.writes.list.size(), 2u);  // the refresh wrote nothing

  c.widget.SetVisible(false);
  EXPECT_TRUE(box->isHidden());
  EXPECT_TRUE(c.widget.IsVisible());
  c.widget.Place(2.0f, 0, 0);
  EXPECT_EQ(box->pos(), QPoint(20, 21));
}

TEST(CheckBoxTest, OnAScrollAreaTheControlScrollsWithThePage) {
  QScrollArea area;
  area.setWidget(new QWidget);
  {
    TPlCheckBox c(&area, kDevice, 0, 64, "", 2, kRect);
    EXPECT_EQ(c.GetControl()->parentWidget(), area.widget());
  }
  EXPECT_TRUE(area.widget()->findChildren<QCheckBox*>().isEmpty());  // gone with the widget
  TPlCheckBox headless(nullptr, kDevice, 0, 64, "", 2, kRect);
  EXPECT_TRUE(headless.GetControl()->isHidden());
}

// ---------------------------------------------------------------- loading

TEST(BitWidgetLoadTest, ValuesTheWidgetsCannotWorkWithRejectTheElement) {
  const std::string rect = "x=\"0\" y=\"0\" width=\"10\" height=\"10\" ";
  const std::string toggle = rect + "function=\"toggle\" Mask=\"15\" Shift=\"0\" I2CPage=\"0\" I2CRegister=\"1\" ";
  struct Case {
    std::string element;
    const char* attribute;  // null: loads
  } cases[] = {
      {"<rect " + toggle + "Positions=\"1\"/>", "Positions"},
      {"<rect " + toggle + "Positions=\"16\"/>", "Positions"},
      {"<rect " + toggle + "Positions=\"15\"/>", nullptr},
      {"<rect " + rect + "function=\"switch\" Bit=\"8\" I2CPage=\"0\" I2CRegister=\"1\"/>", "Bit"},
      {"<rect " + rect + "function=\"IOArrow\" Bit=\"-1\" I2CPage=\"0\" I2CRegister=\"1\"/>", "Bit"},
      {"<rect " + rect + "function=\"CheckBox\" Bit=\"9\" I2CPage=\"0\" I2CRegister=\"1\"/>", "Bit"},
      {"<rect " + rect + "function=\"impedance_select\" Mask=\"3\" Shift=\"8\" I2CPage=\"0\" I2CRegister=\"1\"/>",
       "Shift"},
  };
  for (const auto& c : cases) {
    diagramtest::PageFixture fixture;
    auto page = fixture.Load(c.element);
    if (!c.attribute) {
      EXPECT_EQ(page->ObjectCount(), 1u) << c.element;
      EXPECT_TRUE(page->Warnings().empty()) << c.element;
      continue;
    }
    EXPECT_EQ(page->ObjectCount(), 0u) << c.element;
    EXPECT_EQ(page->RegisterWindowCount(), 0u) << c.element;
    ASSERT_EQ(page->Warnings().size(), 1u) << c.element;
    EXPECT_NE(page->Warnings()[0].find(std::string("attribute \"") + c.attribute + "\""), std::string::npos)
        << page->Warnings()[0];
  }
}

// ---------------------------------------------------------------- the board kit

TEST(BitWidgetKitTest, EveryWidgetOfTheKitRefreshesQuietlyAndWritesOncePerClick) {
  QScrollArea owner;  // where the check boxes live
  owner.resize(400, 300);
  owner.show();
  int widgets = 0;
  for (const char* file : {"Page1.svg", "Page2.svg", "Clock.svg"}) {
    diagramtest::PageFixture fixture;
    fixture.context.owner = &owner;
    TBlockDiagram page(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7XXX/" + file, fixture.context);
    for (unsigned i = 0; i < page.ObjectCount(); ++i) {
      auto* widget = dynamic_cast<TBitWidget*>(page.Object(i));
      if (!widget) continue;
      ++widgets;
      const std::string what = std::string(file) + " " + widget->GetHintText();
      uint8_t byte = 0;
      Writes writes;
      widget->SetData(&byte);
      widget->SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
      widget->OnRegisterChanged(widget->GetDevice(), widget->GetPage(), unsigned(widget->GetFirstRegister()));
      EXPECT_TRUE(writes.list.empty()) << what;
      const size_t expected = widget->GetPage() < 128 ? 1u : 0u;
      for (int click = 1; click <= 2; ++click) {
        if (auto* box = dynamic_cast<TPlCheckBox*>(widget)) {
          // A check box is clicked on its control.
          box->GetControl()->show();
          QTest::mouseClick(box->GetControl(), Qt::LeftButton);
        } else {
          // The middle of the widget's rectangle (its placed corners).
          const TPointF a = widget->GetPlacedPoint(0), b = widget->GetPlacedPoint(1);
          const int x = int((a.x + b.x) / 2), y = int((a.y + b.y) / 2);
          ASSERT_TRUE(widget->HitTest(x, y)) << what;
          EXPECT_TRUE(widget->Click(x, y)) << what;
        }
        EXPECT_EQ(writes.list.size(), size_t(click) * expected) << what << " click " << click;
      }
    }
  }
  EXPECT_GE(widgets, 21);
}

TEST(BitWidgetKitTest, TheClockSelectLightsTheDividersFromTheSelectedInput) {
  diagramtest::PageFixture fixture;
  TBlockDiagram page(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7XXX/Clock.svg", fixture.context);
  TToggle* select = nullptr;
  TGUIObject* output = nullptr;
  for (unsigned i = 0; i < page.ObjectCount(); ++i) {
    TGUIObject* object = page.Object(i);
    if (auto* toggle = dynamic_cast<TToggle*>(object); toggle && toggle->GetMask() == 0x03) select = toggle;
    if (object->GetNetCount() == 1 && object->GetNet(0)->number == 48) output = object;
  }
  ASSERT_NE(select, nullptr);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(select->GetPositions(), 4);
  uint8_t byte = 0x03;  // the PLL: not running
  select->SetData(&byte);
  select->Refresh();
  EXPECT_EQ(select->GetPosition(), 3);
  EXPECT_FALSE(output->IsOn());
  byte = 0x00;  // MCLK, a live input
  select->Refresh();
  EXPECT_EQ(select->GetPosition(), 0);
  EXPECT_TRUE(output->IsOn());
}
