// The touch-screen block against a bound register image: the requests of
// each mode, the decoding, the segments drawn and the form's register bits.
#include <gtest/gtest.h>

#include <QPoint>
#include <QSlider>
#include <QPointF>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
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
    Renew();
  }
  // A fresh block on a cleared image.
  void Renew() {
    block.reset();
    std::fill(image.begin(), image.end(), uint8_t(0));
    host.calls.clear();
    block = std::make_unique<TTouchScreen>(&owner, rect, nullptr, nullptr, 0);
    block->SetData(Byte(3, 0));
    block->SetCallbacks(&host, Host::Write, nullptr, nullptr);
    block->SetRefreshRequest(Host::Poll);
    block->Place(1.0f, 0, 0);
    block->SetMode(1, nullptr);
  }
  // A fresh block streaming in `mode`.
  void Streaming(int mode) {
    Renew();
    block->SetTouchMode(mode);
    block->OnHighlighted();
  }
  // One sample of the mode's data page, raw (a, b), with the other mode's
  // coordinate registers holding something else.
  int Sample(int mode, int a, int b) {
    if (mode == TTouchScreen::kDS) {
      *Byte(254, 1) = uint8_t(a >> 5), *Byte(254, 2) = uint8_t((a & 31) << 3);
      *Byte(254, 3) = uint8_t(b >> 5), *Byte(254, 4) = uint8_t((b & 31) << 3);
      return 254;
    }
    const int page = mode == TTouchScreen::kNBM1 ? 252 : 251;
    Put(page, 1, a);
    Put(page, mode == TTouchScreen::kNBM1 ? 17 : 9, b);
    Put(page, mode == TTouchScreen::kNBM1 ? 9 : 17, 0x0555);
    return page;
  }
  void Deliver(int mode, int a, int b) {
    const int page = Sample(mode, a, b);
    block->OnRegisterChanged(0, page, 1);
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

// Each mode decodes its own registers: x = 4096 - a, y = b, within the
// mode's window of valid touches; a sample outside it starts no stroke.
TEST_F(TouchScreenTest, EachModeDecodesItsCoordinatesAndItsValidTouches) {
  const int NBM1 = TTouchScreen::kNBM1, NBM2 = TTouchScreen::kNBM2, IN12 = TTouchScreen::kNBM2IN12,
            DS = TTouchScreen::kDS;
  struct Case {
    int mode, a, b;
    bool valid;
    int x, y;
  } cases[] = {
      {NBM1, 1000, 2000, true, 3096, 2000}, {NBM1, 4096, 4095, true, 0, 4095},
      {NBM1, 4097, 100, false, 0, 0},       {NBM1, 100, 4096, false, 0, 0},
      {NBM2, 1000, 2000, true, 3096, 2000}, {NBM2, 4096, 7, true, 0, 7},
      {NBM2, 4097, 100, false, 0, 0},       {NBM2, 100, 4096, false, 0, 0},
      {IN12, 3000, 1234, true, 1096, 1234}, {IN12, 4096, 9, true, 0, 9},
      // DS: twelve bits from a byte and the top five bits of the next.
      {DS, 2055, 1055, true, 2041, 1055},   {DS, 5, 4091, true, 4091, 4091},
      {DS, 4, 1000, false, 0, 0},           {DS, 1000, 4092, false, 0, 0},
      {DS, 4095, 4, true, 1, 4},
  };
  for (const Case& c : cases) {
    Streaming(c.mode);
    // The same sample twice: a stroke starts, then one segment to the same point.
    Deliver(c.mode, c.a, c.b);
    Deliver(c.mode, c.a, c.b);
    const std::string name = "mode " + std::to_string(c.mode) + " a " + std::to_string(c.a) + " b " +
                             std::to_string(c.b);
    EXPECT_EQ(block->Segments(), c.valid ? 1 : 0) << name;
    const std::pair<int, int> none = {0, 0};
    EXPECT_EQ(block->LastPoint(), c.valid ? std::make_pair(c.x, c.y) : none) << name;
  }
}

// Each mode's stroke, on a fresh block, lies where its two points are and
// nowhere else.
TEST_F(TouchScreenTest, EachModesStrokeIsDrawnWhereItsPointsAre) {
  for (int mode : {TTouchScreen::kNBM1, TTouchScreen::kNBM2, TTouchScreen::kNBM2IN12, TTouchScreen::kDS}) {
    Streaming(mode);
    // From (500, 1000) to (1500, 3000): left of the middle, so that its
    // mirror image lies apart from it.
    Deliver(mode, 4096 - 500, 1000);
    Deliver(mode, 4096 - 1500, 3000);
    ASSERT_EQ(block->Segments(), 1) << mode;
    const TCanvas& bitmap = block->BlockBitmap();
    const int w = bitmap.Width(), h = bitmap.Height();
    const QPointF from(w * 500 / 4096, h - h * 1000 / 4096), to(w * 1500 / 4096, h - h * 3000 / 4096);
    // Distance of a pixel from the segment.
    auto distance = [&](int x, int y) {
      const QPointF d = to - from, p = QPointF(x, y) - from;
      const double t = std::clamp(QPointF::dotProduct(p, d) / QPointF::dotProduct(d, d), 0.0, 1.0);
      const QPointF q = p - t * d;
      return std::sqrt(QPointF::dotProduct(q, q));
    };
    int on = 0, off = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (bitmap.PixelColour(x, y) == 0xFF0000u) ++(distance(x, y) <= 2.5 ? on : off);
    EXPECT_GT(on, 90) << mode;
    EXPECT_EQ(off, 0) << mode;
  }
}

// The refresh sets the track bars and, through their change handlers, their
// texts; it writes nothing.
TEST_F(TouchScreenTest, ARefreshSetsTheControlsAndTheirTextsAndWritesNothing) {
  TTouchScreenForm* form = block->Form();
  struct Case {
    uint8_t r23, r25, r27;
    int precharge, sense, panel, pullUp;
    const char *prechargeText, *senseText, *panelText;
    bool touchDetection, ymDriver;
  } cases[] = {
      {0xC5, 0x03, 0x00, 12, 5, 3, 0, "300 us", "500 us", "40 us", true, false},
      {0x3C, 0xF7, 0x80, 3, 12, 7, 7, "30 us", "1.2 ms", "80 us", false, true},
      {0x00, 0x00, 0x00, 0, 0, 0, 0, "3 us", "3 us", "10 us", true, false},
      {0xF1, 0x25, 0x00, 15, 1, 5, 2, "600 us", "100 us", "60 us", true, false},
  };
  for (const Case& c : cases) {
    *Byte(103, 23) = c.r23, *Byte(103, 25) = c.r25, *Byte(103, 27) = c.r27;
    const std::vector<uint8_t> before = image;
    host.calls.clear();
    block->OnRegisterChanged(0, 103, 23);
    const std::string name = std::to_string(c.r23) + "/" + std::to_string(c.r25);
    EXPECT_EQ(form->Precharge->value(), c.precharge) << name;
    EXPECT_EQ(form->Sense->value(), c.sense) << name;
    EXPECT_EQ(form->PanelStabilization->value(), c.panel) << name;
    EXPECT_EQ(form->XPPullUp->currentIndex(), c.pullUp) << name;
    EXPECT_EQ(form->PrechargeText->text().toStdString(), c.prechargeText) << name;
    EXPECT_EQ(form->SenseText->text().toStdString(), c.senseText) << name;
    EXPECT_EQ(form->PanelStabilizationText->text().toStdString(), c.panelText) << name;
    EXPECT_EQ(form->TouchDetection->isChecked(), c.touchDetection) << name;
    EXPECT_EQ(form->YMDriver->isChecked(), c.ymDriver) << name;
    EXPECT_TRUE(host.calls.empty()) << name;
    EXPECT_TRUE(image == before) << name;
  }
}

// Each control changes its own bits of its register and keeps the others.
TEST_F(TouchScreenTest, EachControlWritesItsOwnBits) {
  TTouchScreenForm* form = block->Form();
  struct Case {
    const char* name;
    std::function<void()> set;
    int page, reg;
    uint8_t before, after;
  } cases[] = {
      {"Precharge 12", [&] { form->Precharge->setValue(12); }, 103, 23, 0x05, 0xC5},
      {"Sense 9", [&] { form->Sense->setValue(9); }, 103, 23, 0xC0, 0xC9},
      {"Sense 2", [&] { form->Sense->setValue(2); }, 103, 23, 0x3F, 0x32},
      {"Panel 6", [&] { form->PanelStabilization->setValue(6); }, 103, 25, 0xF0, 0xF6},
      {"Pull-up 5", [&] { form->XPPullUp->setCurrentIndex(5); }, 103, 25, 0x8F, 0xDF},
      {"YM driver", [&] { form->YMDriver->click(); }, 103, 27, 0x01, 0x81},
  };
  for (const Case& c : cases) {
    *Byte(c.page, c.reg) = c.before;
    host.calls.clear();
    c.set();
    EXPECT_EQ(*Byte(c.page, c.reg), c.after) << c.name;
    EXPECT_EQ(host.calls, std::vector<Call>{Call(0, c.page, c.reg, 1, -1)}) << c.name;
  }
}

}  // namespace
