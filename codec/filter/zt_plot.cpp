// The filter tool's Bode plot: mapping, drawing and the pointer.
#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <vector>

#include "codec/filter/coeff_display_form.h"
#include "codec/filter/coefficient_text.h"
#include "codec/filter/truncate.h"
#include "codec/filter/zt.h"

namespace {

constexpr int kLeft = 50;    // frame's left edge
constexpr int kTop = 10;     // frame's top edge
constexpr int kRightGap = 40;
constexpr int kBottomGap = 35;
constexpr double kRadToDeg = 57.29577951308232;

const float kCursorPoints[6] = {0, 0, 0, 0, 1, 1};

void DrawLabel(QPainter& painter, int x, int y, const QString& text) {
  painter.drawText(QRect(x, y, 200, 40), Qt::AlignLeft | Qt::AlignTop, text);
}

}  // namespace

// ---- marker ------------------------------------------------------------------------------

TZTCursor::TZTCursor() : TGUIRectangle(kCursorPoints, 1, 0) {
  normalWidth = currentWidth = 2;
  currentColour = 255;
}

TZTCursor::~TZTCursor() = default;

void TZTCursor::SetPosition(float newX, float newY) {
  x = newX;
  y = newY;
  sourcePoints[0] = {newX - 3, newY - 3};
  sourcePoints[1] = {newX + 3, newY + 3};
  Place(1.0f, 0, 0);
  backgroundColour = 0;
  currentColour = normalColour;
  highlightColour = 0xFFFFFF;
  onColour = normalColour;
  normalWidth = currentWidth = 2;
  mode = 1;
}

// ---- paint box -----------------------------------------------------------------------------

TBodePlotBox::TBodePlotBox(TZT* owner, QWidget* parent) : QWidget(parent), tool(owner) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TBodePlotBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QImage& image = tool->PlotCanvas().Image();
  if (image.size() != size()) {
    painter.fillRect(rect(), Qt::black);
    tool->BodePlotPaint();  // resized: draws again and updates once more
    return;
  }
  painter.drawImage(0, 0, image);
}

void TBodePlotBox::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  tool->BodePlotMouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TBodePlotBox::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  tool->BodePlotMouseMove(event->modifiers(), p.x(), p.y());
}

void TBodePlotBox::mouseReleaseEvent(QMouseEvent*) { tool->BodePlotMouseUp(); }

void TBodePlotBox::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt sends press, release, double click: the double click stands for the
  // second press, and the tool's handler runs after it.
  mousePressEvent(event);
  tool->BodePlotDblClick();
}

// ---- mapping -----------------------------------------------------------------------------

int TZT::PlotWidth() const { return BodePlot->width(); }
int TZT::PlotHeight() const { return BodePlot->height(); }

int TZT::PhaseToPixel(double degrees) const {
  const double k = -(PlotHeight() - 45) / 360.0;
  return TruncInt32(k * degrees + (kTop - k * 180));
}

void TZT::FreqGainToPixel(double f, double dB, int& x, int& y) const {
  x = TruncInt32((std::log10(f) - std::log10(freqMin)) * (PlotWidth() - 90) /
                     (std::log10(freqMax) - std::log10(freqMin)) +
                 kLeft);
  y = GainAxis().Pixel(dB);
}

TZT::TGainAxis TZT::GainAxis() const {
  const double k = (PlotHeight() - 45) / (plotBottom - plotTop);
  return {k, kTop - k * plotTop};
}

int TZT::TGainAxis::Pixel(double dB) const { return TruncInt32(k * dB + offset); }

void TZT::PixelToFreqGain(int x, int y, double& f, double& dB) const {
  // Left of the frame there is no frequency: such positions read as its edge.
  x = std::max(x, kLeft);
  const float e = float((x - kLeft) / ((PlotWidth() - 90) / (std::log10(freqMax) - std::log10(freqMin))) +
                        std::log10(freqMin));
  f = std::pow(10.0, double(e));
  if (y != 0) {
    const double k = (PlotHeight() - 45) / (plotBottom - plotTop);
    dB = (y - (kTop - k * plotTop)) / k;
  }
}

bool TZT::CursorInFrame(unsigned i) const {
  const float cx = cursors[i].x, cy = cursors[i].y;
  return cx >= kLeft && cx <= PlotWidth() - kRightGap && cy >= kTop && cy <= PlotHeight() - kBottomGap;
}

// ---- drawing ------------------------------------------------------------------------------

void TZT::BodePlotPaint() {
  if (!plotCanvas) plotCanvas = &plotCanvasImage;
  const int W = PlotWidth(), H = PlotHeight();
  if (plotCanvas->Width() != W || plotCanvas->Height() != H) plotCanvas->SetSize(W, H, 0);
  TCanvasLock lock(*plotCanvas);
  QPainter& painter = lock.Painter();
  if (!painter.isActive()) return;
  painter.fillRect(0, 0, W, H, Qt::black);
  const QPixmap logo = OrvaneLogo->pixmap();
  if (!logo.isNull()) painter.drawPixmap(OrvaneLogo->x(), OrvaneLogo->y(), logo);
  DrawAxes(painter);
  DrawCurves(painter);
  for (unsigned i = 0; i < filterCount; ++i)
    if (filters[i]->enabled && filters[i]->designed && CursorInFrame(i)) cursors[i].Paint(plotCanvas);
  if (zooming) {
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(zoomStart[0], zoomStart[1]), QPoint(zoomEnd[0], zoomEnd[1])).normalized());
  }
}

double TZT::GainStep(double top, double bottom) {
  const int n = TruncInt32(top - bottom);
  double step = (n / 24) * 3;
  if (step < 3) {
    step = n * (1 / 24.0) * 30 * 0.1;
    if (step < 1)
      step = step < 0.5 ? 0.1 : 0.5;
    else
      step = std::trunc(step);
  }
  return step;
}

void TZT::DrawAxes(QPainter& painter) {
  const int W = PlotWidth(), H = PlotHeight();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(PenColour(0x808080), 1));
  painter.setBrush(Qt::NoBrush);
  painter.setFont(QFont("Arial", 10));
  painter.drawRect(kLeft, kTop, W - kRightGap - kLeft, H - kBottomGap - kTop);

  for (unsigned decade = 10; decade <= 10000; decade *= 10) {
    for (unsigned i = 1; i <= 9 && decade * i <= 100000; ++i) {
      int x, y;
      FreqGainToPixel(decade * i, 0, x, y);
      if (x <= kLeft || x >= W - kRightGap) continue;
      painter.setPen(PenColour(0x808080));
      painter.drawLine(x, kTop, x, i == 1 ? H - 10 : H - kBottomGap);
      if (i == 1) {
        painter.setPen(Qt::white);
        DrawLabel(painter, x - 10, H - 20, QString::fromStdString(Format("%u", decade) + "[Hz]"));
      }
    }
  }

  const double step = GainStep(gainTop, gainBottom);
  for (int k = 0;; ++k) {
    const double v = -120 + k * step;
    if (v > 120 + 1e-9) break;
    int x, y;
    FreqGainToPixel(10, v, x, y);
    if (y < 9 || y > H - kBottomGap) continue;
    painter.setPen(PenColour(0x808080));
    painter.drawLine(kLeft, y, W - kRightGap, y);
    painter.setPen(Qt::white);
    // Inside the frame, clear of it (no label at the font's size fits in
    // the 50 pixels left of it): just above its line, or just below the
    // line at the frame's top.
    const int height = painter.fontMetrics().height();
    const int top = y - height - 2 > kTop + 1 ? y - height - 2 : y + 2;
    DrawLabel(painter, kLeft + 3, top, QString::fromStdString(Format("%.1f", v) + "[dB]"));
  }

  painter.setPen(Qt::white);
  for (int d = -180; d <= 180; d += 45) {
    const int y = PhaseToPixel(d);
    if (y < 9 || y > H - kBottomGap) continue;
    DrawLabel(painter, W - 35, y - 10, QString::fromStdString(ShortestDecimal(d)) + QChar(0xB0));
  }
}

void TZT::DrawCurves(QPainter& painter) {
  const bool phase = Phase->isChecked(), gain = Gain->isChecked();
  if (!phase && !gain) return;
  unsigned shown[kFilters];
  unsigned count = 0;
  double shift = 0;  // the sections' total numerator scaling in dB
  for (unsigned i = 0; i < filterCount; ++i) {
    if (!filters[i]->enabled) continue;
    shown[count++] = i;
    shift += 20 * std::log10(filters[i]->normalisation);
  }
  if (gain) {
    // The scaled sections' curves stand where their unscaled designs would
    // stand on the user's range.
    plotTop = gainTop + shift;
    plotBottom = gainBottom + shift;
  }

  const TFrequencyTable& axis = CurveAxis();
  const double* ownGain[kFilters];
  const double* ownPhase[kFilters];
  bool drawOwn[kFilters];
  for (unsigned k = 0; k < count; ++k) {
    TResponseCurve& curve = curves[shown[k]];
    curve.Update(*filters[shown[k]], axis, gain, phase);
    ownGain[k] = curve.Gain().data();
    ownPhase[k] = curve.Phase().data();
    drawOwn[k] = gain && secondBoxes[shown[k]]->isChecked();
  }

  // The totals are summed section by section, in the sections' order at
  // every point.
  const size_t n = axis.Size();
  std::vector<double> radians(phase ? n : 0, 0.0), totalDb(gain ? n : 0, 0.0);
  for (unsigned k = 0; k < count; ++k) {
    for (size_t j = 0; j < radians.size(); ++j) radians[j] += ownPhase[k][j];
    for (size_t j = 0; j < totalDb.size(); ++j) totalDb[j] += ownGain[k][j];
  }

  // Each curve is drawn in one call: thousands of single line calls cost
  // more than the response itself.
  auto pixelX = [](size_t j) { return kLeft + 2 * int(j); };
  if (phase) {
    QVector<QLine> dashes;
    bool dash = true;
    int px = 0, py = 0;
    for (size_t j = 0; j < n; ++j) {
      const int x = pixelX(j), y = PhaseToPixel(radians[j] * kRadToDeg);
      if (x != kLeft && dash) dashes.append(QLine(px, py, x, y));
      if (x % 8 == 0) dash = !dash;
      px = x;
      py = y;
    }
    if (!dashes.isEmpty()) {
      painter.setPen(QPen(Qt::white, 1));
      painter.drawLines(dashes);
    }
  }
  if (!gain || n < 2) return;
  const TGainAxis axisY = GainAxis();
  std::vector<QPoint> line(n);
  auto drawGain = [&](const double* dB, TColor colour) {
    for (size_t j = 0; j < n; ++j) line[j] = QPoint(pixelX(j), axisY.Pixel(std::clamp(dB[j], plotBottom, plotTop)));
    painter.setPen(QPen(PenColour(colour), 1));
    painter.drawPolyline(line.data(), int(n));
  };
  for (unsigned k = 0; k < count; ++k)
    if (drawOwn[k]) drawGain(ownGain[k], cursors[shown[k]].GetNormalColour());
  drawGain(totalDb.data(), 0xFFFFFF);
}

const TFrequencyTable& TZT::CurveAxis() {
  const double key[4] = {double(PlotWidth()), freqMin, freqMax, sampleRate};
  if (!std::equal(key, key + 4, curveAxisKey) || curveAxis.Size() == 0) {
    std::copy(key, key + 4, curveAxisKey);
    std::vector<double> frequencies;
    for (int x = kLeft; x < PlotWidth() - kRightGap; x += 2) {
      double f, unused = 0;
      PixelToFreqGain(x, 0, f, unused);
      frequencies.push_back(f);
    }
    curveAxis.Set(std::move(frequencies), sampleRate);
  }
  return curveAxis;
}

// ---- pointer ------------------------------------------------------------------------------

void TZT::BodePlotMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
  lastX = x;
  lastY = y;
  const bool ctrl = shift & Qt::ControlModifier;
  if (button == Qt::LeftButton && ctrl) {
    zoomStart[0] = zoomEnd[0] = x;
    zoomStart[1] = zoomEnd[1] = y;
    zooming = true;
  } else if (button == Qt::LeftButton) {
    for (unsigned i = 0; i < filterCount; ++i) {
      if (!filters[i]->enabled || !CursorInFrame(i) || !cursors[i].Click(x, y)) continue;
      cursors[i].dragging = true;
      cursors[i].bandwidthDrag = shift & Qt::ShiftModifier;
    }
  } else if (button == Qt::RightButton && ctrl) {
    zoomStart[0] = zoomEnd[0] = x;
    zoomStart[1] = zoomEnd[1] = y;
    rescaling = true;
  } else if (button == Qt::RightButton) {
    gainTop = plotTop = 12.0;
    gainBottom = plotBottom = -12.0;
    freqMin = 10.0;
    freqMax = sampleRate / 2;
    PlaceCursors();
    RepaintPlot();
  }
}

void TZT::BodePlotMouseMove(Qt::KeyboardModifiers shift, int x, int y) {
  x = std::clamp(x, kLeft, PlotWidth() - kRightGap);
  y = std::clamp(y, kTop, PlotHeight() - kBottomGap);
  if (zooming) {
    zoomEnd[0] = x;
    zoomEnd[1] = y;
    RepaintPlot();
    return;
  }
  if (rescaling) {
    if (y > lastY) {
      gainTop += 1;
      gainBottom -= 1;
    } else {
      gainTop -= 1;
      gainBottom += 1;
    }
    if (gainTop <= gainBottom) {
      gainTop += 1;
      gainBottom -= 1;
    }
    gainTop = std::min(gainTop, 120.0);
    gainBottom = std::max(gainBottom, -120.0);
    plotTop = gainTop;
    plotBottom = gainBottom;
    PlaceCursors();
    RepaintPlot();
    lastY = y;
    return;
  }
  for (unsigned i = 0; i < filterCount; ++i) {
    TBiquad& s = *filters[i];
    if (!s.enabled || !s.designed) continue;
    TZTCursor& cursor = cursors[i];
    if (cursor.dragging) {
      double f, dB = 0;
      PixelToFreqGain(x, y, f, dB);
      double fc, bandwidth;
      float mx = float(x);
      if (cursor.bandwidthDrag && (shift & Qt::ShiftModifier)) {
        fc = s.fc;
        bandwidth = std::max(2 * std::fabs(f - fc), 1.0);
        mx = cursor.x;
      } else {
        fc = TruncInt32(f);
        bandwidth = s.bandwidthRatio * fc;
      }
      cursor.SetPosition(mx, float(y));
      const double gain = gainTop - plotTop + dB;
      s.Design(fc, bandwidth, sampleRate, gain, true);
      RepaintPlot();
      RefreshGrid();
      RebuildCoefficients();
    }
    cursor.MouseMove(x, y);
  }
}

void TZT::BodePlotMouseUp() {
  // A drag ends with its release, whatever became of its section meanwhile
  // (a double click disables the section whose marker its press picked up).
  for (TZTCursor& cursor : cursors) {
    cursor.dragging = false;
    cursor.bandwidthDrag = false;
  }
  RefreshGrid();
  if (zooming) {
    zooming = false;
    double f1, g1 = 0, f2, g2 = 0;
    PixelToFreqGain(zoomStart[0], zoomStart[1], f1, g1);
    PixelToFreqGain(zoomEnd[0], zoomEnd[1], f2, g2);
    const double top = std::trunc(std::max(g1, g2)), bottom = std::trunc(std::min(g1, g2));
    const double high = std::trunc(std::max(f1, f2)), low = std::trunc(std::min(f1, f2));
    // A range that truncates to one value would divide the mapping by zero.
    if (std::fabs(g1 - g2) >= 1 && std::fabs(f1 - f2) > 10 && top > bottom && high > low) {
      gainTop = plotTop = top;
      gainBottom = plotBottom = bottom;
      freqMin = low;
      freqMax = high;
    }
    PlaceCursors();
    RepaintPlot();
  }
  rescaling = false;
}

void TZT::BodePlotDblClick() {
  for (unsigned i = 0; i < filterCount; ++i) {
    if (!CursorInFrame(i) || !cursors[i].Click(lastX, lastY)) continue;
    SetRowEnabled(i, false);
    RepaintPlot();
    RebuildCoefficients();
    return;
  }
  for (unsigned i = 0; i < filterCount; ++i) {
    if (filters[i]->enabled) continue;
    SetRowEnabled(i, true);
    cursors[i].dragging = true;
    BodePlotMouseMove(Qt::NoModifier, lastX, lastY);
    return;
  }
}
