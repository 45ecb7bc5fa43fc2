#include "codec/dconf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>

#include <algorithm>
#include <cstring>

#include "codec/advanced_clock.h"
#include "codec/edits.h"
#include "common/gui_object.h"
#include "platform/gui/dialogs.h"

using codecedit::Check;
using codecedit::Combo;
using codecedit::Edit;
using codecedit::Group;
using codecedit::Label;
using codecedit::OnExit;

void TDConfI2C::Refresh() { owner->InterfaceRefresh(); }

TDConf::TDConf() : interfaceWindow(this) {
  setObjectName("DConf");
  setWindowTitle("Digital Configuration");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
  setFixedSize(560, 470);
  advancedClock = std::make_unique<TAdvancedClock>(this);
  Build();
  codecedit::Show(InputFrequency, inputFrequency);
  codecedit::Show(ADCSampleRate, adcRate);
  codecedit::Show(ADC_DSP_OSR, adcEngineOSR);
  codecedit::Show(ADCInstructions, adcInstructions);
  codecedit::Show(DACSampleRate, adcRate);
  codecedit::Show(DAC_DSP_OSR, dacEngineOSR);
  codecedit::Show(DACInstructions, dacInstructions);
  DACSampleRate->setEnabled(false);
  LockDACFs->setChecked(true);
  adcClock.SetRegisterOffset(7);
  adcClock.SetOwner(this);
  dacClock.SetOwner(this);
  Recompute();
}

TDConf::~TDConf() {
  codecedit::Quiet(this);
  // The host's object is not lit by a dialog that goes.
  highlightObject = nullptr;
  advancedClock.reset();
}

void TDConf::Build() {
  Tabs = new QTabWidget(this);
  Tabs->setObjectName("Tabs");
  Tabs->setGeometry(6, 6, 548, 458);
  auto* clockTab = new QWidget;
  clockTab->setObjectName("ClockTab");
  Tabs->addTab(clockTab, "Codec Clock / PLL");
  auto* interfaceTab = new QWidget;
  interfaceTab->setObjectName("InterfaceTab");
  Tabs->addTab(interfaceTab, "Audio Interface");

  InputGroup = Group(clockTab, "InputGroup", "Input", 8, 8, 170, 150);
  Label(InputGroup, "Clock Input:", 8, 24);
  ClkInput = Combo(InputGroup, "ClkInput", {"MCLK", "BCLK", "GPIO", "PLL", "DIN"}, 8, 44, 150);
  Label(InputGroup, "Input Freqency:", 8, 76, 100);
  InputFrequency = Edit(InputGroup, "InputFrequency", "", 8, 96, 110);
  Label(InputGroup, "Hz", 124, 97, 20);

  auto rateGroup = [clockTab](const char* name, const char* title, int x, QLineEdit*& rate, QLineEdit*& engine,
                              QLineEdit*& instructions, const char* rateName, const char* engineName,
                              const char* instructionsName) {
    QGroupBox* group = Group(clockTab, name, title, x, 8, 170, 150);
    Label(group, "Sample Rate:", 8, 24, 82);
    rate = Edit(group, rateName, "", 90, 22, 56);
    Label(group, "Hz", 150, 23, 16);
    Label(group, "Engine OSR:", 8, 60);
    engine = Edit(group, engineName, "", 90, 58, 56);
    Label(group, "Instructions:", 8, 96);
    instructions = Edit(group, instructionsName, "188", 90, 94, 56);
    return group;
  };
  ADCGroup = rateGroup("ADCGroup", "ADC", 186, ADCSampleRate, ADC_DSP_OSR, ADCInstructions, "ADCSampleRate",
                       "ADC_DSP_OSR", "ADCInstructions");
  DACGroup = rateGroup("DACGroup", "DAC", 364, DACSampleRate, DAC_DSP_OSR, DACInstructions, "DACSampleRate",
                       "DAC_DSP_OSR", "DACInstructions");
  AdvancedClockButton = new QPushButton("Advanced...", clockTab);
  AdvancedClockButton->setObjectName("AdvancedClockButton");
  AdvancedClockButton->setGeometry(8, 166, 100, 26);
  LockDACFs = Check(clockTab, "LockDACFs", "DAC Fs = ADC Fs", 364, 168, 170);

  ResultsGroup = Group(clockTab, "ResultsGroup", "Results", 8, 198, 526, 224);
  ResultText = Label(ResultsGroup, "", 8, 20, 500, "ResultText");
  ClockResults = new QTableWidget(ResultsGroup);
  ClockResults->setObjectName("ClockResults");
  ClockResults->setGeometry(8, 44, 510, 172);
  ClockResults->setColumnCount(kColumns);
  ClockResults->setHorizontalHeaderLabels(
      {"PLL", "P", "R", "J", "D", "NADC", "MADC", "AOSR", "FsADC", "NDAC", "MDAC", "DOSR", "FsDAC"});
  const int widths[kColumns] = {25, 25, 25, 25, 35, 35, 35, 35, 45, 35, 35, 35, 45};
  for (int c = 0; c < kColumns; ++c) ClockResults->setColumnWidth(c, widths[c]);
  // Columns this narrow hold "6800" and "48000" whole in a compact font; the
  // titles (which take no font from the grid) a little smaller, never bold.
  ClockResults->setFont(QFont("Arial", 8));
  QFont titles("Arial");
  titles.setPointSizeF(7.5);
  ClockResults->horizontalHeader()->setFont(titles);
  ClockResults->horizontalHeader()->setHighlightSections(false);
  ClockResults->verticalHeader()->hide();
  ClockResults->verticalHeader()->setDefaultSectionSize(18);
  ClockResults->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ClockResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ClockResults->setSelectionBehavior(QAbstractItemView::SelectRows);
  ClockResults->setSelectionMode(QAbstractItemView::SingleSelection);

  auto* codecInterface = Group(interfaceTab, "CodecInterface", "Codec Interface", 8, 8, 526, 150);
  InterfaceFormat = Combo(codecInterface, "InterfaceFormat", {"I2S", "DSP", "Right Justified", "Left Justified"}, 8,
                          26, 150);
  Wordlength = Combo(codecInterface, "Wordlength", {"16 bits", "20 bits", "24 bits", "32 bits"}, 170, 26, 100);
  DOUTTristate = Check(codecInterface, "DOUTTristate", "High Impedance State for DOUT outside of data transfer", 8,
                       62, 400);
  OffsetText = Label(codecInterface, "DIN/DOUT offset:", 8, 98, 110, "OffsetText");
  Offset = Edit(codecInterface, "Offset", "0", 120, 96, 50);
  BCLKText = Label(codecInterface, "BCLKs", 176, 98, 50, "BCLKText");
  LoopbackGroupBox = Group(interfaceTab, "LoopbackGroupBox", "Loopback", 8, 166, 526, 80);
  ALoopback = Check(LoopbackGroupBox, "ALoopback", "ADC to DAC loopback", 8, 24, 300);
  DLoopback = Check(LoopbackGroupBox, "DLoopback", "DIN to DOUT loopback", 8, 50, 300);

  connect(ClkInput, &QComboBox::activated, this, [this] { ClkInputChange(); });
  OnExit(InputFrequency, [this] { InputFrequencyExit(); });
  OnExit(ADCSampleRate, [this] { ADCSampleRateExit(); });
  OnExit(DACSampleRate, [this] { DACSampleRateExit(); });
  OnExit(ADC_DSP_OSR, [this] { ADC_DSP_OSRExit(); });
  OnExit(DAC_DSP_OSR, [this] { DAC_DSP_OSRExit(); });
  OnExit(ADCInstructions, [this] { ADCInstructionsExit(); });
  OnExit(DACInstructions, [this] { DACInstructionsExit(); });
  OnExit(Offset, [this] { OffsetExit(); });
  connect(LockDACFs, &QCheckBox::clicked, this, [this] { LockDACFsClick(); });
  connect(AdvancedClockButton, &QPushButton::clicked, this, [this] { AdvancedClockButtonClick(); });
  connect(ClockResults, &QTableWidget::currentCellChanged, this, [this](int row) { ClockResultsSelectCell(row); });
  connect(ClockResults, &QTableWidget::cellDoubleClicked, this, [this] { ClockResultsDblClick(); });
  connect(InterfaceFormat, &QComboBox::activated, this, [this] { InterfaceFormatChange(); });
  connect(Wordlength, &QComboBox::activated, this, [this] { WordlengthChange(); });
  connect(DOUTTristate, &QCheckBox::clicked, this, [this] { DOUTTristateClick(); });
  connect(ALoopback, &QCheckBox::clicked, this, [this] { ALoopbackClick(); });
  connect(DLoopback, &QCheckBox::clicked, this, [this] { DLoopbackClick(); });
}

TI2CObject* TDConf::GetI2CObject(int n) {
  switch (n) {
    case 0: return &adcClock;
    case 1: return &dacClock;
    case 2: return &interfaceWindow;
    case 3: return advancedClock->ClockWindow();
    default: return nullptr;
  }
}

std::string TDConf::ClockInputText() const { return ClkInput->currentText().toStdString(); }

void TDConf::SetSampleRate(unsigned rate) {
  adcRate = dacRate = usbRate = int(rate);
  codecedit::Show(ADCSampleRate, rate);
  codecedit::Show(DACSampleRate, rate);
  Recompute();
}

void TDConf::SetCodecName(const char* name) {
  const bool dacOnly = name && std::strstr(name, "DAC");
  if (dacOnly) {
    ADCGroup->hide();
    DACGroup->move(ADCGroup->x(), DACGroup->y());
    DACSampleRate->setEnabled(true);
  } else {
    ADCGroup->show();
    DACGroup->move(364, DACGroup->y());
  }
  const bool adc = !dacOnly;
  for (QWidget* w : std::initializer_list<QWidget*>{LockDACFs, DOUTTristate, OffsetText, Offset, BCLKText,
                                                     LoopbackGroupBox})
    w->setVisible(adc);
  advancedClock->SetCodecName(name);
}

// ---------------------------------------------------------------- solutions

void TDConf::Recompute() {
  const int input = codecedit::IntOf(InputFrequency, inputFrequency);
  const bool skip = ClkInput->currentText() == "DIN";
  int osr = manualMode ? codecedit::IntOf(advancedClock->AOSR, 128) : 128;
  const int adcCount = adcClock.Solve(input, adcRate, osr, osr, codecedit::IntOf(ADC_DSP_OSR, adcEngineOSR),
                                      codecedit::IntOf(ADCInstructions, adcInstructions), skip);
  int dacCount = 0;
  if (adcCount > 0) {
    osr = manualMode ? codecedit::IntOf(advancedClock->DOSR, 128) : 128;
    dacCount = dacClock.Solve(input, dacRate, osr, osr, codecedit::IntOf(DAC_DSP_OSR, dacEngineOSR),
                              codecedit::IntOf(DACInstructions, dacInstructions), skip);
  }
  // With the rates locked the ADC side's list stands for both, but never
  // past the DAC side's own solutions.
  if (LockDACFs->isChecked()) dacCount = std::min(adcCount, dacCount);
  FillResults(PairSolutions(adcCount, dacCount));
}

int TDConf::PairSolutions(int adcCount, int dacCount) {
  int count = 0;
  for (int a = 0; a < adcCount; ++a) {
    const TClockSolution adc = adcClock.Solution(a);
    for (int d = 0; d < dacCount; ++d) {
      const TClockSolution dac = dacClock.Solution(d);
      // The two sides share one PLL.
      const bool match = adc.usesPLL == dac.usesPLL &&
                         (!adc.usesPLL || (adc.P == dac.P && adc.R == dac.R && adc.J == dac.J && adc.D == dac.D));
      if (!match) continue;
      pairAdc[count] = a;
      pairDac[count] = d;
      ++count;
      break;
    }
  }
  return count;
}

void TDConf::FillResults(int count) {
  auto set = [this](int row, int column, const QString& text) {
    ClockResults->setItem(row, column, new QTableWidgetItem(text));
  };
  // The grid's own selection follows, quietly: selectedRow is set here.
  const QSignalBlocker quiet(ClockResults);
  if (count <= 0) {
    ResultText->setText(kNotSupported);
    ClockResults->setRowCount(1);
    for (int c = 0; c < kColumns; ++c) set(0, c, "N/A");
    ClockResults->setCurrentCell(-1, -1);
    selectedRow = 0;
    return;
  }
  ResultText->setText("Clock configuration:");
  ClockResults->setRowCount(count);
  for (int i = 0; i < count; ++i) {
    const TClockSolution a = adcClock.Solution(pairAdc[i]), d = dacClock.Solution(pairDac[i]);
    if (a.usesPLL) {
      set(i, 0, "On");
      set(i, 1, QString::number(a.P));
      set(i, 2, QString::number(a.R));
      set(i, 3, QString::number(a.J));
      set(i, 4, QString::number(a.D));
    } else {
      set(i, 0, "Off");
      for (int c = 1; c <= 4; ++c) set(i, c, "N/A");
    }
    set(i, 5, QString::number(a.N));
    set(i, 6, QString::number(a.M));
    set(i, 7, QString::number(a.OSR));
    set(i, 8, ADCSampleRate->text());
    set(i, 9, QString::number(d.N));
    set(i, 10, QString::number(d.M));
    set(i, 11, QString::number(d.OSR));
    set(i, 12, DACSampleRate->text());
  }
  ClockResults->setCurrentCell(0, 0);
  selectedRow = 1;
  if (manualMode) ShowSolution(pairAdc[0], pairDac[0]);
}

void TDConf::ShowSolution(int a, int d) {
  const int saved = selectedRow;
  selectedRow = 0;  // the advanced dialog's boxes apply nothing meanwhile
  TAdvancedClock& adv = *advancedClock;
  adv.InputFrequency->setText(InputFrequency->text());
  const TClockSolution adc = adcClock.Solution(a), dac = dacClock.Solution(d);
  adv.PLLPower->setChecked(adc.usesPLL);
  if (adc.usesPLL) {
    adv.p = adc.P, adv.r = adc.R, adv.j = adc.J, adv.d = adc.D;
    codecedit::Show(adv.P, adc.P);
    codecedit::Show(adv.R, adc.R);
    codecedit::Show(adv.J, adc.J);
    codecedit::Show(adv.D, adc.D);
  }
  adv.ShowDividers(true, adc.N, adc.M, adc.OSR, adcClock.nPower, adcClock.mPower);
  adv.ShowDividers(false, dac.N, dac.M, dac.OSR, dacClock.nPower, dacClock.mPower);
  adv.UpdateRates();
  selectedRow = saved;
}

void TDConf::ApplyClocks() {
  if (selectedRow == 0) return;
  TAdvancedClock& adv = *advancedClock;
  const TClockSolution selected = adcClock.Solution(pairAdc[selectedRow - 1]);
  const bool pll = adv.PLLPower->isChecked();
  const bool reprogramPLL = adv.p != selected.P || adv.r != selected.R || adv.j != selected.J ||
                            adv.d != selected.D || pll != selected.usesPLL;
  TClockSolution adc;
  adc.P = adv.p, adc.R = adv.r, adc.J = adv.j, adc.D = adv.d;
  adc.N = adv.nadc, adc.M = adv.madc, adc.OSR = adv.aosr, adc.usesPLL = pll;
  adcClock.SetSolution(0, adc);
  adcClock.mPower = adv.MADCPower->isChecked();
  adcClock.nPower = adv.NADCPower->isChecked();
  adcClock.ProgramDividers(0, reprogramPLL);
  TClockSolution dac = dacClock.Solution(0);
  dac.N = adv.ndac, dac.M = adv.mdac, dac.OSR = adv.dosr;
  dacClock.SetSolution(0, dac);
  dacClock.mPower = adv.MDACPower->isChecked();
  dacClock.nPower = adv.NDACPower->isChecked();
  dacClock.ProgramDividers(0, false);
  ADCSampleRate->setText(adv.ADCSampleRate->text());
  DACSampleRate->setText(adv.DACSampleRate->text());
  pairAdc[0] = pairDac[0] = 0;
  FillResults(1);
}

// ---------------------------------------------------------------- handlers

bool TDConf::TakeInteger(QLineEdit* edit, int& field) {
  const bool taken = codecedit::ParseInt(edit->text(), field);
  // The value taken (or kept), as the edits show numbers.
  codecedit::Show(edit, field);
  return taken;
}

void TDConf::ClkInputChange() { Recompute(); }

void TDConf::InputFrequencyExit() {
  if (TakeInteger(InputFrequency, inputFrequency)) Recompute();
}

void TDConf::ADCSampleRateExit() {
  if (!TakeInteger(ADCSampleRate, adcRate)) return;
  if (LockDACFs->isChecked()) {
    dacRate = adcRate;
    codecedit::Show(DACSampleRate, dacRate);
  }
  Recompute();
}

void TDConf::DACSampleRateExit() {
  if (!TakeInteger(DACSampleRate, dacRate)) return;
  if (ADCGroup->isHidden()) adcRate = dacRate;
  Recompute();
}

void TDConf::ADC_DSP_OSRExit() {
  if (codecedit::Clamped(ADC_DSP_OSR, 1, 128, adcEngineOSR)) Recompute();
}

void TDConf::DAC_DSP_OSRExit() {
  if (codecedit::Clamped(DAC_DSP_OSR, 1, 128, dacEngineOSR)) Recompute();
}

void TDConf::ADCInstructionsExit() {
  if (codecedit::Clamped(ADCInstructions, 1, 384, adcInstructions)) Recompute();
}

void TDConf::DACInstructionsExit() {
  if (codecedit::Clamped(DACInstructions, 1, 384, dacInstructions)) Recompute();
}

void TDConf::OffsetExit() {
  if (codecedit::Clamped(Offset, 0, 255, offset)) interfaceWindow.WriteBits(28, uint8_t(offset), 0xFF);
}

void TDConf::LockDACFsClick() {
  const bool locked = LockDACFs->isChecked();
  DACSampleRate->setEnabled(!locked);
  if (!locked) return;
  dacRate = adcRate;
  codecedit::Show(DACSampleRate, dacRate);
  Recompute();
}

void TDConf::AdvancedClockButtonClick() {
  manualMode = true;
  ShowSolution(pairAdc[0], pairDac[0]);
  advancedClock->show();
  advancedClock->raise();
}

void TDConf::ClockResultsSelectCell(int row) { selectedRow = row >= 0 && row < ClockResults->rowCount() ? row + 1 : 0; }

void TDConf::ClockResultsDblClick() {
  if (selectedRow == 0) return;
  const int a = pairAdc[selectedRow - 1], d = pairDac[selectedRow - 1];
  if (manualMode) ShowSolution(a, d);
  if (usbRate != adcRate || usbRate != dacRate) {
    if (!Dialogs().Confirm(this, "Warning",
                           "Sample rate doesn't match USB sample rate.\nClick OK to program EVM with new sample rate."))
      return;
  }
  // One PLL, programmed from the ADC side's solution.
  adcClock.ProgramDividers(a, true);
  dacClock.ProgramDividers(d, false);
}

void TDConf::FormActivate() {
  if (!highlightObject) return;
  highlightObject->StartFade(1);
  highlightObject->SetMode(2, highlightObject->GetProximityTimer());
}

void TDConf::FormDeactivate() {
  if (!highlightObject) return;
  highlightObject->StartFade(3);
  highlightObject->SetMode(1, highlightObject->GetProximityTimer());
}

void TDConf::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange) return;
  if (isActiveWindow()) FormActivate();
  else FormDeactivate();
}

void TDConf::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  FormDeactivate();
}

void TDConf::InterfaceFormatChange() {
  interfaceWindow.WriteBits(27, uint8_t((InterfaceFormat->currentIndex() & 3) << 6), 0xC0);
}

void TDConf::WordlengthChange() { interfaceWindow.WriteBits(27, uint8_t((Wordlength->currentIndex() & 3) << 4), 0x30); }

void TDConf::DOUTTristateClick() { interfaceWindow.WriteBits(27, DOUTTristate->isChecked() ? 1 : 0, 0x01); }

void TDConf::ALoopbackClick() { interfaceWindow.WriteBits(29, ALoopback->isChecked() ? 0x10 : 0, 0x10); }

void TDConf::DLoopbackClick() { interfaceWindow.WriteBits(29, DLoopback->isChecked() ? 0x20 : 0, 0x20); }

void TDConf::InterfaceRefresh() {
  const uint8_t* data = interfaceWindow.GetData();
  InterfaceFormat->setCurrentIndex(data[0] >> 6);
  Wordlength->setCurrentIndex((data[0] >> 4) & 3);
  DOUTTristate->setChecked(data[0] & 1);
  offset = data[1];
  Offset->setText(QString::number(unsigned(data[1])));
  ALoopback->setChecked(data[2] & 0x10);
  DLoopback->setChecked(data[2] & 0x20);
}
