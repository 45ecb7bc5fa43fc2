// Draws the board kit's image-hint picture (boards/QMX7XXX/HeadphoneHint.jpg)
// and writes it with libjpeg: `make_hint_picture <output.jpg>`.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

#include "common/jpeg.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_hint_picture <output.jpg>\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  QImage image(200, 120, QImage::Format_RGB32);
  image.fill(QColor(250, 250, 246));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // The driver: a triangle feeding a jack.
  painter.setPen(QPen(QColor(56, 87, 35), 2));
  painter.setBrush(QColor(226, 239, 218));
  const QPointF triangle[3] = {{20, 20}, {20, 60}, {55, 40}};
  painter.drawPolygon(triangle, 3);
  painter.drawLine(QPointF(55, 40), QPointF(95, 40));
  painter.setBrush(Qt::white);
  painter.drawEllipse(QPointF(110, 40), 15, 15);
  painter.setBrush(QColor(56, 87, 35));
  painter.drawEllipse(QPointF(110, 40), 6, 6);
  // A sine wave on the output.
  QPainterPath wave;
  for (int x = 0; x <= 60; ++x) {
    const QPointF p(130 + x, 40 - 12 * std::sin(x * 2 * M_PI / 30));
    x == 0 ? wave.moveTo(p) : wave.lineTo(p);
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(52, 90, 138), 2));
  painter.drawPath(wave);
  painter.setPen(QColor(40, 40, 40));
  QFont font("Liberation Sans");
  font.setPixelSize(12);
  painter.setFont(font);
  painter.drawText(QRectF(10, 70, 180, 16), Qt::AlignLeft, "Headphone driver");
  painter.drawText(QRectF(10, 88, 180, 16), Qt::AlignLeft, "16 to 32 ohm, -6 to 29 dB");
  painter.end();
  std::string error;
  if (!EncodeJpeg(image, argv[1], 88, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
