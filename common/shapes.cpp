#include "common/shapes.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "common/canvas.h"

namespace {

// GDI+ measures arc angles clockwise on screen, Qt counter-clockwise.
void AddArc(QPainterPath& path, const QRectF& box, float gdiStart, float gdiSweep, bool first) {
  if (first) path.arcMoveTo(box, -gdiStart);
  path.arcTo(box, -gdiStart, -gdiSweep);
}

float Cross(TPointF o, TPointF a, TPointF b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

}  // namespace

const QFont& DiagramFont(int points) {
  static std::map<int, QFont> fonts;
  points = std::clamp(points, 1, 4096);
  auto it = fonts.find(points);
  if (it == fonts.end()) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    // Points at 96 dots per inch, independent of the device's resolution.
    font.setPixelSize(std::max(1, int(std::lround(points * 96.0 / 72.0))));
    it = fonts.emplace(points, font).first;
  }
  return it->second;
}

// ---------------------------------------------------------------- line

TGUILine::TGUILine(const float* points, int width, TColor colour) : TGUIObject(width, colour) { SetPoints(points, 2); }

void TGUILine::SetPoints(const float* xy, unsigned n) {
  pointCount = std::min(n, kMaxPoints);
  for (unsigned i = 0; i < pointCount; ++i) sourcePoints[i] = {xy[2 * i], xy[2 * i + 1]};
}

void TGUILine::Place(float s, int dx, int dy) { PlacePoints(s, dx, dy); }

bool TGUILine::HitTest(int x, int y) {
  const double ax = placedPoints[0].x, ay = placedPoints[0].y;
  const double bx = placedPoints[1].x, by = placedPoints[1].y;
  const double vx = bx - ax, vy = by - ay;
  const double length2 = vx * vx + vy * vy;
  if (length2 == 0.0) return false;
  const double t = ((x - ax) * vx + (y - ay) * vy) / length2;
  double nx, ny;
  if (t < 0) {
    nx = ax, ny = ay;
  } else if (t > 1) {
    nx = bx, ny = by;
  } else {
    nx = ax + t * vx, ny = ay + t * vy;
  }
  return std::hypot(x - nx, y - ny) < 5.0;
}

void TGUILine::Scale(float sx, float sy) {
  for (unsigned i = 0; i < pointCount; ++i) {
    sourcePoints[i].x *= sx;
    sourcePoints[i].y *= sy;
  }
}

void TGUILine::PreparePainter(QPainter& painter, bool fill) const {
  painter.setRenderHint(QPainter::Antialiasing, true);
  QPen pen(PenColour(currentColour), qreal(currentWidth), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
  painter.setPen(pen);
  if (fill) {
    painter.setBrush(FillColour(fillColour));
  } else {
    painter.setBrush(Qt::NoBrush);
  }
}

void TGUILine::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  dashStyle = 0;
  PreparePainter(painter, false);
  painter.drawLine(QPointF(placedPoints[0].x, placedPoints[0].y), QPointF(placedPoints[1].x, placedPoints[1].y));
}

// ---------------------------------------------------------------- triangle

TGUITriangle::TGUITriangle(const float* points, int width, TColor colour) : TGUILine(width, colour) {
  SetPoints(points, 3);
}

bool TGUITriangle::HitTest(int x, int y) {
  const TPointF p = {float(x), float(y)};
  for (int v = 0; v < 3; ++v) {
    const TPointF vertex = placedPoints[v];
    const TPointF e1 = placedPoints[(v + 1) % 3];
    const TPointF e2 = placedPoints[(v + 2) % 3];
    if (Cross(e1, e2, p) * Cross(e1, e2, vertex) < 0) return false;
  }
  return true;
}

void TGUITriangle::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  QPoint points[3];
  for (int i = 0; i < 3; ++i) points[i] = QPoint(int(placedPoints[i].x), int(placedPoints[i].y));
  PreparePainter(painter, fillMode == 2);
  painter.drawPolygon(points, 3, Qt::OddEvenFill);
}

// ---------------------------------------------------------------- rectangle

TGUIRectangle::TGUIRectangle(const float* points, int width, TColor colour) : TGUILine(width, colour) {
  SetPoints(points, 3);
}

bool TGUIRectangle::HitTest(int x, int y) {
  const float x0 = std::min(placedPoints[0].x, placedPoints[1].x);
  const float x1 = std::max(placedPoints[0].x, placedPoints[1].x);
  const float y0 = std::min(placedPoints[0].y, placedPoints[1].y);
  const float y1 = std::max(placedPoints[0].y, placedPoints[1].y);
  return float(x) >= x0 && float(x) <= x1 && float(y) >= y0 && float(y) <= y1;
}

void TGUIRectangle::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  const float x0 = placedPoints[0].x, y0 = placedPoints[0].y;
  const int w = int(placedPoints[1].x - x0 + 2);
  const int h = int(placedPoints[1].y - y0 + 2);
  int rx = int(placedPoints[2].x);
  int ry = int(placedPoints[2].y);
  if (rx == 0) rx = 1;
  if (ry == 0) ry = 1;
  QRectF box(int(x0), int(y0), 2 * rx, 2 * ry);
  QPainterPath path;
  AddArc(path, box, 180, 90, true);
  box.translate(w - 2 * rx - 1, 0);
  AddArc(path, box, 270, 90, false);
  box.translate(0, h - 2 * ry - 1);
  AddArc(path, box, 0, 90, false);
  box.translate(-(w - 2 * rx - 1), 0);
  AddArc(path, box, 90, 90, false);
  path.closeSubpath();
  PreparePainter(painter, fillMode == 2);
  painter.drawPath(path);
}

// ---------------------------------------------------------------- ellipse

TGUIEllipse::TGUIEllipse(const float* points, int width, TColor colour) : TGUILine(width, colour) {
  SetPoints(points, 2);
}

bool TGUIEllipse::HitTest(int x, int y) {
  return float(x) >= placedPoints[0].x && float(x) <= placedPoints[1].x && float(y) >= placedPoints[0].y &&
         float(y) <= placedPoints[1].y;
}

void TGUIEllipse::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  PreparePainter(painter, fillMode == 2);
  painter.drawEllipse(QRectF(placedPoints[0].x, placedPoints[0].y, placedPoints[1].x - placedPoints[0].x,
                             placedPoints[1].y - placedPoints[0].y));
}

// ---------------------------------------------------------------- polygon

TGUIPolygon::TGUIPolygon(const TPointF* points, unsigned n, int width, TColor colour) : TGUILine(width, colour) {
  pointCount = std::min(n, kMaxPoints);
  for (unsigned i = 0; i < pointCount; ++i) sourcePoints[i] = points[i];
}

void TGUIPolygon::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  QPoint points[kMaxPoints];
  for (unsigned i = 0; i < pointCount; ++i) points[i] = QPoint(int(placedPoints[i].x), int(placedPoints[i].y));
  PreparePainter(painter, fillMode == 2);
  painter.drawPolygon(points, int(pointCount), Qt::OddEvenFill);
}

// ---------------------------------------------------------------- text

TGUIText::TGUIText(const float* at, const std::string& text, int size)
    : TGUIObject(1, 0), position{at[0], at[1]}, fontSize(size) {
  lines[0] = text;
}

void TGUIText::AddLine(const std::string& text, int offset) {
  if (lineCount >= kMaxLines) return;
  lines[lineCount] = text;
  lineOffsets[lineCount] = offset;
  ++lineCount;
}

void TGUIText::Place(float s, int dx, int dy) {
  scale = s;
  placedPosition = {ClampCoordinate(position.x * s + float(dx)), ClampCoordinate(position.y * s + float(dy))};
  // The font cache clamps the size too; this keeps the conversion defined.
  placedFontSize = int(std::clamp(ClampCoordinate(s * float(fontSize)), -4096.0f, 4096.0f));
  width = height = blockTop = 0;
  if (!qGuiApp) return;  // no fonts without a GUI application
  const QFontMetricsF metrics(DiagramFont(placedFontSize));
  const float lineHeight = float(metrics.height());
  float y = float(int(placedPosition.y));
  float top = y - lineHeight / 2, bottom = y + lineHeight / 2;
  for (int i = 0; i < lineCount; ++i) {
    width = std::max(width, float(metrics.horizontalAdvance(QString::fromStdString(lines[i]))));
    top = std::min(top, y - lineHeight / 2);
    bottom = std::max(bottom, y + lineHeight / 2);
    if (i + 1 < lineCount) y = float(int(ClampCoordinate(y + float(lineOffsets[i + 1]) * scale)));
  }
  blockTop = top - placedPosition.y;
  height = bottom - top;
}

bool TGUIText::HitTest(int x, int y) {
  // The block is centred horizontally on the placed position, as drawn.
  const float left = placedPosition.x - width / 2;
  const float top = placedPosition.y + blockTop;
  return float(x) >= left && float(x) <= left + width && float(y) >= top && float(y) <= top + height;
}

void TGUIText::Transform(float, float, float, float, float, float) {}
void TGUIText::Scale(float, float) {}

void TGUIText::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setFont(DiagramFont(placedFontSize));
  painter.setPen(PenColour(currentColour));
  constexpr qreal kHalf = 4096;
  int y = int(placedPosition.y);
  for (int i = 0; i < lineCount; ++i) {
    painter.drawText(QRectF(placedPosition.x - kHalf, y - kHalf, 2 * kHalf, 2 * kHalf), Qt::AlignCenter,
                     QString::fromStdString(lines[i]));
    if (i + 1 < lineCount) y = int(ClampCoordinate(float(y) + float(lineOffsets[i + 1]) * scale));
  }
}

// ---------------------------------------------------------------- path

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A decimal number as a whole text (blanks around it allowed); a text that
// is not one number, or not a finite one, reads as 0.
float ReadFloat(const std::string& text) {
  size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  if (i < end && text[i] == '+' && (i + 1 == end || text[i + 1] != '-')) ++i;
  float value = 0;
  const auto [stop, error] = std::from_chars(text.data() + i, text.data() + end, value);
  if (i == end || error != std::errc() || stop != text.data() + end || !std::isfinite(value)) return 0;
  return value;
}

}  // namespace

TSVGPath::TSVGPath(const std::string& data) : TGUIObject(1, 0), pathData(data) { Build(); }

void TSVGPath::Place(float s, int dx, int dy) {
  scale = s;
  offsetX = dx;
  offsetY = dy;
  Build();
}

bool TSVGPath::HitTest(int x, int y) {
  return float(x) >= hitLeft && float(x) <= hitRight && float(y) >= hitTop && float(y) <= hitBottom;
}

void TSVGPath::Transform(float a, float b, float c, float d, float e, float f) {
  const float values[6] = {a, b, c, d, e, f};
  std::copy(values, values + 6, matrix);
  matrixSet = true;
  Build();
}

void TSVGPath::Translate(float dx, float dy) {
  translation[0] = dx;
  translation[1] = dy;
  translationSet = true;
  Build();
}

void TSVGPath::Scale(float sx, float sy) {
  scaleValues[0] = sx;
  scaleValues[1] = sy;
  scaleSet = true;
  Build();
}

TPointF TSVGPath::MapPoint(float x, float y) const {
  if (matrixSet) {
    const float nx = matrix[0] * x + matrix[2] * y + matrix[4];
    const float ny = matrix[1] * x + matrix[3] * y + matrix[5];
    x = nx, y = ny;
  }
  // The scale step is the base Scale, which leaves a point as it is.
  if (translationSet) x += translation[0], y += translation[1];
  return {ClampCoordinate(x * scale + float(offsetX)), ClampCoordinate(y * scale + float(offsetY))};
}

void TSVGPath::Build() {
  rawMinX = rawMinY = 1000000;
  rawMaxX = rawMaxY = 0;
  outline = QPainterPath();
  bool any = false;
  float boxLeftF = 0, boxTopF = 0, boxRightF = 0, boxBottomF = 0;
  TPointF current = {0, 0}, start = {0, 0};
  bool haveEnd = false;
  TPointF end = {0, 0};
  auto addLine = [&](TPointF a, TPointF b) {
    if (!haveEnd) {
      outline.moveTo(a.x, a.y);
    } else if (a.x != end.x || a.y != end.y) {
      outline.lineTo(a.x, a.y);  // one figure: a gap is joined
    }
    outline.lineTo(b.x, b.y);
    end = b;
    haveEnd = true;
  };
  const std::string& s = pathData;
  size_t i = 0;
  auto readPoint = [&]() -> TPointF {
    // x runs to the next ',' (blanks included), y from there to the next blank.
    while (i < s.size() && IsBlank(s[i])) ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ',') ++j;
    const std::string xText = s.substr(i, j - i);
    std::string yText;
    if (j < s.size() && s[j] == ',') {
      size_t k = j + 1;
      while (k < s.size() && !IsBlank(s[k])) ++k;
      yText = s.substr(j + 1, k - j - 1);
      j = k;
    }
    i = j;
    if (xText.empty()) return {0, 0};
    const float x = ReadFloat(xText), y = ReadFloat(yText);
    rawMinX = std::min(rawMinX, x), rawMinY = std::min(rawMinY, y);
    rawMaxX = std::max(rawMaxX, x), rawMaxY = std::max(rawMaxY, y);
    const TPointF p = MapPoint(x, y);
    if (!any) {
      boxLeftF = boxRightF = p.x;
      boxTopF = boxBottomF = p.y;
      any = true;
    } else {
      boxLeftF = std::min(boxLeftF, p.x), boxRightF = std::max(boxRightF, p.x);
      boxTopF = std::min(boxTopF, p.y), boxBottomF = std::max(boxBottomF, p.y);
    }
    return p;
  };
  while (true) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i >= s.size()) break;
    const size_t tokenStart = i;
    while (i < s.size() && !IsBlank(s[i]) && i - tokenStart < 256) ++i;
    const char command = s[tokenStart];
    if (command == 'M') {
      current = start = readPoint();
    } else if (command == 'L') {
      const TPointF p = readPoint();
      addLine(current, p);
      current = p;
    } else if (command == 'z') {
      addLine(current, start);
      current = start;
    }
  }
  // The box of the points as drawn, so hits land where the path is seen.
  hitLeft = boxLeftF, hitTop = boxTopF, hitRight = boxRightF, hitBottom = boxBottomF;
  if (!any) hitLeft = hitTop = 1, hitRight = hitBottom = 0;  // nothing to hit
}

void TSVGPath::GetHitBox(float& left, float& top, float& right, float& bottom) const {
  left = hitLeft, top = hitTop, right = hitRight, bottom = hitBottom;
}

void TSVGPath::GetRawBox(float& minX, float& minY, float& maxX, float& maxY) const {
  minX = rawMinX, minY = rawMinY, maxX = rawMaxX, maxY = rawMaxY;
}

void TSVGPath::Draw(TCanvas* target) {
  if (outline.isEmpty()) return;
  QPainter& painter = target->Painter();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(QPen(PenColour(currentColour), qreal(currentWidth), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  if (fillMode == 2) {
    QPainterPath filled = outline;
    filled.setFillRule(Qt::OddEvenFill);
    painter.setBrush(FillColour(fillColour));
    painter.drawPath(filled);
  } else {
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
  }
}
