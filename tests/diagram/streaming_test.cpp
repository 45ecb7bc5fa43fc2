// The streaming widgets against a bound register image: what they request,
// write and show.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include "common/canvas.h"
#include "diagram/data_readouts.h"
#include "diagram/sar_data.h"
#include "diagram/touch_screen.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/gui.h"
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
  // Dark pixels where the first line's text lies on the diagram.
  static int FirstLineInk(const TCanvas& canvas) {
    int dark = 0;
    for (int y = 12; y < 32; ++y)
      for (int x = 12; x < 160; ++x)
        if ((canvas.PixelColour(x, y) & 0xFF) < 0x80) ++dark;
    return dark;
  }
  testsupport::TempDir dir;
  QWidget owner;
  const float rect[6] = {10, 10, 330, 130, 1, 1};
  uint8_t image[128] = {};
  Recorder recorder;
  TProximityTimer timer;
};

TEST_F(SARDataTest, LinesFromTheResultRegisters) {
  constexpr uint8_t kTempOn = 0x10;  // register 19: the temperature input enabled
  struct Case {
    const char* calibration;  // none: no file
    uint8_t reference;        // register 6
    uint8_t selection;        // register 19
    uint8_t in1[2], temp1[2], temp2[2];
    const char* in1Line;
    const char* tempLine;
  } cases[] = {
      {nullptr, 0x00, kTempOn, {0x08, 0x00}, {0, 0}, {0, 0}, "IN1 = 0.625 [V]", "TEMP = N/A (not calibrated)"},
      {"1.0\n", 0x40, kTempOn, {0x08, 0x00}, {0x01, 0x00}, {0x01, 0x00}, "IN1 = 1.25 [V]", "TEMP = -273 [C]"},
      // 0x0100 more in the second result at 1.25 V: 0.078125 V, 205.75 K; twice that less 273.15.
      {"2\n", 0x00, 0xFF, {0x0F, 0xFF}, {0x00, 0x00}, {0x01, 0x00}, "IN1 = 1.24969 [V]", "TEMP = 138 [C]"},
      // Not a number: calibrated with the factor 1.
      {"abc\n", 0x00, kTempOn, {0, 0}, {0x00, 0x00}, {0x01, 0x00}, "IN1 = 0 [V]", "TEMP = -67.4 [C]"},
      // Results of 0x1000 and more: all sixteen bits count.
      {nullptr, 0x00, kTempOn, {0x18, 0x00}, {0, 0}, {0, 0}, "IN1 = 1.875 [V]", "TEMP = N/A (not calibrated)"},
      {nullptr, 0x40, 0x00, {0xF0, 0x00}, {0, 0}, {0, 0}, "IN1 = 37.5 [V]", "TEMP = N/A (not enabled)"},
      // The temperature input off: no reading, calibrated or not; the voltages as ever.
      {"1.0\n", 0x40, 0x00, {0x08, 0x00}, {0x01, 0x00}, {0x01, 0x00}, "IN1 = 1.25 [V]", "TEMP = N/A (not enabled)"},
      {"2\n", 0x00, 0xEF, {0x0F, 0xFF}, {0x00, 0x00}, {0x01, 0x00}, "IN1 = 1.24969 [V]", "TEMP = N/A (not enabled)"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir.File("t"));
    auto sar = Make(c.calibration);
    image[6] = c.reference;
    image[19] = c.selection;
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

TEST_F(SARDataTest, StreamingRefreshesAlternateTheTemperatureBitAndMirrorTheSelection) {
  auto sar = Make();
  image[19] = 0x85;
  sar->OnHighlighted();
  recorder.writes.clear();
  recorder.calls.clear();
  // As the host delivers a pass of the stream: writes held back meanwhile.
  sar->OnRegisterChanged(0x30, 3, 54);
  sar->OnRegisterChanged(0x30, 3, 54);
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

TEST_F(SARDataTest, ARefreshOutsideAStreamWritesNothing) {
  auto sar = Make();
  image[19] = 0x85;
  sar->OnRegisterChanged(0x30, 3, 0);  // a page switch, another window's write
  sar->OnHighlighted();
  sar->OnUnhighlighted();
  recorder.calls.clear();
  sar->OnRegisterChanged(0x30, 3, 54);
  EXPECT_TRUE(recorder.calls.empty());
  EXPECT_EQ(image[19], 0x85);
}

// The pointer rests on the readout: its fade runs to the end.
void Hover(TGUIObject& widget) {
  const TPointF a = widget.GetPlacedPoint(0), b = widget.GetPlacedPoint(1);
  widget.MouseMove(int((a.x + b.x) / 2), int((a.y + b.y) / 2));
  for (int i = 0; i < 40 && widget.FadeStep() != 0; ++i) {
  }
}

TEST_F(SARDataTest, AStreamIsRequestedOnceAndEachPassReArmsTheConversionAfterItsRefresh) {
  auto sar = Make();
  TCanvas canvas;
  canvas.SetSize(400, 200, 0x00F0F0F0);
  sar->SetMode(1, &timer);
  sar->Paint(&canvas);
  image[3] = 0x01;
  image[19] = 0x90;
  Hover(*sar);
  ASSERT_EQ(sar->GetFadeState(), 2);
  // A request while the stream runs would start a pass at once: one only.
  const int passes = 10;
  std::vector<std::pair<int, int>> expected = {{2, 0x98}, {3, 0x25}, {2, 0x18}};
  for (int pass = 0; pass < passes; ++pass) {
    sar->OnRegisterChanged(0x30, 3, 54);
    for (const auto& write : std::vector<std::pair<int, int>>{
             {19, pass % 2 ? 0x98 : 0x90}, {2, 0x98}, {3, 0x25}, {2, 0x18}})
      expected.push_back(write);
  }
  const auto requests = std::count_if(recorder.calls.begin(), recorder.calls.end(),
                                      [](const Call& c) { return std::get<4>(c) != -1; });
  EXPECT_EQ(requests, 1);
  EXPECT_EQ(recorder.calls.back(), Call(0x30, 3, 2, 1, -1));
  EXPECT_EQ(recorder.writes, expected);
  // Leaving stops it; the next rest asks for the stream again.
  sar->MouseMove(-100, -100);
  for (int i = 0; i < 40 && sar->FadeStep() != 0; ++i) {
  }
  EXPECT_EQ(recorder.calls.back(), Call(0x30, 3, 2, 1, -1));
  EXPECT_EQ(recorder.calls[recorder.calls.size() - 2], Call(0x30, 3, 54, 16, 0));
  recorder.calls.clear();
  Hover(*sar);
  EXPECT_EQ(recorder.calls.back(), Call(0x30, 3, 54, 16, 50));
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
  EXPECT_GT(FirstLineInk(canvas), 20);
  EXPECT_EQ(canvas.PixelColour(200, 100), 0xFFFFFFu);
  EXPECT_EQ(sar->Line(0), "IN1 = 0.625 [V]");
}

// A redraw of the page while the readout streams shows its lines, not the
// rectangle's fill.
TEST_F(SARDataTest, ARedrawDuringTheStreamShowsTheLines) {
  auto sar = Make();
  image[54] = 0x08;
  TCanvas canvas;
  canvas.SetSize(400, 200, 0x00F0F0F0);
  sar->Paint(&canvas);
  sar->OnHighlighted();
  sar->Refresh();
  {
    TCanvasLock lock(canvas);
    lock.Painter().fillRect(0, 0, canvas.Width(), canvas.Height(), QColor(0xF0, 0xF0, 0xF0));
  }
  sar->Paint(&canvas);
  EXPECT_GT(FirstLineInk(canvas), 20);
}

// Message boxes answered at once, their texts kept.
class RecordedDialogs : public IDialogs {
 public:
  RecordedDialogs() { SetDialogs(this); }
  ~RecordedDialogs() override { SetDialogs(nullptr); }
  void Message(QWidget*, const std::string& caption, const std::string& text) override {
    messages.push_back(caption + ": " + text);
  }
  void Warning(QWidget* parent, const std::string& caption, const std::string& text) override {
    warnings.push_back(caption + ": " + text);
    Message(parent, caption, text);
  }
  int RunModal(QDialog*) override { return 0; }
  std::string OpenFile(QWidget*, const std::string&, const std::string&) override { return ""; }
  std::string SaveFile(QWidget*, const std::string&, const std::string&, const std::string&) override { return ""; }
  bool InputQuery(QWidget*, const std::string&, const std::string&, std::string&) override { return false; }
  std::vector<std::string> messages;
  std::vector<std::string> warnings;  // the warning boxes among the messages
};

class SARControlTest : public SARDataTest {
 protected:
  void SetUp() override {
    sar = Make();
    image[19] = 0x10;  // the temperature input on, as for a calibration
    canvas.SetSize(400, 200, 0x00F0F0F0);
    sar->Paint(&canvas);  // introduces the readout to its control window
    form = sar->ControlForm();
    ASSERT_NE(form, nullptr);
    form->show();
  }
  // Two temperature results 0x0100 apart at 1.25 V: 205.75 K before calibration.
  void TemperatureReading() {
    image[66] = 0x01, image[67] = 0x00;
    image[68] = 0x02, image[69] = 0x00;
    sar->Refresh();
  }
  std::unique_ptr<TSARData> sar;
  TCanvas canvas;
  TSARControlForm* form = nullptr;
  RecordedDialogs dialogs;
};

TEST_F(SARControlTest, EachBoxAndRadioButtonWritesItsBitOfTheSelection) {
  struct Case {
    QAbstractButton* control;
    uint8_t before, after;
  } cases[] = {
      {form->in1Enabled, 0x00, 0x80},    {form->in1Enabled, 0xFF, 0x7F},   {form->in2Enabled, 0x00, 0x40},
      {form->in2Enabled, 0xFF, 0xBF},    {form->batEnabled, 0x00, 0x20},   {form->batEnabled, 0xFF, 0xDF},
      {form->tempEnabled, 0x00, 0x10},   {form->tempEnabled, 0xFF, 0xEF},  {form->in1Resistance, 0x00, 0x04},
      {form->in1Voltage, 0xFF, 0xFB},    {form->in2Resistance, 0x00, 0x02}, {form->in2Voltage, 0xFF, 0xFD},
      {form->biasExternal, 0x00, 0x01},  {form->biasInternal, 0xFF, 0xFE},
  };
  for (const Case& c : cases) {
    image[19] = c.before;
    sar->Refresh();  // the mirror follows the register and writes nothing
    recorder.calls.clear();
    recorder.writes.clear();
    QAbstractButton* control = c.control;
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(6, control->height() / 2));
    const std::string name = control->parentWidget()->property("title").toString().toStdString() + " " +
                             control->text().toStdString();
    EXPECT_EQ(recorder.writes, (std::vector<std::pair<int, int>>{{19, c.after}})) << name;
    EXPECT_EQ(recorder.calls, (std::vector<Call>{{0x30, 3, 19, 1, -1}})) << name;
  }
}

TEST_F(SARControlTest, CalibrateStoresTheFactorThatShowsTheReference) {
  TemperatureReading();
  ASSERT_EQ(sar->Line(3), "TEMP = N/A (not calibrated)");
  const struct {
    const char* reference;
    const char* line;
  } cases[] = {{"20", "TEMP = 20 [C]"}, {" 36.6 ", "TEMP = 36.6 [C]"}, {"-40", "TEMP = -40 [C]"}};
  for (const auto& c : cases) {
    form->reference->setText(c.reference);
    {
      InDir in(dir.path());
      QTest::mouseClick(form->calibrate, Qt::LeftButton);
    }
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
    EXPECT_EQ(sar->Line(3), c.line);
    // The file holds the factor; a readout made afterwards reads it.
    float stored = 0;
    ASSERT_EQ(std::sscanf(testsupport::ReadFile(dir.File("t")).c_str(), "%f", &stored), 1);
    EXPECT_EQ(stored, sar->GetCalibration());
    std::unique_ptr<TSARData> next;
    {
      InDir in(dir.path());
      next = std::make_unique<TSARData>(0x30, nullptr, rect);
    }
    next->SetData(image);
    EXPECT_TRUE(next->IsCalibrated());
    EXPECT_EQ(next->GetCalibration(), stored);
    next->Refresh();
    EXPECT_EQ(next->Line(3), c.line);
  }
}

TEST_F(SARControlTest, CalibrateRefusesWhatItCannotUseAndWritesNothing) {
  const struct {
    const char* reference;
    bool reading;
    const char* message;
  } cases[] = {
      {"abc", true, "SAR Control: The reference temperature \"abc\" is not a number: enter it in degrees Celsius, "
                    "such as 20."},
      {"", true, "SAR Control: The reference temperature \"\" is not a number: enter it in degrees Celsius, "
                 "such as 20."},
      {"20 C", true, "SAR Control: The reference temperature \"20 C\" is not a number: enter it in degrees "
                     "Celsius, such as 20."},
      {"-300", true, "SAR Control: The reference temperature must lie above -273.15 degrees Celsius."},
      {"20", false, "SAR Control: There is no temperature reading to calibrate against: let the readout convert "
                    "both temperatures first (Temperature enabled, the pointer resting on the readout)."},
  };
  for (const auto& c : cases) {
    dialogs.messages.clear();
    dialogs.warnings.clear();
    if (c.reading) TemperatureReading();
    else image[66] = image[67] = image[68] = image[69] = 0, sar->Refresh();
    form->reference->setText(c.reference);
    {
      InDir in(dir.path());
      QTest::mouseClick(form->calibrate, Qt::LeftButton);
    }
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{c.message}) << c.reference;
    EXPECT_EQ(dialogs.warnings, dialogs.messages) << c.reference;
    EXPECT_FALSE(std::filesystem::exists(dir.File("t"))) << c.reference;
    EXPECT_FALSE(sar->IsCalibrated());
    EXPECT_EQ(sar->Line(3), "TEMP = N/A (not calibrated)");
  }
  EXPECT_TRUE(recorder.calls.empty());
}

// The kit's readout (200 x 70) at the page scales of 50 % to 200 % zoom:
// each of the four lines is drawn inside the bitmap, below the one before.
TEST_F(SARDataTest, AllFourLinesLieInsideTheBitmapAtEveryZoom) {
  testsupport::WriteFile(dir.File("t"), "1.0\n");
  const float kit[6] = {500, 400, 700, 470, 1, 1};
  for (const float scale : {0.6144f, 1.2288f, 1.8432f, 2.4576f}) {
    std::unique_ptr<TSARData> readout;
    {
      InDir in(dir.path());
      readout = std::make_unique<TSARData>(0x30, nullptr, kit);
    }
    uint8_t bytes[128] = {};
    bytes[19] = 0x10;  // the temperature input on: its line follows the results
    readout->SetData(bytes);
    readout->Place(scale, 0, 0);
    TCanvas diagram;
    diagram.SetSize(int(720 * scale), int(480 * scale), 0x00F0F0F0);
    readout->Paint(&diagram);
    const TCanvas& bitmap = readout->Bitmap();
    // The rows of the bitmap in which a line's text changes with its value.
    auto changedRows = [&](int line) {
      std::vector<QImage> images;
      for (uint8_t value : {0x01, 0x0E}) {
        const int reg = line == 3 ? 68 : 54 + 2 * line;
        bytes[reg] = value;
        readout->Refresh();
        images.push_back(bitmap.Image().copy());
        bytes[reg] = 0;
      }
      std::pair<int, int> rows = {bitmap.Height(), -1};
      for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
          if (images[0].pixel(x, y) != images[1].pixel(x, y))
            rows = {std::min(rows.first, y), std::max(rows.second, y)};
      return rows;
    };
    int below = -1;
    for (int line = 0; line < 4; ++line) {
      const auto [top, bottom] = changedRows(line);
      if (top > bottom) {
        ADD_FAILURE() << "line " << line << " at scale " << scale << " is not in the bitmap";
        continue;
      }
      EXPECT_GT(top, below) << "line " << line << " at scale " << scale;
      below = bottom;
    }
  }
}

// A zoom clears the image: the readout shows its last lines at every zoom
// all the same, before any new refresh.
TEST_F(SARDataTest, ItsLastLinesShowAtEveryZoom) {
  testsupport::WriteFile(dir.File("t"), "1.0\n");
  const float kit[6] = {500, 400, 700, 470, 1, 1};
  std::unique_ptr<TSARData> readout;
  {
    InDir in(dir.path());
    readout = std::make_unique<TSARData>(0x30, nullptr, kit);
  }
  uint8_t bytes[128] = {};
  bytes[54] = 0x08, bytes[56] = 0x04, bytes[58] = 0x02;
  readout->SetData(bytes);
  // The kit page's scales at the zoom box's 100 %, 200 %, 50 %, 80 %, 100 %, 125 %, 150 % and 175 %.
  bool first = true;
  for (const int percent : {100, 200, 50, 80, 100, 125, 150, 175}) {
    const float scale = 1.2288f * percent / 100;
    readout->Place(scale, 0, 0);
    TCanvas diagram;
    diagram.SetSize(int(720 * scale), int(480 * scale), 0x00F0F0F0);
    readout->Paint(&diagram);
    if (first) {
      // The first draw fills the lines; none is refreshed after it.
      ASSERT_EQ(readout->Line(0), "IN1 = 0.625 [V]");
      first = false;
    }
    const int left = int(500 * scale) + 2, top = int(400 * scale) + 2;
    for (int line = 0; line < 4; ++line) {
      const auto [from, to] = readout->LineRows(line);
      int ink = 0;
      for (int y = top + from; y < top + to; ++y)
        for (int x = left; x < left + readout->Bitmap().Width(); ++x) ink += (diagram.PixelColour(x, y) & 0xFF) < 0x80;
      EXPECT_GT(ink, 10) << "line " << line << " at " << percent << " %";
    }
  }
}

class ReadoutTest : public ::testing::Test {
 protected:
  void SetUp() override { gui::Install(); }
  template <class Widget>
  std::unique_ptr<Widget> Make(const float* box) {
    auto widget = std::make_unique<Widget>(&owner, box, nullptr, nullptr, 0);
    widget->SetCallbacks(&recorder, Recorder::Write, nullptr, nullptr);
    widget->SetRefreshRequest(Recorder::Poll);
    widget->SetData(Byte(widget->GetPage(), widget->GetFirstRegister()));
    widget->Place(1.0f, 0, 0);
    widget->SetMode(1, nullptr);
    return widget;
  }
  uint8_t* Byte(int page, int reg) { return &image[size_t(page) * 128 + size_t(reg)]; }

  testsupport::TempDir dir;
  QWidget owner;
  const float rect[6] = {10, 10, 126, 90, 1, 1};
  std::vector<uint8_t> image = std::vector<uint8_t>(256 * 128);
  Recorder recorder;
};

TEST_F(ReadoutTest, ScopeDecodesTheSampleBytes) {
  const struct {
    uint8_t hi, lo;
    int sample;
  } cases[] = {{0x7F, 0xF8, 2047}, {0x00, 0x00, -2048}, {0x80, 0x00, -2048}, {0x40, 0x00, 0}, {0x00, 0x0F, -2047}};
  for (const auto& c : cases) EXPECT_EQ(TDSVoiceRecordData::DecodeSample(c.hi, c.lo), c.sample);
  auto scope = Make<TDSVoiceRecordData>(rect);
  for (int n = 0; n < 56; ++n) *Byte(255, 6 + 2 * n) = uint8_t(0x40 + n), *Byte(255, 7 + 2 * n) = 0;
  // Nothing is decoded until it streams.
  scope->OnRegisterChanged(0, 255, 6);
  EXPECT_EQ(scope->Sample(55), 0);
  scope->OnHighlighted();
  scope->OnRegisterChanged(0, 255, 117);
  for (int n = 0; n < 56; ++n) EXPECT_EQ(scope->Sample(n), n * 32) << n;
}

TEST_F(ReadoutTest, ScopeStreamsPage255WhileHoveredAndDrawsTheTrace) {
  auto scope = Make<TDSVoiceRecordData>(rect);
  scope->OnHighlighted();
  EXPECT_TRUE(scope->IsStreaming());
  scope->OnUnhighlighted();
  const std::vector<Call> calls = {{0, 255, 6, 112, 20}, {0, 255, 6, 112, 0}};
  EXPECT_EQ(recorder.calls, calls);

  // Samples of 0 lie on the centre line, in the trace's cyan; 2047 at the top.
  scope->OnHighlighted();
  for (int n = 0; n < 56; ++n) *Byte(255, 6 + 2 * n) = n < 28 ? 0x40 : 0x7F, *Byte(255, 7 + 2 * n) = n < 28 ? 0 : 0xF8;
  scope->DecodeSamples();
  const TCanvas& bitmap = scope->Bitmap();
  ASSERT_EQ(bitmap.Width(), 112);
  ASSERT_EQ(bitmap.Height(), 76);
  EXPECT_EQ(bitmap.PixelColour(30, 38), 0xFFFF00u);
  EXPECT_EQ(bitmap.PixelColour(90, 38), 0x808080u);
  EXPECT_EQ(bitmap.PixelColour(90, 0) == 0xFFFF00u || bitmap.PixelColour(90, 1) == 0xFFFF00u, true);
}

// Sample n lies at x = w·n/56 of the image: one spike to the top at a time.
TEST_F(ReadoutTest, EachSampleLiesAtItsPlaceAcrossTheScope) {
  const struct {
    float right;  // the rectangle from x 10: images 112 and 196 pixels wide
    int n, x;
  } cases[] = {{126, 28, 56}, {126, 50, 100}, {126, 55, 110}, {210, 40, 140}, {210, 13, 46}};
  for (const auto& c : cases) {
    const float box[6] = {10, 10, c.right, 90, 1, 1};
    auto scope = Make<TDSVoiceRecordData>(box);
    for (int n = 0; n < 56; ++n) {
      const bool spike = n == c.n;
      *Byte(255, 6 + 2 * n) = spike ? 0x7F : 0x40, *Byte(255, 7 + 2 * n) = spike ? 0xF8 : 0x00;
    }
    scope->DecodeSamples();
    std::vector<int> top;
    for (int x = 0; x < scope->Bitmap().Width(); ++x)
      if (scope->Bitmap().PixelColour(x, 0) == 0xFFFF00u) top.push_back(x);
    EXPECT_EQ(top, std::vector<int>{c.x}) << c.right << " " << c.n;
  }
}

TEST_F(ReadoutTest, ATinyScopeStillDraws) {
  for (float width : {0.0f, 3.0f, 4.0f, 20.0f}) {
    const float box[6] = {10, 10, 10 + width, 10 + width, 1, 1};
    auto scope = Make<TDSVoiceRecordData>(box);
    scope->DecodeSamples();  // a grid step of 0 would never end
    EXPECT_GE(scope->Bitmap().Width(), 1);
  }
}

TEST_F(ReadoutTest, RecordingWritesTheLogOnUncheckAndWhenTheWidgetGoes) {
  InDir in(dir.path());
  const std::string file = dir.File("DSVoiceRecord.txt");
  auto scope = Make<TDSVoiceRecordData>(rect);
  *Byte(255, 6) = 0x3F, *Byte(255, 7) = 0xD8;  // -5
  scope->RecordBox()->click();
  scope->DecodeSamples();
  scope->RecordBox()->click();
  std::string expected = "0xfffb\r\n";
  for (int n = 1; n < 56; ++n) expected += "0xf800\r\n";
  expected += "\r\n";
  EXPECT_EQ(testsupport::ReadFile(file), expected);

  scope->RecordBox()->click();
  scope->DecodeSamples();
  scope->DecodeSamples();
  scope.reset();
  EXPECT_EQ(testsupport::ReadFile(file), expected + expected);

  scope = Make<TDSVoiceRecordData>(rect);
  scope->RecordBox()->click();
  for (size_t i = 0; i < TDSVoiceRecordData::kMaxLogBlocks + 3; ++i) scope->DrawSamples();
  EXPECT_EQ(scope->LogBlocks(), TDSVoiceRecordData::kMaxLogBlocks);
}

// A zoom or a page show places the scope again: while it records, only a
// decoded block goes to the log.
TEST_F(ReadoutTest, PlacingTheScopeWhileItRecordsLogsNothing) {
  InDir in(dir.path());
  auto scope = Make<TDSVoiceRecordData>(rect);
  scope->RecordBox()->click();
  for (float scale : {2.0f, 1.0f, 0.8f, 0.5f}) scope->Place(scale, 0, 0);
  EXPECT_EQ(scope->LogBlocks(), 0u);
  *Byte(255, 6) = 0x3F, *Byte(255, 7) = 0xD8;  // -5
  scope->DecodeSamples();
  scope->Place(1.0f, 0, 0);
  EXPECT_EQ(scope->LogBlocks(), 1u);
  scope->RecordBox()->click();
  const std::string saved = testsupport::ReadFile(dir.File("DSVoiceRecord.txt"));
  EXPECT_EQ(saved.rfind("0xfffb\r\n0xf800\r\n", 0), 0u);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 57);
}

// IN1 from registers 1:2 and IN2 from 17:18 of page 251, high byte first.
TEST_F(ReadoutTest, IN1IN2ValuesFromPage251) {
  const struct {
    uint8_t bytes[20];  // page 251 registers 0..19
    int in1, in2;
  } cases[] = {
      {{0x11, 0x03, 0xE8, 0x22, 0, 0, 0, 0, 0, 0x33, 0x44, 0, 0, 0, 0, 0, 0x55, 0x08, 0x00, 0x66}, 1000, 2048},
      {{0, 0x0F, 0xFF, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x00, 0x07, 0x0E}, 4095, 7},
      {{0, 0x00, 0x2A, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x0A, 0xBC, 0xFF}, 42, 0x0ABC},
  };
  for (const auto& c : cases) {
    auto readout = Make<TIN1IN2Data>(rect);
    std::copy(std::begin(c.bytes), std::end(c.bytes), Byte(251, 0));
    readout->OnHighlighted();
    *Byte(103, 38) = 0;
    readout->OnRegisterChanged(0, 103, 38);
    readout->OnRegisterChanged(0, 251, 1);
    EXPECT_EQ(readout->GetIn1(), c.in1) << c.in1;
    EXPECT_EQ(readout->GetIn2(), c.in2) << c.in1;
  }
}

// Volts in purple (0x800080), raw values in blue (0xFF0000, blue in the third byte).
TEST_F(ReadoutTest, IN1IN2TextsInTheirColours) {
  const struct {
    bool volts;
    TColor colour, other;
  } cases[] = {{true, 0x800080u, 0xFF0000u}, {false, 0xFF0000u, 0x800080u}};
  for (const auto& c : cases) {
    auto readout = Make<TIN1IN2Data>(rect);
    readout->SetValues(2048, 4095);
    if (!c.volts) {
      ASSERT_TRUE(readout->Click(50, 50));
    }
    ASSERT_EQ(readout->ShowsVolts(), c.volts);
    TCanvas canvas;
    canvas.SetSize(200, 120, 0x00F0F0F0);
    readout->Paint(&canvas);
    int colour = 0, other = 0;
    const TCanvas& bitmap = readout->Bitmap();
    for (int y = 0; y < bitmap.Height(); ++y)
      for (int x = 0; x < bitmap.Width(); ++x) {
        colour += bitmap.PixelColour(x, y) == c.colour;
        other += bitmap.PixelColour(x, y) == c.other;
      }
    EXPECT_GT(colour, 30) << c.volts;
    EXPECT_EQ(other, 0) << c.volts;
  }
}

TEST_F(ReadoutTest, IN1IN2PollsTheStatusThenReadsPage251) {
  auto readout = Make<TIN1IN2Data>(rect);
  readout->OnHighlighted();
  EXPECT_EQ(recorder.calls.back(), Call(0, 103, 38, 1, 10));
  *Byte(103, 38) = TIN1IN2Data::kBusyBit;
  readout->OnRegisterChanged(0, 103, 38);
  EXPECT_EQ(recorder.calls.size(), 1u);
  *Byte(103, 38) = 0;
  readout->OnRegisterChanged(0, 103, 38);
  EXPECT_EQ(recorder.calls.back(), Call(0, 251, 1, 32, 10));
  *Byte(251, 1) = 0x03, *Byte(251, 2) = 0xE8;   // 1000
  *Byte(251, 17) = 0x08, *Byte(251, 18) = 0x00;  // 2048
  readout->OnRegisterChanged(0, 251, 1);
  EXPECT_EQ(readout->GetIn1(), 1000);
  EXPECT_EQ(readout->GetIn2(), 2048);
  EXPECT_EQ(recorder.calls.back(), Call(0, 103, 38, 1, 10));
  EXPECT_EQ(readout->Text(), "0.439V  0.900V");
  readout->SetValues(7, 4095);
  EXPECT_TRUE(readout->Click(50, 50));
  EXPECT_EQ(readout->Text(), "0007     4095");
  // Its stop names the block it asked for last.
  readout->OnUnhighlighted();
  EXPECT_EQ(recorder.calls.back(), Call(0, 103, 38, 1, 0));
}

TEST_F(ReadoutTest, AnUncheckedActiveBoxLeavesTheReadoutInert) {
  auto readout = Make<TIN1IN2Data>(rect);
  readout->SetActiveObjects(true);
  EXPECT_EQ(readout->GetMode(), 1);
  readout->ActiveBox()->click();
  EXPECT_EQ(readout->GetMode(), 0);
  readout->MouseMove(50, 50);
  EXPECT_EQ(readout->GetFadeState(), kFadeIdle);
  readout->SetActiveObjects(false);
  readout->ActiveBox()->setChecked(true);
  readout->UpdateMode();
  EXPECT_EQ(readout->GetMode(), 0);
}

// The host's redraw of the page as an object's event asks for it: the
// background, then the object drawn again.
struct Redrawing {
  TCanvas canvas;
  TGUIObject* object = nullptr;
  int redraws = 0;
  static void Event(void* user, TGUIObject*, int event) {
    auto* self = static_cast<Redrawing*>(user);
    if (event != kEventStateChanged || !self->object) return;
    ++self->redraws;
    {
      TCanvasLock lock(self->canvas);
      lock.Painter().fillRect(0, 0, self->canvas.Width(), self->canvas.Height(), QColor(0xF0, 0xF0, 0xF0));
    }
    self->object->Paint(&self->canvas);
  }
};

TEST_F(ReadoutTest, TheScopeShowsItsSamplesWhileItStreams) {
  auto scope = Make<TDSVoiceRecordData>(rect);
  Redrawing host;
  host.canvas.SetSize(200, 120, 0x00F0F0F0);
  host.object = scope.get();
  scope->SetCallback(&host, Redrawing::Event);
  scope->Paint(&host.canvas);
  scope->OnHighlighted();
  ASSERT_TRUE(scope->IsStreaming());
  // Every sample 2047: the trace runs along the top of the image, which lies at (12, 12).
  for (int n = 0; n < 56; ++n) *Byte(255, 6 + 2 * n) = 0x7F, *Byte(255, 7 + 2 * n) = 0xF8;
  scope->OnRegisterChanged(0, 255, 6);
  EXPECT_EQ(host.redraws, 1);
  int trace = 0;
  for (int x = 12; x < 12 + 112; ++x) trace += host.canvas.PixelColour(x, 12) == 0xFFFF00u;
  EXPECT_GT(trace, 100);
  // The black scope, not the rectangle's white fill.
  EXPECT_EQ(host.canvas.PixelColour(60, 30), 0x000000u);
}

TEST_F(ReadoutTest, TheScopesLegendTextsDoNotOverlap) {
  // Narrow and wide scopes: the grid step is 10 and 40 pixels.
  for (float right : {126.0f, 480.0f}) {
    const float box[6] = {10, 10, right, 90, 1, 1};
    auto scope = Make<TDSVoiceRecordData>(box);
    scope->DrawSamples();
    const QImage shown = scope->Bitmap().Image();
    const int w = shown.width(), h = shown.height();
    const int g = int(std::lround(double(w) / 56 * (1000.0 / 210.0)));
    // "1 Div" alone, as the scope draws it.
    QImage alone(shown.size(), shown.format());
    alone.fill(Qt::black);
    {
      QPainter painter(&alone);
      painter.setPen(QColor(0x80, 0x80, 0x80));
      painter.setFont(QFont(QStringLiteral("Arial"), 10));
      painter.drawText(7, h - 10, QStringLiteral("1 Div"));
    }
    QRect div;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (alone.pixel(x, y) != alone.pixel(0, 0)) div |= QRect(x, y, 1, 1);
    ASSERT_FALSE(div.isEmpty());
    // Where "1 Div" is, the scope shows it and nothing else (grid, frame and centre line aside)...
    auto lines = [&](int x, int y) { return x % g == 0 || x == w - 1 || y == 0 || y == h - 1 || y == h / 2; };
    int foreign = 0;
    for (int y = div.top() - 1; y <= div.bottom() + 1; ++y)
      for (int x = div.left() - 1; x <= div.right() + 1; ++x)
        foreign += !lines(x, y) && shown.pixel(x, y) != alone.pixel(x, y);
    EXPECT_EQ(foreign, 0) << right;
    // ... and "1 ms" is drawn on the same row after it.
    int ms = 0;
    for (int y = div.top(); y <= div.bottom(); ++y)
      for (int x = div.right() + 2; x < w; ++x) ms += !lines(x, y) && shown.pixel(x, y) != alone.pixel(0, 0);
    EXPECT_GT(ms, 10) << right;
  }
}

// Each streaming widget, hovered in a page: what ends its stream and what
// may not start one again.
class StreamHoldTest : public ReadoutTest {
 protected:
  struct Kind {
    const char* name;
    std::function<std::unique_ptr<TStreamingShape>(StreamHoldTest&)> make;
  };
  // The widgets made as the loader makes them: (owner, rectangle, window, transfer, address).
  template <class Widget>
  static Kind Made(const char* name) {
    return {name, [](StreamHoldTest& t) {
              return t.Bind(std::make_unique<Widget>(&t.owner, t.rect, nullptr, nullptr, 0));
            }};
  }
  static std::vector<Kind> Kinds() {
    return {Made<TDSVoiceRecordData>("scope"), Made<TIN1IN2Data>("IN1/IN2"),
            {"SAR", [](StreamHoldTest& t) { return t.Bind(std::make_unique<TSARData>(0, &t.owner, t.rect)); }},
            Made<TTouchScreen>("touch")};
  }
  std::unique_ptr<TStreamingShape> Bind(std::unique_ptr<TStreamingShape> widget) {
    recorder.image = Byte(3, 0);
    widget->SetData(Byte(widget->GetPage(), widget->GetFirstRegister()));
    widget->SetCallbacks(&recorder, Recorder::Write, nullptr, nullptr);
    widget->SetRefreshRequest(Recorder::Poll);
    widget->Place(1.0f, 0, 0);
    widget->SetMode(1, &timer);
    widget->Paint(&canvas);
    return widget;
  }
  // The pointer comes to rest on the widget, or leaves it; the fade runs to its end.
  static void Pointer(TGUIObject* widget, bool on) {
    widget->MouseMove(on ? 50 : -100, on ? 50 : -100);
    for (int i = 0; i < 40 && widget->FadeStep() != 0; ++i) {
    }
  }
  // Refresh requests since the last clear: started (rate > 0) and stopped.
  int Started() const {
    int n = 0;
    for (const Call& c : recorder.calls) n += std::get<4>(c) > 0;
    return n;
  }
  bool EndsWithStop() const {
    for (auto c = recorder.calls.rbegin(); c != recorder.calls.rend(); ++c)
      if (std::get<4>(*c) >= 0) return std::get<4>(*c) == 0;
    return false;
  }

  TProximityTimer timer;
  TCanvas canvas;
  void SetUp() override {
    ReadoutTest::SetUp();
    canvas.SetSize(300, 200, 0x00F0F0F0);
  }
};

TEST_F(StreamHoldTest, AHeldWidgetEndsItsStreamAndStartsNoneUntilFreed) {
  for (const Kind& kind : Kinds()) {
    recorder.calls.clear();
    std::unique_ptr<TStreamingShape> widget = kind.make(*this);
    Pointer(widget.get(), true);
    EXPECT_EQ(Started(), 1) << kind.name;
    recorder.calls.clear();
    widget->HoldStream(true);
    EXPECT_TRUE(EndsWithStop()) << kind.name;
    EXPECT_EQ(widget->GetFadeState(), kFadeIdle) << kind.name;
    EXPECT_EQ(widget->GetCurrentColour(), widget->GetNormalColour()) << kind.name;  // the highlight has gone
    // The pointer on it again starts nothing while it is held.
    recorder.calls.clear();
    Pointer(widget.get(), false);
    Pointer(widget.get(), true);
    EXPECT_EQ(Started(), 0) << kind.name;
    EXPECT_EQ(widget->GetFadeState(), kFadeIdle) << kind.name;
    // Freed, it streams on the next hover.
    widget->HoldStream(false);
    Pointer(widget.get(), false);
    Pointer(widget.get(), true);
    EXPECT_EQ(Started(), 1) << kind.name;
  }
}

// The pointer has left a streaming widget and its fade-out is due; the
// delivery of the next block steps the fade (the widget's companion does),
// which ends the hover and the stream: no further read is asked for.
TEST_F(StreamHoldTest, ADeliveryThatEndsTheHoverAsksForNoFurtherRead) {
  const struct {
    const char* name;
    int kind;
    std::function<void(TStreamingShape*)> deliver;
  } cases[] = {
      {"IN1/IN2 values", 1, [](TStreamingShape* w) { w->OnRegisterChanged(0, 251, 1); }},
      // Two valid DS samples: the second draws a segment, with its fade step.
      {"touch samples", 3, [](TStreamingShape* w) { w->OnRegisterChanged(0, 254, 1); }},
  };
  for (const auto& c : cases) {
    recorder.calls.clear();
    std::unique_ptr<TStreamingShape> widget = Kinds()[c.kind].make(*this);
    if (auto* touch = dynamic_cast<TTouchScreen*>(widget.get())) {
      touch->SetTouchMode(TTouchScreen::kDS);
      *Byte(254, 1) = 0x10, *Byte(254, 2) = 0, *Byte(254, 3) = 0x10, *Byte(254, 4) = 0;
    }
    Pointer(widget.get(), true);
    ASSERT_EQ(Started(), 1) << c.name;
    if (c.kind == 3) c.deliver(widget.get());  // the first sample only starts the trace
    widget->MouseMove(-100, -100);
    ASSERT_EQ(widget->GetFadeState(), kFadeOutPending) << c.name;
    recorder.calls.clear();
    c.deliver(widget.get());
    EXPECT_EQ(widget->GetFadeState(), kFadeIdle) << c.name;
    EXPECT_EQ(Started(), 0) << c.name;
    EXPECT_TRUE(EndsWithStop()) << c.name;
  }
}

TEST_F(StreamHoldTest, AHeldTouchBlockStartsNoStreamFromItsWindowOrAModeChange) {
  auto widget = Kinds()[3].make(*this);
  auto* block = static_cast<TTouchScreen*>(widget.get());
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(block->Form(), &activate);
  for (int i = 0; i < 40 && block->FadeStep() != 0; ++i) {
  }
  ASSERT_TRUE(block->IsStreaming());
  block->HoldStream(true);
  EXPECT_FALSE(block->IsStreaming());
  recorder.calls.clear();
  // The block's window active again, or another mode chosen in it: nothing streams.
  QCoreApplication::sendEvent(block->Form(), &activate);
  for (int i = 0; i < 40 && block->FadeStep() != 0; ++i) {
  }
  block->SetTouchMode(TTouchScreen::kNBM2);
  EXPECT_EQ(Started(), 0);
  EXPECT_FALSE(block->IsStreaming());
}

TEST_F(StreamHoldTest, UncheckingActiveEndsTheStream) {
  // The SAR readout has no "Active" box.
  for (const Kind& kind : {Kinds()[0], Kinds()[1], Kinds()[3]}) {
    recorder.calls.clear();
    std::unique_ptr<TStreamingShape> widget = kind.make(*this);
    Pointer(widget.get(), true);
    ASSERT_EQ(Started(), 1) << kind.name;
    QCheckBox* active = kind.name == std::string("touch") ? static_cast<TTouchScreen*>(widget.get())->ActiveBox()
                                                            : static_cast<TDataReadout*>(widget.get())->ActiveBox();
    active->click();
    EXPECT_EQ(widget->GetMode(), 0) << kind.name;
    EXPECT_TRUE(EndsWithStop()) << kind.name;
    EXPECT_EQ(widget->GetFadeState(), kFadeIdle) << kind.name;
  }
}

}  // namespace
