// "Digital Configuration": the codec's clocks and PLL (input clock, ADC and
// DAC rates and engines, a grid of every configuration both clock solvers
// find, the chosen one programmed on a double click) and its audio
// interface (page 0 registers 27..29).
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "codec/qmx_clock.h"
#include "common/i2c_object.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;
class TAdvancedClock;
class TDConf;
class TGUIObject;

class TDConfI2C : public TI2CObject {
 public:
  explicit TDConfI2C(TDConf* owner) : TI2CObject(0x30, 0, 27, 3, nullptr), owner(owner) {}
  ~TDConfI2C() = default;
  void Refresh() override;

 private:
  TDConf* owner;
};

class TDConf : public QWidget, public TClockInputSource {
 public:
  static constexpr int kColumns = 13;
  static constexpr const char* kNotSupported = "This Sample Rate and Input Clock combination is not supported";

  TDConf();
  ~TDConf() override;

  // 0 the ADC side's solver, 1 the DAC side's, 2 the interface window,
  // 3 the advanced dialog's clock window; null otherwise.
  TI2CObject* GetI2CObject(int n);
  void SetSampleRate(unsigned rate);
  void SetCodecName(const char* name);
  void SetHighlightObject(TGUIObject* object) { highlightObject = object; }
  std::string ClockInputText() const override;

  void Recompute();
  int PairSolutions(int adcCount, int dacCount);
  void FillResults(int count);
  // Fills the advanced dialog from ADC solution a and DAC solution d.
  void ShowSolution(int a, int d);
  // The advanced dialog's values programmed as the one configuration.
  void ApplyClocks();
  // The interface registers into the controls (writes held back).
  void InterfaceRefresh();

  // Handlers.
  void ClkInputChange();
  void InputFrequencyExit();
  void ADCSampleRateExit();
  void DACSampleRateExit();
  void ADC_DSP_OSRExit();
  void DAC_DSP_OSRExit();
  void ADCInstructionsExit();
  void DACInstructionsExit();
  void OffsetExit();
  void LockDACFsClick();
  void AdvancedClockButtonClick();
  void ClockResultsSelectCell(int row);
  void ClockResultsDblClick();
  void FormActivate();
  void FormDeactivate();
  void InterfaceFormatChange();
  void WordlengthChange();
  void DOUTTristateClick();
  void ALoopbackClick();
  void DLoopbackClick();

  TQMXClock& AdcClock() { return adcClock; }
  TQMXClock& DacClock() { return dacClock; }
  TAdvancedClock* AdvancedClock() const { return advancedClock.get(); }
  int SelectedRow() const { return selectedRow; }
  bool ManualMode() const { return manualMode; }
  int PairAdc(int i) const { return pairAdc[i]; }
  int PairDac(int i) const { return pairDac[i]; }

  QTabWidget* Tabs;
  QGroupBox* InputGroup;
  QComboBox* ClkInput;
  QLineEdit* InputFrequency;
  QGroupBox* ADCGroup;
  QLineEdit* ADCSampleRate;
  QLineEdit* ADC_DSP_OSR;
  QLineEdit* ADCInstructions;
  QGroupBox* DACGroup;
  QLineEdit* DACSampleRate;
  QLineEdit* DAC_DSP_OSR;
  QLineEdit* DACInstructions;
  QPushButton* AdvancedClockButton;
  QCheckBox* LockDACFs;
  QGroupBox* ResultsGroup;
  QLabel* ResultText;
  QTableWidget* ClockResults;
  QComboBox* InterfaceFormat;
  QComboBox* Wordlength;
  QCheckBox* DOUTTristate;
  QLabel* OffsetText;
  QLineEdit* Offset;
  QLabel* BCLKText;
  QGroupBox* LoopbackGroupBox;
  QCheckBox* ALoopback;
  QCheckBox* DLoopback;

  int inputFrequency = 12000000;
  int adcRate = 44100;
  int adcEngineOSR = 4;
  int adcInstructions = 128;
  int dacRate = 44100;
  int dacEngineOSR = 4;
  int dacInstructions = 128;
  int usbRate = 0;
  int offset = 0;

 protected:
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Build();
  // A rate or clock edit: the field takes a converted text, else the edit
  // shows the field again; false then.
  bool TakeInteger(QLineEdit* edit, int& field);

  TGUIObject* highlightObject = nullptr;
  TQMXClock adcClock;
  TQMXClock dacClock;
  TDConfI2C interfaceWindow;
  int selectedRow = 0;
  bool manualMode = false;
  std::unique_ptr<TAdvancedClock> advancedClock;
  int pairAdc[TQMXClock::kTableSize] = {};
  int pairDac[TQMXClock::kTableSize] = {};
};
