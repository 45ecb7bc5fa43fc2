#include "diagram/coefficient_slider.h"

#include <QFont>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "diagram/control_layout.h"
#include "diagram/script_button.h"
#include "platform/gui/dialogs.h"
#include "platform/library.h"
#include "platform/log.h"
#include "registers/i2c_command.h"

TQMX7350Slider::TQMX7350Slider(QWidget* ownerWidget, void* window, TScriptTransferCallback transfer,
                               const std::string& file, const std::string& muteScript,
                               const std::string& unmuteScript, const std::string& powerUpScript,
                               const std::string& powerDownScript, const float* rect)
    : TBoundShape(0x30, 1, 0, 64, nullptr, rect, 1, 0),
      owner(ownerWidget),
      coeffFile(file),
      scripts{muteScript, unmuteScript, powerUpScript, powerDownScript} {
  SetData(nullptr);  // nothing is written until the window core binds it
  SetHintText("QMX7350 Custom Slider");
  for (int i = 0; i < 4; ++i) commands[i].Set(scripts[i], scripts[i], window, transfer, nullptr);
  if (owner) {
    trackBar = new QSlider(Qt::Vertical, owner);
    trackBar->setMinimum(0);
    trackBar->setMaximum(0);
    trackBar->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(trackBar.data(), &QSlider::valueChanged, [this] { PositionChange(); });
    QObject::connect(trackBar.data(), &QWidget::customContextMenuRequested, [this] { ChooseFile(); });
    stepText = new QLabel(QStringLiteral("0"), owner);
    muteBox = new QCheckBox(owner);
    muteLabel = new QLabel(QStringLiteral("Mute"), owner);
    powerBox = new QCheckBox(owner);
    powerBox->setChecked(true);
    powerLabel = new QLabel(QStringLiteral("Power"), owner);
    QObject::connect(muteBox.data(), &QCheckBox::clicked, [this] { MuteClick(); });
    QObject::connect(powerBox.data(), &QCheckBox::clicked, [this] { PowerClick(); });
    // A right click on a box or its caption shows the box's two scripts.
    for (QWidget* control : std::initializer_list<QWidget*>{muteBox, muteLabel, powerBox, powerLabel}) {
      const int first = control == muteBox || control == muteLabel ? 0 : 2;
      control->setContextMenuPolicy(Qt::CustomContextMenu);
      QObject::connect(control, &QWidget::customContextMenuRequested, [this, first] {
        commands[first].Show();
        commands[first + 1].Show();
      });
    }
    const char* captions[3] = {"Volume Control Only", "Volume Control + Filter", "Filter Only"};
    for (int i = 0; i < 3; ++i) {
      modeButtons[i] = new QRadioButton(QString::fromUtf8(captions[i]), owner);
      QObject::connect(modeButtons[i].data(), &QRadioButton::clicked, [this] { ApplyMode(); });
    }
    modeButtons[0]->setChecked(true);
    for (QWidget* control : std::initializer_list<QWidget*>{trackBar, stepText, muteBox, muteLabel, powerBox,
                                                             powerLabel, modeButtons[0], modeButtons[1],
                                                             modeButtons[2]})
      control->show();
  }
  ApplyMode();
}

TQMX7350Slider::~TQMX7350Slider() {
  for (QWidget* control : std::initializer_list<QWidget*>{trackBar, stepText, muteBox, muteLabel, powerBox,
                                                           powerLabel, modeButtons[0], modeButtons[1],
                                                           modeButtons[2]})
    delete control;
}

void TQMX7350Slider::Place(float s, int dx, int dy) {
  TBoundShape::Place(s, dx, dy);
  if (!trackBar) return;
  const int x0 = int(std::lround(placedPoints[0].x)), y0 = int(std::lround(placedPoints[0].y));
  const int x1 = int(std::lround(placedPoints[1].x)), y1 = int(std::lround(placedPoints[1].y));
  // The bar's margin and the rows under it shrink with a diagram drawn
  // smaller than their full size, so they keep to the room it leaves them.
  const float f = ControlSizeFactor(s);
  const auto px = [f](int pixels) { return ScaledControlPixels(pixels, f); };
  trackBar->setGeometry(x0 - dx, y0 - dy, x1 - x0 + px(4), y1 - y0 + px(4));
  const int left = trackBar->x(), bottom = trackBar->y() + trackBar->height();
  const int box = px(16), row = px(16);
  stepText->setGeometry(left, bottom + px(2), px(200), row);
  muteBox->setGeometry(left, bottom + px(20), box, box);
  muteLabel->setGeometry(left + box + px(10), bottom + px(20), px(100), row);
  powerBox->setGeometry(left, bottom + px(40), box, box);
  powerLabel->setGeometry(left + box + px(10), bottom + px(40), px(100), row);
  for (int i = 0; i < 3; ++i) modeButtons[i]->setGeometry(left, bottom + px(60 + 20 * i), px(256), row);
  if (!fit.Refit(f)) return;
  const QFont font = ScaledControlFont(QFont(), f);
  for (QWidget* control : std::initializer_list<QWidget*>{stepText, muteBox, muteLabel, powerBox, powerLabel,
                                                           modeButtons[0], modeButtons[1], modeButtons[2]})
    FitControl(control, font, f);
}

std::vector<TQMX7350Slider::Record> TQMX7350Slider::ParseRecords(const std::string& text) {
  std::vector<Record> out;
  const char* p = text.c_str();
  Record record{};
  int field = 0;
  while (out.size() < size_t(kMaxRecords)) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(p, &end, 16);
    if (end == p) break;  // the end of the file, or text that is not a number
    p = end;
    record[size_t(field++)] = uint32_t(value);
    // Only a complete record counts: a final line break adds none.
    if (field == kFields) {
      out.push_back(record);
      record = {};
      field = 0;
    }
  }
  return out;
}

bool TQMX7350Slider::LoadCoefficients(const std::string& name) {
  coeffFile = name;
  std::ifstream file(platform::MapPath(name), std::ios::binary);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  const int oldMaximum = trackBar ? trackBar->maximum() : 0;
  const double relative = oldMaximum > 0 ? double(trackBar->value()) / oldMaximum : 0.0;
  records = file ? ParseRecords(text.str()) : std::vector<Record>{};
  if (records.empty()) {
    platform::LogLine("QMX7350 Slider: " + std::string(file ? "no coefficient record in " : "cannot read ") + name);
    if (trackBar) {
      const QSignalBlocker block(trackBar.data());
      trackBar->setMaximum(0);
      trackBar->setEnabled(false);
    }
    return false;
  }
  if (trackBar) {
    const QSignalBlocker block(trackBar.data());
    trackBar->setEnabled(true);
    trackBar->setMaximum(int(records.size()) - 1);
    trackBar->setValue(int(std::lround(relative * trackBar->maximum())));
  }
  return true;
}

void TQMX7350Slider::PositionChange() {
  if (!data || data == PrivateData() || records.empty()) return;  // unbound, or nothing to write
  const int p = trackBar ? std::clamp(trackBar->value(), 0, int(records.size()) - 1) : 0;
  const Record& record = records[size_t(p)];
  for (int k = 0; k < 13; ++k) {
    const uint32_t c = record[size_t(kRegisterOrder[k])];
    data[2 * k + 1] = uint8_t(c >> 8);
    data[2 * k + 2] = uint8_t(c);
  }
  for (int i = 1; i <= 26; ++i) data[26 + i] = data[i];
  if (stepText) stepText->setText(QString::number(p));
  const uint8_t volume = uint8_t(record[13]);
  // Page 0 registers 43 and 44 lie 85 and 84 bytes before page 1's first.
  for (uint8_t* reg : {data - 85, data - 84}) *reg = uint8_t((*reg & 0x80) | volume);
  if (write) {
    write(user, 0x30, 0, 43, 2);
    write(user, 0x30, 1, 1, 26);
    write(user, 0x30, 1, 27, 26);
  }
}

void TQMX7350Slider::Run(int script) {
  commands[script].RunSync();
}

void TQMX7350Slider::ApplyMode() {
  int mode = 0;
  for (int i = 0; i < 3; ++i)
    if (modeButtons[i] && modeButtons[i]->isChecked()) mode = i;
  Run(0);
  LoadCoefficients(kModeFiles[mode]);
  PositionChange();
  Run(1);
  if (muteBox) muteBox->setChecked(false);
  PositionChange();
}

void TQMX7350Slider::MuteClick() {
  Run(muteBox && muteBox->isChecked() ? 0 : 1);
  PositionChange();
}

void TQMX7350Slider::PowerClick() { Run(powerBox && powerBox->isChecked() ? 2 : 3); }

void TQMX7350Slider::ChooseFile() {
  const std::string name = Dialogs().OpenFile(owner, "Open", "Coefficient files (*.txt)|*.TXT");
  if (name.empty()) return;
  if (!LoadCoefficients(name)) {
    Dialogs().Warning(owner, "QMX7350 Slider",
                      "The file " + name + " cannot be read or holds no complete record of 14 numbers.");
    return;
  }
  PositionChange();
}
