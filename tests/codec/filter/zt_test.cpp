// The filter tool window offscreen: plot mapping and pointer, grid edits,
// row controls, the coefficient window, printing, and what reaches the
// write callback.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QTest>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "codec/filter/coeff_display_form.h"
#include "codec/filter/zt.h"
#include "filter_ui_support.h"
#include "tests/support/slider_probe.h"
#include "tests/support/test_support.h"

namespace {

using filtertest::Drag;
using filtertest::SendMouse;
using filtertest::Writes;

class FilterTool : public testing::Test {
 protected:
  FilterTool() {
    // Set up as the codec instance does.
    zt.SetResolution(16);
    zt.SetSampleRate(44100.0);
    zt.SetWriteCallback(&writes, Writes::Callback);
    zt.setWindowTitle("Multi Biquad Playback Filter Tool");
    zt.SetAsyncWrite(false);
    zt.SetFilterCount(5);
    zt.show();
    QApplication::processEvents();
    Settle();
  }

  // Waits until the writer thread has sent all that was queued and returns it.
  std::vector<Writes::Call> Settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool idle = false;
    while (!(idle = zt.Writer().Idle()) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(idle);
    return writes.Take();
  }

  void Enable(unsigned i) {
    QTest::mouseClick(zt.EnableBox(i), Qt::LeftButton);
    ASSERT_TRUE(zt.Filter(i)->enabled) << i;
  }

  // Types into a value cell and ends the edit with `key`.
  void EditCell(int row, int column, const QString& text, Qt::Key key = Qt::Key_Return) {
    filtertest::TypeInto(zt.Parameters, row, column, text, key);
  }

  // Qt's order: press, release, double click, release.
  void DoubleClick(int x, int y) {
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease})
      SendMouse(zt.BodePlot, type, x, y);
  }

  QPoint CursorAt(unsigned i) { return QPoint(int(zt.Cursor(i).x), int(zt.Cursor(i).y)); }

  filtertest::Answers answers;
  Writes writes;
  TZT zt;
};

TEST_F(FilterTool, MapsFrequencyGainAndPhaseOntoTheDefaultPlot) {
  ASSERT_EQ(zt.BodePlot->size(), QSize(827, 337));
  struct Case {
    double f, dB;
    int x, y;
  };
  for (const Case& c : {Case{10, 12, 50, 10}, {100, 5, 270, 95}, {1000, 0, 490, 156}, {22050, -12, 787, 302}}) {
    int x, y;
    zt.FreqGainToPixel(c.f, c.dB, x, y);
    EXPECT_EQ(x, c.x) << c.f;
    EXPECT_EQ(y, c.y) << c.dB;
  }
  EXPECT_EQ(zt.PhaseToPixel(45), 119);
  EXPECT_EQ(zt.PhaseToPixel(0), 156);
  double f, dB = 0;
  zt.PixelToFreqGain(490, 156, f, dB);
  EXPECT_NEAR(f, 995, 5);  // one pixel is about 1 % of frequency here
  EXPECT_NEAR(dB, 0, 0.1);
  // Left of the frame reads as the frame's edge, not as a wrapped huge value.
  zt.PixelToFreqGain(3, 156, f, dB);
  EXPECT_NEAR(f, 10, 1e-3);
}

TEST_F(FilterTool, DraggingAMarkerRedesignsKeepingTheBandwidthRatioAndWrites) {
  zt.SetFilterCount(6);
  Enable(5);  // EQ at 1000 Hz, 200 Hz wide
  ASSERT_EQ(Settle().size(), 1u);
  const QPoint from = CursorAt(5);
  EXPECT_EQ(from, QPoint(490, 156));
  Drag(zt.BodePlot, from.x(), from.y(), 600, 95);
  double f, dB = 0;
  zt.PixelToFreqGain(600, 95, f, dB);
  const TBiquad& s = *zt.Filter(5);
  EXPECT_EQ(s.fc, std::trunc(f));
  EXPECT_NEAR(s.bandwidth, 0.2 * s.fc, 1e-9);
  EXPECT_NEAR(s.gain, 5, 0.1);
  EXPECT_EQ(zt.Parameters->item(5, 4)->text().toStdString(), std::to_string(int(s.fc)));
  const auto calls = Settle();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().slot, 5u);
  EXPECT_EQ(calls.back().num[0], s.N0);
  EXPECT_EQ(calls.back().den[1], s.D1);
}

TEST_F(FilterTool, ShiftDragChangesOnlyTheBandwidth) {
  zt.SetFilterCount(6);
  Enable(5);
  const QPoint from = CursorAt(5);
  double f, dB = 0;
  zt.PixelToFreqGain(520, 100, f, dB);
  Drag(zt.BodePlot, from.x(), from.y(), 520, 100, Qt::LeftButton, Qt::ShiftModifier);
  const TBiquad& s = *zt.Filter(5);
  EXPECT_EQ(s.fc, 1000);
  EXPECT_NEAR(s.bandwidth, 2 * std::fabs(f - 1000), 1e-6);
  EXPECT_EQ(zt.Cursor(5).x, float(from.x()));
  EXPECT_EQ(zt.Cursor(5).y, 100.0f);
}

TEST_F(FilterTool, DoubleClickEnablesTheNextSectionAtThePointerAndDisablesAMarker) {
  Enable(0);
  Enable(1);
  Settle();
  DoubleClick(600, 120);
  ASSERT_TRUE(zt.Filter(2)->enabled);
  EXPECT_TRUE(zt.EnableBox(2)->isChecked());
  EXPECT_TRUE(zt.SecondBox(2)->isEnabled());
  double f, dB = 0;
  zt.PixelToFreqGain(600, 120, f, dB);
  EXPECT_EQ(zt.Filter(2)->fc, std::trunc(f));
  EXPECT_FALSE(zt.Cursor(2).dragging);

  DoubleClick(600, 120);
  EXPECT_FALSE(zt.Filter(2)->enabled);
  EXPECT_FALSE(zt.EnableBox(2)->isChecked());
  const auto calls = Settle();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().slot, 2u);
  EXPECT_EQ(calls.back().num[0], 32767);  // pass-through set
  EXPECT_EQ(calls.back().den[1], 0);
}

TEST_F(FilterTool, AMarkerDisabledByADoubleClickDragsNoMoreAfterItsRelease) {
  Enable(4);  // EQ at 400 Hz
  Settle();
  const QPoint at = CursorAt(4);
  QTest::mousePress(zt.BodePlot, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(zt.BodePlot, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(zt.BodePlot, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(zt.BodePlot, Qt::LeftButton, Qt::NoModifier, at);
  ASSERT_FALSE(zt.Filter(4)->enabled);
  Settle();
  QTest::mouseClick(zt.EnableBox(4), Qt::LeftButton);  // enabled again in the grid
  ASSERT_TRUE(zt.Filter(4)->enabled);
  ASSERT_EQ(Settle().size(), 1u);
  const TBiquad& s = *zt.Filter(4);
  const double fc = s.fc, gain = s.gain;
  // No button is held: the pointer only passes over the plot.
  for (const QPoint& to : {QPoint(600, 100), QPoint(300, 250), QPoint(at.x() + 40, at.y() - 30)})
    QTest::mouseMove(zt.BodePlot, to);
  EXPECT_FALSE(zt.Cursor(4).dragging);
  EXPECT_EQ(s.fc, fc);
  EXPECT_EQ(s.gain, gain);
  EXPECT_EQ(CursorAt(4), at);
  EXPECT_TRUE(Settle().empty());
}

TEST_F(FilterTool, ZoomIgnoresRangesThatTruncateToOneValue) {
  struct Case {
    const char* name;
    int x0, y0, x1, y1;
    bool changes;
  };
  // 0 dB is y = 156; one dB is about 12 pixels.
  for (const Case& c : {Case{"HalfDbHigh", 100, 150, 600, 156, false},
                        Case{"StraddlesZero", 100, 150, 600, 163, false},  // 0.5 .. -0.6 dB truncate to 0 and 0
                        Case{"LeftOfTheFrame", 3, 60, 490, 250, true}}) {
    zt.BodePlotMouseDown(Qt::RightButton, Qt::NoModifier, 400, 100);  // reset
    Drag(zt.BodePlot, c.x0, c.y0, c.x1, c.y1, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_FALSE(zt.zooming);
    EXPECT_EQ(zt.gainTop != 12.0, c.changes) << c.name;
    EXPECT_GT(zt.gainTop, zt.gainBottom) << c.name;
    EXPECT_GT(zt.freqMax, zt.freqMin) << c.name;
    int x, y;
    zt.FreqGainToPixel(1000, 0, x, y);
    EXPECT_GE(y, 10) << c.name;
    if (c.changes) {
      EXPECT_EQ(zt.freqMin, 10) << c.name;
      EXPECT_EQ(zt.freqMax, 990) << c.name;
    }
  }
}

TEST_F(FilterTool, AMuchLowerRateAfterAZoomKeepsTheFrequencyAxisRising) {
  struct Case {
    const char* name;
    double zoomLow, zoomHigh;
    const char* rate;
    bool keepsZoom;
  };
  // 8000 Hz leaves nothing of a 6..15 kHz zoom; a 100..1000 Hz zoom fits below 2000 Hz.
  for (const Case& c : {Case{"NothingLeft", 6000, 15000, "8000", false}, {"StillBelow", 100, 1000, "4000", true}}) {
    zt.SampleRateEdit->setText("44100");
    QTest::keyClick(zt.SampleRateEdit, Qt::Key_Return);
    QTest::mouseClick(zt.BodePlot, Qt::RightButton, Qt::NoModifier, QPoint(400, 100));  // reset
    int x0, y0, x1, y1;
    zt.FreqGainToPixel(c.zoomLow, 6, x0, y0);
    zt.FreqGainToPixel(c.zoomHigh, -6, x1, y1);
    Drag(zt.BodePlot, x0, y0, x1, y1, Qt::LeftButton, Qt::ControlModifier);
    const double zoomedMin = zt.freqMin, zoomedTop = zt.gainTop;
    ASSERT_NEAR(zoomedMin, c.zoomLow, c.zoomLow / 50) << c.name;
    zt.SampleRateEdit->setText(c.rate);
    QTest::keyClick(zt.SampleRateEdit, Qt::Key_Return);
    EXPECT_EQ(zt.freqMin, c.keepsZoom ? zoomedMin : 10.0) << c.name;
    EXPECT_EQ(zt.freqMax, zt.SampleRate() / 2) << c.name;
    EXPECT_EQ(zt.gainTop, zoomedTop) << c.name;  // the gain range stays as zoomed
    // Higher frequencies lie further right.
    int low, high, y;
    zt.FreqGainToPixel(zt.freqMax / 4, 0, low, y);
    zt.FreqGainToPixel(zt.freqMax / 2, 0, high, y);
    EXPECT_LT(low, high) << c.name;
  }
  // A rate the host reports below 20 Hz has no room even for the default range.
  zt.SetSampleRate(16);
  EXPECT_LT(zt.freqMin, zt.freqMax);
}

TEST_F(FilterTool, MarkersOutsideAZoomedRangeAreNotDrawnNorPicked) {
  Enable(0);  // EQ at 20 Hz
  Enable(4);  // EQ at 400 Hz
  int x0, y0, x1, y1;
  zt.FreqGainToPixel(200, 6, x0, y0);
  zt.FreqGainToPixel(5000, -6, x1, y1);
  Drag(zt.BodePlot, x0, y0, x1, y1, Qt::LeftButton, Qt::ControlModifier);
  ASSERT_EQ(zt.freqMin, std::trunc(zt.freqMin));
  ASSERT_NEAR(zt.freqMin, 200, 5);
  EXPECT_LT(zt.Cursor(0).x, 0);  // signed: left of the plot
  const QImage& image = zt.PlotCanvas().Image();
  int red = 0;  // section 0's colour 0x0000FF is red
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (zt.PlotCanvas().PixelColour(x, y) == 0x0000FF) ++red;
  EXPECT_EQ(red, 0);
  EXPECT_GT(zt.Cursor(4).x, 50);
}

TEST_F(FilterTool, WithoutTheGainBoxNoGainCurveIsDrawnAndTheRangeStays) {
  Enable(1);
  EditCell(1, 5, "12");  // +12 dB: the numerator is scaled, the range shifted
  const double shifted = zt.plotTop;
  EXPECT_LT(shifted, 12);
  QTest::mouseClick(zt.Phase, Qt::LeftButton);
  QTest::mouseClick(zt.Gain, Qt::LeftButton);
  ASSERT_FALSE(zt.Gain->isChecked());
  EXPECT_EQ(zt.plotTop, shifted);
  const QImage& image = zt.PlotCanvas().Image();
  // Inside the frame, right of the gain labels: only grid lines (grey) and markers remain.
  const int right = 130;
  int white = 0;
  for (int y = 12; y < image.height() - 37; ++y)
    for (int x = right; x < image.width() - 42; ++x) white += zt.PlotCanvas().PixelColour(x, y) == 0xFFFFFFu;
  EXPECT_EQ(white, 0);
  QTest::mouseClick(zt.Gain, Qt::LeftButton);
  for (int y = 12; y < image.height() - 37; ++y)
    for (int x = right; x < image.width() - 42; ++x) white += zt.PlotCanvas().PixelColour(x, y) == 0xFFFFFFu;
  EXPECT_GT(white, 300);
}

TEST_F(FilterTool, CtrlRightDragWidensToTheLimitAndNeverEmpties) {
  zt.BodePlotMouseDown(Qt::RightButton, Qt::ControlModifier, 400, 100);
  for (int k = 0; k < 200; ++k) zt.BodePlotMouseMove(Qt::ControlModifier, 400, 101 + k % 200);
  zt.BodePlotMouseUp();
  EXPECT_EQ(zt.gainTop, 120);
  EXPECT_EQ(zt.gainBottom, -120);
  zt.BodePlotMouseDown(Qt::RightButton, Qt::ControlModifier, 400, 300);
  for (int k = 0; k < 300; ++k) zt.BodePlotMouseMove(Qt::ControlModifier, 400, 100);
  zt.BodePlotMouseUp();
  EXPECT_GT(zt.gainTop, zt.gainBottom);
  EXPECT_LE(zt.gainTop - zt.gainBottom, 2);
}

TEST_F(FilterTool, GridEditsApplyOnEnterOnly) {
  Enable(1);
  Settle();
  EditCell(1, 5, "-4.5");
  EXPECT_DOUBLE_EQ(zt.Filter(1)->gain, -4.5);
  EXPECT_EQ(zt.Parameters->item(1, 5)->text(), "-4.5");
  auto calls = Settle();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].slot, 1u);
  EXPECT_EQ(calls[0].num[0], zt.Filter(1)->N0);

  EditCell(1, 4, "30000");  // clamped to half the rate, then kept 100 Hz below it
  EXPECT_EQ(zt.Filter(1)->fc, 21950);
  EditCell(1, 4, "1");
  EXPECT_EQ(zt.Filter(1)->fc, 10);
  Settle();
  EditCell(1, 4, "abc");  // keeps fc, still designs and queues
  EXPECT_EQ(zt.Filter(1)->fc, 10);
  EXPECT_EQ(Settle().size(), 1u);

  EditCell(1, 4, "500", Qt::Key_Tab);  // left without Enter
  EXPECT_EQ(zt.Filter(1)->fc, 10);
  EXPECT_EQ(zt.Parameters->item(1, 4)->text(), "10");
  EXPECT_TRUE(Settle().empty());

  EditCell(1, 5, "99");  // clamped to the plot's range
  EXPECT_EQ(zt.Filter(1)->gain, 12);
  // Q is editable only for Variable Q sections.
  EXPECT_FALSE(zt.Parameters->item(1, 7)->flags() & Qt::ItemIsEditable);
  EXPECT_TRUE(zt.Parameters->item(1, 6)->flags() & Qt::ItemIsEditable);
}

TEST_F(FilterTool, TypeChangeRedesignsWithoutWriting) {
  Enable(3);
  Settle();
  const int32_t before = zt.Filter(3)->N1;
  // The pointer over a type cell shows that row's box, and only that one.
  const QRect cell = zt.Parameters->visualRect(zt.Parameters->model()->index(3, 2));
  SendMouse(zt.Parameters->viewport(), QEvent::MouseMove, cell.center().x(), cell.center().y(), Qt::NoButton);
  QComboBox* type = zt.TypeBox(3);
  ASSERT_FALSE(type->isHidden());
  EXPECT_EQ(type->geometry().left(), cell.left() + 2);
  EXPECT_TRUE(zt.TypeBox(2)->isHidden());
  EXPECT_TRUE(zt.SubtypeBox(3)->isHidden());
  QTest::keyClick(type, Qt::Key_Down);
  QTest::keyClick(type, Qt::Key_Down);  // "Low Pass"
  EXPECT_EQ(zt.Filter(3)->type, kBiquadLowPass);
  EXPECT_NE(zt.Filter(3)->N1, before);
  EXPECT_TRUE(zt.SubtypeBox(3)->isEnabled());
  EXPECT_EQ(zt.Parameters->item(3, 2)->text(), "Low Pass");
  EXPECT_EQ(zt.Parameters->item(3, 3)->foreground().color(), QColor(Qt::black));
  EXPECT_TRUE(Settle().empty());
  // The next write of the slot carries the new section.
  EditCell(3, 5, "1");
  const auto calls = Settle();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].num[1], zt.Filter(3)->N1);
}

TEST_F(FilterTool, RateChangeRedesignsAllFortyAndQueuesThem) {
  zt.SampleRateEdit->setText("48000");
  QTest::keyClick(zt.SampleRateEdit, Qt::Key_Return);
  EXPECT_EQ(zt.SampleRate(), 48000);
  EXPECT_NEAR(zt.Filter(5)->fc, 1000 * 48000 / 44100.0, 1e-9);
  EXPECT_NEAR(zt.Filter(5)->bandwidth, 0.2 * zt.Filter(5)->fc, 1e-9);
  EXPECT_EQ(zt.freqMax, 24000);
  int x, y;
  zt.FreqGainToPixel(1000, 0, x, y);
  EXPECT_EQ(zt.Cursor(5).x, float(x));
  std::set<unsigned> seen;
  for (const auto& call : Settle()) seen.insert(call.slot);
  EXPECT_EQ(seen.size(), 40u);

  zt.SampleRateEdit->setText("1000000");
  QTest::keyClick(zt.SampleRateEdit, Qt::Key_Return);
  EXPECT_EQ(zt.SampleRate(), 196000);
  EXPECT_EQ(zt.SampleRateEdit->text(), "196000");
  zt.SampleRateEdit->setText("fast");
  QTest::keyClick(zt.SampleRateEdit, Qt::Key_Return);
  EXPECT_EQ(zt.SampleRate(), 196000);
  EXPECT_EQ(zt.SampleRateEdit->text(), "196000");
}

TEST_F(FilterTool, ManualWriteSendsEnabledFiltersBetweenMarkers) {
  zt.SetAsyncWrite(true);
  EXPECT_FALSE(zt.UpdateCodec->isHidden());
  QTest::mouseClick(zt.UpdateCodec, Qt::LeftButton);
  auto calls = writes.Take();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].slot, 0xFFFFu);
  EXPECT_EQ(calls[1].slot, 0xFFFEu);
  Enable(4);  // manual mode: the box queues nothing
  EXPECT_TRUE(Settle().empty());
  QTest::mouseClick(zt.UpdateCodec, Qt::LeftButton);
  calls = writes.Take();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].slot, 4u);
  EXPECT_EQ(calls[1].num[0], zt.Filter(4)->N0);
}

TEST_F(FilterTool, VolumeAndSpecialRates) {
  zt.Volume->setValue(0);
  EXPECT_EQ(zt.VolumeDb(), 24);
  EXPECT_EQ(zt.EditVolume->text(), "24");
  zt.EditVolume->setText("-100");
  QTest::keyClick(zt.EditVolume, Qt::Key_Return);
  EXPECT_EQ(zt.Volume->value(), 175);
  EXPECT_EQ(zt.VolumeDb(), -63.5);
  zt.EditVolume->setText("loud");
  QTest::keyClick(zt.EditVolume, Qt::Key_Return);
  EXPECT_EQ(zt.EditVolume->text(), "-63.5");
  // A value between two steps becomes the step the slider takes, moved or not.
  for (const char* typed : {"10.3", "10.4"}) {
    zt.EditVolume->setText(typed);
    QTest::keyClick(zt.EditVolume, Qt::Key_Return);
    EXPECT_EQ(zt.Volume->value(), 27) << typed;
    EXPECT_EQ(zt.EditVolume->text(), "10.5") << typed;
    EXPECT_EQ(zt.VolumeDb(), 10.5) << typed;
  }

  EXPECT_TRUE(zt.QMX7120Fs->isHidden());
  zt.CheckCodecName("QMX7120 rev B");
  EXPECT_FALSE(zt.QMX7120Fs->isHidden());
  EXPECT_NEAR(zt.SampleRate(), 32728.498046875, 1e-9);
}

// The volume bar has +24 dB at the top: Up and the wheel turned up move its
// handle up and the volume louder, Down and the wheel turned down back.
TEST_F(FilterTool, UpAndTheWheelTurnedUpMakeTheVolumeLouder) {
  QSlider* bar = zt.Volume;
  bar->setValue(0);
  const int top = testsupport::SliderHandle(bar).top();
  bar->setValue(bar->maximum());
  ASSERT_LT(top, testsupport::SliderHandle(bar).top());
  const struct {
    const char* what;
    std::function<void()> act;
    double db;
  } moves[] = {
      {"Up", [bar] { QTest::keyClick(bar, Qt::Key_Up); }, 0.5},
      {"Down", [bar] { QTest::keyClick(bar, Qt::Key_Down); }, -0.5},
      {"wheel up", [bar] { testsupport::WheelNotch(bar, 1); }, 1.5},
      {"wheel down", [bar] { testsupport::WheelNotch(bar, -1); }, -1.5},
  };
  for (const auto& m : moves) {
    bar->setValue(48);
    const int handle = testsupport::SliderHandle(bar).top();
    m.act();
    EXPECT_EQ(zt.VolumeDb(), m.db) << m.what;
    EXPECT_EQ(testsupport::SliderHandle(bar).top() < handle, m.db > 0) << m.what;
  }
}

TEST_F(FilterTool, CoefficientWindowReadsEditedTextBack) {
  Enable(0);
  Enable(1);
  Settle();
  QTest::mouseClick(zt.CoeffButton, Qt::LeftButton);
  TCoeffDisplayForm* form = zt.CoefficientWindow();
  ASSERT_TRUE(form->isVisible());
  EXPECT_FALSE(form->Resolution->isEnabled());
  QString text = form->Memo->toPlainText();
  ASSERT_TRUE(text.contains("Text \"* Filter 2 EQ 40 Hz Fc 0.0 dB 8 Hz BW\""));
  // Section 2's first coefficient line follows its heading.
  const int heading = text.indexOf("Text \"* Filter 2\"\n");
  ASSERT_GE(heading, 0);
  const int line = heading + int(strlen("Text \"* Filter 2\"\n"));
  text.replace(line, 6, "0x4000");
  form->Memo->setPlainText(text);
  QTest::keyClick(form->Memo, Qt::Key_Return);
  EXPECT_FALSE(zt.Filter(1)->designed);
  EXPECT_EQ(zt.Filter(1)->N0, 0x4000);
  EXPECT_TRUE(zt.Filter(0)->designed);
  EXPECT_TRUE(form->Memo->toPlainText().contains("Filter 2 Custom Coefficients"));
  EXPECT_FALSE(form->Memo->toPlainText().contains("0x4000\n\n"));  // Enter inserted no line break
  EXPECT_EQ(zt.Parameters->item(1, 2)->text(), "Custom");
  EXPECT_TRUE(Settle().empty());  // reading back writes nothing

  testsupport::TempDir dir;
  answers.saveFile = dir.File("c");
  QTest::mouseClick(form->Save, Qt::LeftButton);
  EXPECT_EQ(answers.proposed, "Coefficients.txt");
  const std::string saved = testsupport::ReadFile(dir.File("c.txt"));
  EXPECT_EQ(saved.substr(0, 31), "Text \"* Sample Rate = 44100\"\r\nT");
  EXPECT_EQ(saved.substr(saved.size() - 2), "\r\n");

  form->Resolution->setEnabled(true);
  for (const auto& [typed, shown] : {std::pair{"40", "32"}, {"4", "8"}}) {
    form->Resolution->setText(typed);
    QTest::keyClick(form->Resolution, Qt::Key_Return);
    EXPECT_EQ(form->Resolution->text(), shown);
  }
  EXPECT_EQ(zt.Filter(0)->bits, 8);
  EXPECT_TRUE(form->Memo->toPlainText().contains("(128 - 2*D1/z"));
  form->Resolution->setText("abc");
  QTest::keyClick(form->Resolution, Qt::Key_Return);
  ASSERT_EQ(answers.messages.size(), 1u);
  EXPECT_EQ(answers.messages[0], "'abc' is not a valid integer value");
  EXPECT_EQ(answers.warnings, answers.messages);
  EXPECT_EQ(zt.Filter(0)->bits, 8);
}

TEST_F(FilterTool, ScreenshotShowsTheCurvesAndMarkersAndPrintsToPdf) {
  for (unsigned i = 0; i < 5; ++i) Enable(i);
  QTest::mouseClick(zt.SecondBox(4), Qt::LeftButton);  // section 4's own curve
  // Section 4: +6 dB at 400 Hz through the grid.
  EditCell(4, 5, "6");
  const QImage image = zt.PlotCanvas().Image();
  int x, y;
  zt.FreqGainToPixel(400, 6, x, y);
  // The marker in section 4's colour (0xFF0000 is blue) sits at (400 Hz, 6 dB).
  EXPECT_EQ(zt.PlotCanvas().PixelColour(x - 3, y), 0xFF0000u);
  // The white total passes through 6 dB at 400 Hz (the other sections are flat).
  bool white = false;
  for (int dy = -2; dy <= 2; ++dy) white |= zt.PlotCanvas().PixelColour(x & ~1, y + dy) == 0xFFFFFFu;
  EXPECT_TRUE(white);
  // Frame and background.
  EXPECT_EQ(zt.PlotCanvas().PixelColour(20, 200), 0u);
  EXPECT_EQ(zt.PlotCanvas().PixelColour(50, 200), 0x808080u);

  const QImage shot = zt.grab().toImage();
  EXPECT_EQ(shot.size(), QSize(843, 516));
  const QString shotPath = QString(FILTER_TEST_OUTPUT_DIR) + "/filter_tool.png";
  ASSERT_TRUE(shot.save(shotPath));

  const QString pdf = QString(FILTER_TEST_OUTPUT_DIR) + "/filter_tool.pdf";
  QFile::remove(pdf);
  zt.Printer().setOutputFormat(QPrinter::PdfFormat);
  zt.Printer().setOutputFileName(pdf);
  answers.modalResult = QDialog::Rejected;
  QTest::mouseClick(zt.Print, Qt::LeftButton);
  EXPECT_FALSE(QFile::exists(pdf));
  answers.modalResult = QDialog::Accepted;
  QTest::mouseClick(zt.Print, Qt::LeftButton);
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.read(5) == "%PDF-");
  EXPECT_GT(file.size(), 10000);
}

// The plot as its definition draws it: every enabled section evaluated on
// its own at every point (20 lg Magnitude, Phase), over the plot's frame and
// markers drawn without curves. The markers lie over the curves in the
// plot and under them here, so the pixels around them are not compared.
class PlotDrawing : public FilterTool {
 protected:
  QImage Reference(std::string* trouble) {
    zt.BodePlotPaint();
    const bool gain = zt.Gain->isChecked(), phase = zt.Phase->isChecked();
    zt.Gain->setChecked(false);
    zt.Phase->setChecked(false);
    zt.BodePlotPaint();  // the frame, its labels from the last curves' range, the markers
    QImage image = zt.PlotCanvas().Image().copy();
    zt.Gain->setChecked(gain);
    zt.Phase->setChecked(phase);

    std::vector<unsigned> shown;
    double shift = 0;
    for (unsigned i = 0; i < zt.FilterCount(); ++i) {
      if (!zt.Filter(i)->enabled) continue;
      shown.push_back(i);
      shift += 20 * std::log10(zt.Filter(i)->normalisation);
    }
    if (gain && (zt.plotTop != zt.gainTop + shift || zt.plotBottom != zt.gainBottom + shift))
      *trouble = "the gain range is not the user's shifted by the sections' scaling";

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QVector<QLine> dashes;
    std::vector<QPolygon> own(shown.size());
    QPolygon total;
    bool dash = true;
    int px = 0, py = 0;
    for (int x = 50; x < zt.BodePlot->width() - 40; x += 2) {
      double f, unused = 0;
      zt.PixelToFreqGain(x, 0, f, unused);
      auto limited = [&](double dB) {
        int gx, gy;
        zt.FreqGainToPixel(f, std::clamp(dB, zt.plotBottom, zt.plotTop), gx, gy);
        return gy;
      };
      double radians = 0, sum = 0;
      for (size_t k = 0; k < shown.size(); ++k) {
        const TBiquad& section = *zt.Filter(shown[k]);
        radians += section.Phase(f);
        const double dB = 20 * std::log10(section.Magnitude(f));
        sum += dB;
        if (zt.SecondBox(shown[k])->isChecked()) own[k].append(QPoint(x, limited(dB)));
      }
      const int y = zt.PhaseToPixel(radians * 57.29577951308232);
      if (x != 50 && dash) dashes.append(QLine(px, py, x, y));
      if (x % 8 == 0) dash = !dash;
      px = x;
      py = y;
      total.append(QPoint(x, limited(sum)));
    }
    if (phase) {
      painter.setPen(QPen(Qt::white, 1));
      painter.drawLines(dashes);
    }
    if (gain) {
      for (size_t k = 0; k < shown.size(); ++k) {
        if (own[k].isEmpty()) continue;
        painter.setPen(QPen(PenColour(zt.Cursor(shown[k]).GetNormalColour()), 1));
        painter.drawPolyline(own[k]);
      }
      painter.setPen(QPen(Qt::white, 1));
      painter.drawPolyline(total);
    }
    return image;
  }

  void ExpectDrawnAsEvaluatedPointByPoint(const std::string& step) {
    std::string trouble;
    const QImage reference = Reference(&trouble);
    EXPECT_EQ(trouble, "") << step;
    zt.BodePlotPaint();
    const QImage& plot = zt.PlotCanvas().Image();
    ASSERT_EQ(plot.size(), reference.size()) << step;
    auto nearMarker = [&](int x, int y) {
      for (unsigned i = 0; i < zt.FilterCount(); ++i)
        if (zt.Filter(i)->enabled && std::abs(x - int(zt.Cursor(i).x)) <= 6 && std::abs(y - int(zt.Cursor(i).y)) <= 6)
          return true;
      return false;
    };
    int differ = 0;
    QPoint first;
    for (int y = 0; y < plot.height(); ++y)
      for (int x = 0; x < plot.width(); ++x)
        if (plot.pixel(x, y) != reference.pixel(x, y) && !nearMarker(x, y) && differ++ == 0) first = QPoint(x, y);
    EXPECT_EQ(differ, 0) << step << ": first at " << first.x() << ", " << first.y();
  }

  void Click(QWidget* box) {
    QTest::mouseClick(box, Qt::LeftButton);
    QApplication::processEvents();
  }
};

TEST_F(PlotDrawing, EveryChangeDrawsWhatEvaluatingEachSectionAtEachPointDraws) {
  // Every type and subtype, boosts and cuts, some with their own curve.
  struct Section {
    int type, subtype;
    double fc, bandwidth, gain;
    bool own;
  };
  const Section sections[] = {
      {kBiquadEQ, 0, 1000, 200, -6, true},        {kBiquadHighPass, kButterworth1, 80, 0, 0, false},
      {kBiquadHighPass, kButterworth2, 150, 0, 3, true}, {kBiquadLowPass, kBessel2, 8000, 0, 0, false},
      {kBiquadLowPass, kLinkwitzRiley2, 12000, 0, -2, false}, {kBiquadHighPass, kVariableQ2, 40, 0, 0, true},
      {kBiquadTrebleShelf, 0, 5000, 0, 9, true},   {kBiquadBassShelf, 0, 200, 0, -4, false},
      {kBiquadPhaseShift, 0, 3000, 600, 0, false}, {kBiquadNotch, 0, 2500, 300, 0, true},
      {kBiquadEQ, 0, 300, 60, 8, false},           {kBiquadLowPass, kButterworth1, 15000, 0, 0, true},
  };
  zt.SetFilterCount(12);
  for (unsigned i = 0; i < 12; ++i) {
    TBiquad& f = *zt.Filter(i);
    f.type = sections[i].type;
    f.subtype = sections[i].subtype;
    f.q = 1.4;
    f.Design(sections[i].fc, sections[i].bandwidth, 44100, sections[i].gain, false);
    Enable(i);
    if (sections[i].own) Click(zt.SecondBox(i));
  }
  zt.PlaceCursors();
  ExpectDrawnAsEvaluatedPointByPoint("designed");

  struct Step {
    const char* name;
    std::function<void()> change;
  };
  const int32_t custom[5] = {20000, -15000, 9000, 30000, -29000};
  const Step steps[] = {
      {"marker dragged", [&] { Drag(zt.BodePlot, CursorAt(0).x(), CursorAt(0).y(), 560, 80); }},
      {"marker shift-dragged", [&] {
         Drag(zt.BodePlot, CursorAt(9).x(), CursorAt(9).y(), CursorAt(9).x() + 30, 200, Qt::LeftButton,
              Qt::ShiftModifier);
       }},
      {"custom coefficients", [&] {
         zt.Filter(3)->SetCustom(custom);
         zt.BodePlotPaint();
       }},
      {"own curve ticked", [&] { Click(zt.SecondBox(7)); }},
      {"section disabled", [&] { Click(zt.EnableBox(2)); }},
      {"type changed", [&] {
         zt.TypeBox(1)->setCurrentIndex(kBiquadNotch);
         emit zt.TypeBox(1)->activated(kBiquadNotch);
       }},
      {"resolution", [&] { zt.SetResolution(24); }},
      {"zoomed", [&] { Drag(zt.BodePlot, 200, 60, 650, 250, Qt::LeftButton, Qt::ControlModifier); }},
      {"range widened", [&] { Drag(zt.BodePlot, 400, 100, 400, 300, Qt::RightButton, Qt::ControlModifier); }},
      {"phase hidden", [&] { Click(zt.Phase); }},
      {"gain hidden, phase shown", [&] {
         Click(zt.Gain);
         Click(zt.Phase);
       }},
      {"gain shown", [&] { Click(zt.Gain); }},
      {"rate", [&] { zt.SetSampleRate(48000); }},
      {"marker dragged at the new rate", [&] { Drag(zt.BodePlot, CursorAt(6).x(), CursorAt(6).y(), 300, 90); }},
      {"axes reset", [&] { SendMouse(zt.BodePlot, QEvent::MouseButtonPress, 400, 150, Qt::RightButton); }},
  };
  for (const Step& step : steps) {
    step.change();
    ExpectDrawnAsEvaluatedPointByPoint(step.name);
  }
}

TEST(FilterToolPlot, GainGridStep) {
  for (const auto& [range, step] : {std::pair{24.0, 3.0}, {12.0, 1.0}, {6.0, 0.5}, {2.0, 0.1}, {48.0, 6.0}, {240.0, 30.0}})
    EXPECT_DOUBLE_EQ(TZT::GainStep(range / 2, -range / 2), step) << range;
}

TEST(FilterToolClamps, ConvertClampOrKeep) {
  double d = 7;
  EXPECT_TRUE(TZT::ClampDouble(" 1e3 ", 0.001, 1000, d));
  EXPECT_EQ(d, 1000);
  EXPECT_FALSE(TZT::ClampDouble("nan", 0.001, 1000, d));
  EXPECT_FALSE(TZT::ClampDouble("5 Hz", 0.001, 1000, d));
  EXPECT_EQ(d, 1000);
  int i = 3;
  EXPECT_TRUE(TZT::ClampInt("-99999999999", 10, 22050, i));
  EXPECT_EQ(i, 10);
  EXPECT_TRUE(TZT::ClampInt("30", 10, 4, i));  // an empty range keeps its minimum
  EXPECT_EQ(i, 10);
  EXPECT_FALSE(TZT::ClampInt("1.5", 10, 22050, i));
  EXPECT_EQ(i, 10);
}

TEST(FilterToolLifetime, DestroyingTheWindowReturnsWithinASecond) {
  auto zt = std::make_unique<TZT>();
  EXPECT_FALSE(zt->Shown());
  zt->show();
  EXPECT_TRUE(zt->Shown());
  zt->hide();
  EXPECT_FALSE(zt->Shown());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  zt.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
