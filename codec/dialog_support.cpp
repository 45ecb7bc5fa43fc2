#include "codec/dialog_support.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QRadioButton>
#include <QSlider>
#include <QLabel>

#include "common/gui_object.h"

TCodecDialog::TCodecDialog(const char* caption, int width, int height) : QWidget(nullptr, Qt::Tool) {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setWindowTitle(caption);
  resize(width, height);
}

TCodecDialog::~TCodecDialog() { hostObject = nullptr; }

void TCodecDialog::FormActivate() {
  if (!lights || !hostObject) return;
  hostObject->StartFade(1);
  hostObject->SetMode(2, nullptr);
}

void TCodecDialog::FormDeactivate() {
  if (!lights || !hostObject) return;
  hostObject->StartFade(3);
  hostObject->SetMode(1, nullptr);
}

void TCodecDialog::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange) {
    if (isActiveWindow())
      FormActivate();
    else
      FormDeactivate();
  }
  QWidget::changeEvent(event);
}

void TCodecDialog::hideEvent(QHideEvent* event) {
  FormDeactivate();
  QWidget::hideEvent(event);
}

QLabel* TCodecDialog::Text(const char* text, int x, int y, int width) {
  auto* label = new QLabel(text, this);
  label->setGeometry(x, y, width, 18);
  return label;
}

QSlider* Slider(QWidget* parent, Qt::Orientation orientation, int min, int max, int position, QRect at) {
  auto* slider = new QSlider(orientation, parent);
  slider->setRange(min, max);
  slider->setValue(position);
  if (orientation == Qt::Vertical) {
    // Drawn with the minimum at the top, so Up and the wheel turned up must
    // step towards the minimum for the handle to go up.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
  }
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setGeometry(at);
  return slider;
}

void SetPosition(QSlider* slider, int position) {
  const int before = slider->value();
  slider->setValue(position);
  if (slider->value() == before) emit slider->valueChanged(before);
}

QButtonGroup* RadioGroup(QWidget* parent, const char* name, const char* caption, QStringList items, QRect at) {
  auto* box = new QGroupBox(caption, parent);
  box->setGeometry(at);
  auto* group = new QButtonGroup(parent);
  group->setObjectName(name);
  int y = 18;
  for (int i = 0; i < items.size(); ++i, y += 20) {
    auto* button = new QRadioButton(items[i], box);
    button->setObjectName(QString(name) + QString::number(i));
    button->setGeometry(8, y, at.width() - 16, 18);
    group->addButton(button, i);
  }
  group->button(0)->setChecked(true);
  return group;
}

QComboBox* Combo(QWidget* parent, const char* name, QStringList items, QRect at) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->addItems(items);
  combo->setGeometry(at);
  return combo;
}

QCheckBox* Check(QWidget* parent, const char* name, const char* caption, QRect at) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setGeometry(at);
  return box;
}
