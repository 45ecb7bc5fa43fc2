// What the board window shows after register changes: every window on a
// changed block follows it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
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

}  // namespace
