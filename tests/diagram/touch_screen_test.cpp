// The touch-screen block against a bound register image: the requests of
// each mode, the decoding, the segments drawn and the form's register bits.
#include <gtest/gtest.h>

#include <QPoint>
#include <QSlider>
#include <chrono>
#include <tuple>
#include <vector>

#include "common/canvas.h"
#include "diagram/data_readouts.h"
#include "diagram/touch_screen.h"
#include "platform/gui/gui.h"

namespace {

using Call = std::tuple<int, int, int, int, int>;  // device, page, register, count, rate (-1: a write)

struct Host {
  std::vector<Call> calls;
  static void Write(void* user, int device, int page, int reg, int count) {
    static_cast<Host*>(user)->calls.emplace_back(device, page, reg, count, -1);
  }
  static void Poll(void* user, int device, int page, int reg, int count, int rate) {
    static_cast<Host*>(user)->calls.emplace_back(device, page, reg, count, rate);
  }
};

class TouchScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gui::Install();
    block = std::make_unique<TTouchScreen>(&owner, rect, nullptr, nullptr, 0);
    block->SetData(Byte(3, 0));
    block->SetCallbacks(&host, Host::Write, nullptr, nullptr);
    block->SetRefreshRequest(Host::Poll);
    block->Place(1.0f, 0, 0);
    block->SetMode(1, nullptr);
  }
  uint8_t* Byte(int page, int reg) { return &image[size_t(page) * 128 + size_t(reg)]; }
  void Put(int page, int reg, int value) {
    *Byte(page, reg) = uint8_t(value >> 8);
    *Byte(page, reg + 1) = uint8_t(value);
  }

  QWidget owner;
  const float rect[6] = {10, 10, 210, 160, 1, 1};
  std::vector<uint8_t> image = std::vector<uint8_t>(256 * 128);
  Host host;
  std::unique_ptr<TTouchScreen> block;
};

TEST_F(TouchScreenTest, EachModePollsAndReadsItsPagesAndDrawsSegments) {
  struct Case {
    int mode;
    Call first;          // the stream's first request
    int statusPage, statusReg;
    Call read;           // after a clear status bit
    int dataPage;
    Call back;           // after the data
  } cases[] = {
      {TTouchScreen::kNBM1, {0, 3, 14, 1, 50}, 3, 14, {0, 252, 1, 32, 50}, 252, {0, 3, 14, 1, 50}},
      {TTouchScreen::kNBM2, {0, 103, 38, 1, 50}, 103, 38, {0, 251, 1, 16, 50}, 251, {0, 103, 38, 1, 50}},
      {TTouchScreen::kNBM2IN12, {0, 103, 38, 1, 50}, 103, 38, {0, 251, 1, 24, 50}, 251, {0, 103, 38, 1, 50}},
  };
  for (const Case& c : cases) {
    block->OnUnhighlighted();
    block->SetTouchMode(c.mode);
    host.calls.clear();
    block->OnHighlighted();
    EXPECT_EQ(host.calls.back(), c.first) << c.mode;
    *Byte(c.statusPage, c.statusReg) = 0x02;  // converting
    block->OnRegisterChanged(0, c.statusPage, unsigned(c.statusReg));
    EXPECT_EQ(host.calls.size(), 1u) << c.mode;
    *Byte(c.statusPage, c.statusReg) = 0;
    block->OnRegisterChanged(0, c.statusPage, unsigned(c.statusReg));
    EXPECT_EQ(host.calls.back(), c.read) << c.mode;
    // a = 4096 - x; the second coordinate at 17:18 (NBM1) or 9:10 (NBM2).
    const int yReg = c.dataPage == 252 ? 17 : 9;
    Put(c.dataPage, 1, 4097);  // no touch: a new stroke follows
    block->OnRegisterChanged(0, c.dataPage, 1);
    const int segments = block->Segments();
    Put(c.dataPage, 1, 4096 - 1000), Put(c.dataPage, yReg, 2000);
    block->OnRegisterChanged(0, c.dataPage, 1);
    EXPECT_EQ(host.calls.back(), c.back) << c.mode;
    Put(c.dataPage, 1, 4096 - 3000), Put(c.dataPage, yReg, 1000);
    block->OnRegisterChanged(0, c.dataPage, 1);
    EXPECT_EQ(block->Segments(), segments + 1) << c.mode;
    // An invalid sample breaks the stroke: the next valid one draws nothing.
    Put(c.dataPage, 1, 4097);
    block->OnRegisterChanged(0, c.dataPage, 1);
    Put(c.dataPage, 1, 0);
    block->OnRegisterChanged(0, c.dataPage, 1);
    EXPECT_EQ(block->Segments(), segments + 1) << c.mode;
  }
  // The segment from (1000, 2000) to (3000, 1000) in a 196 x 146 image: (47, 75) .. (143, 111).
  const TCanvas& bitmap = block->BlockBitmap();
  int trace = 0;
  for (int x = 45; x < 146; ++x)
    for (int y = 70; y < 116; ++y) trace += bitmap.PixelColour(x, y) == 0xFF0000u;
  EXPECT_GT(trace, 90);
  EXPECT_EQ(bitmap.PixelColour(20, 130), 0xFFFFFFu);
}

TEST_F(TouchScreenTest, DSReadsPage254AndAModeSwitchWaitsHalfASecond) {
  block->OnHighlighted();
  block->SetMode(2, nullptr);  // the window is active
  const auto start = std::chrono::steady_clock::now();
  block->SetTouchMode(TTouchScreen::kDS);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  const std::vector<Call> switched = {{0, 3, 14, 1, 50}, {0, 3, 14, 1, 0}, {0, 254, 1, 4, 50}};
  EXPECT_EQ(host.calls, switched);
  // DS: 12-bit values from two bytes each; a > 4 and b < 4092 is a touch.
  *Byte(254, 1) = 0x40, *Byte(254, 2) = 0x00;  // a = 2048
  *Byte(254, 3) = 0x20, *Byte(254, 4) = 0x08;  // b = 1025
  block->OnRegisterChanged(0, 254, 1);
  block->OnRegisterChanged(0, 254, 1);
  EXPECT_EQ(block->Segments(), 1);
  EXPECT_EQ(host.calls.back(), Call(0, 254, 1, 4, 50));
}

TEST_F(TouchScreenTest, NBM2WithIN12FeedsTheLinkedReadout) {
  const float box[6] = {300, 10, 400, 60, 1, 1};
  TIN1IN2Data readout(&owner, box, nullptr, nullptr, 0);
  readout.Place(1.0f, 0, 0);
  block->Link(&readout, 0);
  block->SetTouchMode(TTouchScreen::kNBM2IN12);
  block->OnHighlighted();
  EXPECT_TRUE(readout.IsDriven());
  Put(251, 17, 0xF123), Put(251, 21, 0x0456);
  block->OnRegisterChanged(0, 251, 1);
  EXPECT_EQ(readout.GetIn1(), 0x123);
  EXPECT_EQ(readout.GetIn2(), 0x456);
  block->SetTouchMode(TTouchScreen::kDS);
  EXPECT_FALSE(readout.IsDriven());
  EXPECT_EQ(readout.GetMode(), 1);
}

TEST_F(TouchScreenTest, TheFormsControlsWriteTheirBits) {
  TTouchScreenForm* form = block->Form();
  EXPECT_EQ(form->windowTitle(), "TouchScreenForm");
  form->Precharge->setValue(12);
  EXPECT_EQ(form->PrechargeText->text(), "300 us");
  EXPECT_EQ(*Byte(103, 23) & 0xF0, 0xC0);
  EXPECT_EQ(host.calls.back(), Call(0, 103, 23, 1, -1));
  form->TouchDetection->click();
  EXPECT_EQ(*Byte(103, 25) & 0x80, form->TouchDetection->isChecked() ? 0 : 0x80);
  // The registers back into the controls.
  *Byte(103, 25) = 0x35, *Byte(103, 23) = 0x7A, *Byte(103, 27) = 0x80;
  block->OnRegisterChanged(0, 103, 25);
  EXPECT_EQ(form->XPPullUp->currentIndex(), 3);
  EXPECT_EQ(form->PanelStabilization->value(), 5);
  EXPECT_EQ(form->Sense->value(), 10);
  EXPECT_TRUE(form->TouchDetection->isChecked() && form->YMDriver->isChecked());
  // Unchecking Active leaves the block inert.
  block->SetActiveObjects(true);
  block->ActiveBox()->click();
  EXPECT_EQ(block->GetMode(), 0);
}

TEST_F(TouchScreenTest, TheTraceImageLiesInsideTheBlock) {
  // The kit's block has its corner-radius point at (0, 0): the bounding box
  // reaches the page origin, the rectangle does not.
  const float kit[6] = {60, 40, 260, 190, 0, 0};
  for (float scale : {1.0f, 0.8f * 2.46f}) {
    TTouchScreen touch(&owner, kit, nullptr, nullptr, 0);
    touch.SetData(Byte(3, 0));
    touch.Place(scale, 0, 0);
    const int x0 = int(60 * scale), y0 = int(40 * scale), x1 = int(260 * scale), y1 = int(190 * scale);
    EXPECT_EQ(touch.BlockBitmap().Width(), x1 - x0 - 4) << scale;
    EXPECT_EQ(touch.BlockBitmap().Height(), y1 - y0 - 4) << scale;
    // A stroke with its "X = ..., Y = ..." text at the image's top left.
    touch.DrawSegment(touch.BlockBitmap(), 0, 0, 4000, 4000);
    TCanvas canvas;
    canvas.SetSize(x1 + 20, y1 + 20, 0x00808080);
    touch.Paint(&canvas);
    // The page beside and above the block keeps its colour; inside, the image.
    for (const QPoint p : {QPoint(3, 3), QPoint(x0 / 2, y0 / 2), QPoint(x0 - 3, y0 + 10), QPoint(x0 + 10, y0 - 3),
                           QPoint(x1 + 4, y1 - 10), QPoint(x1 - 10, y1 + 4)})
      EXPECT_EQ(canvas.PixelColour(p.x(), p.y()), 0x808080u) << scale << " " << p.x() << "," << p.y();
    EXPECT_EQ(canvas.PixelColour((x0 + x1) / 2, y1 - 6), 0xFFFFFFu) << scale;
    int text = 0;
    for (int y = y0 + 2; y < y0 + 22; ++y)
      for (int x = x0 + 2; x < x0 + 152 && x < x1 - 2; ++x) text += (canvas.PixelColour(x, y) & 0xFF) < 0x40;
    EXPECT_GT(text, 20) << scale;
  }
}

}  // namespace
