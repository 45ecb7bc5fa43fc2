// The touch-screen block: while its window is active (or the pointer rests
// on it) it runs the current mode's set-up script, polls the controller's
// status and reads the coordinates, drawing each new point as a segment in
// the block and in its window "TouchScreenForm".
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QWidget>
#include <mutex>
#include <string>

#include "common/canvas.h"
#include "diagram/context.h"
#include "diagram/control_layout.h"
#include "diagram/script_button.h"
#include "diagram/streaming_widget.h"

class TI2CCommand;
class TTouchScreen;

class TTouchScreenForm : public QWidget {
 public:
  explicit TTouchScreenForm(TTouchScreen* block);

  TTouchScreen* block;
  TCanvas formBitmap;
  QWidget* PaintBox;
  QPushButton *Clear, *Script;
  QGroupBox *TouchDetectionOptions, *PanelVoltageOptions, *ReferenceOptions, *XPYMOptions;
  QCheckBox *TouchDetection, *DoubleSampleDuration, *RefAlwaysOn, *IN12, *YMDriver;
  QSlider *Precharge, *Sense, *PanelStabilization, *RefStabilization;
  QLabel *PrechargeText, *SenseText, *PanelStabilizationText, *RefStabilizationText;
  QRadioButton *RefV1, *RefV2, *NBM1, *NBM2, *DS;
  QComboBox* XPPullUp;
  // Set while the block's refresh sets the controls: their handlers then
  // set the texts only.
  bool loading = false;

  void TouchDetectionClick();
  void PrechargeChange();
  void SenseChange();
  void PanelStabilizationChange();
  void XPPullUpChange();
  void YMDriverClick();
  void DoubleSampleDurationClick();
  void RefAlwaysOnClick();
  void RefV1Click();
  void RefV2Click();
  void RefStabilizationChange();
  void NBM1Click();
  void NBM2Click();
  void IN12Click();
  void DSClick();
  void ClearClick();

 protected:
  bool event(QEvent* event) override;

 private:
  void EnableOptions(bool flag);
  // A track bar's text from its table and its value into the register's bits.
  void TrackChange(QSlider* track, QLabel* text, const char* const* table, int mask, int page, int reg, int shift);
};

class TTouchScreen : public TStreamingShape {
 public:
  enum { kNBM1 = 0, kNBM2 = 1, kNBM2IN12 = 2, kDS = 3 };

  TTouchScreen(QWidget* owner, const float* rect, void* window, TScriptTransferCallback transfer, int address);
  ~TTouchScreen() override;

  void Place(float scale, int dx, int dy) override;
  bool Click(int x, int y) override;
  void OnHighlighted() override;
  void OnUnhighlighted() override;
  void SetActiveObjects(bool flag) override;
  void Draw(TCanvas* canvas) override;
  void OnRegisterChanged(int device, int page, unsigned reg) override;
  void Refresh() override;

  void ActiveClick();
  void SetTouchMode(int mode);
  void ClearBitmap(TCanvas& bitmap);
  void DrawSegment(TCanvas& bitmap, int x0, int y0, int x1, int y1);
  void DrawNewSegment();
  // A register of any page of the device: page 3 register 0 is `data`.
  // Null while the window is unbound.
  uint8_t* Register(int page, int reg);
  // Changes bits of one register and writes it.
  void SetBits(int page, int reg, uint8_t mask, uint8_t value);
  // Decodes one sample of the current mode from the image.
  void Decode(int page);

  int GetAddress() const { return address; }
  int GetTouchMode() const { return mode; }
  bool IsStreaming() const { return streaming; }
  TTouchScreenForm* Form() const { return form; }
  TCanvas& BlockBitmap() { return blockBitmap; }
  QCheckBox* ActiveBox() const { return activeBox.data(); }
  // The current mode's script window, built at this call when it is not yet.
  TI2CCommand* CurrentScript() { return scripts[mode].Window(); }
  int Segments() const { return segments; }
  // Where the next segment starts: the last valid point decoded.
  std::pair<int, int> LastPoint() const { return {lastX, lastY}; }

 private:
  void Request(int page, int reg, int count);
  // The linked IN1/IN2 readout is fed by this block (on) or streams itself again.
  void DriveReadout(bool on);

  TCanvas blockBitmap;
  int pointX = 0, pointY = 0, penDown = 0, lastX = 0, lastY = 0;
  bool lastValid = false;
  TTouchScreenForm* form = nullptr;
  TScriptWindow scripts[4];
  int mode = kNBM1;
  // Drawing may call back into drawing (a segment repaints the block): re-entrant.
  std::recursive_mutex drawLock;
  QPointer<QCheckBox> activeBox;
  TControlFit activeFit;
  bool streaming = false;
  int segments = 0;
  int address;
};
