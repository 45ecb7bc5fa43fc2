#include "codec/advanced_clock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <cstring>

#include "codec/dconf.h"
#include "codec/edits.h"

using codecedit::OnExit;
using codecedit::Edit;
using codecedit::Label;
using codecedit::Check;
using codecedit::Group;
using codecedit::Combo;


void TClockI2C::Refresh() { owner->ClockRefresh(); }

TAdvancedClock::TAdvancedClock(TDConf* owner) : owner(owner), clockWindow(this) {
  setObjectName("AdvancedClock");
  setWindowTitle("Advanced Clock Settings");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
  setFixedSize(660, 450);
  Build();
}

TAdvancedClock::~TAdvancedClock() { codecedit::Quiet(this); }

void TAdvancedClock::Build() {
  PLLGroup = Group(this, "PLLGroup", "PLL", 12, 8, 408, 104);
  R = Edit(PLLGroup, "R", "1", 12, 30);
  Label(PLLGroup, "x", 56, 31, 12);
  J = Edit(PLLGroup, "J", "4", 70, 30);
  Label(PLLGroup, ".", 112, 31, 8);
  D = Edit(PLLGroup, "D", "0000", 120, 30, 48);
  Label(PLLGroup, "/", 172, 31, 8);
  P = Edit(PLLGroup, "P", "1", 182, 30);
  PLLPower = Check(PLLGroup, "PLLPower", "Power", 240, 31);
  Label(PLLGroup, "Input Frequency =", 12, 62, 112);
  InputFrequency = Label(PLLGroup, "12000000", 124, 62, 90, "InputFrequency");
  Label(PLLGroup, "CODEC_CLKIN =", 220, 62, 100);
  CODEC_CLKIN = Label(PLLGroup, "", 320, 62, 84, "CODEC_CLKIN");

  // The ADC and DAC groups: N and M with their power boxes, the OSR, the rate.
  auto converter = [this](const char* side, int x, QLineEdit*& n, QCheckBox*& nPower, QLineEdit*& m,
                          QCheckBox*& mPower, QLineEdit*& osr, QLabel*& rate) {
    const QString s(side), nName = "N" + s, mName = "M" + s, osrName = s.left(1) + "OSR";
    QGroupBox* group = Group(this, qPrintable(s + "Group"), side, x, 120, 200, 150);
    QGroupBox* nBox = Group(group, qPrintable(nName + "Box"), qPrintable(nName), 8, 20, 90, 56);
    n = Edit(nBox, qPrintable(nName), "1", 8, 24);
    nPower = Check(nBox, qPrintable(nName + "Power"), "", 56, 25, 24);
    QGroupBox* mBox = Group(group, qPrintable(mName + "Box"), qPrintable(mName), 102, 20, 90, 56);
    m = Edit(mBox, qPrintable(mName), "1", 8, 24);
    mPower = Check(mBox, qPrintable(mName + "Power"), "", 56, 25, 24);
    QGroupBox* osrBox = Group(group, qPrintable(osrName + "Box"), qPrintable(osrName), 8, 80, 90, 56);
    osr = Edit(osrBox, qPrintable(osrName), "128", 8, 24, 60);
    // The rate under its caption: beside the OSR box there is room for a
    // rate of nine digits, not for both on one line.
    Label(group, qPrintable(s + " Fs = "), 104, 88, 90);
    rate = Label(group, "", 104, 108, 90, qPrintable(s + "SampleRate"));
    return group;
  };
  ADCGroup = converter("ADC", 12, NADC, NADCPower, MADC, MADCPower, AOSR, ADCSampleRate);
  DACGroup = converter("DAC", 220, NDAC, NDACPower, MDAC, MDACPower, DOSR, DACSampleRate);

  BCLKGroup = Group(this, "BCLKGroup", "Internally generated BCLK", 12, 280, 300, 110);
  BCLKSource = Combo(BCLKGroup, "BCLKSource", {"DAC_CLK", "DAC_MODCLK", "ADC_CLK", "ADC_MOD_CLK"}, 12, 26, 120);
  BCLKDivider = Edit(BCLKGroup, "BCLKDivider", "1", 140, 26);
  BCLKDividerPower = Check(BCLKGroup, "BCLKDividerPower", "Power", 190, 27);
  BCLKInvert = Check(BCLKGroup, "BCLKInvert", "Invert BCLK (primary && secondary)", 12, 64, 280);

  CLKOUTGroup = Group(this, "CLKOUTGroup", "CLKOUT", 320, 280, 330, 110);
  CLKOUTSource = Combo(CLKOUTGroup, "CLKOUTSource",
                       {"MCLK", "BCLK", "DIN", "PLL_CLK", "DAC_CLK", "DAC_MOD_CLK", "ADC_CLK", "ADC_MOD_CLK"}, 12, 26,
                       120);
  CLKOUTDivider = Edit(CLKOUTGroup, "CLKOUTDivider", "1", 140, 26);
  CLKOUTDividerPower = Check(CLKOUTGroup, "CLKOUTDividerPower", "Power", 190, 27);
  CLKOUTDestination = Combo(CLKOUTGroup, "CLKOUTDestination", {"GPIO1", "GPIO2", "DOUT", "MISO"}, 12, 64, 120);
  CLKOUTDestination->setPlaceholderText("N/A");
  CLKOUTDestination->setCurrentIndex(-1);

  // The clock paths, both converters or the DAC alone.
  ADC_DACPathImage = Label(this, "MCLK/BCLK/GPIO1/DIN -> PLL -> NADC/NDAC -> MADC/MDAC -> AOSR/DOSR", 430, 16, 220);
  ADC_DACPathImage->setObjectName("ADC_DACPathImage");
  ADC_DACPathImage->setWordWrap(true);
  ADC_DACPathImage->setFixedHeight(80);
  DACPathImage = Label(this, "MCLK/BCLK/GPIO1/DIN -> PLL -> NDAC -> MDAC -> DOSR", 430, 16, 220);
  DACPathImage->setObjectName("DACPathImage");
  DACPathImage->setWordWrap(true);
  DACPathImage->setFixedHeight(80);
  DACPathImage->hide();

  OnExit(P, [this] { PExit(); });
  OnExit(R, [this] { RExit(); });
  OnExit(J, [this] { JExit(); });
  OnExit(D, [this] { DExit(); });
  OnExit(NADC, [this] { NADCExit(); });
  OnExit(MADC, [this] { MADCExit(); });
  OnExit(NDAC, [this] { NDACExit(); });
  OnExit(MDAC, [this] { MDACExit(); });
  OnExit(AOSR, [this] { AOSRExit(); });
  OnExit(DOSR, [this] { DOSRExit(); });
  for (QCheckBox* box : {PLLPower, NADCPower, MADCPower, NDACPower, MDACPower})
    connect(box, &QCheckBox::clicked, this, [this] { NADCPowerClick(); });
  connect(BCLKSource, &QComboBox::activated, this, [this] { BCLKSourceChange(); });
  connect(BCLKInvert, &QCheckBox::clicked, this, [this] { BCLKInvertClick(); });
  OnExit(BCLKDivider, [this] { BCLKDividerExit(); });
  connect(BCLKDividerPower, &QCheckBox::clicked, this, [this] { BCLKDividerPowerClick(); });
  connect(CLKOUTSource, &QComboBox::activated, this, [this] { CLKOUTSourceChange(); });
  OnExit(CLKOUTDivider, [this] { CLKOUTDividerExit(); });
  connect(CLKOUTDividerPower, &QCheckBox::clicked, this, [this] { CLKOUTDividerPowerClick(); });
  connect(CLKOUTDestination, &QComboBox::activated, this, [this] { CLKOUTDestinationChange(); });
}

void TAdvancedClock::SetCodecName(const char* name) {
  const bool dacOnly = name && std::strstr(name, "DAC");
  ADCGroup->setVisible(!dacOnly);
  DACGroup->move(dacOnly ? 124 : 220, DACGroup->y());
  DACPathImage->setVisible(dacOnly);
  ADC_DACPathImage->setVisible(!dacOnly);
}

void TAdvancedClock::ShowDividers(bool adc, int n, int m, int osr, bool nPower, bool mPower) {
  (adc ? nadc : ndac) = n;
  (adc ? madc : mdac) = m;
  (adc ? aosr : dosr) = osr;
  codecedit::Show(adc ? NADC : NDAC, n);
  codecedit::Show(adc ? MADC : MDAC, m);
  codecedit::Show(adc ? AOSR : DOSR, osr);
  (adc ? NADCPower : NDACPower)->setChecked(nPower);
  (adc ? MADCPower : MDACPower)->setChecked(mPower);
}

void TAdvancedClock::UpdateRates() {
  using codecedit::IntOf;
  int inputClock = 0;
  codecedit::ParseInt(InputFrequency->text(), inputClock);
  const int64_t input = inputClock;
  int64_t clk = input;
  if (PLLPower->isChecked()) {
    // Whole hertz of (J + D / 10000) x R / P x input, without rounding errors.
    const int64_t pv = IntOf(P, 1);
    const int64_t numerator = (int64_t(IntOf(J, 0)) * 10000 + IntOf(D, 0)) * IntOf(R, 0) * input;
    clk = pv != 0 ? numerator / (pv * 10000) : 0;
  }
  CODEC_CLKIN->setText(QString::number(clk));
  auto rate = [clk](QCheckBox* nPower, QCheckBox* mPower, QLineEdit* n, QLineEdit* m, QLineEdit* osr) {
    const int64_t divide = int64_t(IntOf(n, 0)) * IntOf(m, 0) * IntOf(osr, 0);
    if (!nPower->isChecked() || !mPower->isChecked() || divide == 0) return QString("N/A");
    return QString::number(clk / divide);
  };
  ADCSampleRate->setText(rate(NADCPower, MADCPower, NADC, MADC, AOSR));
  DACSampleRate->setText(rate(NDACPower, MDACPower, NDAC, MDAC, DOSR));
}

void TAdvancedClock::ClockValueExit(QLineEdit* edit, int low, int high, int& field) {
  if (!codecedit::Clamped(edit, low, high, field)) return;
  UpdateRates();
  owner->ApplyClocks();
}

void TAdvancedClock::PExit() { ClockValueExit(P, 1, 8, p); }
void TAdvancedClock::RExit() { ClockValueExit(R, 1, 16, r); }
void TAdvancedClock::JExit() { ClockValueExit(J, 1, 63, j); }
void TAdvancedClock::DExit() { ClockValueExit(D, 0, 9999, d); }
void TAdvancedClock::NADCExit() { ClockValueExit(NADC, 1, 128, nadc); }
void TAdvancedClock::MADCExit() { ClockValueExit(MADC, 1, 128, madc); }
void TAdvancedClock::NDACExit() { ClockValueExit(NDAC, 1, 128, ndac); }
void TAdvancedClock::MDACExit() { ClockValueExit(MDAC, 1, 128, mdac); }
void TAdvancedClock::AOSRExit() { ClockValueExit(AOSR, 1, 1024, aosr); }
void TAdvancedClock::DOSRExit() { ClockValueExit(DOSR, 1, 1024, dosr); }

void TAdvancedClock::NADCPowerClick() {
  UpdateRates();
  owner->ApplyClocks();
}

void TAdvancedClock::BCLKSourceChange() { clockWindow.WriteBits(29, uint8_t(BCLKSource->currentIndex() & 3), 0x03); }

void TAdvancedClock::BCLKInvertClick() { clockWindow.WriteBits(29, BCLKInvert->isChecked() ? 0x08 : 0, 0x08); }

void TAdvancedClock::WriteDivider(int reg, QLineEdit* edit, int& field) {
  if (codecedit::Clamped(edit, 1, 128, field)) clockWindow.WriteBits(unsigned(reg), uint8_t(field & 0x7F), 0x7F);
}

void TAdvancedClock::BCLKDividerExit() { WriteDivider(30, BCLKDivider, bclkDivider); }

void TAdvancedClock::BCLKDividerPowerClick() {
  clockWindow.WriteBits(30, BCLKDividerPower->isChecked() ? 0x80 : 0, 0x80);
}

void TAdvancedClock::CLKOUTSourceChange() {
  clockWindow.WriteBits(25, uint8_t(CLKOUTSource->currentIndex() & 7), 0x07);
}

void TAdvancedClock::CLKOUTDividerExit() { WriteDivider(26, CLKOUTDivider, clkoutDivider); }

void TAdvancedClock::CLKOUTDividerPowerClick() {
  clockWindow.WriteBits(26, CLKOUTDividerPower->isChecked() ? 0x80 : 0, 0x80);
}

void TAdvancedClock::CLKOUTDestinationChange() {
  switch (CLKOUTDestination->currentIndex()) {
    case 0: clockWindow.WriteBits(51, 0x10, 0x3C); break;
    case 1: clockWindow.WriteBits(52, 0x10, 0x3C); break;
    case 2: clockWindow.WriteBits(53, 0x06, 0x0E); break;
    case 3: clockWindow.WriteBits(55, 0x06, 0x1E); break;
    default: break;
  }
}

void TAdvancedClock::ClockRefresh() {
  const uint8_t* data = clockWindow.GetData();
  auto reg = [data](int r) { return data[r - 25]; };
  BCLKSource->setCurrentIndex(reg(29) & 3);
  BCLKInvert->setChecked(reg(29) & 0x08);
  bclkDivider = (reg(30) & 0x7F) ? (reg(30) & 0x7F) : 128;
  codecedit::Show(BCLKDivider, bclkDivider);
  BCLKDividerPower->setChecked(reg(30) & 0x80);
  CLKOUTSource->setCurrentIndex(reg(25) & 7);
  clkoutDivider = (reg(26) & 0x7F) ? (reg(26) & 0x7F) : 128;
  codecedit::Show(CLKOUTDivider, clkoutDivider);
  CLKOUTDividerPower->setChecked(reg(26) & 0x80);
  int destination = -1;
  if ((reg(51) & 0x3C) == 0x10) destination = 0;
  else if ((reg(52) & 0x3C) == 0x10) destination = 1;
  else if ((reg(53) & 0x0E) == 0x06) destination = 2;
  else if ((reg(55) & 0x1E) == 0x06) destination = 3;
  CLKOUTDestination->setCurrentIndex(destination);  // none: "N/A"
}

void TAdvancedClock::FormActivate() { owner->FormActivate(); }
void TAdvancedClock::FormDeactivate() { owner->FormDeactivate(); }

void TAdvancedClock::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange) return;
  if (isActiveWindow()) FormActivate();
  else FormDeactivate();
}
