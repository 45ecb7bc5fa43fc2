// Where a register window is pointed into a link's image: never outside it.
#include "diagram/register_binding.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include "common/canvas.h"
#include "page_fixture.h"

namespace {

class Window : public TI2CObject {
 public:
  Window(int device, int page, int first, int count) : TI2CObject(device, page, first, count, nullptr) {}
  void Refresh() override {}
};

// The link's image rule: device 0x30 paged (256 pages of 128 bytes),
// device 0x18 unpaged (one page); null outside.
uint8_t paged[256 * 128];
uint8_t unpaged[128];
uint8_t* Image(unsigned address, unsigned book, unsigned page, unsigned reg) {
  if (book != 0 || reg >= 128) return nullptr;
  if (address == 0x30 && page < 256) return paged + page * 128 + reg;
  if (address == 0x18 && page == 0) return unpaged + reg;
  return nullptr;
}

}  // namespace

TEST(RegisterBinding, WindowsOutsideTheImageAreNotBound) {
  struct Case {
    int device, page, first, count;
    bool bound;
  } cases[] = {{0x30, 1, 0, 64, true},  {0x30, 255, 120, 8, true}, {0x30, 1, 120, 16, false},
               {0x18, 0, 0, 128, true}, {0x18, 1, 0, 1, false},    {0x18, 0, 127, 2, false},
               {0x44, 0, 0, 1, false},  {0x30, 0, -1, 1, false},   {0x30, 0, 0, 0, false}};
  for (const Case& c : cases) {
    Window window(c.device, c.page, c.first, c.count);
    uint8_t* data = RegisterWindowImage(window, Image);
    EXPECT_EQ(data != nullptr, c.bound) << c.device << " " << c.page << " " << c.first << " " << c.count;
    if (data) {
      EXPECT_EQ(data, Image(unsigned(c.device), 0, unsigned(c.page), unsigned(c.first)));
    }
  }
}

TEST(RegisterBinding, APageGoesWithItsTimerStoppedWhileObjectsFade) {
  diagramtest::PageFixture f;
  auto page = f.Load("<rect x=\"0\" y=\"0\" width=\"20\" height=\"20\" function=\"a\"/>");
  TCanvas canvas;
  canvas.SetSize(50, 50, 0);
  page->Object(0)->Paint(&canvas);
  page->Object(0)->MouseMove(10, 10);
  EXPECT_TRUE(page->GetProximityTimer()->Enabled());
  page.reset();
  QThread::msleep(5);
  QCoreApplication::processEvents();  // no tick reaches a freed object
}
