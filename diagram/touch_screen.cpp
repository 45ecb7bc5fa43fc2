#include "diagram/touch_screen.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "diagram/control_layout.h"
#include "diagram/data_readouts.h"
#include "diagram/script_button.h"
#include "platform/gui/gui.h"
#include "registers/i2c_command.h"

namespace {

const char* const kPrecharge[16] = {"3 us",   "10 us",  "20 us",  "30 us",  "40 us",  "50 us",  "60 us",  "70 us",
                                    "80 us",  "90 us",  "100 us", "200 us", "300 us", "400 us", "500 us", "600 us"};
const char* const kSense[16] = {"3 us",   "100 us", "200 us", "300 us", "400 us", "500 us", "600 us", "700 us",
                                "800 us", "900 us", "1 ms",   "1.1 ms", "1.2 ms", "1.3 ms", "1.4 ms", "1.5 ms"};
const char* const kPanel[16] = {"10 us",  "20 us",  "30 us",  "40 us",  "50 us",  "60 us",  "70 us",  "80 us",
                                "90 us",  "100 us", "200 us", "300 us", "400 us", "500 us", "600 us", "700 us"};
const char* const kReference[4] = {"0 us", "100 us", "500 us", "1 ms"};
const char* const kScriptFiles[4] = {"QMX7120-P_NBM1.txt", "QMX7120-P_NBM2.txt", "QMX7120-P_NBM2_IN12.txt",
                                     "QMX7120-P_DSTouch.txt"};
constexpr int kRate = 50;

// The linked IN1/IN2 readout that NBM2 with IN1/IN2 feeds.
TIN1IN2Data* Readout(TGUIObject* target) { return dynamic_cast<TIN1IN2Data*>(target); }

class PaintBoxWidget : public QWidget {
 public:
  PaintBoxWidget(TTouchScreenForm* form, QWidget* parent) : QWidget(parent), form(form) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!form->block) return;
    QPainter painter(this);
    painter.drawImage(0, 0, form->formBitmap.Image());
  }

 private:
  TTouchScreenForm* form;
};

QSlider* Track(QWidget* parent, int max) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setRange(0, max);
  return slider;
}

}  // namespace

// -------------------------------------------------------------------- form

TTouchScreenForm::TTouchScreenForm(TTouchScreen* owner) : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint), block(owner) {
  setWindowTitle(QStringLiteral("TouchScreenForm"));
  auto* top = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  top->addLayout(left);
  PaintBox = new PaintBoxWidget(this, this);
  PaintBox->setFixedSize(256, 256);
  formBitmap.SetSize(256, 256, 0xFFFFFF);
  left->addWidget(PaintBox);
  Clear = new QPushButton(QStringLiteral("Clear"), this);
  left->addWidget(Clear);
  auto* right = new QVBoxLayout;
  top->addLayout(right);

  TouchDetectionOptions = new QGroupBox(QStringLiteral("Touch Detection"), this);
  auto* touch = new QGridLayout(TouchDetectionOptions);
  TouchDetection = new QCheckBox(QStringLiteral("Enabled"), TouchDetectionOptions);
  Precharge = Track(TouchDetectionOptions, 15);
  PrechargeText = new QLabel(kPrecharge[0], TouchDetectionOptions);
  Sense = Track(TouchDetectionOptions, 15);
  SenseText = new QLabel(kSense[0], TouchDetectionOptions);
  touch->addWidget(TouchDetection, 0, 0);
  touch->addWidget(Precharge, 1, 0);
  touch->addWidget(PrechargeText, 1, 1);
  touch->addWidget(Sense, 2, 0);
  touch->addWidget(SenseText, 2, 1);
  right->addWidget(TouchDetectionOptions);

  PanelVoltageOptions = new QGroupBox(QStringLiteral("Panel Voltage Stabilization"), this);
  auto* panel = new QGridLayout(PanelVoltageOptions);
  PanelStabilization = Track(PanelVoltageOptions, 7);
  PanelStabilizationText = new QLabel(kPanel[0], PanelVoltageOptions);
  DoubleSampleDuration = new QCheckBox(QStringLiteral("Double Sample Duration"), PanelVoltageOptions);
  DoubleSampleDuration->hide();
  panel->addWidget(PanelStabilization, 0, 0);
  panel->addWidget(PanelStabilizationText, 0, 1);
  right->addWidget(PanelVoltageOptions);

  ReferenceOptions = new QGroupBox(QStringLiteral("Reference"), this);
  auto* reference = new QGridLayout(ReferenceOptions);
  RefAlwaysOn = new QCheckBox(QStringLiteral("Always On"), ReferenceOptions);
  RefV1 = new QRadioButton(QStringLiteral("Int. 1.25V"), ReferenceOptions);
  RefV2 = new QRadioButton(QStringLiteral("Int. 2.50V"), ReferenceOptions);
  RefStabilization = Track(ReferenceOptions, 3);
  RefStabilizationText = new QLabel(kReference[0], ReferenceOptions);
  reference->addWidget(RefAlwaysOn, 0, 0);
  reference->addWidget(RefV1, 1, 0);
  reference->addWidget(RefV2, 1, 1);
  reference->addWidget(RefStabilization, 2, 0);
  reference->addWidget(RefStabilizationText, 2, 1);
  right->addWidget(ReferenceOptions);
  ReferenceOptions->hide();

  auto* modes = new QGroupBox(QStringLiteral("Mode"), this);
  auto* modeRow = new QHBoxLayout(modes);
  NBM1 = new QRadioButton(QStringLiteral("NBM1"), modes);
  NBM2 = new QRadioButton(QStringLiteral("NBM2"), modes);
  DS = new QRadioButton(QStringLiteral("DS"), modes);
  IN12 = new QCheckBox(QStringLiteral("IN1/2"), modes);
  Script = new QPushButton(QStringLiteral("Script"), modes);
  NBM1->setChecked(true);
  IN12->setEnabled(false);
  for (QWidget* w : std::initializer_list<QWidget*>{NBM1, NBM2, DS, IN12, Script}) modeRow->addWidget(w);
  right->addWidget(modes);

  XPYMOptions = new QGroupBox(QStringLiteral("XP && YM"), this);
  auto* xpym = new QVBoxLayout(XPYMOptions);
  XPPullUp = new QComboBox(XPYMOptions);
  for (const char* item : {"48k", "39k", "30k", "24k", "18k", "12k", "6k", "3k"}) XPPullUp->addItem(item);
  YMDriver = new QCheckBox(QStringLiteral("YM Driver On"), XPYMOptions);
  xpym->addWidget(XPPullUp);
  xpym->addWidget(YMDriver);
  right->addWidget(XPYMOptions);

  connect(TouchDetection, &QCheckBox::clicked, [this] { TouchDetectionClick(); });
  connect(Precharge, &QSlider::valueChanged, [this] { PrechargeChange(); });
  connect(Sense, &QSlider::valueChanged, [this] { SenseChange(); });
  connect(PanelStabilization, &QSlider::valueChanged, [this] { PanelStabilizationChange(); });
  connect(XPPullUp, &QComboBox::currentIndexChanged, [this] { XPPullUpChange(); });
  connect(YMDriver, &QCheckBox::clicked, [this] { YMDriverClick(); });
  connect(DoubleSampleDuration, &QCheckBox::clicked, [this] { DoubleSampleDurationClick(); });
  connect(RefAlwaysOn, &QCheckBox::clicked, [this] { RefAlwaysOnClick(); });
  connect(RefV1, &QRadioButton::clicked, [this] { RefV1Click(); });
  connect(RefV2, &QRadioButton::clicked, [this] { RefV2Click(); });
  connect(RefStabilization, &QSlider::valueChanged, [this] { RefStabilizationChange(); });
  connect(NBM1, &QRadioButton::clicked, [this] { NBM1Click(); });
  connect(NBM2, &QRadioButton::clicked, [this] { NBM2Click(); });
  connect(IN12, &QCheckBox::clicked, [this] { IN12Click(); });
  connect(DS, &QRadioButton::clicked, [this] { DSClick(); });
  connect(Script, &QPushButton::clicked, [this] {
    if (TI2CCommand* script = block ? block->CurrentScript() : nullptr) script->show();
  });
  connect(Clear, &QPushButton::clicked, [this] { ClearClick(); });
}

bool TTouchScreenForm::event(QEvent* e) {
  if (block && e->type() == QEvent::WindowActivate) {
    block->StartFade(kFadeEntered);
    block->SetMode(2, nullptr);
  } else if (block && e->type() == QEvent::WindowDeactivate) {
    block->StartFade(kFadeOutPending);
    block->SetMode(1, nullptr);
  }
  return QWidget::event(e);
}

void TTouchScreenForm::EnableOptions(bool flag) {
  TouchDetectionOptions->setEnabled(flag);
  PanelVoltageOptions->setEnabled(flag);
  XPYMOptions->setEnabled(flag);
}

void TTouchScreenForm::TouchDetectionClick() { block->SetBits(103, 25, 0x80, TouchDetection->isChecked() ? 0 : 0x80); }
void TTouchScreenForm::TrackChange(QSlider* track, QLabel* text, const char* const* table, int mask, int page,
                                   int reg, int shift) {
  const int p = track->value() & mask;
  text->setText(table[p]);
  if (!loading) block->SetBits(page, reg, uint8_t(mask << shift), uint8_t(p << shift));
}
void TTouchScreenForm::PrechargeChange() { TrackChange(Precharge, PrechargeText, kPrecharge, 15, 103, 23, 4); }
void TTouchScreenForm::SenseChange() { TrackChange(Sense, SenseText, kSense, 15, 103, 23, 0); }
void TTouchScreenForm::PanelStabilizationChange() {
  TrackChange(PanelStabilization, PanelStabilizationText, kPanel, 15, 103, 25, 0);
}
void TTouchScreenForm::XPPullUpChange() {
  if (!loading) block->SetBits(103, 25, 0x70, uint8_t((XPPullUp->currentIndex() & 7) << 4));
}
void TTouchScreenForm::YMDriverClick() { block->SetBits(103, 27, 0x80, YMDriver->isChecked() ? 0x80 : 0); }
void TTouchScreenForm::DoubleSampleDurationClick() {
  block->SetBits(3, 5, 0x20, DoubleSampleDuration->isChecked() ? 0x20 : 0);
}
void TTouchScreenForm::RefAlwaysOnClick() { block->SetBits(3, 6, 0x20, RefAlwaysOn->isChecked() ? 0 : 0x20); }
void TTouchScreenForm::RefV1Click() { block->SetBits(3, 6, 0x40, RefV1->isChecked() ? 0 : 0x40); }
void TTouchScreenForm::RefV2Click() { block->SetBits(3, 6, 0x40, RefV2->isChecked() ? 0x40 : 0); }
void TTouchScreenForm::RefStabilizationChange() {
  TrackChange(RefStabilization, RefStabilizationText, kReference, 3, 3, 6, 2);
}
void TTouchScreenForm::NBM1Click() {
  EnableOptions(true);
  IN12->setEnabled(false);
  block->SetTouchMode(TTouchScreen::kNBM1);
}
void TTouchScreenForm::NBM2Click() {
  EnableOptions(true);
  IN12->setEnabled(true);
  IN12Click();
}
void TTouchScreenForm::IN12Click() {
  block->SetTouchMode(IN12->isChecked() ? TTouchScreen::kNBM2IN12 : TTouchScreen::kNBM2);
}
void TTouchScreenForm::DSClick() {
  EnableOptions(false);
  IN12->setEnabled(false);
  block->SetTouchMode(TTouchScreen::kDS);
}
void TTouchScreenForm::ClearClick() {
  if (!block) return;
  block->ClearBitmap(block->BlockBitmap());
  block->ClearBitmap(formBitmap);
  PaintBox->update();
}

// ------------------------------------------------------------------- block

TTouchScreen::TTouchScreen(QWidget* owner, const float* rect, void* window, TScriptTransferCallback transfer,
                           int address)
    : TStreamingShape(0, 3, 0, 50, rect), address(address) {
  form = new TTouchScreenForm(this);
  blockBitmap.SetSize(FileSide(rect[0], rect[2]), FileSide(rect[1], rect[3]), 0xFFFFFF);
  ClearBitmap(blockBitmap);
  ClearBitmap(form->formBitmap);
  SetHintText("Touchscreen: Page: 3, Register: 0, Length: 50");
  for (int i = 0; i < 4; ++i)
    scripts[i].Set(std::string("Codecs\\") + kScriptFiles[i], kScriptFiles[i], window, transfer, nullptr);
  if (owner) {
    activeBox = new QCheckBox(QStringLiteral("Active"), owner);
    activeBox->setChecked(true);
    activeBox->show();
    QObject::connect(activeBox.data(), &QCheckBox::clicked, [this] { ActiveClick(); });
  }
}

TTouchScreen::~TTouchScreen() {
  form->block = nullptr;
  delete form;
  delete activeBox.data();
}

void TTouchScreen::Place(float s, int dx, int dy) {
  TStreamingShape::Place(s, dx, dy);
  {
    std::lock_guard<std::recursive_mutex> lock(drawLock);
    if (!blockBitmap.Locked()) {
      blockBitmap.SetSize(ImageWidth(), ImageHeight(), 0xFFFFFF);
      ClearBitmap(blockBitmap);
    }
  }
  PlaceBoxBeside(activeBox, placedPoints[1].x, placedPoints[1].y, 0, s, activeFit);
}

bool TTouchScreen::Click(int x, int y) {
  const bool hit = TStreamingShape::Click(x, y);
  if (hit) {
    std::lock_guard<std::recursive_mutex> lock(drawLock);
    form->show();
    form->raise();
  }
  return hit;
}

void TTouchScreen::SetActiveObjects(bool flag) {
  TStreamingShape::SetActiveObjects(flag);
  if (activeBox) activeBox->setEnabled(flag);
  ActiveClick();
}

void TTouchScreen::ActiveClick() {
  const bool active = activeBox ? activeBox->isChecked() && activeBox->isEnabled() : true;
  SetMode(active ? 1 : 0, nullptr);
  // An inert block takes no pointer, so nothing would end its stream later.
  if (!active) EndStream();
}

void TTouchScreen::DriveReadout(bool on) {
  TIN1IN2Data* readout = Readout(GetTarget(0));
  if (!readout) return;
  readout->SetStreaming(on);
  readout->SetDriven(on);
  readout->StartFade(on ? kFadeEntered : kFadeOutPending);
  readout->SetMode(on ? 2 : 1, nullptr);
}

void TTouchScreen::SetTouchMode(int m) {
  if (mode == kNBM2IN12 && m != kNBM2IN12) DriveReadout(false);
  mode = m & 3;
  if (!refreshRequest) return;
  if (streaming) {
    streaming = false;
    StopOwnRefresh();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  if (GetMode() == 2 && !StreamHeld()) OnHighlighted();
}

// A decode's fade step may have ended the hover, and the stream, before the
// next read is asked for.
void TTouchScreen::Request(int page, int reg, int count) {
  if (streaming) RequestRefresh(page, reg, count, kRate);
}

void TTouchScreen::OnHighlighted() {
  if (!refreshRequest) return;
  if (mode == kNBM2IN12) DriveReadout(true);
  if (TI2CCommand* script = CurrentScript()) script->RunSync();
  streaming = true;
  if (mode == kNBM1) Request(3, 14, 1);
  else if (mode == kDS) Request(254, 1, 4);
  else Request(103, 38, 1);
}

void TTouchScreen::OnUnhighlighted() {
  streaming = false;
  if (mode == kNBM2IN12) DriveReadout(false);
  StopOwnRefresh();
}

uint8_t* TTouchScreen::Register(int page, int reg) {
  if (!data || data == PrivateData() || page < 3 || page > 255 || reg < 0 || reg > 127) return nullptr;
  return data + (page - 3) * 128 + reg;
}

void TTouchScreen::SetBits(int page, int reg, uint8_t mask, uint8_t value) {
  uint8_t* byte = Register(page, reg);
  if (!byte) return;
  *byte = uint8_t((*byte & ~mask) | (value & mask));
  if (write) write(user, 0, page, reg, 1);
}

void TTouchScreen::Refresh() {
  const uint8_t* r23 = Register(103, 23);
  if (!r23 || !form) return;
  const uint8_t r25 = r23[2], r27 = r23[4];
  // The change handlers set the texts; the registers stay as they were read.
  form->loading = true;
  form->TouchDetection->setChecked(!(r25 & 0x80));
  form->XPPullUp->setCurrentIndex((r25 >> 4) & 7);
  form->PanelStabilization->setValue(r25 & 0x0F);
  form->Precharge->setValue(r23[0] >> 4);
  form->Sense->setValue(r23[0] & 0x0F);
  form->YMDriver->setChecked(r27 & 0x80);
  form->loading = false;
}

void TTouchScreen::OnRegisterChanged(int dev, int page, unsigned reg) {
  if (dev != device) return;
  if (page == 103 && reg > 22 && reg <= 27) Refresh();
  if (!streaming) return;
  auto status = [&](int statusPage, int statusReg, int valuesPage, int count) {
    const uint8_t* byte = Register(statusPage, statusReg);
    if (!byte || (*byte & 0x02)) return;  // still converting: keep polling
    Request(valuesPage, 1, count);
  };
  if (page == 3 && mode == kNBM1) status(3, 14, 252, 32);
  else if (page == 252 && mode == kNBM1) Decode(252), Request(3, 14, 1);
  else if (page == 103 && mode == kNBM2) status(103, 38, 251, 16);
  else if (page == 103 && mode == kNBM2IN12) status(103, 38, 251, 24);
  else if (page == 251 && (mode == kNBM2 || mode == kNBM2IN12)) Decode(251), Request(103, 38, 1);
  else if (page == 254 && mode == kDS) Decode(254), Request(254, 1, 4);
}

void TTouchScreen::Decode(int page) {
  const uint8_t* r = Register(page, 0);
  if (!r) return;
  auto word = [&](int hi, int lo) { return r[hi] * 256 + r[lo]; };
  int a, b;
  bool valid;
  if (page == 254) {
    a = ((r[1] * 32) & 0xFFF) | (r[2] >> 3);
    b = ((r[3] * 32) & 0xFFF) | (r[4] >> 3);
    valid = a > 4 && b < 4092;
  } else {
    a = word(1, 2);
    b = page == 252 ? word(17, 18) : word(9, 10);
    valid = a <= 4096 && b <= 4095;
    if (page == 251 && mode == kNBM2IN12)
      if (TIN1IN2Data* readout = Readout(GetTarget(0)))
        readout->SetValues(((r[17] * 256) & 0xFFF) | r[18], ((r[21] * 256) & 0xFFF) | r[22]);
  }
  const int x = 4096 - a, y = b;
  if (valid && !lastValid) {
    lastX = x;
    lastY = y;
  } else if (valid) {
    pointX = x;
    pointY = y;
    penDown = 1;
    gui::SendSync([this] {
      DrawNewSegment();
      FadeStep();
      SendEvent(kEventStateChanged);
    });
  }
  lastValid = valid;
}

void TTouchScreen::ClearBitmap(TCanvas& bitmap) {
  {
    std::lock_guard<std::recursive_mutex> lock(drawLock);
    TCanvasLock canvasLock(bitmap);
    canvasLock.Painter().fillRect(0, 0, bitmap.Width(), bitmap.Height(), Qt::white);
  }
  if (canvas) Paint(canvas);
}

void TTouchScreen::DrawSegment(TCanvas& bitmap, int x0, int y0, int x1, int y1) {
  std::lock_guard<std::recursive_mutex> lock(drawLock);
  TCanvasLock canvasLock(bitmap);
  QPainter& painter = canvasLock.Painter();
  const int w = bitmap.Width(), h = bitmap.Height();
  auto px = [w](int x) { return int(int64_t(w) * x / 4096); };
  auto py = [h](int y) { return h - int(int64_t(h) * y / 4096); };
  painter.setPen(QPen(QColor(0x00, 0x00, 0xFF), 2));
  painter.drawLine(px(x0), py(y0), px(x1), py(y1));
  painter.fillRect(0, 0, 150, 20, Qt::white);
  painter.setPen(Qt::black);
  painter.drawText(QRect(0, 0, 150, 20), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("X = %1, Y = %2").arg(x1).arg(y1));
}

void TTouchScreen::DrawNewSegment() {
  DrawSegment(blockBitmap, lastX, lastY, pointX, pointY);
  DrawSegment(form->formBitmap, lastX, lastY, pointX, pointY);
  form->PaintBox->update();
  lastX = pointX;
  lastY = pointY;
  ++segments;
}

void TTouchScreen::Draw(TCanvas* target) {
  std::lock_guard<std::recursive_mutex> lock(drawLock);
  TStreamingShape::Draw(target);
  target->Painter().drawImage(ImageLeft(), ImageTop(), blockBitmap.Image());
  form->PaintBox->update();
}
