// Pages the loader fuzzer found faults with: each case loads, places,
// draws and clicks one such page, which must stay defined and bounded.
#include <gtest/gtest.h>

#include <QScrollArea>
#include <cmath>
#include <limits>
#include <string>

#include "common/canvas.h"
#include "common/shapes.h"
#include "diagram/register_binding.h"
#include "page_fixture.h"

using diagramtest::PageFixture;

namespace {

// What the board window does with a page: place, draw, hover and click.
// The objects keep drawing on `canvas` (a later placement repaints).
void Exercise(TBlockDiagram& page, TCanvas& canvas) {
  page.SetZoom(1.0, 0, 0);
  canvas.SetSize(64, 48, 0x00F0F0F0);
  {
    TCanvasLock lock(canvas);
    for (unsigned i = 0; i < page.ObjectCount(); ++i) page.Object(i)->Paint(&canvas);
  }
  for (unsigned i = 0; i < page.ObjectCount(); ++i) {
    page.Object(i)->MouseMove(10, 10);
    page.Object(i)->Click(10, 10);
  }
}

void Exercise(TBlockDiagram& page) {
  TCanvas canvas;
  Exercise(page, canvas);
}

}  // namespace

// A coordinate beyond float (inf once read) was converted to int when the
// object was placed and drawn.
TEST(FuzzRegressionTest, HugeCoordinatesArePlacedInsideTheRange) {
  PageFixture f;
  auto page = f.Load(
      "<rect x=\"1e300\" y=\"-1e300\" width=\"1\" height=\"1\"/>"
      "<rect x=\"0\" y=\"0\" width=\"3e12\" height=\"20\" function=\"toggle\" Mask=\"3\" Shift=\"0\" I2CPage=\"0\" "
      "I2CRegister=\"1\" transform=\"matrix(1e38,0,0,1e38,0,0)\"/>"
      "<polygon points=\"0,0 1e30,0 0,1e30\" transform=\"scale(1e30,1e30)\"/>");
  ASSERT_EQ(page->ObjectCount(), 3u);
  Exercise(*page);
  const TPointF corner = page->Object(0)->GetPlacedPoint(0);
  EXPECT_EQ(corner.x, kMaxPlacedCoordinate);
  EXPECT_EQ(corner.y, -kMaxPlacedCoordinate);
  for (unsigned i = 0; i < 3; ++i) {
    const TPointF p = page->Object(1)->GetPlacedPoint(i);
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    EXPECT_LE(std::fabs(p.x), kMaxPlacedCoordinate);
  }
}

// A text's position, font size and line offset from the file were
// converted to int unchecked.
TEST(FuzzRegressionTest, HugeTextPositionFontSizeAndLineOffsetStayDefined) {
  PageFixture f;
  auto page = f.Load(
      "<text x=\"1e300\" y=\"1e300\"><tspan font-size=\"2147483647\">a</tspan><tspan dy=\"1e300\">b</tspan></text>");
  ASSERT_EQ(page->ObjectCount(), 1u);
  Exercise(*page);
  auto* text = dynamic_cast<TGUIText*>(page->Object(0));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetPlacedPosition().x, kMaxPlacedCoordinate);
  EXPECT_EQ(text->GetPlacedFontSize(), 4096);
  EXPECT_EQ(text->GetLineOffset(1), int(kMaxPlacedCoordinate) + 5);
}

// The smallest int as a font size wrapped when the size was taken one below it.
TEST(FuzzRegressionTest, SmallestFontSizeDoesNotWrap) {
  PageFixture f;
  auto page = f.Load("<text x=\"5\" y=\"5\"><tspan font-size=\"-2147483648\">a</tspan></text>");
  ASSERT_EQ(page->ObjectCount(), 1u);
  Exercise(*page);
  auto* text = dynamic_cast<TGUIText*>(page->Object(0));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetFontSize(), std::numeric_limits<int>::min());
}

// A first register near the int limit overflowed the window's last register
// in the change notice and in the binding to the link's image.
TEST(FuzzRegressionTest, FirstRegisterNearTheIntLimitDoesNotOverflow) {
  PageFixture f;
  auto page = f.Load(
      "<rect x=\"0\" y=\"0\" width=\"9\" height=\"9\" function=\"DIRSelect\" I2CPage=\"0\" I2CRegister=\"2147483647\" "
      "SrcPositions=\"1\" DstPositions=\"1,2\"/>");
  ASSERT_EQ(page->RegisterWindowCount(), 1u);
  TI2CObject* window = page->RegisterWindow(0);
  ASSERT_EQ(window->GetFirstRegister(), 2147483647);
  ASSERT_EQ(window->GetCount(), 2);
  window->OnRegisterChanged(window->GetDevice(), window->GetPage(), 2147483647u);
  uint8_t image[128] = {};
  EXPECT_EQ(RegisterWindowImage(*window, [&](unsigned, unsigned, unsigned, unsigned reg) {
              return reg < 128 ? image + reg : nullptr;
            }),
            nullptr);
}

// The readouts, the SAR readout and the touch block sized their images from
// the file's rectangle before it was placed: a side of 3e9 or inf (1e39 read
// as a float) or NaN (inf less inf) was converted to int unchecked.
TEST(FuzzRegressionTest, StreamingWidgetsOfHugeOrNaNSizeLoadAndDraw) {
  QScrollArea owner;  // the readouts' check boxes and the SAR window are built
  owner.resize(200, 150);
  struct Side {
    const char* at;
    const char* length;
  };
  const Side sides[] = {{"0", "3e9"}, {"0", "1e39"}, {"0", "-1e39"}, {"1e39", "-1e39"}};
  for (const char* function : {"DSVoiceRecordData", "IN1IN2Data", "SARData", "touchscreen"}) {
    for (const Side& wide : sides) {
      for (const Side& high : {Side{"0", "20"}, wide}) {
        const std::string what = std::string(function) + " x=" + wide.at + " width=" + wide.length +
                                 " y=" + high.at + " height=" + high.length;
        TCanvas canvas;  // outlives the page, which draws on it
        PageFixture f;
        f.context.owner = &owner;
        auto page = f.Load(std::string("<rect x=\"") + wide.at + "\" y=\"" + high.at + "\" width=\"" + wide.length +
                           "\" height=\"" + high.length + "\" function=\"" + function + "\"/>");
        ASSERT_EQ(page->ObjectCount(), 1u) << what;
        page->SetVisible(true);
        Exercise(*page, canvas);
        page->SetZoom(3.0, -7, 11);
        Exercise(*page, canvas);
      }
    }
  }
}

// An amplifier's gain edit stood at its text location from the file, placed
// unchecked: the boxes beside it then overflowed int.
TEST(FuzzRegressionTest, AmplifierTextLocationFarAwayStaysInTheRange) {
  QScrollArea owner;
  owner.resize(200, 150);
  for (const char* location : {"3e9,3e9", "1e39,-1e39", "-3e38,2147483000"}) {
    PageFixture f;
    f.context.owner = &owner;
    auto page = f.Load(std::string("<polygon points=\"0,0 0,20 20,10\" function=\"amplifier\" min=\"-12\" "
                                   "max=\"12\" step=\"1\" I2CPage=\"0\" I2CRegister=\"5\" Mask=\"31\" "
                                   "Shift=\"0\" ShowMute=\"1\" ShowPower=\"1\" TextLocation=\"") +
                       location + "\"/>");
    ASSERT_EQ(page->ObjectCount(), 1u) << location;
    page->SetVisible(true);
    Exercise(*page);
  }
}
