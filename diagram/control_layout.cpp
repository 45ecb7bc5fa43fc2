#include "diagram/control_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <algorithm>
#include <cmath>

float ControlSizeFactor(float scale) {
  if (!(scale > 0)) return 1.0f / 64;
  return std::clamp(scale / kFullSizeScale, 1.0f / 64, 1.0f);
}

int ScaledControlPixels(int pixels, float factor) {
  const int scaled = int(std::lround(float(pixels) * factor));
  return pixels > 0 ? std::max(scaled, 1) : scaled;
}

int ScaledControlPoints(int points, float factor) {
  // The smallest font in points, rounded up (96 pixels to 72 points).
  const int smallest = (kSmallestControlFontPixels * 72 + 95) / 96;
  return std::min(points, std::max(smallest, int(std::lround(float(points) * factor))));
}

void FitControl(QWidget* control, const QFont& design, float factor) {
  if (!control) return;
  QFont font = design;
  // At full size the design font as it stands, in points.
  if (factor < 1) {
    const int pixels = QFontInfo(design).pixelSize();
    font.setPixelSize(std::min(pixels, std::max(kSmallestControlFontPixels, ScaledControlPixels(pixels, factor))));
  }
  if (control->font() != font) control->setFont(font);
  QString sheet;
  const bool box = qobject_cast<QCheckBox*>(control);
  if (qobject_cast<QLineEdit*>(control) && factor < 1) {
    // A thin border and no padding leave a small edit room for its text.
    sheet = QStringLiteral("QLineEdit { border: 1px solid palette(mid); padding: 0px; }");
  } else if ((box || qobject_cast<QRadioButton*>(control)) && factor < 1) {
    const QStyle::PixelMetric metric = box ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth;
    const int size = ScaledControlPixels(QApplication::style()->pixelMetric(metric), factor);
    sheet = QStringLiteral("%1::indicator { width: %2px; height: %2px; }")
                .arg(QLatin1String(box ? "QCheckBox" : "QRadioButton"))
                .arg(size);
  }
  if (control->styleSheet() != sheet) control->setStyleSheet(sheet);
}

void PlaceBoxBeside(QWidget* box, float x, float y, int below, float scale) {
  if (!box) return;
  const float f = ControlSizeFactor(scale);
  FitControl(box, QFont(), f);
  // An outline of 1 pixel is 3 wide while lit, one pixel either side of its row.
  constexpr int kUnderOutline = 3;
  const QPoint at(int(x) + ScaledControlPixels(10, f), int(y) + kUnderOutline + ScaledControlPixels(below, f));
  box->setGeometry(QRect(at, QSize(box->sizeHint().width(), ScaledControlPixels(16, f))));
}
