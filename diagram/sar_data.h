// The SAR converter readout: while the pointer rests on it, it starts
// conversions and streams the 16 result registers at 50 Hz, drawing IN1,
// IN2, BAT and the temperature into an off-screen image; its "SAR Control"
// window mirrors and sets the input-selection bits and calibrates the
// temperature.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "diagram/streaming_widget.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TSARData;

class TSARControlForm : public QWidget {
 public:
  TSARControlForm();
  // Boxes and radio buttons from the input-selection register (19).
  void ShowSelection(uint8_t selection);
  // The readout the controls act on.
  void SetReadout(TSARData* readout) { this->readout = readout; }

  QCheckBox *in1Enabled, *in2Enabled, *batEnabled, *tempEnabled;
  QRadioButton *in1Voltage, *in1Resistance, *in2Voltage, *in2Resistance, *biasInternal, *biasExternal;
  QRadioButton *temp1, *temp2;
  QLineEdit* reference;
  QPushButton* calibrate;

 private:
  void Select(uint8_t mask, bool set);
  void CalibrateClick();

  TSARData* readout = nullptr;
};

class TSARData : public TStreamingShape {
 public:
  // The SAR registers are page 3, registers 0..69 of `device`: the window
  // covers all of them, so every byte it reads is one that is refreshed.
  static constexpr int kPage = 3;
  static constexpr int kRegisters = 70;
  static constexpr int kSelectionRegister = 19;
  // The calibration file, in the working directory.
  static constexpr const char* kCalibrationFile = "t";

  TSARData(int device, QWidget* owner, const float* rect);
  ~TSARData() override;

  void Place(float scale, int dx, int dy) override;
  void Draw(TCanvas* canvas) override;
  bool Click(int x, int y) override;
  void OnHighlighted() override;
  void OnUnhighlighted() override;
  void Refresh() override;

  // Ends the stream: the refresh stops and so do the conversions.
  void StopStream();
  // Sets or clears `mask` in the input-selection register and writes it.
  void WriteSelection(uint8_t mask, bool set);
  // Sets the factor so that the temperature last read shows as `celsius`,
  // stores it in the calibration file and uses it at once. "" when done,
  // else what was wrong (nothing changed unless only the storing failed).
  std::string Calibrate(double celsius);

  // The four lines of the last refresh.
  const std::string& Line(int i) const { return lines[i & 3]; }
  bool IsCalibrated() const { return calibrated; }
  float GetCalibration() const { return calibration; }
  bool ShowsBitmap() const { return showBitmap; }
  const TCanvas& Bitmap() const { return bitmap; }
  TSARControlForm* ControlForm() const { return control.get(); }
  // Top and bottom pixel rows of line `i` in the bitmap.
  std::pair<int, int> LineRows(int i) const;

 private:
  void StartConversions();
  void ComputeLines();
  // The lines into the image; DrawLines also copies it onto the diagram.
  void RenderLines();
  void DrawLines();
  double Volts(int reg, double vref) const;

  TCanvas bitmap;
  bool showBitmap = true;
  bool firstDraw = true;
  bool tempToggle = true;
  bool calibrated = false;
  float calibration = 1.0f;
  double temperature = 293.15;
  std::string lines[4];
  std::unique_ptr<TSARControlForm> control;
};
