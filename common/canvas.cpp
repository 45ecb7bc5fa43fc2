#include "common/canvas.h"

#include <algorithm>
#include <cmath>

namespace {
// 96 dots per inch, so a font size in points means on the image what it
// means on the original's screen.
constexpr int kDotsPerMeter = 3780;
}  // namespace

TCanvas::TCanvas(QWidget* view) : view_(view) {}

TCanvas::~TCanvas() {
  if (painter_.isActive()) painter_.end();
}

void TCanvas::SetView(QWidget* view) { view_ = view; }

bool TCanvas::SetSize(int width, int height, TColor background) {
  if (Locked()) return false;
  bool cut = false;
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width > kMaxSide) width = kMaxSide, cut = true;
  if (height > kMaxSide) height = kMaxSide, cut = true;
  if (qint64(width) * height > kMaxPixels) {
    const double f = std::sqrt(double(kMaxPixels) / (double(width) * double(height)));
    width = std::max(1, int(width * f));
    height = std::max(1, int(height * f));
    cut = true;
  }
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.setDotsPerMeterX(kDotsPerMeter);
  image.setDotsPerMeterY(kDotsPerMeter);
  image.fill(PenColour(background));
  image_ = std::move(image);
  return !cut;
}

bool TCanvas::SetImage(const QImage& image) {
  if (Locked()) return false;
  image_ = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  image_.setDotsPerMeterX(kDotsPerMeter);
  image_.setDotsPerMeterY(kDotsPerMeter);
  return true;
}

TColor TCanvas::PixelColour(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return 0;
  return ToTColor(image_.pixelColor(x, y));
}

QPainter& TCanvas::Lock() {
  if (depth_++ == 0 && !image_.isNull()) painter_.begin(&image_);
  return painter_;
}

void TCanvas::Unlock() {
  if (depth_ == 0) return;
  if (--depth_ == 0) {
    if (painter_.isActive()) painter_.end();
    if (view_) view_->update();
  }
}
