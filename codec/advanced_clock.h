// "Advanced Clock Settings": one clock configuration of the digital setup
// dialog divider by divider. Every hand change is programmed at once
// through the digital setup dialog; the bit clock generator and the clock
// output (page 0 registers 25..55) through its own register window.
#pragma once

#include <QWidget>

#include "common/i2c_object.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class TAdvancedClock;
class TDConf;

class TClockI2C : public TI2CObject {
 public:
  explicit TClockI2C(TAdvancedClock* owner) : TI2CObject(0x30, 0, 25, 31, nullptr), owner(owner) {}
  ~TClockI2C() = default;
  void Refresh() override;

 private:
  TAdvancedClock* owner;
};

class TAdvancedClock : public QWidget {
 public:
  explicit TAdvancedClock(TDConf* owner);
  ~TAdvancedClock() override;

  void SetCodecName(const char* name);
  // One converter's N, M, OSR and power boxes, shown and taken.
  void ShowDividers(bool adc, int n, int m, int osr, bool nPower, bool mPower);
  // CODEC_CLKIN and the two sample rates from the edits.
  void UpdateRates();
  TClockI2C* ClockWindow() { return &clockWindow; }
  // The registers of the window into the controls (writes held back).
  void ClockRefresh();

  // The clock value edits (clamped; a change is applied at once).
  void PExit();
  void RExit();
  void JExit();
  void DExit();
  void NADCExit();
  void MADCExit();
  void NDACExit();
  void MDACExit();
  void AOSRExit();
  void DOSRExit();
  // All five power boxes.
  void NADCPowerClick();
  // The bit clock and clock output registers.
  void BCLKSourceChange();
  void BCLKInvertClick();
  void BCLKDividerExit();
  void BCLKDividerPowerClick();
  void CLKOUTSourceChange();
  void CLKOUTDividerExit();
  void CLKOUTDividerPowerClick();
  void CLKOUTDestinationChange();
  void FormActivate();
  void FormDeactivate();

  QGroupBox* PLLGroup;
  QLineEdit* R;
  QLineEdit* J;
  QLineEdit* D;
  QLineEdit* P;
  QCheckBox* PLLPower;
  QLabel* InputFrequency;
  QLabel* CODEC_CLKIN;
  QGroupBox* ADCGroup;
  QLineEdit* NADC;
  QCheckBox* NADCPower;
  QLineEdit* MADC;
  QCheckBox* MADCPower;
  QLineEdit* AOSR;
  QLabel* ADCSampleRate;
  QGroupBox* DACGroup;
  QLineEdit* NDAC;
  QCheckBox* NDACPower;
  QLineEdit* MDAC;
  QCheckBox* MDACPower;
  QLineEdit* DOSR;
  QLabel* DACSampleRate;
  QGroupBox* BCLKGroup;
  QComboBox* BCLKSource;
  QLineEdit* BCLKDivider;
  QCheckBox* BCLKDividerPower;
  QCheckBox* BCLKInvert;
  QGroupBox* CLKOUTGroup;
  QComboBox* CLKOUTSource;
  QLineEdit* CLKOUTDivider;
  QCheckBox* CLKOUTDividerPower;
  QComboBox* CLKOUTDestination;
  QLabel* ADC_DACPathImage;
  QLabel* DACPathImage;

  // The values last accepted from the edits or put there by the digital
  // setup dialog.
  int p = 0, r = 0, j = 0, d = 0;
  int nadc = 0, madc = 0, aosr = 0;
  int ndac = 0, mdac = 0, dosr = 0;
  int bclkDivider = 1;
  int clkoutDivider = 1;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void Build();
  // A clock edit left: applied when its value changed.
  void ClockValueExit(QLineEdit* edit, int low, int high, int& field);
  // A divider register: bits 6:0 the divider (128 as 0), bit 7 its power.
  void WriteDivider(int reg, QLineEdit* edit, int& field);

  TDConf* owner;
  TClockI2C clockWindow;
};
