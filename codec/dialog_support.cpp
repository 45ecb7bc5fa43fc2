#include "codec/dialog_support.h"

#include <QEvent>
#include <QLabel>

#include <cstdio>
#include <cstdlib>

#include "common/gui_object.h"

std::string DecimalText(double value) {
  // The fewest significant digits that read back as the same double.
  char text[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

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
