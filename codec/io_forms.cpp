#include "codec/io_forms.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

const QStringList kResistors = {"disconnected", "10k", "20k", "40k"};

// Runs `enter` when Enter is pressed in the edit.
class TEnterFilter : public QObject {
 public:
  TEnterFilter(QObject* parent, std::function<void()> enter) : QObject(parent), enter_(std::move(enter)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    enter_();
    return true;
  }

 private:
  std::function<void()> enter_;
};

QLineEdit* Edit(QWidget* parent, const char* name, QRect at) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(at);
  return edit;
}

// A whole number of steps of an entered value, safe from the last bit of
// binary rounding (0.3 x 10 is 3, not 2).
int Steps(double value) { return int(std::trunc(value + (value < 0 ? -1e-9 : 1e-9))); }

// The gain texts of the inputs' track bars, from their positions.
QString MICPGAText(int position) { return QString::fromStdString(DecimalText((95 - position) * 5, 1)); }
QString ADCText(int position) { return QString::fromStdString(DecimalText((16 - position) * 5, 1)); }
QString FineText(int position) { return QString::fromStdString(DecimalText(-position, 1)); }

}  // namespace

// ---------------------------------------------------------------- inputs

TAudioInputsForm::TAudioInputsForm() : TCodecDialog("Audio Inputs", 460, 330) {
  lights = false;
  Sheets = new QTabWidget(this);
  Sheets->setGeometry(4, 4, 452, 322);
  auto* routing = new QWidget;
  auto* volume = new QWidget;
  Sheets->addTab(routing, "Input Routing");
  Sheets->addTab(volume, "Input Volume Control");

  struct Route {
    QComboBox*& combo;
    const char* name;
    const char* caption;
    int reg, shift;
  } routes[] = {{MIC1_LP, "MIC1_LP", "MIC1LP", 48, 6},      {MIC1_RP, "MIC1_RP", "MIC1RP", 48, 4},
                {MIC1_LM_P, "MIC1_LM_P", "MIC1LM (P)", 48, 2}, {CM, "CM", "COMMON MODE", 49, 6},
                {MIC1_LM_M, "MIC1_LM_M", "MIC1LM (M)", 49, 4}};
  int y = 12;
  for (Route& r : routes) {
    auto* label = new QLabel(r.caption, routing);
    label->setGeometry(10, y + 3, 110, 18);
    r.combo = Combo(routing, r.name, kResistors, QRect(130, y, 140, 24));
    const int reg = r.reg, shift = r.shift;
    QComboBox* combo = r.combo;
    connect(combo, &QComboBox::currentIndexChanged, this, [this, reg, shift](int i) {
      if (!loading && i >= 0) audioInputs.SetField(reg, uint8_t(3 << shift), uint8_t(i << shift));
    });
    y += 34;
  }

  auto label = [volume](const char* text, int x, int y) {
    auto* l = new QLabel(text, volume);
    l->setGeometry(x, y, 100, 18);
  };
  label("MIC PGA", 10, 8);
  MICPGAEnable = Check(volume, "MICPGAEnable", "Enable", QRect(10, 28, 80, 20));
  MICPGA = Slider(volume, Qt::Vertical, 0, 95, 95, QRect(20, 52, 30, 180));
  EditMICPGA = Edit(volume, "EditMICPGA", QRect(10, 240, 60, 22));
  label("MIC Bias", 100, 8);
  MICBiasExtJackCtrlPower = Check(volume, "MICBiasExtJackCtrlPower", "Jack Ctrl Power", QRect(100, 28, 120, 20));
  MICBiasExtPower = Check(volume, "MICBiasExtPower", "Power", QRect(100, 50, 120, 20));
  label("Voltage:", 100, 74);
  MICBiasExt = Combo(volume, "MICBiasExt", {"disabled", "2V", "2.5V", "AVDD"}, QRect(100, 94, 110, 24));
  label("Digital MIC", 100, 130);
  DigitalMICEnable = Check(volume, "DigitalMICEnable", "Enable", QRect(100, 150, 110, 20));
  DigitalMICSource = Combo(volume, "DigitalMICSource", {"GPIO1", "DIN"}, QRect(100, 172, 110, 24));
  label("ADC", 240, 8);
  ADCPower = Check(volume, "ADCPower", "Power", QRect(240, 28, 80, 20));
  ADCMute = Check(volume, "ADCMute", "Mute", QRect(320, 28, 80, 20));
  SoftStepping = Combo(volume, "SoftStepping", {"1 step / WCLK", "1 step / 2 WCLKs", "disabled", "reserved"},
                       QRect(240, 52, 150, 24));
  label("Coarse", 240, 84);
  ADCGain = Slider(volume, Qt::Vertical, -24, 40, 16, QRect(250, 104, 30, 150));
  EditADC = Edit(volume, "EditADC", QRect(240, 260, 60, 22));
  label("Fine", 330, 84);
  Fine = Slider(volume, Qt::Vertical, 0, 4, 0, QRect(340, 104, 30, 150));
  EditFine = Edit(volume, "EditFine", QRect(330, 260, 60, 22));
  MICPGA->setObjectName("MICPGA");
  ADCGain->setObjectName("ADCGain");
  Fine->setObjectName("Fine");
  EditMICPGA->setText("0");
  EditADC->setText("0");
  EditFine->setText("0");

  connect(MICPGAEnable, &QCheckBox::clicked, this,
          [this](bool on) { micPGA.SetField(47, 0x80, on ? 0 : 0x80); });
  connect(MICPGA, &QSlider::valueChanged, this, [this](int p) {
    EditMICPGA->setText(MICPGAText(p));
    if (!loading) micPGA.SetField(47, 0x7F, uint8_t(95 - p));
  });
  connect(MICBiasExtJackCtrlPower, &QCheckBox::clicked, this, [this] { MICBiasChange(); });
  connect(MICBiasExtPower, &QCheckBox::clicked, this, [this] { MICBiasChange(); });
  connect(MICBiasExt, &QComboBox::activated, this, [this] { MICBiasChange(); });
  connect(ADCPower, &QCheckBox::clicked, this, [this](bool on) { adc.SetField(81, 0x80, on ? 0x80 : 0); });
  connect(DigitalMICEnable, &QCheckBox::clicked, this, [this] { DigitalMICClick(); });
  connect(DigitalMICSource, &QComboBox::activated, this, [this] { DigitalMICClick(); });
  connect(SoftStepping, &QComboBox::activated, this, [this](int i) { adc.SetField(81, 0x03, uint8_t(i)); });
  connect(ADCMute, &QCheckBox::clicked, this, [this](bool on) { adc.SetField(82, 0x80, on ? 0x80 : 0); });
  connect(Fine, &QSlider::valueChanged, this, [this](int p) {
    EditFine->setText(FineText(p));
    if (!loading) adc.SetField(82, 0x70, uint8_t(p << 4));
  });
  connect(ADCGain, &QSlider::valueChanged, this, [this](int p) {
    const int c = 16 - p;
    EditADC->setText(ADCText(p));
    if (!loading) adc.SetField(83, 0x7F, uint8_t(c & 0x7F));
  });
  EditMICPGA->installEventFilter(new TEnterFilter(this, [this] {
    EditKeyPress(EditMICPGA, MICPGA, 0, 47.5, [](double x) { return 95 - Steps(2 * x); }, MICPGAText);
  }));
  EditADC->installEventFilter(new TEnterFilter(this, [this] {
    EditKeyPress(EditADC, ADCGain, -12, 20, [](double x) { return 16 - Steps(2 * x); }, ADCText);
  }));
  EditFine->installEventFilter(new TEnterFilter(this, [this] {
    EditKeyPress(EditFine, Fine, -0.4, 0, [](double x) { return Steps(-10 * x); }, FineText);
  }));
}

TAudioInputsForm::~TAudioInputsForm() = default;

TI2CObject* TAudioInputsForm::GetI2CObject(int index) {
  switch (index) {
    case 0: return &audioInputs;
    case 1: return &micPGA;
    case 2: return &micBias;
    case 3: return &adc;
    default: return nullptr;
  }
}

void TAudioInputsForm::MICBiasChange() {
  if (loading) return;
  micBias.Reg(46) = uint8_t((MICBiasExtJackCtrlPower->isChecked() ? 0x80 : 0) |
                            (MICBiasExtPower->isChecked() ? 0x40 : 0) | (std::max(0, MICBiasExt->currentIndex()) & 3));
  micBias.Send(46, 1);
}

void TAudioInputsForm::DigitalMICClick() {
  if (loading) return;
  const uint8_t bits = uint8_t((DigitalMICEnable->isChecked() ? 0x08 : 0) | (DigitalMICSource->currentIndex() == 1 ? 0x20 : 0));
  adc.SetField(81, 0x38, bits);
}

void TAudioInputsForm::EditKeyPress(QLineEdit* edit, QSlider* slider, double low, double high,
                                    int (*position)(double), QString (*text)(int)) {
  // A decimal number (no hexadecimal), a sign allowed.
  const std::string typed = edit->text().trimmed().toStdString();
  const char* begin = typed.data() + (typed.size() > 1 && typed[0] == '+' && typed[1] != '-' ? 1 : 0);
  double value = 0;
  const auto [end, error] = std::from_chars(begin, typed.data() + typed.size(), value, std::chars_format::general);
  if (begin != end && error == std::errc() && end == typed.data() + typed.size() && value >= low && value <= high)
    slider->setValue(position(value));
  // What the position writes, not what was typed ("10.3" is 10 dB).
  edit->setText(text(slider->value()));
}

void TAudioInputsForm::RefreshRouting() {
  Loading(loading, [this] {
    const uint8_t r48 = audioInputs.Reg(48), r49 = audioInputs.Reg(49);
    MIC1_LP->setCurrentIndex(r48 >> 6 & 3);
    MIC1_RP->setCurrentIndex(r48 >> 4 & 3);
    MIC1_LM_P->setCurrentIndex(r48 >> 2 & 3);
    CM->setCurrentIndex(r49 >> 6 & 3);
    MIC1_LM_M->setCurrentIndex(r49 >> 4 & 3);
  });
}

void TAudioInputsForm::RefreshMICPGA() {
  Loading(loading, [this] {
    SetPosition(MICPGA, 95 - (micPGA.Reg(47) & 0x7F));
    MICPGAEnable->setChecked(!(micPGA.Reg(47) & 0x80));
  });
}

void TAudioInputsForm::RefreshMICBias() {
  Loading(loading, [this] {
    const uint8_t r = micBias.Reg(46);
    MICBiasExtJackCtrlPower->setChecked(r & 0x80);
    MICBiasExtPower->setChecked(r & 0x40);
    MICBiasExt->setCurrentIndex(r & 3);
  });
}

void TAudioInputsForm::RefreshADC() {
  Loading(loading, [this] {
    int c = adc.Reg(83) & 0x7F;
    if (c & 0x40) c -= 0x80;  // signed 7-bit
    SetPosition(ADCGain, 16 - c);
    ADCMute->setChecked(adc.Reg(82) & 0x80);
    SetPosition(Fine, std::min(adc.Reg(82) >> 4 & 7, 4));
    ADCPower->setChecked(adc.Reg(81) & 0x80);
    SoftStepping->setCurrentIndex(adc.Reg(81) & 3);
  });
}

// ---------------------------------------------------------------- outputs

namespace {
const char* const kPowerOnTimes[] = {"0 us",   "18.4 us", "184 us", "1.84 ms", "18.4 ms", "91.9 ms",
                                     "184 ms", "367 ms",  "735 ms", "1.47 s",  "3.67 s",  "7.35 s"};
const char* const kRampUpTimes[] = {"0 ms", "1.18 ms", "2.35 ms", "4.7 ms"};
const char* const kSpeakerPowerOnTimes[] = {"0 ms",    "1.09 ms", "2.27 ms", "4.35 ms",
                                            "5.44 ms", "7.07 ms", "8.7 ms",  "10.9 ms"};
const char* const kRampDownTimes[] = {"0.117 ms", "0.44 ms",  "0.876 ms", "3.48 ms",  "6.09 ms",  "6.96 ms",
                                      "8.7 ms",   "10.44 ms", "13.92 ms", "17.4 ms",  "20.88 ms", "27.85 ms",
                                      "34.81 ms", "41.77 ms", "69.6 ms",  "107.9 ms"};
}  // namespace

TAudioOutputsForm::TAudioOutputsForm() : TCodecDialog("Audio Outputs", 560, 360) {
  Text("Class-D Power", 10, 8);
  LeftChannel = Check(this, "LeftChannel", "Left Channel", QRect(10, 28, 130, 20));
  RightChannel = Check(this, "RightChannel", "Right Channel", QRect(10, 50, 130, 20));
  EnableOTP = Check(this, "EnableOTP", "Enable Overtemperature Protection", QRect(10, 72, 250, 20));
  Text("Headphone Driver Power", 280, 8, 200);
  HPLeftChannel = Check(this, "HPLeftChannel", "Left Channel", QRect(280, 28, 130, 20));
  HPRightChannel = Check(this, "HPRightChannel", "Right Channel", QRect(280, 50, 130, 20));
  CommonMode = RadioGroup(this, "CommonMode", "Output Common Mode Voltage", {"1.35V", "1.5V", "1.65V", "1.8V"},
                          QRect(10, 100, 200, 104));
  ShortCircuit = RadioGroup(this, "ShortCircuit", "Short Circuit Protection", {"Limit Current", "Power Down Drvr"},
                            QRect(220, 100, 160, 64));
  Mode = RadioGroup(this, "Mode", "Mode", {"Headphone", "Line-out"}, QRect(390, 100, 160, 64));
  CMMode = RadioGroup(this, "CMMode", "", {"CM Mode Resistor Divider", "CM Mode Band Gap"}, QRect(220, 170, 330, 64));
  // A row of its own: beside the common mode group it would lie over the
  // CM mode group.
  DisableInternalDischargePath =
      Check(this, "DisableInternalDischargePath", "Disable Internal Discharge Path", QRect(10, 240, 250, 20));
  struct Bar {
    QSlider*& slider;
    QLabel*& text;
    const char* name;
    const char* caption;
    int max;
  } bars[] = {{DriverPowerOnTime, DriverPowerOnTimeText, "DriverPowerOnTime", "Power On Time:", 11},
              {DriverRampUpTime, DriverRampUpTimeText, "DriverRampUpTime", "Ramp Up Time:", 3},
              {SpeakerPowerOnTime, SpeakerPowerOnTimeText, "SpeakerPowerOnTime", "Speaker Power On Time:", 7},
              {PGARampDownTime, PGARampDownTimeText, "PGARampDownTime", "PGA Ramp Down Time:", 15}};
  int y = 268;
  int x = 10;
  for (Bar& b : bars) {
    Text(b.caption, x, y, 150);
    b.slider = Slider(this, Qt::Horizontal, 0, b.max, 0, QRect(x, y + 20, 170, 24));
    b.slider->setObjectName(b.name);
    b.text = Text("0000s", x + 176, y + 22, 80);
    b.text->setObjectName(QString(b.name) + "Text");
    if (x == 10) {
      x = 280;
    } else {
      x = 10;
      y += 54;
    }
  }
  resize(560, y + 10);

  auto bit = [](TFormI2C& w, int reg, uint8_t mask) {
    return [&w, reg, mask](bool on) { w.SetField(reg, mask, on ? mask : 0); };
  };
  connect(LeftChannel, &QCheckBox::clicked, this, bit(classD, 32, 0x80));
  connect(RightChannel, &QCheckBox::clicked, this, bit(classD, 32, 0x40));
  connect(EnableOTP, &QCheckBox::clicked, this, [this](bool on) { classD.SetField(32, 0x10, on ? 0 : 0x10); });
  connect(HPLeftChannel, &QCheckBox::clicked, this, bit(hpDrivers, 31, 0x80));
  connect(HPRightChannel, &QCheckBox::clicked, this, bit(hpDrivers, 31, 0x40));
  connect(CommonMode, &QButtonGroup::idClicked, this, [this](int v) { hpDrivers.SetField(31, 0x18, uint8_t(v << 3)); });
  connect(ShortCircuit, &QButtonGroup::idClicked, this, [this](int v) { hpDrivers.SetField(31, 0x01, uint8_t(v)); });
  connect(Mode, &QButtonGroup::idClicked, this, [this](int v) { hpDrivers.WriteBits(44, uint8_t(v << 2), 0x04); });
  connect(CMMode, &QButtonGroup::idClicked, this, [this](int v) { hpPop.SetField(33, 0x01, uint8_t(v)); });
  connect(DisableInternalDischargePath, &QCheckBox::clicked, this, bit(pgaRamp, 34, 0x80));
  auto timed = [this](QSlider* slider, QLabel* text, const char* const* table, int size, TFormI2C& w, int reg,
                      int shift, int bits) {
    connect(slider, &QSlider::valueChanged, this, [this, text, table, size, &w, reg, shift, bits](int p) {
      if (p >= 0 && p < size) text->setText(table[p]);
      if (!loading) w.SetField(reg, uint8_t(((1 << bits) - 1) << shift), uint8_t(p << shift));
    });
  };
  timed(DriverPowerOnTime, DriverPowerOnTimeText, kPowerOnTimes, 12, hpPop, 33, 3, 4);
  timed(DriverRampUpTime, DriverRampUpTimeText, kRampUpTimes, 4, hpPop, 33, 1, 2);
  timed(SpeakerPowerOnTime, SpeakerPowerOnTimeText, kSpeakerPowerOnTimes, 8, pgaRamp, 34, 4, 3);
  timed(PGARampDownTime, PGARampDownTimeText, kRampDownTimes, 16, pgaRamp, 34, 0, 4);
}

TAudioOutputsForm::~TAudioOutputsForm() = default;

TI2CObject* TAudioOutputsForm::GetI2CObject(int index) {
  switch (index) {
    case 0: return &classD;
    case 1: return &hpDrivers;
    case 2: return &hpPop;
    case 3: return &pgaRamp;
    default: return nullptr;
  }
}

void TAudioOutputsForm::SetCodecName(const char* name) {
  if (!name) name = "";
  const bool mono = std::strstr(name, "7530") || std::strstr(name, "7616");
  RightChannel->setVisible(!mono);
  HPRightChannel->setVisible(!mono);
  if (std::strstr(name, "QMX7310")) RightChannel->hide();
}

void TAudioOutputsForm::RefreshClassD() {
  Loading(loading, [this] {
    const uint8_t r = classD.Reg(32);
    LeftChannel->setChecked(r & 0x80);
    RightChannel->setChecked(r & 0x40);
    EnableOTP->setChecked(!(r & 0x10));
  });
}

void TAudioOutputsForm::RefreshHPDrivers() {
  Loading(loading, [this] {
    const uint8_t r = hpDrivers.Reg(31);
    HPLeftChannel->setChecked(r & 0x80);
    HPRightChannel->setChecked(r & 0x40);
    CommonMode->button(r >> 3 & 3)->setChecked(true);
    ShortCircuit->button(r & 1)->setChecked(true);
    Mode->button(hpDrivers.Reg(44) >> 2 & 1)->setChecked(true);
  });
}

void TAudioOutputsForm::RefreshHPPOP() {
  Loading(loading, [this] {
    const uint8_t r = hpPop.Reg(33);
    SetPosition(DriverPowerOnTime, std::min(r >> 3 & 15, 11));
    SetPosition(DriverRampUpTime, r >> 1 & 3);
    CMMode->button(r & 1)->setChecked(true);
  });
}

void TAudioOutputsForm::RefreshPGARamp() {
  Loading(loading, [this] {
    const uint8_t r = pgaRamp.Reg(34);
    DisableInternalDischargePath->setChecked(r & 0x80);
    SetPosition(SpeakerPowerOnTime, r >> 4 & 7);
    SetPosition(PGARampDownTime, r & 15);
  });
}
