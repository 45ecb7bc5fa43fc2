// The object model: hover fade and its timer, capacities, links and nets,
// propagation and groups. Every tick is driven by the test.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "probes.h"

using diagramtest::DrawRecord;
using diagramtest::Events;
using diagramtest::ProbeRect;
using diagramtest::WhiteCanvas;

namespace {

// An object in hover mode on a timer, painted once so the timer can fade it.
struct Hovered {
  TProximityTimer timer;
  WhiteCanvas canvas;
  Events events;
  ProbeRect object{10, 10, 30, 30};
  Hovered() {
    object.SetMode(1, &timer);
    object.SetCallback(&events, Events::Callback);
    object.SetHighlightColour(0x0000FF);
    object.SetBackgroundColour(0xFFFFFF);
    object.Paint(&canvas);
    object.draws.clear();
  }
};

}  // namespace

TEST(FadeTest, EnteringLightsTheObjectAtTheFirstTick) {
  Hovered h;
  h.object.MouseMove(20, 20);
  EXPECT_EQ(h.events.Codes(), std::vector<int>{kEventEntered});
  EXPECT_EQ(h.object.GetFadeState(), kFadeEntered);
  EXPECT_TRUE(h.timer.Enabled());
  EXPECT_EQ(h.timer.Interval(), 1);

  h.timer.Tick();
  ASSERT_EQ(h.object.draws.size(), 1u);
  EXPECT_EQ(h.object.draws[0].colour, 0x0000FFu);  // full highlight
  EXPECT_EQ(h.object.draws[0].width, h.object.GetHighlightWidth());
  EXPECT_EQ(h.object.GetFadeState(), kFadeLit);
  EXPECT_EQ(h.events.Codes(), (std::vector<int>{kEventEntered, kEventLit}));
  EXPECT_FALSE(h.timer.Enabled());  // nothing fades any more
  EXPECT_EQ(h.timer.Interval(), 0);
}

TEST(FadeTest, LeavingALitObjectErasesItOnceAndEndsTheHover) {
  Hovered h;
  h.object.MouseMove(20, 20);
  h.timer.Tick();
  h.object.draws.clear();
  h.object.MouseMove(100, 100);
  EXPECT_EQ(h.object.GetFadeState(), kFadeOutPending);
  h.timer.Tick();
  ASSERT_EQ(h.object.draws.size(), 1u);
  EXPECT_EQ(h.object.draws[0].colour, 0xFFFFFFu);  // the background colour
  EXPECT_EQ(h.object.draws[0].width, h.object.GetHighlightWidth());
  EXPECT_EQ(h.object.GetFadeState(), kFadeIdle);
  EXPECT_EQ(h.object.GetCurrentWidth(), h.object.GetNormalWidth());
  EXPECT_EQ(h.events.Codes(), (std::vector<int>{kEventEntered, kEventLit, kEventLeft, kEventHoverEnded}));
}

// However a lit object's hover ends (its fade-out, also while the canvas is
// held so that its paints are only noted; at once; the pointer leaving the
// view), the hover's events end with event 0 and its next plain draw is in
// the normal colour and width.
TEST(FadeTest, AnEndedHoverDrawsInTheNormalColourAgain) {
  const struct {
    const char* name;
    std::function<void(Hovered&)> end;
    std::vector<int> events;
  } cases[] = {
      {"fade-out", [](Hovered& h) { h.object.MouseMove(100, 100), h.timer.Tick(); },
       {kEventEntered, kEventLit, kEventLeft, kEventHoverEnded}},
      {"fade-out on a held canvas",
       [](Hovered& h) {
         h.object.MouseMove(100, 100);
         h.canvas.Hold(true);
         h.timer.Tick();
         h.canvas.Hold(false);
       },
       {kEventEntered, kEventLit, kEventLeft, kEventHoverEnded}},
      {"at once", [](Hovered& h) { h.object.EndHover(); }, {kEventEntered, kEventLit, kEventHoverEnded}},
      {"pointer left the view", [](Hovered& h) { h.object.PointerLeft(), h.timer.Tick(); },
       {kEventEntered, kEventLit, kEventLeft, kEventHoverEnded}},
  };
  for (const auto& c : cases) {
    Hovered h;
    h.object.MouseMove(20, 20);
    h.timer.Tick();
    ASSERT_EQ(h.object.GetFadeState(), kFadeLit) << c.name;
    c.end(h);
    EXPECT_EQ(h.object.GetFadeState(), kFadeIdle) << c.name;
    EXPECT_EQ(h.events.Codes(), c.events) << c.name;
    h.object.draws.clear();
    h.object.Paint(&h.canvas);
    ASSERT_EQ(h.object.draws.size(), 1u) << c.name;
    EXPECT_EQ(h.object.draws[0].colour & 0xFFFFFF, 0x0000AAu) << c.name;
    EXPECT_EQ(h.object.draws[0].width, h.object.GetNormalWidth()) << c.name;
  }
}

TEST(FadeTest, LeavingBeforeTheFadeInRampsUpThenFadesOut) {
  Hovered h;
  h.object.MouseMove(20, 20);
  h.object.MouseMove(100, 100);  // before any tick
  EXPECT_EQ(h.object.GetFadeState(), kFadeRampB);
  int ticks = 0;
  while (h.object.GetFadeState() == kFadeRampB && ticks < 50) {
    h.timer.Tick();
    ++ticks;
    EXPECT_TRUE(h.timer.Enabled());
    EXPECT_EQ(h.timer.Interval(), 20);
  }
  EXPECT_EQ(ticks, 11);  // steps 0..9 count up, the step at 10 turns to fade-out
  EXPECT_EQ(h.object.GetFadeState(), kFadeOutPending);
  h.timer.Tick();
  EXPECT_EQ(h.object.GetFadeState(), kFadeIdle);
  EXPECT_FALSE(h.timer.Enabled());
  EXPECT_EQ(h.events.Codes(), (std::vector<int>{kEventEntered, kEventLeft, kEventHoverEnded}));
  // The ramp drew from the background towards the highlight colour.
  EXPECT_EQ(h.object.draws.front().colour, 0xFFFFFFu);
  EXPECT_EQ(h.object.draws[10].colour, 0x0000FFu);
}

TEST(FadeTest, AnEarlierRampingObjectHoldsBackLaterOnes) {
  TProximityTimer timer;
  WhiteCanvas canvas;
  ProbeRect first(0, 0, 10, 10), second(50, 50, 60, 60);
  for (ProbeRect* o : {&first, &second}) {
    o->SetMode(1, &timer);
    o->Paint(&canvas);
    o->draws.clear();
  }
  first.MouseMove(5, 5);
  first.MouseMove(100, 100);  // ramping (state 5)
  second.MouseMove(55, 55);   // entered
  timer.Tick();
  EXPECT_EQ(first.draws.size(), 1u);
  EXPECT_TRUE(second.draws.empty());
  EXPECT_EQ(second.GetFadeState(), kFadeEntered);
}

TEST(FadeTest, WithoutATimerEventsRepeatAndNothingFades) {
  ProbeRect object;
  Events events;
  object.SetMode(1, nullptr);
  object.SetCallback(&events, Events::Callback);
  object.MouseMove(5, 5);
  object.MouseMove(5, 6);
  EXPECT_EQ(events.Codes(), (std::vector<int>{kEventEntered, kEventEntered}));
  EXPECT_EQ(object.GetFadeState(), kFadeIdle);
  EXPECT_EQ(object.FadeStep(), 0);  // never painted: nothing to do
}

TEST(FadeTest, TimerTakes128ClientsAndForgetsThemOnClear) {
  TProximityTimer timer;
  std::vector<std::unique_ptr<ProbeRect>> objects;
  for (int i = 0; i < 130; ++i) {
    objects.push_back(std::make_unique<ProbeRect>());
    objects.back()->SetMode(1, &timer);
  }
  EXPECT_EQ(timer.Count(), 128u);
  EXPECT_EQ(objects[128]->GetProximityTimer(), &timer);  // attached, never stepped
  // The 128th client fades; the 129th, entered as well, never does.
  WhiteCanvas canvas;
  for (auto* object : {objects[127].get(), objects[128].get()}) {
    object->Paint(&canvas);
    object->draws.clear();
    object->MouseMove(5, 5);
  }
  for (int tick = 0; tick < 3; ++tick) timer.Tick();
  EXPECT_EQ(objects[127]->GetFadeState(), kFadeLit);
  EXPECT_FALSE(objects[127]->draws.empty());
  EXPECT_EQ(objects[128]->GetFadeState(), kFadeEntered);
  EXPECT_TRUE(objects[128]->draws.empty());
  timer.Clear();
  EXPECT_EQ(timer.Count(), 0u);
  EXPECT_FALSE(timer.Enabled());
}

TEST(ObjectModel, ModesDecideClicks) {
  ProbeRect object(0, 0, 10, 10);
  EXPECT_FALSE(object.Click(5, 5));  // mode 0: inert
  object.SetMode(1, nullptr);
  EXPECT_TRUE(object.Click(5, 5));
  EXPECT_FALSE(object.Click(50, 50));
  object.SetMode(2, nullptr);
  EXPECT_TRUE(object.Click(50, 50));  // always clickable
}

TEST(ObjectModel, TablesIgnoreEntriesBeyondTheirCapacity) {
  ProbeRect a, b;
  std::vector<std::unique_ptr<ProbeRect>> others;
  for (int i = 0; i < 17; ++i) {
    a.AddLinkTo(i + 1, i);
    a.AddNet(i + 1);
    others.push_back(std::make_unique<ProbeRect>());
    a.Link(others.back().get(), i);
    others.back()->Link(&b, i);
    a.AddNetMember(others.back().get(), 0);
  }
  EXPECT_EQ(a.GetLinkToCount(), 16);
  EXPECT_EQ(a.GetLinkToID(15), 16);
  EXPECT_EQ(a.GetLinkToID(16), 0);
  EXPECT_EQ(a.GetLinkToValue(16), 0);
  EXPECT_EQ(a.GetNetCount(), 16u);
  EXPECT_EQ(a.GetTargetCount(), 16u);
  EXPECT_EQ(b.GetSourceCount(), 16u);
  EXPECT_EQ(a.GetNet(0)->memberCount, 16u);
  a.AddNetMember(&b, 16);                       // no such record
  EXPECT_EQ(others[16]->GetSourceCount(), 1u);  // the 17th link still reaches its target's sources
}

TEST(ObjectModel, FindByIDLooksAtItselfAndItsTargetsOnly) {
  ProbeRect a, target, source;
  a.SetID(1), target.SetID(2), source.SetID(3);
  a.Link(&target, 0);
  source.Link(&a, 0);
  EXPECT_EQ(a.FindByID(1), &a);
  EXPECT_EQ(a.FindByID(2), &target);
  EXPECT_EQ(a.FindByID(3), nullptr);
  EXPECT_EQ(target.GetSource(0), &a);
}

TEST(ObjectModel, PropagateLightsThePathAndStopsAtDisabledObjects) {
  ProbeRect source, middle, end, disabled;
  source.SetOnColour(0x00FF00);
  source.Link(&middle, 1);
  middle.Link(&end, 1);
  middle.Link(&disabled, 1);
  disabled.SetEnabled(false);
  source.SetState(true);
  middle.Propagate(true);
  EXPECT_TRUE(middle.IsOn());
  EXPECT_TRUE(end.IsOn());
  EXPECT_EQ(end.GetCurrentColour(), 0x00FF00u);  // recoloured from the first source
  EXPECT_EQ(end.GetCurrentWidth(), end.GetOnWidth());
  EXPECT_FALSE(disabled.IsOn());
  EXPECT_EQ(disabled.GetCurrentColour(), disabled.GetNormalColour());
  // A cycle ends at the guard.
  end.Link(&middle, 1);
  middle.Propagate(false);
  EXPECT_TRUE(middle.IsOn());
}

TEST(ObjectModel, NetStateAndNetSearch) {
  ProbeRect a, b, c;
  a.AddNet(7);
  b.AddNet(7);
  c.AddNet(8);
  a.AddNetMember(&a, 0);
  a.AddNetMember(&b, 0);
  a.AddNetMember(&c, 0);  // on another net: left alone
  a.SetNetState(0, true, 0x123456);
  EXPECT_TRUE(a.IsOn());
  EXPECT_TRUE(b.IsOn());
  EXPECT_EQ(b.GetOnColour(), 0x123456u);
  EXPECT_FALSE(c.IsOn());
  EXPECT_EQ(a.FindNetMemberOn(0), nullptr);  // saved states are still off
  b.AfterLoad();
  EXPECT_EQ(a.FindNetMemberOn(0), &b);
  EXPECT_EQ(a.FindNetMemberOn(5), nullptr);
  EXPECT_TRUE(a.HasNet(7));
  EXPECT_FALSE(a.HasNet(8));
}

// Members that pass their state on over their own two nets, as the switches
// do; every call counted, and none past a cap, so that a pass without a
// bound ends here as a failure instead of a hang.
struct Relay : ProbeRect {
  static constexpr unsigned kCap = 10000000;
  unsigned* calls = nullptr;
  bool HasNet(int net) override { return net == 1 || net == 2; }
  void SetState(bool on) override {
    ProbeRect::SetState(on);
    if (++*calls >= kCap) return;
    SetNetState(0, on, onColour);
    SetNetState(1, on, onColour);
  }
};

// Twelve relays all on the same two nets: each pass reaches every member
// along every path its guards leave open, some 12! of them. One pass stops
// after a bounded number of visits and the page goes on.
TEST(ObjectModel, APassOverNetsThatJoinOverAndOverIsBounded) {
  unsigned calls = 0;
  Relay relays[12];
  for (Relay& relay : relays) {
    relay.calls = &calls;
    relay.AddNet(1);
    relay.AddNet(2);
    for (Relay& other : relays) relay.AddNetMember(&other, 0), relay.AddNetMember(&other, 1);
  }
  relays[0].SetNetState(0, true, 0x123456);
  EXPECT_LT(calls, 200000u);
  EXPECT_TRUE(relays[1].IsOn());
  // The next pass has its own budget.
  calls = 0;
  relays[3].SetNetState(1, false, 0);
  EXPECT_GT(calls, 0u);
  EXPECT_LT(calls, 200000u);
  EXPECT_FALSE(relays[4].IsOn());
  EXPECT_EQ(relays[5].FindNetMemberOn(0), nullptr);
}

TEST(ObjectModel, PaintDrawsNothingWhenHiddenOrWithoutCanvas) {
  WhiteCanvas canvas;
  ProbeRect object;
  object.Paint(nullptr);
  object.SetVisible(false);
  object.Paint(&canvas);
  EXPECT_TRUE(object.draws.empty());
  EXPECT_EQ(object.GetCanvas(), nullptr);
  object.SetVisible(true);
  object.Paint(&canvas);
  EXPECT_EQ(object.draws.size(), 1u);
  EXPECT_EQ(object.GetCanvas(), &canvas);
}

TEST(ObjectModel, LerpWorksPerByteAndClearsTheTopByte) {
  EXPECT_EQ(Lerp(0xFF000005, 0x000000FF, 0.0f), 0x000005u);
  EXPECT_EQ(Lerp(0x000000, 0xFFFFFF, 0.5f), 0x7F7F7Fu);
  EXPECT_EQ(Lerp(0x102030, 0x102030, 0.3f), 0x102030u);
  EXPECT_EQ(Lerp(0x0000FF, 0x000000, 1.0f), 0x000000u);
}

TEST(GroupTest, ForwardsAndClicksChildrenAsAlwaysClickable) {
  auto* a = new ProbeRect(0, 0, 10, 10);
  auto* b = new ProbeRect(50, 50, 60, 60);
  TGUIObject* children[2] = {a, b};
  TGUIGroup group(children, 2);
  group.SetMode(1, nullptr);
  EXPECT_TRUE(group.HitTest(55, 55));
  EXPECT_FALSE(group.HitTest(30, 30));
  EXPECT_TRUE(group.Click(5, 5));
  EXPECT_EQ(a->GetMode(), 0);  // restored after the click
  EXPECT_FALSE(group.Click(30, 30));

  Events events;
  group.SetCallback(&events, Events::Callback);
  EXPECT_EQ(a->GetCallbackUser(), &events);
  EXPECT_EQ(b->GetCallbackUser(), nullptr);
  group.SetOnColour(0x00AA00);
  group.SetState(true);
  EXPECT_TRUE(a->IsOn() && b->IsOn());
  EXPECT_EQ(b->GetCurrentColour(), 0x00AA00u);
  group.Translate(100, 0);
  group.Place(1.0f, 0, 0);
  EXPECT_TRUE(group.HitTest(105, 5));
}

TEST(GroupTest, HoverFollowsTheFirstChildAndSendsNoEvents) {
  TProximityTimer timer;
  WhiteCanvas canvas;
  auto* a = new ProbeRect(0, 0, 10, 10);
  auto* b = new ProbeRect(20, 0, 30, 10);
  a->SetMode(1, &timer);
  b->SetMode(1, &timer);
  TGUIObject* children[2] = {a, b};
  TGUIGroup group(children, 2);
  Events events;
  group.SetMode(1, &timer);
  group.SetCallback(&events, Events::Callback);
  group.Paint(&canvas);
  group.MouseMove(25, 5);
  EXPECT_EQ(a->GetFadeState(), kFadeEntered);
  EXPECT_EQ(b->GetFadeState(), kFadeEntered);
  timer.Tick();
  timer.Tick();
  EXPECT_EQ(a->GetFadeState(), kFadeLit);
  group.MouseMove(100, 100);  // the lit first child decides
  EXPECT_EQ(a->GetFadeState(), kFadeOutPending);
  // The children's own fades still report to the first child's callback.
  EXPECT_EQ(events.Codes(), std::vector<int>{kEventLit});
}

TEST(GroupTest, KeepsAtMost128ChildrenAndFreesTheRest) {
  std::vector<TGUIObject*> children;
  for (int i = 0; i < 200; ++i) children.push_back(new ProbeRect);
  TGUIGroup group(children.data(), unsigned(children.size()));
  EXPECT_EQ(group.GetChildCount(), 128u);
  EXPECT_EQ(group.GetChild(127), children[127]);
  EXPECT_EQ(group.GetChild(128), nullptr);
  // The sanitised build checks that the 72 others were freed.
}
