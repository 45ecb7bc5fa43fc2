// The AGC window: the codec's automatic gain control (page 0, registers
// 86..93) with a live plot of the computer's own audio input level under
// two draggable lines, the target level and the noise threshold.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/audio_capture.h"
#include "codec/dialog_support.h"
#include "common/shapes.h"

class QCheckBox;
class QProgressBar;
class QPushButton;
class QSlider;

// A draggable horizontal level line of the AGC plot.
class TAGCLine : public TGUILine {
 public:
  static constexpr unsigned kMaxLevels = 128;
  TAGCLine(float x1, float x2, float y, TColor colour);
  ~TAGCLine() override = default;
  void Draw(TCanvas*) override {}

  // The level nearest to `dB` (differences truncated to whole dB, the
  // first wins ties); it becomes the selected one.
  float NearestIndex(float dB);
  void SetCaption(const std::string& text) { caption = text; }
  void AddLevel(float dB) {
    if (levelCount < kMaxLevels) levels[levelCount++] = dB;
  }
  // Both points to height `y`.
  void MoveTo(float y);
  // Draws the line and its caption in its current colour.
  void Paint(QPainter& painter) const;

  bool dragging = false;
  std::string caption;
  float levels[kMaxLevels] = {};
  unsigned levelCount = 0;
  int selectedIndex = 0;

 private:
  float x1_, x2_;
};

class TAGCForm : public TCodecDialog {
 public:
  static constexpr unsigned kBufferBytes = 1024;
  static constexpr unsigned kBufferSamples = kBufferBytes / 2;
  static constexpr unsigned kRate = 44100;

  TAGCForm();
  ~TAGCForm() override;

  TI2CObject* GetI2CObject(int index) { return index == 0 ? &agc : nullptr; }
  void WriteRegisters();
  // The level plot's mapping of dB to y and back.
  int LevelY(double dB) const;
  double YLevel(int y) const;

  QCheckBox* AGCEnabled;
  QWidget* Plot;
  QLabel* TargetLevelText;
  QLabel* NoiseThresholdText;
  QSlider* MaxGain;
  QLabel* MaxGainText;
  QProgressBar* CurrentGain;
  QWidget* MiniPlot;
  QPushButton* MoreLess;
  QSlider* Attack;
  QSlider* AttackMult;
  QSlider* Decay;
  QSlider* DecayMult;
  QLabel* AttackText;
  QLabel* AttackMultText;
  QLabel* DecayText;
  QLabel* DecayMultText;
  QSlider* Signal;
  QSlider* Noise;
  QLabel* SignalText;
  QLabel* NoiseText;
  QSlider* Hysteresis;
  QLabel* HysteresisText;

  // The capture device of the next show (the default input unless set).
  std::function<std::unique_ptr<AudioCapture>()> makeCapture;
  // The samples of the last buffer that came back; empty until then.
  std::vector<int16_t> lastBuffer;
  // Buffers taken into the plot since construction.
  unsigned buffersShown = 0;
  bool expanded = false;
  bool stopping = false;
  TFormI2C agc{0, 86, 8, [this] { Refresh(); }};
  std::unique_ptr<TAGCLine> targetLine, noiseLine;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FormShow();
  void FormHide();
  void StopCapture();
  void PlotPaint(QPainter& p);
  void MiniPlotPaint(QPainter& p);
  void PlotMouseDown(int x, int y);
  void PlotMouseMove(int x, int y);
  void PlotMouseUp();
  void Times();
  void Refresh();

  std::unique_ptr<AudioCapture> capture;
  // Buffers of an earlier capture carry an older number and are ignored.
  unsigned generation = 0;
};
