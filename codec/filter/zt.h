// The biquad filter tool window: a Bode plot of its sections above a grid
// of filter rows, a sample-rate edit, the coefficient listing and printing.
// It owns 40 sections, their 40 plot markers and the writer thread that
// carries every changed coefficient set to the codec.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>

#include "codec/filter/biquad.h"
#include "codec/filter/writer_thread.h"
#include "common/canvas.h"
#include "common/shapes.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QRadioButton;
class QSlider;
class QTableWidget;
class TCoeffDisplayForm;
class TZT;

// The plot marker of one section: a 6 x 6 outline in the section's colour.
class TZTCursor : public TGUIRectangle {
 public:
  TZTCursor();
  ~TZTCursor() override;
  void SetPosition(float x, float y);

  float x = 0;
  float y = 0;
  bool dragging = false;
  bool bandwidthDrag = false;
};

// The plot's paint box: shows the plot canvas and hands the pointer to the tool.
class TBodePlotBox : public QWidget {
 public:
  TBodePlotBox(TZT* tool, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  TZT* tool;
};

class TZT : public QWidget {
 public:
  static constexpr unsigned kFilters = 40;

  explicit TZT(QWidget* owner = nullptr);
  ~TZT() override;

  // Called by the codec instance after construction.
  void SetResolution(int bits);
  void SetSampleRate(double fs);
  void SetWriteCallback(void* context, TBiquadWriteCallback callback);
  void SetAsyncWrite(bool manual);
  void SetFilterCount(unsigned n);
  void CheckCodecName(const std::string& name);
  void PlaceCursors();

  // Parse and clamp: true when the text converted; `value` keeps its
  // content otherwise; values outside [min, max] are clamped.
  static bool ClampDouble(const std::string& text, double min, double max, double& value);
  static bool ClampInt(const std::string& text, int min, int max, int& value);
  static bool ClampIntEdit(QLineEdit* edit, int min, int max, int& value);

  // Grid handlers (row r is filter r; column 0 is "No.").
  std::string ParametersGetEditText(int column, int row) const;
  void ParametersSetEditText(int column, int row, const std::string& text);
  void ParametersKeyPress(int key);
  void ParametersMouseMove(int x, int y);
  bool ParametersCanEdit(int column, int row) const;

  void SampleRateEditExit();
  void CoeffButtonClick();
  void PrintClick();
  void VolumeChange();
  void EditVolumeExit();
  void QMX7120FsClick();
  void UpdateCodecClick();

  // Plot mapping (frame from (50, 10) to (W - 40, H - 35)); positions are
  // signed so that what lies outside a zoomed range stays outside.
  int PhaseToPixel(double degrees) const;
  // The spacing of the gain grid lines for a range (3 dB for 24 dB).
  static double GainStep(double top, double bottom);
  void FreqGainToPixel(double f, double dB, int& x, int& y) const;
  void PixelToFreqGain(int x, int y, double& f, double& dB) const;
  // Draws the whole plot into its canvas and schedules the box's update.
  void BodePlotPaint();
  void BodePlotMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  void BodePlotMouseMove(Qt::KeyboardModifiers shift, int x, int y);
  void BodePlotMouseUp();
  void BodePlotDblClick();

  // Row controls of filter i.
  QCheckBox* EnableBox(unsigned i) const { return enableBoxes[i]; }
  QCheckBox* SecondBox(unsigned i) const { return secondBoxes[i]; }
  QComboBox* TypeBox(unsigned i) const { return typeBoxes[i]; }
  QComboBox* SubtypeBox(unsigned i) const { return subtypeBoxes[i]; }
  TBiquad* Filter(unsigned i) const { return filters[i]; }
  TZTCursor& Cursor(unsigned i) { return cursors[i]; }
  TCoeffDisplayForm* CoefficientWindow() const { return coefficientWindow; }
  TRefreshEVMThread& Writer() { return *writer; }
  TCanvas& PlotCanvas() { return plotCanvasImage; }
  QPrinter& Printer() { return *printer; }
  unsigned FilterCount() const { return filterCount; }
  // Whether the window is shown, readable from the writer thread (the
  // codec's writer sends nothing while the window is hidden).
  bool Shown() const { return shown.load(); }
  double SampleRate() const { return sampleRate; }
  double VolumeDb() const { return volumeDb; }
  bool EnterPressed() const { return enterPressed; }

  // Form controls.
  TBodePlotBox* BodePlot;
  QLabel* OrvaneLogo;
  QTableWidget* Parameters;
  QLabel* StaticText1;
  QLineEdit* SampleRateEdit;
  QLabel* StaticText2;
  QGroupBox* GroupBox1;
  QCheckBox* Gain;
  QCheckBox* Phase;
  QPushButton* CoeffButton;
  QPushButton* Print;
  QSlider* Volume;
  QLineEdit* EditVolume;
  QLabel* StaticText3;
  QGroupBox* QMX7120Fs;
  QRadioButton* QMX7120FsItems[2];
  QPushButton* UpdateCodec;

  // Plot state.
  double plotTop = 12.0, plotBottom = -12.0;
  double gainTop = 12.0, gainBottom = -12.0;
  double freqMin = 10.0, freqMax = 22050.0;
  int lastX = 0, lastY = 0;
  int zoomStart[2] = {0, 0};
  int zoomEnd[2] = {0, 0};
  bool zooming = false;
  bool rescaling = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void RefreshGrid();
  void PlaceRowControls();
  void RebuildCoefficients();
  void RepaintPlot() { BodePlotPaint(); }
  void EnableClick(unsigned i);
  void SecondClick(unsigned i);
  void TypeChange(unsigned i, bool subtype);
  void SetRowEnabled(unsigned i, bool on);
  bool CursorInFrame(unsigned i) const;
  void DrawAxes(QPainter& painter);
  void DrawCurves(QPainter& painter);
  // The gain mapping of FreqGainToPixel, y = trunc(k dB + offset).
  struct TGainAxis {
    double k, offset;
    int Pixel(double dB) const;
  };
  TGainAxis GainAxis() const;
  // The frequency axis of the curves: one point every second pixel.
  const TFrequencyTable& CurveAxis();
  int PlotWidth() const;
  int PlotHeight() const;

  double sampleRate = 44100.0;
  TBiquad* filters[kFilters] = {};
  TZTCursor cursors[kFilters];
  unsigned filterCount = 0;
  QCheckBox* enableBoxes[kFilters] = {};
  QCheckBox* secondBoxes[kFilters] = {};
  QComboBox* typeBoxes[kFilters] = {};
  QComboBox* subtypeBoxes[kFilters] = {};
  bool enterPressed = false;
  TCoeffDisplayForm* coefficientWindow = nullptr;
  double volumeDb = 0.0;
  std::string codecName;
  std::unique_ptr<TRefreshEVMThread> writer;
  // The curves' frequency axis and each section's response on it: a paint
  // evaluates only the sections that changed since the last one.
  TFrequencyTable curveAxis;
  double curveAxisKey[4] = {};  // width, lowest and highest frequency, rate
  TResponseCurve curves[kFilters];
  TCanvas plotCanvasImage;
  TCanvas* plotCanvas = nullptr;
  std::unique_ptr<QPrinter> printer;
  std::atomic<bool> shown{false};
};
