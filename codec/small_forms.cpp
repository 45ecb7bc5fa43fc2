#include "codec/small_forms.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

// A paint box: its paint runs `paint`, its click runs `click`.
class TPaintBox : public QWidget {
 public:
  TPaintBox(QWidget* parent, std::function<void(QWidget*)> paint, std::function<void()> click)
      : QWidget(parent), paint_(std::move(paint)), click_(std::move(click)) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (paint_) paint_(this);
  }
  void mouseReleaseEvent(QMouseEvent*) override {
    if (click_) click_();
  }

 private:
  std::function<void(QWidget*)> paint_;
  std::function<void()> click_;
};

// 4 / 2^halvings dB, exactly: 4 x 5^halvings x 10^-halvings.
std::string Rate(int halvings) {
  long long units = 4;
  for (int i = 0; i < halvings; ++i) units *= 5;
  return DecimalText(units, halvings);
}

}  // namespace

// ---------------------------------------------------------------- DAC volume

TDACVolForm::TDACVolForm() : TCodecDialog("DAC Vol", 59, 259) {
  Volume = Slider(this, Qt::Vertical, 0, 176, 48, QRect(8, 8, 30, 180));
  Volume->setTickInterval(16);
  Volume->setObjectName("Volume");
  // Centred over the slider in the form's 59 pixels, "DAC mute" included.
  VolumeText = Text("0 dB", 0, 192, 59);
  VolumeText->setObjectName("VolumeText");
  VolumeText->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  VolumeText->setFont(QFont("Arial", 8));
  Mute = new QCheckBox("Mute", this);
  Mute->setObjectName("Mute");
  Mute->setGeometry(4, 212, 60, 18);
  Lock = new QCheckBox("Lock", this);
  Lock->setObjectName("Lock");
  Lock->hide();
  DRC = new QCheckBox("DRC", this);
  DRC->setObjectName("DRC");
  DRC->setGeometry(4, 234, 60, 18);
  DRCPaintBox = new TPaintBox(
      this, [this](QWidget* box) { DRCPaintBoxPaint(box); },
      [this] {
        if (drcForm) {
          drcForm->show();
          drcForm->raise();
        }
      });
  DRCPaintBox->setObjectName("DRCPaintBox");
  DRCPaintBox->setGeometry(70, 8, 249, 241);

  connect(Volume, &QSlider::valueChanged, this, [this] { VolumeChange(); });
  connect(Mute, &QCheckBox::clicked, this, [this] { ChannelBitClick(Mute, 3, 2); });
  connect(Lock, &QCheckBox::clicked, this, [this] { ChannelBitClick(Lock, 0, 1); });
  connect(DRC, &QCheckBox::clicked, this, [this] { DRCClick(); });
}

TDACVolForm::~TDACVolForm() = default;

TI2CObject* TDACVolForm::GetI2CObject(int index) {
  if (index == 0) return &control;
  if (index == 1) return &volume;
  return nullptr;
}

void TDACVolForm::SetRightChannel() {
  volumeRegister = 66;
  volume.SetFirstRegister(66);
}

void TDACVolForm::VolumeChange() {
  const int8_t code = int8_t(48 - Volume->value());
  volumeDb = float(48 - Volume->value()) * 0.5f;
  if (!loading) {
    volume.Reg(volumeRegister) = uint8_t(code);
    volume.Send(volumeRegister, 1);
  }
  VolumeText->setText(code == -128 ? "DAC mute" : QString::fromStdString(DecimalText(code * 5, 1) + " dB"));
  DRCPaintBox->update();
}

void TDACVolForm::ChannelBitClick(QCheckBox* box, int bitLeft, int bitRight) {
  if (loading) return;
  const uint8_t mask = uint8_t(1u << (Right() ? bitRight : bitLeft));
  control.SetField(64, mask, box->isChecked() ? mask : 0);
}

void TDACVolForm::DRCClick() {
  resize(DRC->isChecked() ? 328 : 66, height());
  if (drcForm) drcForm->SetChannelEnable(DRC->isChecked(), this);
}

void TDACVolForm::SetDRCThreshold(int dB) {
  drcThreshold = dB;
  DRCPaintBox->update();
}

void TDACVolForm::RefreshControl() {
  Loading(loading, [this] {
    const uint8_t r = control.Reg(64);
    Mute->setChecked(r & (1u << (Right() ? 2 : 3)));
    Lock->setChecked(r & (1u << (Right() ? 1 : 0)));
  });
}

void TDACVolForm::RefreshVolume() {
  Loading(loading, [this] { SetPosition(Volume, 48 - int(int8_t(volume.Reg(volumeRegister)))); });
}

void TDACVolForm::DRCPaintBoxPaint(QWidget* box) {
  QPainter p(box);
  const int W = box->width(), H = box->height();
  auto X = [&](double a) { return int((W - 40) * (a + 90) / 90 + 30); };
  auto Y = [&](double b) { return int((H - 30) * (-b / 90) + 10); };
  p.fillRect(box->rect(), Qt::black);
  p.setFont(QFont("Arial", 10));
  for (int v = -90; v <= 0; v += 10) {
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.drawLine(30, Y(v), W - 10, Y(v));
    p.drawLine(X(v), 10, X(v), H - 20);
    p.setPen(Qt::white);
    p.drawText(2, Y(v) - 10 + p.fontMetrics().ascent(), QString::number(v));
    p.drawText(X(v) - 10, H - 15 + p.fontMetrics().ascent(), QString::number(v));
  }
  p.setPen(QPen(QColor(0xBB, 0x00, 0xBB), 2));
  p.drawLine(30, Y(drcThreshold), W - 10, Y(drcThreshold));
  p.setClipRect(QRect(30, 10, W - 40, H - 30));
  p.setPen(QPen(QColor(0x44, 0xFF, 0x00), 2));
  const QPoint a(X(-90), Y(volumeDb - 90)), b(X(drcThreshold - volumeDb), Y(drcThreshold));
  p.drawLine(a, b);
  p.setPen(QPen(QColor(0xFF, 0x44, 0x00), 2));
  p.drawLine(b, QPoint(X(volumeDb < 0 ? -volumeDb : 0), Y(0)));
}

// ---------------------------------------------------------------- DRC

TDRCForm::TDRCForm() : TCodecDialog("DRC", 444, 250) {
  lights = false;
  struct Row {
    QSlider*& slider;
    QLabel*& text;
    const char* name;
    const char* caption;
    int max;
  } rows[] = {{Attack, AttackText, "Attack", "Attack", 15},       {Decay, DecayText, "Decay", "Decay", 15},
              {Threshold, ThresholdText, "Threshold", "Threshold", 7}, {Hold, HoldText, "Hold", "Hold", 7},
              {Hysteresis, HysteresisText, "Hysteresis", "Hysteresis", 3}};
  int y = 8;
  for (Row& row : rows) {
    Text(row.caption, 8, y, 70);
    row.slider = Slider(this, Qt::Horizontal, 0, row.max, 0, QRect(80, y, 110, 24));
    row.slider->setObjectName(row.name);
    // Wide enough for the longest rate, "0.000000476837158203125 dB/Frame".
    row.text = Text("", 196, y, 240);
    row.text->setObjectName(QString(row.name) + "Text");
    y += 46;
  }
  Texts();
  connect(Threshold, &QSlider::valueChanged, this, [this] { ThresholdChange(); });
  connect(Hysteresis, &QSlider::valueChanged, this, [this] { FieldChange(Hysteresis, 68, 0, 2); });
  connect(Hold, &QSlider::valueChanged, this, [this] { FieldChange(Hold, 69, 3, 4); });
  connect(Attack, &QSlider::valueChanged, this, [this] { FieldChange(Attack, 70, 4, 4); });
  connect(Decay, &QSlider::valueChanged, this, [this] { FieldChange(Decay, 70, 0, 4); });
}

TDRCForm::~TDRCForm() = default;

void TDRCForm::Texts() {
  ThresholdText->setText(QString::asprintf("%i dB", -3 * Threshold->value() - 3));
  HysteresisText->setText(QString::asprintf("%i dB", Hysteresis->value()));
  HoldText->setText(Hold->value() == 0 ? QString("DRC Hold disabled")
                                       : QString::asprintf("%u/Fs", 1u << (Hold->value() + 4)));
  AttackText->setText(QString::fromStdString(Rate(Attack->value()) + " dB/Frame"));
  DecayText->setText(QString::fromStdString(Rate(Decay->value() + 8) + " dB/Frame"));
}

void TDRCForm::SetChannelEnable(bool enable, TDACVolForm* dac) {
  if (loading || !dac) return;
  uint8_t mask = 0;
  if (dac == leftDac) mask = 0x40;
  if (dac == rightDac) mask = 0x20;
  if (!mask) return;
  window.SetField(68, mask, enable ? mask : 0);
}

void TDRCForm::ThresholdChange() {
  threshold = -3 * Threshold->value() - 3;
  Texts();
  for (TDACVolForm* dac : {leftDac, rightDac})
    if (dac) dac->SetDRCThreshold(threshold);
  if (!loading) window.SetField(68, 0x1C, uint8_t(Threshold->value() << 2));
}

void TDRCForm::FieldChange(QSlider* slider, int reg, int shift, int bits) {
  Texts();
  if (loading) return;
  const uint8_t mask = uint8_t(((1u << bits) - 1) << shift);
  window.SetField(reg, mask, uint8_t(slider->value() << shift));
}

void TDRCForm::Refresh() {
  Loading(loading, [this] {
    const uint8_t r68 = window.Reg(68), r69 = window.Reg(69), r70 = window.Reg(70);
    // The DAC dialogs' boxes resize them; the enable bits are not written back.
    const struct {
      TDACVolForm* dac;
      uint8_t bit;
    } dacs[] = {{leftDac, 0x40}, {rightDac, 0x20}};
    for (const auto& d : dacs) {
      if (!d.dac) continue;
      d.dac->DRC->setChecked(r68 & d.bit);
      d.dac->DRCClick();
    }
    SetPosition(Threshold, (r68 >> 2) & 7);
    SetPosition(Hysteresis, r68 & 3);
    SetPosition(Attack, r70 >> 4);
    SetPosition(Decay, r70 & 15);
    SetPosition(Hold, (r69 >> 3) & 15);
  });
}

// ---------------------------------------------------------------- beep

TBeepForm::TBeepForm() : TCodecDialog("Beep", 300, 170) {
  lights = false;
  Text("Duration", 8, 8, 70);
  Duration = Slider(this, Qt::Horizontal, 5, 50, 5, QRect(80, 8, 140, 24));
  Duration->setObjectName("Duration");
  DurationText = Text("0s", 226, 8, 70);
  DurationText->setObjectName("DurationText");
  Text("Frequency", 8, 50, 70);
  Frequency = Slider(this, Qt::Horizontal, 500, 10500, 500, QRect(80, 50, 140, 24));
  Frequency->setTickInterval(1000);
  Frequency->setObjectName("Frequency");
  FrequencyText = Text("Hz", 226, 50, 70);
  FrequencyText->setObjectName("FrequencyText");
  AutoBeep = new QCheckBox("Auto Beep", this);
  AutoBeep->setObjectName("AutoBeep");
  AutoBeep->setGeometry(8, 96, 100, 20);
  Beep = new QPushButton("Beep", this);
  Beep->setObjectName("Beep");
  Beep->setGeometry(8, 126, 80, 28);

  connect(Duration, &QSlider::valueChanged, this, [this] {
    DurationText->setText(QString::fromStdString(DecimalText(Duration->value(), 2) + " s"));
    WriteRegisters();
  });
  connect(Frequency, &QSlider::valueChanged, this, [this] {
    FrequencyText->setText(QString::asprintf("%i Hz", Frequency->value()));
    WriteRegisters();
  });
  connect(AutoBeep, &QCheckBox::clicked, this, [this] { WriteRegisters(); });
  connect(Beep, &QPushButton::clicked, this, [this] { BeepClick(); });
}

TBeepForm::~TBeepForm() = default;

void TBeepForm::Coefficients(int hz, int& sine, int& cosine) {
  const double w = hz * 6.28318 / kRate;
  sine = int(std::sin(w) * 32767);
  cosine = int(std::cos(w) * 32767);
}

int TBeepForm::FrequencyOf(unsigned sineRegisters, unsigned cosineRegisters, int current) {
  const auto writes = [&](int hz) {
    int sine = 0, cosine = 0;
    Coefficients(hz, sine, cosine);
    return sineRegisters == (unsigned(sine) & 0xFFFF) && cosineRegisters == (unsigned(cosine) & 0xFFFF);
  };
  if (writes(current)) return current;
  // Near a quarter turn the sine is too flat to tell neighbouring
  // frequencies apart; with the cosine the angle is exact to a fraction of a
  // hertz, and the frequency whose coefficients these are lies beside it.
  const double angle = std::atan2(double(int16_t(sineRegisters)), double(int16_t(cosineRegisters)));
  const int near = int(std::lround(angle * kRate / 6.28318));
  for (int d = 0; d <= 3; ++d)
    for (int hz : {near - d, near + d})
      if (hz >= 0 && writes(hz)) return hz;
  // Coefficients that no frequency of ours writes: the sine's angle.
  const double x = double(sineRegisters) / 32767;
  if (x > 1) return 0;
  // Rounded: the truncated coefficients lie just below the written frequency.
  return int(std::lround(std::asin(x) * kRate / 6.28318));
}

void TBeepForm::WriteRegisters() {
  if (loading) return;
  TFormI2C& w = window;
  w.Reg(71) = uint8_t((w.Reg(71) & ~0x40) | (AutoBeep->isChecked() ? 0x40 : 0));
  const unsigned length = unsigned(Duration->value()) * kRate / 100;
  w.Reg(73) = uint8_t(length >> 16);
  w.Reg(74) = uint8_t(length >> 8);
  w.Reg(75) = uint8_t(length);
  int sine = 0, cosine = 0;
  Coefficients(Frequency->value(), sine, cosine);
  w.Reg(76) = uint8_t(unsigned(sine) >> 8);
  w.Reg(77) = uint8_t(sine);
  w.Reg(78) = uint8_t(unsigned(cosine) >> 8);
  w.Reg(79) = uint8_t(cosine);
  w.Send(71, 9);
}

void TBeepForm::BeepClick() {
  WriteRegisters();
  TFormI2C& w = window;
  w.Reg(72) = uint8_t((w.Reg(72) & ~0xC0) | 0x80);
  w.Reg(71) |= 0x80;
  // Register 60 lies outside the window: reached in the host's image, eleven
  // bytes before register 71, only once the window is bound into it.
  if (w.Bound() && w.GetWrite()) {
    uint8_t& r60 = w.GetData()[-11];
    if (r60 != 25) {
      r60 = 25;
      w.GetWrite()(w.User(), 0x30, 0, 60, 1);
    }
  }
  w.Send(71, 9);
  w.Reg(71) &= uint8_t(~0x80);
}

void TBeepForm::Refresh() {
  Loading(loading, [this] {
    TFormI2C& w = window;
    AutoBeep->setChecked(w.Reg(71) & 0x40);
    const unsigned length = unsigned(w.Reg(73)) << 16 | unsigned(w.Reg(74)) << 8 | w.Reg(75);
    SetPosition(Duration, int(length * 100 / kRate));
    SetPosition(Frequency, FrequencyOf(unsigned(w.Reg(76)) << 8 | w.Reg(77), unsigned(w.Reg(78)) << 8 | w.Reg(79),
                                    Frequency->value()));
  });
}

// ---------------------------------------------------------------- SAR

TSARForm::TSARForm() : TCodecDialog("SAR", 330, 260) {
  lights = false;
  CLKSource = RadioGroup(this, "CLKSource", "Clock Source", {"Internal Osc", "External MCLK"}, QRect(8, 8, 150, 64));
  Text("Divider", 170, 14, 60);
  SARDivider = Combo(this, "SARDivider", {"1", "2", "4", "8"}, QRect(230, 10, 90, 24));
  RefSource = RadioGroup(this, "RefSource", "Reference", {"AVDD", "MICBIAS"}, QRect(8, 78, 150, 64));
  Mode = RadioGroup(this, "Mode", "Mode", {"Volume", "GP"}, QRect(170, 78, 150, 64));
  StopOnRead = new QCheckBox("Stop on Read", this);
  StopOnRead->setObjectName("StopOnRead");
  StopOnRead->setGeometry(8, 150, 150, 20);
  Continuous = new QCheckBox("Continuous Conversion", this);
  Continuous->setObjectName("Continuous");
  Continuous->setGeometry(170, 150, 160, 20);
  Text("Hysteresis", 8, 180, 70);
  Hysteresis = Combo(this, "Hysteresis", {"None", "1 bit", "2 bits"}, QRect(80, 176, 80, 24));
  Text("Throughput", 170, 180, 70);
  // A few pixels clear of its caption, which fills its 70.
  Throughput = Combo(this, "Throughput", {"0", "1", "2", "3", "4", "5", "6", "7"}, QRect(244, 176, 76, 24));
  Data = Text("Data = 0x00", 8, 220, 200);
  Data->setObjectName("Data");
  SAR = new QTimer(this);
  SAR->setInterval(300);
  connect(SAR, &QTimer::timeout, this, [this] { SARTimer(); });

  connect(CLKSource, &QButtonGroup::idClicked, this,
          [this](int id) { control.SetField(116, 0x40, uint8_t(id << 6)); });
  connect(SARDivider, &QComboBox::activated, this, [this](int i) { control.SetField(118, 0x0C, uint8_t(i << 2)); });
  connect(RefSource, &QButtonGroup::idClicked, this, [this](int id) { Bits(118, 0x02, uint8_t(id << 1)); });
  connect(Mode, &QButtonGroup::idClicked, this, [this](int id) { Bits(118, 0x80, uint8_t(id << 7)); });
  connect(StopOnRead, &QCheckBox::clicked, this, [this](bool on) { Bits(118, 0x20, on ? 0x20 : 0); });
  connect(Continuous, &QCheckBox::clicked, this, [this](bool on) { Bits(118, 0x40, on ? 0x40 : 0); });
  connect(Hysteresis, &QComboBox::activated, this, [this](int i) { Bits(116, 0x30, uint8_t(i << 4)); });
  connect(Throughput, &QComboBox::activated, this, [this](int i) { Bits(116, 0x07, uint8_t(i)); });
}

TSARForm::~TSARForm() { SAR->stop(); }

TI2CObject* TSARForm::GetI2CObject(int index) {
  if (index == 0) return &control;
  if (index == 1) return &data;
  return nullptr;
}

void TSARForm::Bits(int reg, uint8_t mask, uint8_t value) {
  if (loading) return;
  control.WriteBits(unsigned(reg), uint8_t(value & mask), mask);
}

void TSARForm::showEvent(QShowEvent* event) {
  SAR->start();
  TCodecDialog::showEvent(event);
}

void TSARForm::hideEvent(QHideEvent* event) {
  SAR->stop();
  TCodecDialog::hideEvent(event);
}

void TSARForm::SARTimer() {
  TI2CBlockCallback block = data.GetBlock();
  if (!block) return;
  block(data.User(), 0x30, data.GetFirstRegister(), data.GetData(), 1, true, false);
  data.Refresh();
}

void TSARForm::RefreshControl() {
  Loading(loading, [this] {
    const uint8_t r116 = control.Reg(116), r118 = control.Reg(118);
    CLKSource->button((r116 >> 6) & 1)->setChecked(true);
    Hysteresis->setCurrentIndex(std::min((r116 >> 4) & 3, 2));
    Throughput->setCurrentIndex(r116 & 7);
    Mode->button(r118 >> 7)->setChecked(true);
    Continuous->setChecked(r118 & 0x40);
    StopOnRead->setChecked(r118 & 0x20);
    SARDivider->setCurrentIndex((r118 >> 2) & 3);
    RefSource->button((r118 >> 1) & 1)->setChecked(true);
  });
}

void TSARForm::RefreshData() { Data->setText(QString::asprintf("Data = 0x%02X", data.Reg(119))); }
