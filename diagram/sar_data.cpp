#include "diagram/sar_data.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdio>

#include "common/canvas.h"

namespace {

// Selection register bits.
constexpr int kSelectionRegister = 19;
constexpr int kControlRegister = 2;
constexpr int kModeRegister = 3;
constexpr int kReferenceRegister = 6;
constexpr int kFirstResult = 54;
constexpr int kResultCount = 16;
constexpr int kRate = 50;
// Kelvin per volt between the two temperature conversions.
constexpr double kKelvinPerVolt = 2633.5974509426374;

std::string General(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

QGroupBox* Group(const char* title, QWidget* parent) {
  auto* group = new QGroupBox(QString::fromUtf8(title), parent);
  new QVBoxLayout(group);
  return group;
}

template <class Control>
Control* Add(QGroupBox* group, const char* text) {
  auto* control = new Control(QString::fromUtf8(text), group);
  group->layout()->addWidget(control);
  return control;
}

}  // namespace

TSARControlForm::TSARControlForm() : QWidget(nullptr, Qt::Tool) {
  setWindowTitle(QStringLiteral("SAR Control"));
  auto* top = new QVBoxLayout(this);
  QGroupBox* inputs = Group("Auto AUX Input Selection", this);
  top->addWidget(inputs);
  QGroupBox* in1 = Group("IN1", inputs);
  inputs->layout()->addWidget(in1);
  in1Enabled = Add<QCheckBox>(in1, "Enabled");
  in1Voltage = Add<QRadioButton>(in1, "Voltage");
  in1Resistance = Add<QRadioButton>(in1, "Resistance");
  QGroupBox* in2 = Group("IN2", inputs);
  inputs->layout()->addWidget(in2);
  in2Enabled = Add<QCheckBox>(in2, "Enabled");
  in2Voltage = Add<QRadioButton>(in2, "Voltage");
  in2Resistance = Add<QRadioButton>(in2, "Resistance");
  QGroupBox* bias = Group("Bias Resistance Measurement Mode", inputs);
  inputs->layout()->addWidget(bias);
  biasInternal = Add<QRadioButton>(bias, "Internal");
  biasExternal = Add<QRadioButton>(bias, "External");
  QGroupBox* bat = Group("BAT", inputs);
  inputs->layout()->addWidget(bat);
  batEnabled = Add<QCheckBox>(bat, "Enabled");
  QGroupBox* temp = Group("Temperature", inputs);
  inputs->layout()->addWidget(temp);
  tempEnabled = Add<QCheckBox>(temp, "Enabled");
  Add<QRadioButton>(temp, "TEMP1")->setChecked(true);
  Add<QRadioButton>(temp, "TEMP2");
  auto* reference = new QWidget(temp);
  auto* row = new QHBoxLayout(reference);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLineEdit(QStringLiteral("20"), reference));
  row->addWidget(new QLabel(QStringLiteral("Celsius"), reference));
  temp->layout()->addWidget(reference);
  Add<QPushButton>(temp, "Calibrate");
  ShowSelection(0);
}

void TSARControlForm::ShowSelection(uint8_t selection) {
  in1Enabled->setChecked(selection & 0x80);
  in2Enabled->setChecked(selection & 0x40);
  batEnabled->setChecked(selection & 0x20);
  tempEnabled->setChecked(selection & 0x10);
  (selection & 0x04 ? in1Resistance : in1Voltage)->setChecked(true);
  (selection & 0x02 ? in2Resistance : in2Voltage)->setChecked(true);
  (selection & 0x01 ? biasExternal : biasInternal)->setChecked(true);
}

TSARData::TSARData(int device, QWidget* owner, const float* rect)
    : TStreamingShape(device, kPage, 0, kRegisters, rect) {
  bitmap.SetSize(std::max(1, int(rect[2] - rect[0])), std::max(1, int(rect[3] - rect[1])), 0xFFFFFF);
  SetHintText("SAR Data: Page: " + std::to_string(page) + ", Register: " + std::to_string(firstRegister) +
              ", Length: " + std::to_string(count));
  if (FILE* file = std::fopen(kCalibrationFile, "r")) {
    float factor = 1.0f;
    if (std::fscanf(file, "%f", &factor) == 1) calibration = factor;
    calibrated = true;
    std::fclose(file);
  }
  // The control window is a window of the diagram's: none in a headless load.
  if (owner) control = std::make_unique<TSARControlForm>();
}

TSARData::~TSARData() = default;

void TSARData::Place(float s, int dx, int dy) {
  TStreamingShape::Place(s, dx, dy);
  const int w = std::abs(int(placedPoints[1].x) - int(placedPoints[0].x)) - 4;
  const int h = std::abs(int(placedPoints[1].y) - int(placedPoints[0].y)) - 4;
  // An image of no pixels cannot be drawn on: keep one pixel at least.
  if (!bitmap.Locked()) bitmap.SetSize(std::max(1, w), std::max(1, h), 0xFFFFFF);
}

void TSARData::Draw(TCanvas* target) {
  TStreamingShape::Draw(target);
  if (firstDraw) {
    // Introduces the widget to its control window; no write from inside a paint.
    firstDraw = false;
    SuspendWrites(true);
    Refresh();
    SuspendWrites(false);
  }
  if (showBitmap)
    target->Painter().drawImage(int(placedPoints[0].x) + 2, int(placedPoints[0].y) + 2, bitmap.Image());
}

bool TSARData::Click(int x, int y) {
  const bool hit = TStreamingShape::Click(x, y);
  if (hit && control) {
    control->show();
    control->raise();
  }
  return hit;
}

void TSARData::WriteRegister(int reg, uint8_t value) {
  data[reg] = value;
  if (write) write(user, device, kPage, reg, 1);
}

void TSARData::OnHighlighted() {
  WriteRegister(kControlRegister, 0x98);
  WriteRegister(kModeRegister, uint8_t((data[kModeRegister] & 0x03) | 0x24));
  WriteRegister(kControlRegister, 0x18);
  RequestRefresh(kPage, kFirstResult, kResultCount, kRate);
  showBitmap = false;
}

void TSARData::OnUnhighlighted() {
  StopOwnRefresh();
  WriteRegister(kControlRegister, 0x98);
  showBitmap = true;
}

double TSARData::Volts(int reg, double vref) const {
  const int raw = data[reg] * 256 + data[reg + 1];
  return raw / 4096.0 * vref;
}

void TSARData::Refresh() {
  const uint8_t selection = data[kSelectionRegister];
  if (control) control->ShowSelection(selection);

  const double vref = data[kReferenceRegister] & 0x40 ? 2.5 : 1.25;
  lines[0] = "IN1 = " + General(Volts(54, vref), 6) + " [V]";
  lines[1] = "IN2 = " + General(Volts(56, vref), 6) + " [V]";
  lines[2] = "BAT = " + General(Volts(58, vref), 6) + " [V]";
  temperature = (Volts(68, vref) - Volts(66, vref)) * kKelvinPerVolt;
  lines[3] = "TEMP = " + (calibrated ? General(temperature * calibration - 273.15, 3) + " [C]"
                                     : std::string("N/A (not calibrated)"));
  if (canvas) {
    {
      TCanvasLock lock(bitmap);
      QPainter& painter = lock.Painter();
      painter.fillRect(0, 0, bitmap.Width(), bitmap.Height(), Qt::white);
      painter.setPen(Qt::black);
      painter.setFont(QFont(QStringLiteral("Arial"), 10));
      const int boxes[4][4] = {{0, 0, 150, 20}, {0, 30, 150, 50}, {0, 60, 150, 80}, {0, 90, 300, 110}};
      for (int i = 0; i < 4; ++i) {
        const QRect box(boxes[i][0], boxes[i][1], boxes[i][2] - boxes[i][0], boxes[i][3] - boxes[i][1]);
        painter.save();
        painter.setClipRect(box);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(lines[i]));
        painter.restore();
      }
    }
    TCanvasLock lock(*canvas);
    lock.Painter().drawImage(int(placedPoints[0].x) + 2, int(placedPoints[0].y) + 2, bitmap.Image());
  }
  // The two temperature conversions take turns.
  WriteRegister(kSelectionRegister, uint8_t((selection & ~0x08) | (tempToggle ? 0 : 0x08)));
  tempToggle = !tempToggle;
  if (fadeState == kFadeLit) OnHighlighted();
}
