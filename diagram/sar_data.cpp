#include "diagram/sar_data.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/canvas.h"
#include "platform/gui/dialogs.h"
#include "platform/text.h"

namespace {

constexpr int kControlRegister = 2;
constexpr int kModeRegister = 3;
constexpr int kReferenceRegister = 6;
constexpr int kFirstResult = 54;
constexpr int kResultCount = 16;
constexpr int kRate = 50;
// Kelvin per volt between the two temperature conversions.
constexpr double kKelvinPerVolt = 2633.5974509426374;
constexpr double kZeroCelsius = 273.15;
// Input-selection bits.
constexpr uint8_t kIN1On = 0x80, kIN2On = 0x40, kBATOn = 0x20, kTempOn = 0x10, kTempToggle = 0x08,
                  kIN1Resistance = 0x04, kIN2Resistance = 0x02, kExternalBias = 0x01;
// The lines' boxes (left, top, right, bottom) in a bitmap tall enough.
constexpr int kLineBoxes[4][4] = {{0, 0, 150, 20}, {0, 30, 150, 50}, {0, 60, 150, 80}, {0, 90, 300, 110}};
constexpr const char* kCaption = "SAR Control";

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
  setWindowTitle(QString::fromUtf8(kCaption));
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
  temp1 = Add<QRadioButton>(temp, "TEMP1");
  temp1->setChecked(true);
  temp2 = Add<QRadioButton>(temp, "TEMP2");
  auto* row = new QWidget(temp);
  auto* rowLayout = new QHBoxLayout(row);
  rowLayout->setContentsMargins(0, 0, 0, 0);
  reference = new QLineEdit(QStringLiteral("20"), row);
  rowLayout->addWidget(reference);
  rowLayout->addWidget(new QLabel(QStringLiteral("Celsius"), row));
  temp->layout()->addWidget(row);
  calibrate = Add<QPushButton>(temp, "Calibrate");
  ShowSelection(0);

  // Clicks only: the mirror's own settings write nothing.
  const struct {
    QAbstractButton* control;
    uint8_t mask;
    bool set;  // radio buttons: the value they stand for
  } bits[] = {{in1Voltage, kIN1Resistance, false},  {in1Resistance, kIN1Resistance, true},
              {in2Voltage, kIN2Resistance, false},  {in2Resistance, kIN2Resistance, true},
              {biasInternal, kExternalBias, false}, {biasExternal, kExternalBias, true}};
  for (const auto& bit : bits)
    QObject::connect(bit.control, &QAbstractButton::clicked, this, [this, bit] { Select(bit.mask, bit.set); });
  const std::pair<QCheckBox*, uint8_t> boxes[] = {
      {in1Enabled, kIN1On}, {in2Enabled, kIN2On}, {batEnabled, kBATOn}, {tempEnabled, kTempOn}};
  // A plain variable to capture: clang 14 refuses to capture a structured binding.
  for (const auto& box : boxes) {
    const uint8_t mask = box.second;
    QObject::connect(box.first, &QCheckBox::clicked, this, [this, mask](bool on) { Select(mask, on); });
  }
  QObject::connect(calibrate, &QPushButton::clicked, this, [this] { CalibrateClick(); });
}

void TSARControlForm::ShowSelection(uint8_t selection) {
  in1Enabled->setChecked(selection & kIN1On);
  in2Enabled->setChecked(selection & kIN2On);
  batEnabled->setChecked(selection & kBATOn);
  tempEnabled->setChecked(selection & kTempOn);
  (selection & kIN1Resistance ? in1Resistance : in1Voltage)->setChecked(true);
  (selection & kIN2Resistance ? in2Resistance : in2Voltage)->setChecked(true);
  (selection & kExternalBias ? biasExternal : biasInternal)->setChecked(true);
}

void TSARControlForm::Select(uint8_t mask, bool set) {
  if (readout) readout->WriteSelection(mask, set);
}

void TSARControlForm::CalibrateClick() {
  if (!readout) return;
  const QString text = reference->text().trimmed();
  bool ok = false;
  double celsius = QLocale::c().toDouble(text, &ok);
  if (!ok) celsius = QLocale::system().toDouble(text, &ok);
  std::string problem;
  if (!ok || !std::isfinite(celsius))
    problem = "The reference temperature " + platform::Quote(reference->text().toStdString()) +
              " is not a number: enter it in degrees Celsius, such as 20.";
  else
    problem = readout->Calibrate(celsius);
  if (!problem.empty()) Dialogs().Warning(this, kCaption, problem);
}

TSARData::TSARData(int device, QWidget* owner, const float* rect)
    : TStreamingShape(device, kPage, 0, kRegisters, rect) {
  bitmap.SetSize(FileSide(rect[0], rect[2]), FileSide(rect[1], rect[3]), 0xFFFFFF);
  SetHintText("SAR Data: Page: " + std::to_string(page) + ", Register: " + std::to_string(firstRegister) +
              ", Length: " + std::to_string(count));
  if (FILE* file = std::fopen(kCalibrationFile, "r")) {
    float factor = 1.0f;
    if (std::fscanf(file, "%f", &factor) == 1) calibration = factor;
    calibrated = true;
    std::fclose(file);
  }
  // The control window is a window of the diagram's: none in a headless load.
  if (owner) {
    control = std::make_unique<TSARControlForm>();
    control->SetReadout(this);
  }
}

TSARData::~TSARData() = default;

void TSARData::Place(float s, int dx, int dy) {
  TStreamingShape::Place(s, dx, dy);
  // A new size clears the image: the last lines go back into it, so that
  // every zoom shows them.
  if (!bitmap.Locked()) {
    bitmap.SetSize(ImageWidth(), ImageHeight(), 0xFFFFFF);
    RenderLines();
  }
}

void TSARData::Draw(TCanvas* target) {
  TStreamingShape::Draw(target);
  if (firstDraw) {
    // The first draw fills the lines and the control window's mirror; no write from inside a paint.
    firstDraw = false;
    SuspendWrites(true);
    Refresh();
    SuspendWrites(false);
  }
  // While it streams the image holds the newest lines: a redraw of the page
  // in between must show them too.
  if (showBitmap || OwnRefreshRequested()) target->Painter().drawImage(ImageLeft(), ImageTop(), bitmap.Image());
}

bool TSARData::Click(int x, int y) {
  const bool hit = TStreamingShape::Click(x, y);
  if (hit && control) {
    control->show();
    control->raise();
  }
  return hit;
}

void TSARData::StartConversions() {
  WriteOrHold(kControlRegister, 0x98);
  WriteOrHold(kModeRegister, uint8_t((data[kModeRegister] & 0x03) | 0x24));
  WriteOrHold(kControlRegister, 0x18);
}

void TSARData::OnHighlighted() {
  StartConversions();
  // A stream already running keeps its pace: a new request would start a
  // pass at once.
  if (!OwnRefreshRequested()) RequestRefresh(kPage, kFirstResult, kResultCount, kRate);
  showBitmap = false;
}

void TSARData::OnUnhighlighted() { StopStream(); }

void TSARData::StopStream() {
  StopOwnRefresh();
  WriteOrHold(kControlRegister, 0x98);
  showBitmap = true;
}

void TSARData::WriteSelection(uint8_t mask, bool set) { WriteBits(kSelectionRegister, set ? mask : 0, mask); }

double TSARData::Volts(int reg, double vref) const {
  const int raw = data[reg] * 256 + data[reg + 1];
  return raw / 4096.0 * vref;
}

void TSARData::ComputeLines() {
  const double vref = data[kReferenceRegister] & 0x40 ? 2.5 : 1.25;
  lines[0] = "IN1 = " + General(Volts(54, vref), 6) + " [V]";
  lines[1] = "IN2 = " + General(Volts(56, vref), 6) + " [V]";
  lines[2] = "BAT = " + General(Volts(58, vref), 6) + " [V]";
  temperature = (Volts(68, vref) - Volts(66, vref)) * kKelvinPerVolt;
  // With its input off the temperature results hold nothing to convert.
  if (!(data[kSelectionRegister] & kTempOn)) lines[3] = "TEMP = N/A (not enabled)";
  else if (!calibrated) lines[3] = "TEMP = N/A (not calibrated)";
  else lines[3] = "TEMP = " + General(temperature * calibration - kZeroCelsius, 3) + " [C]";
}

std::pair<int, int> TSARData::LineRows(int i) const {
  // The lines keep their spacing where the bitmap allows it and close up
  // where it is shorter, so that all four stay inside it.
  const double pitch = std::min(double(kLineBoxes[1][1]), bitmap.Height() / 4.0);
  const int height = std::min(kLineBoxes[0][3] - kLineBoxes[0][1], int(pitch));
  const int top = int(std::lround(i * pitch));
  return {top, top + height};
}

void TSARData::RenderLines() {
  TCanvasLock lock(bitmap);
  QPainter& painter = lock.Painter();
  painter.fillRect(0, 0, bitmap.Width(), bitmap.Height(), Qt::white);
  painter.setPen(Qt::black);
  QFont font(QStringLiteral("Arial"), 10);
  painter.setFont(font);
  const int rowHeight = LineRows(0).second - LineRows(0).first;
  const int textHeight = painter.fontMetrics().height();
  if (textHeight > rowHeight && rowHeight > 0) {
    font.setPointSizeF(std::max(1.0, 10.0 * rowHeight / textHeight));
    painter.setFont(font);
  }
  for (int i = 0; i < 4; ++i) {
    const auto [top, bottom] = LineRows(i);
    const QRect box(kLineBoxes[i][0], top, kLineBoxes[i][2] - kLineBoxes[i][0], bottom - top);
    painter.save();
    painter.setClipRect(box);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(lines[i]));
    painter.restore();
  }
}

void TSARData::DrawLines() {
  if (!canvas) return;
  RenderLines();
  TCanvasLock lock(*canvas);
  lock.Painter().drawImage(ImageLeft(), ImageTop(), bitmap.Image());
}

void TSARData::Refresh() {
  const uint8_t selection = data[kSelectionRegister];
  if (control) control->ShowSelection(selection);
  ComputeLines();
  DrawLines();
  // Only a stream converts. Its refreshes take the two temperature
  // conversions in turn and re-arm the next conversion; the writes reach
  // the board once the refresh is over.
  if (!OwnRefreshRequested()) return;
  WriteOrHold(kSelectionRegister, uint8_t((selection & ~kTempToggle) | (tempToggle ? 0 : kTempToggle)));
  tempToggle = !tempToggle;
  if (fadeState == kFadeLit) StartConversions();
}

std::string TSARData::Calibrate(double celsius) {
  if (!(celsius > -kZeroCelsius)) return "The reference temperature must lie above -273.15 degrees Celsius.";
  const double factor = temperature > 0 ? (celsius + kZeroCelsius) / temperature : 0;
  if (!(factor > 0) || factor > std::numeric_limits<float>::max())
    return "There is no temperature reading to calibrate against: let the readout convert both temperatures "
           "first (Temperature enabled, the pointer resting on the readout).";
  calibration = float(factor);
  calibrated = true;
  ComputeLines();
  DrawLines();
  SendEvent(kEventStateChanged);
  std::FILE* file = std::fopen(kCalibrationFile, "w");
  int error = errno;
  bool stored = false;
  if (file) {
    // Nine digits give back the very factor in use.
    stored = std::fprintf(file, "%.9g\n", double(calibration)) > 0;
    if (!stored) error = errno;
    if (std::fclose(file) != 0 && stored) stored = false, error = errno;
  }
  if (stored) return "";
  return std::string("The calibration is in use, but it could not be stored in the file \"") + kCalibrationFile +
         "\": " + std::strerror(error ? error : EIO) + ".";
}
