#include "diagram/slider_form.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QSlider>
#include <algorithm>

TSliderForm::TSliderForm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("SliderForm");
  setFixedSize(kClientWidth, kClientHeight);
  // A compact font: "-63.5 dB" and the boxes' captions fit the narrow window.
  setFont(QFont(QStringLiteral("Arial"), 8));
  VolumeText = new QLabel("0 dB", this);
  VolumeText->setObjectName("VolumeText");
  VolumeText->setAlignment(Qt::AlignHCenter);
  VolumeText->setGeometry(0, 2, kClientWidth, 14);
  Volume = new QSlider(Qt::Vertical, this);
  Volume->setObjectName("Volume");
  Volume->setGeometry(12, 18, 25, 150);
  Volume->setTickPosition(QSlider::NoTicks);
  // The track bar's position grows downwards: its top is the minimum.
  Volume->setInvertedAppearance(true);
  Volume->setInvertedControls(true);
  Mute = new QCheckBox("Mute", this);
  Mute->setObjectName("Mute");
  Mute->setGeometry(2, 168, 47, 16);
  Mute->hide();
  Lock = new QCheckBox("Lock", this);
  Lock->setObjectName("Lock");
  Lock->setGeometry(2, 186, 47, 16);
  Lock->hide();
  QObject::connect(Volume, &QSlider::valueChanged, this, [this] { VolumeChange(); });
  QObject::connect(Lock, &QCheckBox::clicked, this, [this] { LockClick(); });
}

void TSliderForm::SetChangeCallback(void* owner, TSliderCallback change) {
  user = owner;
  callback = change;
}

void TSliderForm::SetRange(int position, int min, int max) {
  max = std::max(max, 0);
  min = std::clamp(min, 0, max);
  Volume->setRange(min, max);
  Volume->setTickInterval(std::max(max / 10, 1));
  Volume->setPageStep(std::max(max / 10, 1));
  Volume->setValue(max - std::clamp(position, min, max));
}

void TSliderForm::SetPosition(int value) {
  const int max = Volume->maximum();
  Volume->setValue(max - std::clamp(value, Volume->minimum(), max));
}

int TSliderForm::GetPosition() const { return Volume->maximum() - Volume->value(); }
int TSliderForm::GetMin() const { return Volume->minimum(); }
int TSliderForm::GetMax() const { return Volume->maximum(); }

void TSliderForm::Notify() {
  if (callback) callback(this, user);
}

void TSliderForm::VolumeChange() { Notify(); }
void TSliderForm::FormActivate() { Notify(); }
void TSliderForm::FormDeactivate() { Notify(); }
void TSliderForm::LockClick() { Notify(); }

bool TSliderForm::event(QEvent* e) {
  const bool handled = QWidget::event(e);
  if (e->type() == QEvent::WindowActivate) FormActivate();
  if (e->type() == QEvent::WindowDeactivate) FormDeactivate();
  return handled;
}
