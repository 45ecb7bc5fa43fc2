// The DAC volume dialog (made twice, left and right channel), the dynamic
// range compression dialog shared by both, the beep generator and the SAR
// converter dialog.
#pragma once

#include "codec/dialog_support.h"

class QCheckBox;
class QComboBox;
class QPaintEvent;
class QPushButton;
class QRadioButton;
class QButtonGroup;
class QSlider;
class QTimer;
class TDRCForm;

class TDACVolForm : public TCodecDialog {
 public:
  TDACVolForm();
  ~TDACVolForm() override;

  // 0 the control window (register 64), 1 the volume window; else none.
  TI2CObject* GetI2CObject(int index);
  // Makes this the right channel: volume register 66, bits 2 and 1 of 64.
  void SetRightChannel();
  void SetDRCForm(TDRCForm* form) { drcForm = form; }
  TDRCForm* DRCForm() const { return drcForm; }
  void SetDRCThreshold(int dB);
  void DRCClick();
  bool Right() const { return volumeRegister == 66; }

  QSlider* Volume;
  QLabel* VolumeText;
  QCheckBox* Mute;
  QCheckBox* Lock;
  QCheckBox* DRC;
  QWidget* DRCPaintBox;

  TFormI2C control{0, 64, 1, [this] { RefreshControl(); }};
  TFormI2C volume{0, 65, 1, [this] { RefreshVolume(); }};
  int volumeRegister = 65;
  TDRCForm* drcForm = nullptr;
  int drcThreshold = -12;
  float volumeDb = 0;

  void DRCPaintBoxPaint(QWidget* box);

 private:
  void VolumeChange();
  void ChannelBitClick(QCheckBox* box, int bitLeft, int bitRight);
  void RefreshControl();
  void RefreshVolume();
};

class TDRCForm : public TCodecDialog {
 public:
  TDRCForm();
  ~TDRCForm() override;

  TI2CObject* GetI2CObject(int index) { return index == 0 ? &window : nullptr; }
  // Bit 6 (left) or 5 (right) of register 68 := enable, then 68 is written.
  void SetChannelEnable(bool enable, TDACVolForm* dac);

  QSlider* Attack;
  QSlider* Decay;
  QSlider* Threshold;
  QSlider* Hold;
  QSlider* Hysteresis;
  QLabel* AttackText;
  QLabel* DecayText;
  QLabel* ThresholdText;
  QLabel* HoldText;
  QLabel* HysteresisText;

  TDACVolForm* leftDac = nullptr;
  TDACVolForm* rightDac = nullptr;
  int threshold = -12;
  TFormI2C window{0, 68, 3, [this] { Refresh(); }};

 private:
  void ThresholdChange();
  void FieldChange(QSlider* slider, int reg, int shift, int bits);
  void Texts();
  void Refresh();
};

class TBeepForm : public TCodecDialog {
 public:
  static constexpr int kRate = 44100;
  TBeepForm();
  ~TBeepForm() override;

  TI2CObject* GetI2CObject(int index) { return index == 0 ? &window : nullptr; }
  // The sine and cosine coefficients of `hz` at 44100 samples per second.
  static void Coefficients(int hz, int& sine, int& cosine);
  // The frequency that the coefficient registers hold, `current` while they
  // still hold what `current` writes: the frequency whose sine and cosine
  // they are; for other coefficients the sine's angle (0 for no sine).
  static int FrequencyOf(unsigned sineRegisters, unsigned cosineRegisters, int current);

  void WriteRegisters();
  void BeepClick();

  QSlider* Duration;
  QLabel* DurationText;
  QSlider* Frequency;
  QLabel* FrequencyText;
  QCheckBox* AutoBeep;
  QPushButton* Beep;

  TFormI2C window{0, 71, 9, [this] { Refresh(); }};

 private:
  void Refresh();
};

class TSARForm : public TCodecDialog {
 public:
  TSARForm();
  ~TSARForm() override;

  // 0 the control window (116..118), 1 the data window (119); else none.
  TI2CObject* GetI2CObject(int index);
  void SARTimer();

  QButtonGroup* CLKSource;
  QComboBox* SARDivider;
  QButtonGroup* RefSource;
  QButtonGroup* Mode;
  QCheckBox* StopOnRead;
  QCheckBox* Continuous;
  QComboBox* Hysteresis;
  QComboBox* Throughput;
  QLabel* Data;
  QTimer* SAR;

  TFormI2C control{0, 116, 3, [this] { RefreshControl(); }};
  TFormI2C data{0, 119, 1, [this] { RefreshData(); }};

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Bits(int reg, uint8_t mask, uint8_t value);
  void RefreshControl();
  void RefreshData();
};
