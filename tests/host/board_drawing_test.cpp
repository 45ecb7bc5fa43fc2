// What the board window draws after register changes: every window on a
// changed block follows it, a pass of notifications draws once, and a
// pass that draws only what changed leaves the pixels a whole redraw gives.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QTest>
#include <cstdio>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "common/page_drawing.h"
#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "diagram/routing.h"
#include "diagram/streaming_widget.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "tests/host/diagram_pages_fixture.h"

using namespace hosttest;

namespace {

// Switches on bit 0 of registers 10..13 of page 0, each its own window,
// with a wire after each.
std::string SwitchPage() {
  std::string text = "<svg width='400' height='300'><metadata><I2CAddress>0x30</I2CAddress></metadata>";
  char line[256];
  for (int i = 0; i < 4; ++i) {
    std::snprintf(line, sizeof line,
                  "<rect x='%d' y='20' width='30' height='20' function='switch' Bit='0' I2CPage='0'"
                  " I2CRegister='%d'/><line x1='%d' y1='40' x2='%d' y2='80'/>",
                  20 + 60 * i, 10 + i, 35 + 60 * i, 35 + 60 * i);
    text += line;
  }
  return text + "</svg>";
}

// How two pictures differ: "" when they are equal.
std::string Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  int count = 0;
  QPoint first;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y) && !count++) first = QPoint(x, y);
  if (!count) return "";
  return std::to_string(count) + " pixels differ, the first at " + std::to_string(first.x()) + "," +
         std::to_string(first.y());
}

class BoardDrawingTest : public DiagramPagesTest {
 protected:
  TDiagramForm* OpenSwitchPage() {
    testsupport::WriteFile(dir_.File("switches.svg"), SwitchPage());
    return Open("B", "<L><B Diagram-1='switches.svg'/></L>");
  }
  static uint8_t& Image(TDiagramForm* form, int page, int reg) {
    return *form->GetLink()->GetRegisterImage(0x30, 0, unsigned(page), unsigned(reg));
  }
  // The switch states on registers 10..13.
  static std::vector<int> States(TDiagramForm* form) {
    std::vector<int> states;
    for (int reg = 10; reg <= 13; ++reg) states.push_back(FindSwitch(form, reg, 0)->GetSwitchState());
    return states;
  }
};

TEST_F(BoardDrawingTest, EveryWindowOnAChangedBlockFollowsIt) {
  TDiagramForm* form = OpenSwitchPage();
  ASSERT_EQ(States(form), (std::vector<int>{0, 0, 0, 0}));
  const struct {
    const char* how;
    void (*change)(TDiagramForm* form);
  } cases[] = {
      // A window's write of registers 10..12 (the image holds the bytes already).
      {"write", [](TDiagramForm* form) { TDiagramForm::ObjectWrite(form, 0x30, 0, 10, 3); }},
      // The link's refresh report of the same block.
      {"refresh", [](TDiagramForm* form) { form->NotifyRegisterObjects(0x30, 0, 0, 10, 3); }},
  };
  for (const auto& c : cases) {
    for (int reg = 10; reg <= 13; ++reg) Image(form, 0, reg) = 1;
    c.change(form);
    // Register 13 lies outside the block: its switch waits for its own news.
    EXPECT_EQ(States(form), (std::vector<int>{1, 1, 1, 0})) << c.how;
    for (int reg = 10; reg <= 13; ++reg) Image(form, 0, reg) = 0;
    form->UpdateObjects(0, 0, 0, true);
    EXPECT_EQ(States(form), (std::vector<int>{0, 0, 0, 0})) << c.how;
  }
}

TEST_F(BoardDrawingTest, ARefreshReportDrawsWhatChangedOnce) {
  TDiagramForm* form = OpenSwitchPage();
  TPageDrawing* drawing = form->Drawing();
  ASSERT_NE(drawing, nullptr);
  const unsigned whole = drawing->WholeForegroundDraws();
  const QImage before = form->Foreground()->Image().copy();
  for (int reg = 10; reg <= 12; ++reg) Image(form, 0, reg) = 1;
  form->NotifyRegisterObjects(0x30, 0, 0, 10, 3);
  EXPECT_EQ(States(form), (std::vector<int>{1, 1, 1, 0}));
  // One pass drew the three levers, and nothing drew the whole page.
  EXPECT_EQ(drawing->LastPass(), TPageDrawing::TPass::kChanged);
  EXPECT_EQ(drawing->LastPassChanges(), 3u);
  EXPECT_EQ(drawing->WholeForegroundDraws(), whole);
  EXPECT_NE(form->Foreground()->Image(), before);
  // The same report again changes nothing and draws nothing.
  const QImage after = form->Foreground()->Image().copy();
  form->NotifyRegisterObjects(0x30, 0, 0, 10, 3);
  EXPECT_EQ(drawing->LastPass(), TPageDrawing::TPass::kNothing);
  EXPECT_EQ(drawing->WholeForegroundDraws(), whole);
  EXPECT_EQ(form->Foreground()->Image(), after);
  EXPECT_TRUE(form->DrawingEnabled());
}

// An entry in the register inspector notifies the page's windows in one
// pass that draws only the switch that changed.
TEST_F(BoardDrawingTest, AnInspectorEntryDrawsWhatChangedOnce) {
  TDiagramForm* form = OpenSwitchPage();
  TPageDrawing* drawing = form->Drawing();
  ASSERT_NE(drawing, nullptr);
  const unsigned whole = drawing->WholeForegroundDraws();
  Image(form, 0, 11) = 1;
  TDiagramForm::InspectorAccess(form, 0x30, 0, 0, 11, 0);
  EXPECT_EQ(States(form), (std::vector<int>{0, 1, 0, 0}));
  EXPECT_EQ(drawing->LastPass(), TPageDrawing::TPass::kChanged);
  EXPECT_EQ(drawing->LastPassChanges(), 1u);
  EXPECT_EQ(drawing->WholeForegroundDraws(), whole);
  EXPECT_TRUE(form->DrawingEnabled());
}

// For every register window of every kit page: its first register turned
// over and back, each change notified as a write notifies it; after each
// pass both bitmaps equal what a whole redraw draws.
TEST_F(BoardDrawingTest, DrawingWhatChangedGivesThePixelsOfAWholeRedraw) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TPageDrawing* drawing = form->Drawing();
  ASSERT_NE(drawing, nullptr);
  struct Page {
    const char* name;
    void (*show)(TDiagramForm* form);
  } pages[] = {{"Page1", [](TDiagramForm* f) { f->DisplayFullClick(); }},
               {"Page2", [](TDiagramForm* f) { f->DisplayPlaybackClick(); }},
               {"Clock", [](TDiagramForm* f) { f->ShowClockPage(); }}};
  int partial = 0;
  for (const Page& p : pages) {
    p.show(form);
    TBlockDiagram* page = form->CurrentPage();
    ASSERT_NE(page, nullptr) << p.name;
    for (unsigned w = 0; w < page->RegisterWindowCount(); ++w) {
      TI2CObject* window = page->RegisterWindow(w);
      // The streaming widgets draw their readings straight onto the page,
      // beside any redraw; their own tests look at those pixels.
      if (dynamic_cast<TStreamingShape*>(window)) continue;
      uint8_t* byte = form->GetLink()->GetRegisterImage(unsigned(window->GetDevice()), 0, unsigned(window->GetPage()),
                                                        unsigned(window->GetFirstRegister()));
      if (!byte) continue;
      for (int turn = 0; turn < 2; ++turn) {
        *byte ^= 0xFF;
        form->UpdateObjects(window->GetDevice(), window->GetPage(), window->GetFirstRegister(), false);
        if (drawing->LastPass() == TPageDrawing::TPass::kChanged) ++partial;
        const QImage front = form->Foreground()->Image().copy(), back = form->Background()->Image().copy();
        form->Redraw();
        ASSERT_EQ(form->Background()->Image(), back) << p.name << " window " << w << " turn " << turn;
        ASSERT_EQ(form->Foreground()->Image(), front) << p.name << " window " << w << " turn " << turn;
      }
    }
  }
  // The passes above drew what changed alone, not the whole page.
  EXPECT_GT(partial, 20);
}

TEST_F(BoardDrawingTest, AChangeBesideAndOfALitObjectGivesThePixelsOfAWholeRedraw) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  TSwitch* lit = FindSwitch(form, 63, 7);
  TSwitch* other = FindSwitch(form, 63, 6);
  ASSERT_TRUE(lit && other);
  // The pointer over one switch, and the fade's tick that lights it.
  const QPoint at = Centre(lit);
  form->BlockDiagramPaintBoxMouseMove(at.x(), at.y());
  form->CurrentPage()->GetProximityTimer()->Tick();
  ASSERT_EQ(lit->GetFadeState(), kFadeLit);
  uint8_t& byte = Image(form, 0, 63);
  for (uint8_t bit : {uint8_t(0x40), uint8_t(0x80), uint8_t(0xC0)}) {
    byte ^= bit;
    form->UpdateObjects(0x30, 0, 63, false);
    EXPECT_EQ(form->Drawing()->LastPass(), TPageDrawing::TPass::kChanged) << int(bit);
    const QImage front = form->Foreground()->Image().copy(), back = form->Background()->Image().copy();
    form->Redraw();
    EXPECT_EQ(form->Background()->Image(), back) << int(bit);
    EXPECT_EQ(form->Foreground()->Image(), front) << int(bit);
  }
  EXPECT_EQ(lit->GetFadeState(), kFadeLit);
}

// The first show passes through the zoom box's design text ("200%") on its
// way to 100 %, and a zoom may come before it: bitmaps are made only when
// the window first draws, at the zoom it draws at, and a later zoom of the
// same size keeps them.
TEST_F(BoardDrawingTest, BitmapsAreMadeWhenTheWindowFirstDraws) {
  area_.hide();
  LoadList("");
  TDiagramForm* form = OpenBoardWindow(&area_, list_.document_element().child("QMX7XXXEVM"), true, "QMX7XXXEVM");
  ASSERT_FALSE(form->DrawingEnabled());
  form->ZoomBox->setEditText("150%");
  EXPECT_FLOAT_EQ(form->Zoom(), 1.5f * 1536 / 1000);
  EXPECT_EQ(form->Foreground(), nullptr);
  EXPECT_EQ(form->Background(), nullptr);
  area_.show();
  PumpEvents();
  ASSERT_TRUE(form->DrawingEnabled());
  ASSERT_NE(form->Foreground(), nullptr);
  EXPECT_EQ(form->Foreground()->Width(), 1536);
  EXPECT_EQ(form->Background()->Width(), 1536);
  const uchar* front = form->Foreground()->Image().constBits();
  const uchar* back = form->Background()->Image().constBits();
  form->ZoomBox->setEditText("100 %");
  EXPECT_EQ(form->Foreground()->Image().constBits(), front);
  EXPECT_EQ(form->Background()->Image().constBits(), back);
}

// A window that has been at other zooms draws at each zoom of the box what
// a window opened and set to that zoom draws, on both bitmaps; and a pass
// of changes right after a zoom draws what a whole redraw draws. The first
// zoom is the largest, so the smaller ones find its pixels in their memory.
TEST_F(BoardDrawingTest, AZoomDrawsWhatAWindowOpenedAtThatZoomDraws) {
  LoadList("");
  const pugi::xml_node kit = list_.document_element().child("QMX7XXXEVM");
  TDiagramForm* form = OpenBoardWindow(&area_, kit, false);
  ASSERT_NE(form->Foreground(), nullptr);
  form->ZoomBox->setCurrentText("200%");
  for (int i = 0; i < form->ZoomBox->count(); ++i) {
    const QString zoom = form->ZoomBox->itemText(i);
    const std::string name = zoom.toStdString();
    form->ZoomBox->setCurrentText(zoom);
    TDiagramForm* fresh = OpenBoardWindow(&area_, kit, false);
    fresh->ZoomBox->setCurrentText(zoom);
    ASSERT_EQ(fresh->Foreground()->Image().size(), form->Foreground()->Image().size()) << name;
    EXPECT_EQ(Difference(form->Foreground()->Image(), fresh->Foreground()->Image()), "") << name;
    // A hover's redraw of the foreground draws the background first: both
    // as drawing the background and then the foreground draws them.
    form->DrawForeground();
    const QImage hovered = form->Foreground()->Image().copy(), under = form->Background()->Image().copy();
    form->DrawBackground();
    form->DrawForeground();
    EXPECT_EQ(Difference(form->Background()->Image(), under), "") << name;
    EXPECT_EQ(Difference(form->Foreground()->Image(), hovered), "") << name;

    // In the fresh window: away and back, then a switch's register
    // changes.
    fresh->ZoomBox->setCurrentText(i ? fresh->ZoomBox->itemText(i - 1) : QString("200%"));
    fresh->ZoomBox->setCurrentText(zoom);
    TSwitch* lever = FindSwitch(fresh, 63, 7);
    ASSERT_NE(lever, nullptr);
    const int state = lever->GetSwitchState();
    Image(fresh, 0, 63) ^= 0x80;
    fresh->UpdateObjects(0x30, 0, 63, false);
    EXPECT_NE(lever->GetSwitchState(), state) << name;
    EXPECT_EQ(fresh->Drawing()->LastPass(), TPageDrawing::TPass::kChanged) << name;
    const QImage front = fresh->Foreground()->Image().copy(), back = fresh->Background()->Image().copy();
    fresh->Redraw();
    EXPECT_EQ(Difference(fresh->Background()->Image(), back), "") << name;
    EXPECT_EQ(Difference(fresh->Foreground()->Image(), front), "") << name;
    delete fresh;
    PumpEvents();
  }
}

// A register value a switch-like widget is turned to.
struct Turn {
  std::string widget;  // its function, register and field, for the message
  int page, reg;
  uint8_t value;
};

// Every other value of a widget's field in `start`: its bit flipped, each
// other position of a lever, each other source of a crossbar's destination.
std::vector<Turn> Turns(TI2CObject* window, const uint8_t* start) {
  std::vector<Turn> turns;
  const auto field = [&](int reg, const uint8_t byte, unsigned mask, unsigned shift, unsigned values) {
    const std::string widget = dynamic_cast<TGUIObject*>(window)->GetFunctionName() + " " +
                               std::to_string(window->GetPage()) + "/" + std::to_string(reg) + " mask " +
                               std::to_string(mask);
    for (unsigned v = 0; v < values; ++v) {
      const uint8_t value = uint8_t((byte & ~mask) | ((v << shift) & mask));
      if (value != byte) turns.push_back({widget, window->GetPage(), reg, value});
    }
  };
  const int reg = window->GetFirstRegister();
  if (window->GetPage() >= 128 || reg > 127) return turns;  // no register
  if (auto* s = dynamic_cast<TSwitch*>(window)) field(reg, start[0], 1u << s->GetBit(), unsigned(s->GetBit()), 2);
  else if (auto* c = dynamic_cast<TPlCheckBox*>(window)) field(reg, start[0], 1u << c->GetBit(), c->GetBit(), 2);
  else if (auto* t = dynamic_cast<TToggle*>(window))
    field(reg, start[0], unsigned(t->GetMask()), unsigned(t->GetShift()), unsigned(t->GetPositions()));
  else if (auto* i = dynamic_cast<TImpedanceSelect*>(window))
    field(reg, start[0], unsigned(i->GetMask()), unsigned(i->GetShift()), 4);
  else if (auto* x = dynamic_cast<TDIRSelect*>(window))
    for (unsigned d = 0; d < x->GetDestinationCount(); ++d)
      field(reg + int(d), start[d], x->GetMask(), x->GetShift(), x->GetSourceCount());
  return turns;
}

// What differs between the two windows' bitmaps: "" when both are equal.
// The background is drawn anew in both first, with the foreground on it
// (a muted amplifier or a mixer that went inert is drawn there).
std::string BitmapsDiffer(TDiagramForm* form, TDiagramForm* fresh) {
  const std::string front = Difference(form->Foreground()->Image(), fresh->Foreground()->Image());
  if (!front.empty()) return "foreground: " + front;
  for (TDiagramForm* f : {form, fresh}) {
    f->DrawBackground();
    f->DrawForeground();
  }
  const std::string back = Difference(form->Background()->Image(), fresh->Background()->Image());
  return back.empty() ? "" : "background: " + back;
}

// For every switch-like widget of every kit page: its field turned over
// and back on the board, each change read back by Refresh; the window then
// draws what a window opened at that register image draws, and a second
// Refresh of an image draws what the first drew. A page stops at its first
// difference, which every later turn would carry.
TEST_F(BoardDrawingTest, AFieldTurnedOverAndBackDrawsWhatAFreshWindowDraws) {
  LoadList("");
  using Show = void (*)(TDiagramForm*);
  const Show page1 = [](TDiagramForm* f) { f->DisplayFullClick(); };
  const Show page2 = [](TDiagramForm* f) { f->DisplayPlaybackClick(); };
  const Show clock = [](TDiagramForm* f) { f->ShowClockPage(); };
  const struct {
    const char* board;
    std::vector<std::pair<const char*, Show>> pages;
  } boards[] = {{"QMX7XXXEVM", {{"Page1", page1}, {"Page2", page2}, {"Clock", clock}}},
                {"QMX7200EVM", {{"Page1", page1}}}};
  int turned = 0;
  for (const auto& b : boards) {
    const pugi::xml_node kind = list_.document_element().child(b.board);
    TDiagramForm* form = OpenBoardWindow(&area_, kind, true, b.board);
    TDiagramForm* fresh = OpenBoardWindow(&area_, kind, true, b.board);
    for (const auto& [name, show] : b.pages) {
      const std::string where = std::string(b.board) + " " + name;
      show(form);
      show(fresh);
      form->RefreshClick();
      ASSERT_EQ(BitmapsDiffer(form, fresh), "") << where;
      const auto turnAll = [&] {
        TBlockDiagram* page = form->CurrentPage();
        for (unsigned w = 0; w < page->RegisterWindowCount(); ++w) {
          TI2CObject* window = page->RegisterWindow(w);
          const uint8_t* start = form->GetLink()->GetRegisterImage(
              unsigned(window->GetDevice()), 0, unsigned(window->GetPage()), unsigned(window->GetFirstRegister()));
          if (!start) continue;
          for (const Turn& t : Turns(window, start)) {
            const int before = QuillbusGetRegister(0, 0x30, 0, t.page, t.reg);
            QuillbusSetRegister(0, 0x30, 0, t.page, t.reg, t.value);
            form->RefreshClick();
            // Read again, the same image draws the same.
            const QImage turnedOver = form->Foreground()->Image().copy();
            form->RefreshClick();
            const std::string again = Difference(form->Foreground()->Image(), turnedOver);
            if (!again.empty()) {
              ADD_FAILURE() << where << ": " << t.widget << " to " << int(t.value) << ", read twice: " << again;
              return;
            }
            QuillbusSetRegister(0, 0x30, 0, t.page, t.reg, before);
            form->RefreshClick();
            ++turned;
            const std::string differ = BitmapsDiffer(form, fresh);
            if (!differ.empty()) {
              ADD_FAILURE() << where << ": " << t.widget << " to " << int(t.value) << " and back: " << differ;
              return;
            }
          }
        }
      };
      turnAll();
    }
    delete fresh;
    delete form;
    PumpEvents();
  }
  EXPECT_GT(turned, 40);
}

// The same by real clicks on the levers' hit areas, round to where they
// began, the pointer then leaving the page.
TEST_F(BoardDrawingTest, LeversClickedRoundDrawWhatAFreshWindowDraws) {
  const struct {
    const char* function;
    int page, reg, bit, clicks;
  } cases[] = {
      {"switch", 0, 63, 7, 2},  // the left DAC's power: off, on, off
      {"switch", 0, 63, 6, 2},
      {"toggle", 1, 35, -1, 3},  // the bypass route: off, left, right, off
  };
  for (const auto& c : cases) {
    const std::string what = std::string(c.function) + " " + std::to_string(c.reg);
    TDiagramForm* form = Open("QMX7XXXEVM");
    TGUIObject* lever = nullptr;
    TBlockDiagram* page = form->CurrentPage();
    for (unsigned i = 0; i < page->ObjectCount() && !lever; ++i) {
      auto* window = dynamic_cast<TI2CObject*>(page->Object(i));
      auto* bit = dynamic_cast<TSwitch*>(page->Object(i));
      if (window && page->Object(i)->GetFunctionName() == c.function && window->GetPage() == c.page &&
          window->GetFirstRegister() == c.reg && (!bit || bit->GetBit() == c.bit))
        lever = page->Object(i);
    }
    ASSERT_NE(lever, nullptr) << what;
    const int start = QuillbusGetRegister(0, 0x30, 0, c.page, c.reg);
    std::vector<int> values;
    for (int i = 0; i < c.clicks; ++i) {
      QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, Centre(lever));
      values.push_back(QuillbusGetRegister(0, 0x30, 0, c.page, c.reg));
    }
    // Each click wrote the board, the last one the value it began with.
    EXPECT_NE(values.front(), start) << what;
    EXPECT_EQ(values.back(), start) << what;
    // The pointer leaves, and the fade's ticks run out.
    form->BlockDiagramPaintBoxMouseLeave();
    for (int tick = 0; tick < 20 && lever->GetFadeState() != kFadeIdle; ++tick)
      page->GetProximityTimer()->Tick();
    ASSERT_EQ(lever->GetFadeState(), kFadeIdle) << what;
    TDiagramForm* fresh = Open("QMX7XXXEVM");
    EXPECT_EQ(BitmapsDiffer(form, fresh), "") << what;
    delete fresh;
    delete form;
    PumpEvents();
  }
}

}  // namespace
