// The routing widgets: the crossbar's two-click connections, what it writes
// and reads back, and the activity it carries; the mixers; the resistor
// select's list.
#include "diagram/routing.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "diagram/bit_widgets.h"
#include "page_fixture.h"
#include "probes.h"

using diagramtest::ProbeRect;
using diagramtest::WhiteCanvas;

namespace {

const float kRect[6] = {50, 20, 110, 180, 1, 1};
const float kSources[4] = {10, 50, 90, 130};
const float kDestinations[2] = {40, 120};

struct Writes {
  std::vector<std::array<int, 4>> list;
  static void Callback(void* user, int device, int page, int reg, int count) {
    static_cast<Writes*>(user)->list.push_back({device, page, reg, count});
  }
};

// A crossbar whose pointer the test moves: Draw works out the side and
// the index under the pointer while the widget is lit.
struct Crossbar : TDIRSelect {
  Crossbar(int device, int reg, unsigned sources = 4, unsigned destinations = 2, const float* sourceYs = kSources,
           const float* destinationYs = kDestinations)
      : TDIRSelect(nullptr, 0x0F, 0, device, 1, reg, kRect, sourceYs, sources, destinationYs, destinations) {
    SetData(image.data() + (device == kRouteDevice ? 0 : reg));
    SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
    SetMode(1, nullptr);
    Place(1.0f, 0, 0);
  }
  // A click at (x, y) as the user makes it: hovered, lit, then clicked.
  bool ClickAt(int x, int y) {
    fadeState = kFadeLit;
    mouseX = x;
    mouseY = y;
    Paint(&canvas);
    const bool result = Click(x, y);
    fadeState = kFadeIdle;
    return result;
  }
  // Source s on the left, destination d on the right.
  void Connect(unsigned s, unsigned d) {
    ClickAt(52, int(20 + kSources[s]));
    ClickAt(108, int(20 + kDestinations[d]));
  }
  // The second click of a cycle whose pending end is `pending` (a source in
  // mode 3, a destination in mode 1), taking `index` as the other end, as a
  // click does when no repaint has found the pointer since.
  bool CommitWith(int mode, unsigned pending, unsigned index) {
    hoverMode = mode;
    (mode == 3 ? pendingSource : pendingDestination) = pending;
    hoverIndex = index;
    return Click(80, 100);
  }
  std::array<uint8_t, 128> image{};
  Writes writes;
  WhiteCanvas canvas;
};

}  // namespace

TEST(RoutingTest, CountsAreCutToTheirCapacity) {
  float many[40] = {};
  Crossbar wide(0x30, 10, 40, 20, many, many);
  EXPECT_EQ(wide.GetSourceCount(), 32u);
  EXPECT_EQ(wide.GetDestinationCount(), 16u);
  EXPECT_EQ(wide.GetCount(), 16);
  EXPECT_EQ(wide.GetHintText(), "MUX: I2C Address: 0x30, Register: 10");
}

TEST(RoutingTest, TwoClicksConnectASourceToADestinationEitherWay) {
  Crossbar c(0x30, 10);
  c.image[10] = 0xA0;  // other bits kept
  // Source first, then destination.
  EXPECT_TRUE(c.ClickAt(52, 20 + 90));
  EXPECT_EQ(c.GetHoverMode(), 3);
  EXPECT_TRUE(c.writes.list.empty());
  EXPECT_TRUE(c.ClickAt(108, 20 + 40));
  EXPECT_NE(c.GetHoverMode(), 3);  // committed (the repaint finds the pointer's side again)
  EXPECT_EQ(c.GetSelectedSource(0), 2u);
  EXPECT_EQ(c.image[10], 0xA2);
  EXPECT_EQ(c.writes.list, (std::vector<std::array<int, 4>>{{0x30, 1, 10, 2}}));
  // Destination first, then source.
  EXPECT_TRUE(c.ClickAt(108, 20 + 120));
  EXPECT_EQ(c.GetHoverMode(), 1);
  EXPECT_TRUE(c.ClickAt(52, 20 + 130));
  EXPECT_EQ(c.GetSelectedSource(1), 3u);
  EXPECT_EQ(c.image[11], 0x03);
  EXPECT_EQ(c.writes.list.size(), 2u);
  // A pointer below the last position picks the last one.
  c.ClickAt(52, 179);
  EXPECT_EQ(c.GetHoverIndex(), 3u);
}

// A row from the file is not placed: at 2^31 (or inf) its pixel was taken
// unchecked, and the mark drawn around it overflowed int.
TEST(RoutingTest, ARowFarBeyondTheRectangleIsDrawnWithoutOverflow) {
  for (const float row : {2147483648.0f, -2147483648.0f, 1e38f, -1e38f}) {
    const float sources[1] = {row};
    Crossbar c(0x30, 10, 1, 2, sources);
    EXPECT_TRUE(c.ClickAt(52, 30)) << row;  // the source side: its mark is drawn
    EXPECT_EQ(c.GetHoverMode(), 3) << row;
    EXPECT_TRUE(c.ClickAt(108, 20 + 40)) << row;  // and the line of the connection
    EXPECT_EQ(c.GetSelectedSource(0), 0u) << row;
  }
}

// A pending index past the counts connects source 0 or destination 0.
TEST(RoutingTest, APendingIndexPastTheCountsConnectsTheFirst) {
  const struct {
    const char* name;
    int mode;
    unsigned pending, index;
    unsigned destination, source;
  } cases[] = {
      {"source 7 of 4 to destination 1", 1, 1, 7, 1, 0},
      {"source 2 to destination 5 of 2", 3, 2, 5, 0, 2},
      {"source 4 of 4 to destination 2 of 2", 3, 4, 2, 0, 0},
  };
  for (const auto& c : cases) {
    Crossbar x(0x30, 10);
    x.image[10] = x.image[11] = 0x0A;  // other sources than the one expected
    ASSERT_TRUE(x.CommitWith(c.mode, c.pending, c.index)) << c.name;
    EXPECT_EQ(x.GetSelectedSource(c.destination), c.source) << c.name;
    EXPECT_EQ(x.image[10 + c.destination], c.source) << c.name;
    EXPECT_EQ(x.writes.list, (std::vector<std::array<int, 4>>{{0x30, 1, 10, 2}})) << c.name;
  }
}

TEST(RoutingTest, PackedRegisterAndRouteDevice) {
  Crossbar packed(0x30, TDIRSelect::kPackedRegister);
  packed.Connect(2, 0);
  packed.Connect(3, 1);
  EXPECT_EQ(packed.image[107], 0x23);
  EXPECT_EQ(packed.writes.list.back(), (std::array<int, 4>{0x30, 1, 107, 2}));
  packed.image[107] = 0x10;
  packed.OnRegisterChanged(0x30, 1, 107);
  EXPECT_EQ(packed.GetSelectedSource(0), 1u);
  EXPECT_EQ(packed.GetSelectedSource(1), 0u);

  Crossbar route(TDIRSelect::kRouteDevice, 5);
  EXPECT_EQ(route.GetFirstRegister(), 0);
  EXPECT_EQ(route.GetCount(), 8);
  route.image[127] = 0x55;
  route.Connect(3, 0);
  // The value is the register number, with the window restored afterwards.
  EXPECT_EQ(route.writes.list, (std::vector<std::array<int, 4>>{{0x70, 1, 32, 1}}));
  EXPECT_EQ(route.image[32], 32);
  EXPECT_EQ(route.GetFirstRegister(), 0);
  EXPECT_EQ(route.GetCount(), 8);
  route.image.fill(0);
  route.image[0] = 4 << 2;
  route.OnRegisterChanged(0x70, 1, 0);
  EXPECT_EQ(route.GetSelectedSource(0), 2u);
}

// The route device's byte names its source by the lowest of bits 2..7 set.
TEST(RoutingTest, TheRouteDeviceReadsTheLowestBitSet) {
  const float ys[6] = {10, 30, 50, 70, 90, 110};
  Crossbar route(TDIRSelect::kRouteDevice, 0, 6, 1, ys);
  const struct {
    uint8_t byte;
    unsigned source;
  } cases[] = {{0x08 | 0x20, 1}, {0x04 | 0x80, 0}, {0x80, 5}, {0x10 | 0x40 | 0x80, 2}, {0xF0, 2}, {0x40, 4}};
  for (const auto& c : cases) {
    route.image[0] = c.byte;
    route.OnRegisterChanged(0x70, 1, 0);
    EXPECT_EQ(route.GetSelectedSource(0), c.source) << int(c.byte);
  }
}

TEST(RoutingTest, SourcesTheRegisterCannotHoldAreRefused) {
  float ys[32];
  for (int i = 0; i < 32; ++i) ys[i] = float(i * 5);
  // Source 20 needs five bits: nothing is written.
  Crossbar c(0x30, 10, 32, 2, ys);
  c.ClickAt(52, 20 + 100);
  c.ClickAt(108, 20 + 40);
  EXPECT_TRUE(c.writes.list.empty());
  EXPECT_EQ(c.GetSelectedSource(0), 0u);
  EXPECT_EQ(c.image[10], 0);
  // The route device's register 4 << 5 = 128 lies past its image.
  Crossbar route(TDIRSelect::kRouteDevice, 0, 8, 1, ys);
  route.ClickAt(52, 20 + 30);
  route.ClickAt(108, 20 + 40);
  EXPECT_TRUE(route.writes.list.empty());
  route.ClickAt(52, 20 + 25);
  route.ClickAt(108, 20 + 40);
  EXPECT_EQ(route.writes.list, (std::vector<std::array<int, 4>>{{0x70, 1, 64, 1}}));
}

TEST(RoutingTest, ARegisterNamingAMissingSourceShowsTheDestinationUnconnected) {
  Crossbar c(0x30, 10);
  c.Connect(1, 0);
  c.image[10] = 0x09;  // source 9 of 4
  c.OnRegisterChanged(0x30, 1, 10);
  EXPECT_EQ(c.GetSelectedSource(0), TDIRSelect::kUnconnected);
  EXPECT_TRUE(c.writes.list.size() == 1u);
  // Nothing is drawn for it (the right edge stays white), the other line is.
  c.canvas.SetSize(200, 200, 0xFFFFFF);
  c.Paint(&c.canvas);
  EXPECT_EQ(c.canvas.PixelColour(108, 60), 0xFFFFFFu);
  EXPECT_NE(c.canvas.PixelColour(80, 85), 0xFFFFFFu);  // source 0 to destination 1
}

namespace {

// A probe on each net of a crossbar: its four sources, then its two
// destinations; `active` is on, in `colour`.
struct Nets {
  Nets(Crossbar& c, int active, TColor colour) {
    for (int i = 0; i < 6; ++i) {
      c.AddNet(100 + i);
      probes[i].AddNet(100 + i);
      c.AddNetMember(&probes[i], unsigned(i));
    }
    probes[active].SetOnColour(colour);
    probes[active].SetState(true);
    for (ProbeRect& p : probes) p.AfterLoad();
  }
  ProbeRect probes[6];
  ProbeRect &in0 = probes[0], &in1 = probes[1], &in2 = probes[2], &in3 = probes[3];
  ProbeRect &out0 = probes[4], &out1 = probes[5];
};

}  // namespace

TEST(RoutingTest, ActivityFlowsFromAnActiveSourceToItsDestination) {
  Crossbar c(0x30, 10);
  Nets nets(c, 2, 0x00C000);
  ProbeRect &out0 = nets.out0, &out1 = nets.out1;
  c.Connect(2, 0);
  EXPECT_TRUE(out0.IsOn());
  EXPECT_EQ(out0.GetOnColour(), 0x00C000u);
  EXPECT_EQ(c.GetDestinationColour(0), 0x00C000u);
  EXPECT_FALSE(out1.IsOn());
  c.Connect(1, 0);
  EXPECT_FALSE(out0.IsOn());
  EXPECT_EQ(c.GetDestinationColour(0), 0u);
}

TEST(RoutingTest, ActivityFlowsBackFromAnActiveDestinationToItsSource) {
  Crossbar c(0x30, 10);
  Nets nets(c, 5, 0xC00000);
  c.Connect(3, 1);
  EXPECT_TRUE(nets.in3.IsOn());
  EXPECT_EQ(nets.in3.GetOnColour(), 0xC00000u);
  EXPECT_FALSE(nets.in1.IsOn());
  EXPECT_FALSE(nets.in2.IsOn());
  // Nothing active at either end: both off.
  EXPECT_FALSE(nets.in0.IsOn());
  EXPECT_FALSE(nets.out0.IsOn());
}

TEST(RoutingTest, MixersAverageTheirInputsAndTheExclusiveOneAllowsOnlyOne) {
  const float box[4] = {0, 0, 10, 10};
  for (const bool exclusive : {false, true}) {
    TMixer mixer(box, exclusive, 1, 0);
    ProbeRect a, b, out;
    ProbeRect* members[3] = {&a, &b, &out};
    for (int i = 0; i < 3; ++i) {
      mixer.AddNet(10 + i);
      members[i]->AddNet(10 + i);
      mixer.AddNetMember(&mixer, unsigned(i));
      mixer.AddNetMember(members[i], unsigned(i));
    }
    a.SetOnColour(0x0000FF);
    b.SetOnColour(0xFF0001);
    a.SetState(true);
    b.SetState(true);
    mixer.SetState(true);
    EXPECT_EQ(out.IsOn(), !exclusive) << exclusive;
    EXPECT_EQ(out.GetOnColour(), exclusive ? 0u : 0x7F0080u) << exclusive;
    EXPECT_EQ(mixer.GetMode(), 0);
    b.SetState(false);
    mixer.SetState(true);
    EXPECT_TRUE(out.IsOn()) << exclusive;
    EXPECT_EQ(out.GetOnColour(), 0x0000FFu) << exclusive;
  }
}

// A lit toggle on an input net is that input's source only while its
// lever connects the net.
TEST(RoutingTest, AMixerCountsAToggleOnlyWhileItConnectsTheInput) {
  const float box[4] = {0, 0, 10, 10};
  const float lever[6] = {0, 0, 10, 10, 1, 1};
  TMixer mixer(box, false, 1, 0);
  TToggle toggle(nullptr, 0x30, 4, 0x30, 1, 35, lever, 2);
  ProbeRect out;
  out.AddNet(11);
  for (int net : {10, 30, 20}) toggle.AddNet(net);  // positions on 10 and 30, the common side 20
  mixer.AddNet(10);
  mixer.AddNet(11);
  mixer.AddNetMember(&mixer, 0);
  mixer.AddNetMember(&toggle, 0);
  mixer.AddNetMember(&mixer, 1);
  mixer.AddNetMember(&out, 1);
  toggle.SetOnColour(0x00A000);
  for (const int position : {1, 0}) {
    toggle.SetPosition(position);
    toggle.SetState(true);
    mixer.SetState(true);
    EXPECT_EQ(out.IsOn(), position == 0) << position;
  }
}

// What a mixer answers for its output net when a neighbour asks: driven by
// any active input, the exclusive one by exactly one.
TEST(RoutingTest, AMixerDrivesItsOutputNetAsItsInputsAllow) {
  const float box[4] = {0, 0, 10, 10};
  const struct {
    bool exclusive;
    std::array<bool, 3> inputs;
    bool drives;
  } cases[] = {
      {false, {false, false, false}, false}, {false, {true, false, false}, true}, {false, {true, true, false}, true},
      {false, {true, true, true}, true},     {true, {false, false, false}, false}, {true, {false, true, false}, true},
      {true, {true, true, false}, false},    {true, {true, true, true}, false},
  };
  for (const auto& c : cases) {
    TMixer mixer(box, c.exclusive, 1, 0);
    ProbeRect inputs[3], out;
    for (int i = 0; i < 4; ++i) {
      ProbeRect* member = i < 3 ? &inputs[i] : &out;
      mixer.AddNet(20 + i);
      member->AddNet(20 + i);
      mixer.AddNetMember(&mixer, unsigned(i));
      mixer.AddNetMember(member, unsigned(i));
      member->AddNetMember(&mixer, 0);
      if (i < 3) member->SetState(c.inputs[size_t(i)]);
      member->AfterLoad();
    }
    const std::string what = std::string(c.exclusive ? "exclusive " : "plain ") + std::to_string(c.inputs[0]) +
                             std::to_string(c.inputs[1]) + std::to_string(c.inputs[2]);
    EXPECT_EQ(mixer.GetSavedState(23), c.drives) << what;
    EXPECT_FALSE(mixer.GetSavedState(20)) << what;  // an input net is never its own
    // As the output's neighbour finds it on the net.
    EXPECT_EQ(out.FindNetMemberOn(0) == &mixer, c.drives) << what;
  }
}

TEST(RoutingTest, ResistorSelectWritesTheChosenItemWhenItsSourceIsOn) {
  QWidget owner;
  owner.resize(300, 300);
  owner.show();
  TQMX7460RSEL select(nullptr, &owner, 0x30, 1, 52, 0x0C, 2, "M 10,10 L 40,10 L 40,30 z");
  uint8_t byte = 0x81;
  Writes writes;
  select.SetData(&byte);
  select.SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
  select.SetMode(1, nullptr);
  select.Place(1.0f, 0, 0);
  diagramtest::SwitchProbe source;
  source.state = 1;
  source.Link(&select, 0);
  QListWidget* list = select.GetList();
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->currentRow(), 0);
  EXPECT_FALSE(list->isVisible());
  ASSERT_TRUE(select.Click(20, 10));
  EXPECT_TRUE(list->isVisible());
  list->setCurrentRow(2);
  const QPoint item = list->visualItemRect(list->item(2)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item);
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(byte, 0x8D);
  EXPECT_EQ(writes.list, (std::vector<std::array<int, 4>>{{0x30, 1, 52, 1}}));
  // With the source off the field is cleared whatever is chosen.
  source.state = 0;
  EXPECT_EQ(select.Request(3, nullptr), 0);
  EXPECT_EQ(byte, 0x81);
  // Read back: 2 selects "20k" and turns the source on; 0 keeps the list and turns it off.
  byte = 0x08;
  select.OnRegisterChanged(0x30, 1, 52);
  EXPECT_EQ(list->currentRow(), 1);
  EXPECT_EQ(source.state, 1);
  byte = 0x00;
  select.OnRegisterChanged(0x30, 1, 52);
  EXPECT_EQ(list->currentRow(), 1);
  EXPECT_EQ(source.state, 0);
  EXPECT_EQ(writes.list.size(), 2u);
}
