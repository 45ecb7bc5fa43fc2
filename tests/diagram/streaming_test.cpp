// The streaming widgets against a bound register image: what they request,
// write and show.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QRadioButton>
#include <filesystem>
#include <tuple>
#include <vector>

#include "common/canvas.h"
#include "diagram/sar_data.h"
#include "tests/support/test_support.h"

namespace {

using Call = std::tuple<int, int, int, int, int>;  // device, page, register, count, rate (-1: a write)

struct Recorder {
  std::vector<Call> calls;
  uint8_t* image = nullptr;  // page 3, register 0 of the bound image
  std::vector<std::pair<int, int>> writes;  // register, value
  static void Write(void* user, int device, int page, int reg, int count) {
    auto* self = static_cast<Recorder*>(user);
    self->calls.emplace_back(device, page, reg, count, -1);
    self->writes.emplace_back(reg, self->image[reg]);
  }
  static void Poll(void* user, int device, int page, int reg, int count, int rate) {
    static_cast<Recorder*>(user)->calls.emplace_back(device, page, reg, count, rate);
  }
};

// Runs in a directory of its own, where the widget looks for its calibration file.
class InDir {
 public:
  explicit InDir(const std::string& dir) : saved(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDir() { std::filesystem::current_path(saved); }

 private:
  std::filesystem::path saved;
};

class SARDataTest : public ::testing::Test {
 protected:
  std::unique_ptr<TSARData> Make(const char* calibration = nullptr) {
    if (calibration) testsupport::WriteFile(dir.File("t"), calibration);
    InDir in(dir.path());
    auto sar = std::make_unique<TSARData>(0x30, &owner, rect);
    recorder.image = image;
    sar->SetData(image);
    sar->SetCallbacks(&recorder, Recorder::Write, nullptr, nullptr);
    sar->SetRefreshRequest(Recorder::Poll);
    sar->Place(1.0f, 0, 0);
    return sar;
  }
  testsupport::TempDir dir;
  QWidget owner;
  const float rect[6] = {10, 10, 330, 130, 1, 1};
  uint8_t image[128] = {};
  Recorder recorder;
};

TEST_F(SARDataTest, LinesFromTheResultRegisters) {
  struct Case {
    const char* calibration;  // none: no file
    uint8_t reference;        // register 6
    uint8_t in1[2], temp1[2], temp2[2];
    const char* in1Line;
    const char* tempLine;
  } cases[] = {
      {nullptr, 0x00, {0x08, 0x00}, {0, 0}, {0, 0}, "IN1 = 0.625 [V]", "TEMP = N/A (not calibrated)"},
      {"1.0\n", 0x40, {0x08, 0x00}, {0x01, 0x00}, {0x01, 0x00}, "IN1 = 1.25 [V]", "TEMP = -273 [C]"},
      // 0x0100 more in the second result at 1.25 V: 0.078125 V, 205.75 K; twice that less 273.15.
      {"2\n", 0x00, {0x0F, 0xFF}, {0x00, 0x00}, {0x01, 0x00}, "IN1 = 1.24969 [V]", "TEMP = 138 [C]"},
      // Not a number: calibrated with the factor 1.
      {"abc\n", 0x00, {0, 0}, {0x00, 0x00}, {0x01, 0x00}, "IN1 = 0 [V]", "TEMP = -67.4 [C]"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir.File("t"));
    auto sar = Make(c.calibration);
    image[6] = c.reference;
    image[54] = c.in1[0], image[55] = c.in1[1];
    image[56] = 0x04, image[57] = 0x00;  // IN2 a quarter of the reference
    image[66] = c.temp1[0], image[67] = c.temp1[1];
    image[68] = c.temp2[0], image[69] = c.temp2[1];
    sar->Refresh();
    EXPECT_EQ(sar->Line(0), c.in1Line) << c.in1Line;
    EXPECT_EQ(sar->Line(1), c.reference ? "IN2 = 0.625 [V]" : "IN2 = 0.3125 [V]");
    EXPECT_EQ(sar->Line(3), c.tempLine) << c.in1Line;
  }
}

TEST_F(SARDataTest, RefreshesAlternateTheTemperatureBitAndMirrorTheSelection) {
  auto sar = Make();
  image[19] = 0x85;
  sar->Refresh();
  sar->Refresh();
  ASSERT_EQ(recorder.writes.size(), 2u);
  EXPECT_EQ(recorder.writes[0], std::make_pair(19, 0x85));
  EXPECT_EQ(recorder.writes[1], std::make_pair(19, 0x8D));
  EXPECT_EQ(recorder.calls[0], Call(0x30, 3, 19, 1, -1));

  TSARControlForm* form = sar->ControlForm();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->windowTitle(), "SAR Control");
  EXPECT_TRUE(form->in1Enabled->isChecked());
  EXPECT_FALSE(form->in2Enabled->isChecked());
  EXPECT_FALSE(form->batEnabled->isChecked());
  EXPECT_FALSE(form->tempEnabled->isChecked());
  EXPECT_TRUE(form->in1Resistance->isChecked());
  EXPECT_TRUE(form->in2Voltage->isChecked());
  EXPECT_TRUE(form->biasExternal->isChecked());
  image[19] = 0x70;
  sar->Refresh();
  EXPECT_FALSE(form->in1Enabled->isChecked());
  EXPECT_TRUE(form->in2Enabled->isChecked() && form->batEnabled->isChecked() && form->tempEnabled->isChecked());
  EXPECT_TRUE(form->in1Voltage->isChecked() && form->biasInternal->isChecked());
}

TEST_F(SARDataTest, HoverStartsConversionsAndStreamsLeavingStopsItsOwnBlock) {
  auto sar = Make();
  image[3] = 0xFF;
  sar->OnHighlighted();
  EXPECT_FALSE(sar->ShowsBitmap());
  const std::vector<Call> started = {{0x30, 3, 2, 1, -1}, {0x30, 3, 3, 1, -1}, {0x30, 3, 2, 1, -1},
                                     {0x30, 3, 54, 16, 50}};
  EXPECT_EQ(recorder.calls, started);
  const std::vector<std::pair<int, int>> values = {{2, 0x98}, {3, 0x27}, {2, 0x18}};
  EXPECT_EQ(recorder.writes, values);
  recorder.calls.clear();
  sar->OnUnhighlighted();
  EXPECT_TRUE(sar->ShowsBitmap());
  const std::vector<Call> stopped = {{0x30, 3, 54, 16, 0}, {0x30, 3, 2, 1, -1}};
  EXPECT_EQ(recorder.calls, stopped);
  EXPECT_EQ(image[2], 0x98);
}

TEST_F(SARDataTest, DrawsItsLinesOntoTheDiagram) {
  auto sar = Make();
  image[54] = 0x08;
  TCanvas canvas;
  canvas.SetSize(400, 200, 0x00F0F0F0);
  sar->Paint(&canvas);
  // The text image lies inside the frame: white with dark text pixels.
  int dark = 0;
  for (int y = 12; y < 32; ++y)
    for (int x = 12; x < 160; ++x)
      if ((canvas.PixelColour(x, y) & 0xFF) < 0x80) ++dark;
  EXPECT_GT(dark, 20);
  EXPECT_EQ(canvas.PixelColour(200, 100), 0xFFFFFFu);
  EXPECT_EQ(sar->Line(0), "IN1 = 0.625 [V]");
}

}  // namespace
