// The input routing dialog ("Audio Inputs") and the output driver dialog
// ("Audio Outputs"): controls mapped one to one onto codec register fields.
#pragma once

#include "codec/dialog_support.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;
class QTabWidget;

class TAudioInputsForm : public TCodecDialog {
 public:
  TAudioInputsForm();
  ~TAudioInputsForm() override;

  // 0 routing (page 1, 48..50), 1 PGA (47), 2 bias (46), 3 ADC (page 0, 81..84).
  TI2CObject* GetI2CObject(int index);

  QTabWidget* Sheets;
  QComboBox* MIC1_LP;
  QComboBox* MIC1_RP;
  QComboBox* MIC1_LM_P;
  QComboBox* CM;
  QComboBox* MIC1_LM_M;
  QCheckBox* MICPGAEnable;
  QSlider* MICPGA;
  QLineEdit* EditMICPGA;
  QCheckBox* MICBiasExtJackCtrlPower;
  QCheckBox* MICBiasExtPower;
  QComboBox* MICBiasExt;
  QCheckBox* ADCPower;
  QCheckBox* DigitalMICEnable;
  QComboBox* DigitalMICSource;
  QComboBox* SoftStepping;
  QCheckBox* ADCMute;
  QSlider* Fine;
  QLineEdit* EditFine;
  QSlider* ADCGain;
  QLineEdit* EditADC;

  TFormI2C audioInputs{1, 48, 3, [this] { RefreshRouting(); }};
  TFormI2C micPGA{1, 47, 1, [this] { RefreshMICPGA(); }};
  TFormI2C micBias{1, 46, 1, [this] { RefreshMICBias(); }};
  TFormI2C adc{0, 81, 4, [this] { RefreshADC(); }};

 private:
  void MICBiasChange();
  void DigitalMICClick();
  // An entered value: when it converts and lies in [low, high], the track
  // bar moves to `position` of it; the edit then shows the `text` of the
  // track bar's position, the value written.
  void EditKeyPress(QLineEdit* edit, QSlider* slider, double low, double high, int (*position)(double),
                    QString (*text)(int));
  void RefreshRouting();
  void RefreshMICPGA();
  void RefreshMICBias();
  void RefreshADC();
};

class TAudioOutputsForm : public TCodecDialog {
 public:
  TAudioOutputsForm();
  ~TAudioOutputsForm() override;

  // 0 class-D (page 1, 32), 1 headphone drivers (31..44), 2 pop (33), 3 ramp (34).
  TI2CObject* GetI2CObject(int index);
  // Hides the right-channel boxes of codecs that have no right channel.
  void SetCodecName(const char* name);

  QCheckBox* LeftChannel;
  QCheckBox* RightChannel;
  QCheckBox* EnableOTP;
  QCheckBox* HPLeftChannel;
  QCheckBox* HPRightChannel;
  QButtonGroup* CommonMode;  // V0..V3
  QButtonGroup* ShortCircuit;  // LimitCurrent, PowerDownDriver
  QButtonGroup* Mode;
  QSlider* DriverPowerOnTime;
  QLabel* DriverPowerOnTimeText;
  QSlider* DriverRampUpTime;
  QLabel* DriverRampUpTimeText;
  QButtonGroup* CMMode;  // CMMResistor, CMMBandGap
  QCheckBox* DisableInternalDischargePath;
  QSlider* SpeakerPowerOnTime;
  QLabel* SpeakerPowerOnTimeText;
  QSlider* PGARampDownTime;
  QLabel* PGARampDownTimeText;

  TFormI2C classD{1, 32, 1, [this] { RefreshClassD(); }};
  TFormI2C hpDrivers{1, 31, 14, [this] { RefreshHPDrivers(); }};
  TFormI2C hpPop{1, 33, 1, [this] { RefreshHPPOP(); }};
  TFormI2C pgaRamp{1, 34, 1, [this] { RefreshPGARamp(); }};

 private:
  void RefreshClassD();
  void RefreshHPDrivers();
  void RefreshHPPOP();
  void RefreshPGARamp();
};
