#include "common/shapes.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPathStroker>
#include <QTextLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "common/canvas.h"

namespace {

// GDI+ measures arc angles clockwise on screen, Qt counter-clockwise.
void AddArc(QPainterPath& path, const QRectF& box, float gdiStart, float gdiSweep, bool first) {
  if (first) path.arcMoveTo(box, -gdiStart);
  path.arcTo(box, -gdiStart, -gdiSweep);
}

float Cross(TPointF o, TPointF a, TPointF b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// A filled path drawn once, anti-aliased, on a transparent bitmap of its
// own. Drawn over the page it gives the pixels the fill gives there, in a
// fraction of the time: rasterising an anti-aliased outline is most of what
// a page's drawing costs. All sprites together stay within a budget.
class TSprite {
 public:
  static constexpr qint64 kMaxArea = 256 * 256;
  static constexpr qint64 kBudget = 24ll * 1024 * 1024;

  TSprite() = default;
  TSprite(TSprite&& other) noexcept { *this = std::move(other); }
  TSprite& operator=(TSprite&& other) noexcept {
    if (this != &other) {
      Release();
      image_ = std::move(other.image_);
      at_ = other.at_;
      key_ = other.key_;
      awaited_ = other.awaited_;
      other.image_ = QImage();
    }
    return *this;
  }
  TSprite(const TSprite&) = delete;
  TSprite& operator=(const TSprite&) = delete;
  ~TSprite() { Release(); }

  bool Holds(uint64_t key) const { return !image_.isNull() && key_ == key; }
  // A key asked for once, not drawn yet: a placement drawn only once (the
  // first show's passing zoom) costs no sprites.
  bool Awaits(uint64_t key) const { return image_.isNull() && awaited_ && key_ == key; }
  void Await(uint64_t key) {
    Release();
    key_ = key;
    awaited_ = true;
  }
  void Draw(QPainter& painter) const { painter.drawImage(at_, image_); }
  // False when the path is too large for a sprite or the budget is spent.
  bool Build(const QPainterPath& path, const QBrush& brush, uint64_t key) {
    Release();
    const QRect box = path.controlPointRect().toAlignedRect().adjusted(-2, -2, 2, 2);
    const qint64 area = qint64(box.width()) * box.height();
    if (box.isEmpty() || area > kMaxArea || Spent() + area * 4 > kBudget) return false;
    QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(-box.topLeft());
    painter.fillPath(path, brush);
    painter.end();
    image_ = std::move(image);
    at_ = box.topLeft();
    key_ = key;
    Spent() += image_.sizeInBytes();
    return true;
  }

 private:
  static qint64& Spent() {
    static qint64 spent = 0;
    return spent;
  }
  void Release() {
    if (!image_.isNull()) Spent() -= image_.sizeInBytes();
    image_ = QImage();
  }

  QImage image_;
  QPoint at_;
  uint64_t key_ = 0;
  bool awaited_ = false;
};

// Sprites stand in for a fill only where nothing but a move by whole
// pixels lies between the shape and a bitmap of their kind, and the fill is
// one anti-aliased solid colour drawn over what is there.
bool SpritesApply(const QPainter& painter, const QBrush& brush) {
  if (brush.style() != Qt::SolidPattern || !(painter.renderHints() & QPainter::Antialiasing)) return false;
  const QPaintDevice* device = painter.device();
  if (!device || device->devType() != QInternal::Image ||
      static_cast<const QImage*>(device)->format() != QImage::Format_ARGB32_Premultiplied)
    return false;
  if (painter.hasClipping() || painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
      painter.opacity() != 1.0)
    return false;
  const QTransform t = painter.combinedTransform();
  return t.type() <= QTransform::TxTranslate && t.dx() == std::floor(t.dx()) && t.dy() == std::floor(t.dy());
}

// What a shape's drawing is built from, kept while its placement stays:
// building paths, stroking wide anti-aliased pens and shaping text are most
// of a page's drawing, and a zoom or a move builds them anew. Kept beside
// the classes, whose layout the plug-in shares.
struct TShapeCache {
  TPointF points[TGUIObject::kMaxPoints] = {};
  unsigned count = 0;
  bool built = false;
  unsigned draws = 0;
  QPainterPath path;
  // The outline of the path at the last two pen widths (normal and lit).
  struct {
    int width = 0;
    QPainterPath outline;
  } strokes[2];
  unsigned nextStroke = 0;
  // The fill and the outline as sprites, each at its last two colours (and
  // widths): normal and on, or normal and lit.
  TSprite fills[2], outlines[2];
  unsigned nextFill = 0, nextOutline = 0;
  // A text's lines, laid out at one font size.
  int fontSize = 0;
  std::vector<std::string> texts;
  std::vector<std::unique_ptr<QTextLayout>> layouts;
};

std::unordered_map<const TGUIObject*, TShapeCache>& ShapeCaches() {
  static auto* caches = new std::unordered_map<const TGUIObject*, TShapeCache>;
  return *caches;
}

// The cache of a shape whose placed points are these, emptied when they changed.
TShapeCache& CacheFor(const TGUIObject* shape, const TPointF* points, unsigned count) {
  TShapeCache& cache = ShapeCaches()[shape];
  if (!cache.built || cache.count != count ||
      (count > 0 && std::memcmp(cache.points, points, count * sizeof(TPointF)) != 0)) {
    cache = TShapeCache();
    if (count > 0) std::copy(points, points + count, cache.points);
    cache.count = count;
  }
  return cache;
}

// Pens of two pixels and more are stroked by the general stroker, whose
// outline filled gives the same pixels; thinner ones take a faster way.
bool StrokedWidth(int width) { return width >= 2; }

const QPainterPath& Outline(TShapeCache& cache, int width) {
  for (const auto& stroke : cache.strokes)
    if (stroke.width == width) return stroke.outline;
  auto& stroke = cache.strokes[cache.nextStroke];
  cache.nextStroke = (cache.nextStroke + 1) % 2;
  QPainterPathStroker stroker;
  stroker.setWidth(width);
  stroker.setCapStyle(Qt::FlatCap);
  stroker.setJoinStyle(Qt::MiterJoin);
  stroke.width = width;
  stroke.outline = stroker.createStroke(cache.path);
  return stroke.outline;
}

void FillPath(QPainter& painter, const QPainterPath& path, const QBrush& brush, TSprite (&sprites)[2],
              unsigned& next, uint64_t key) {
  if (!SpritesApply(painter, brush)) {
    painter.fillPath(path, brush);
    return;
  }
  for (TSprite& sprite : sprites) {
    if (sprite.Holds(key) || (sprite.Awaits(key) && sprite.Build(path, brush, key))) {
      sprite.Draw(painter);
      return;
    }
  }
  // Made at the second draw of the same fill.
  if (!sprites[0].Awaits(key) && !sprites[1].Awaits(key)) {
    sprites[next].Await(key);
    next = (next + 1) % 2;
  }
  painter.fillPath(path, brush);
}

// Fills and outlines a cached path as drawPath with the prepared pen and
// brush would, the painter left as they left it. The first draw of a
// placement goes the painter's own way (`direct`): a placement drawn once,
// as the first show's passing zoom, builds nothing.
template <class Direct>
void DrawCached(QPainter& painter, TShapeCache& cache, bool fill, int width, Direct direct) {
  if (cache.draws++ == 0) {
    direct();
    return;
  }
  if (fill) FillPath(painter, cache.path, painter.brush(), cache.fills, cache.nextFill, painter.brush().color().rgba());
  const QBrush pen = painter.pen().brush();
  FillPath(painter, Outline(cache, width), pen, cache.outlines, cache.nextOutline,
           uint64_t(pen.color().rgba()) << 32 | uint32_t(width));
}

// Line `i` of a text laid out once as drawText lays out one line; null for
// what drawText treats otherwise (breaks, tabs) and without fonts.
const QTextLayout* LineLayout(TShapeCache& cache, size_t i, const QFont& font) {
  if (!qGuiApp) return nullptr;
  if (cache.layouts.size() != cache.texts.size()) cache.layouts.resize(cache.texts.size());
  std::unique_ptr<QTextLayout>& layout = cache.layouts[i];
  if (layout) return layout.get();
  const QString text = QString::fromStdString(cache.texts[i]);
  if (text.isEmpty()) return nullptr;
  for (QChar c : text)
    if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      return nullptr;
  layout = std::make_unique<QTextLayout>(text, font);
  layout->setCacheEnabled(true);
  QTextOption option;
  option.setTextDirection(Qt::LeftToRight);
  option.setAlignment(Qt::AlignLeft);
  option.setFlags(QTextOption::IncludeTrailingSpaces);
  layout->setTextOption(option);
  layout->beginLayout();
  QTextLine line = layout->createLine();
  if (line.isValid()) {
    line.setLineWidth(0x01000000);
    line.setPosition(QPointF(0, 0));
  }
  layout->endLayout();
  if (layout->lineCount() != 1) layout.reset();
  return layout.get();
}

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

TGUILine::~TGUILine() { ShapeCaches().erase(this); }

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

void TGUITriangle::Draw(TCanvas* target) { DrawPolygon(target->Painter(), 3); }

void TGUILine::DrawPolygon(QPainter& painter, unsigned count) {
  QPoint points[kMaxPoints];
  for (unsigned i = 0; i < count; ++i) points[i] = QPoint(int(placedPoints[i].x), int(placedPoints[i].y));
  PreparePainter(painter, fillMode == 2);
  if (count < 2 || !StrokedWidth(currentWidth)) {
    painter.drawPolygon(points, int(count), Qt::OddEvenFill);
    return;
  }
  TShapeCache& cache = CacheFor(this, placedPoints, count);
  if (!cache.built) {
    cache.path.moveTo(points[0]);
    for (unsigned i = 1; i < count; ++i) cache.path.lineTo(points[i]);
    cache.path.closeSubpath();
    cache.path.setFillRule(Qt::OddEvenFill);
    cache.built = true;
  }
  DrawCached(painter, cache, fillMode == 2, currentWidth,
             [&] { painter.drawPolygon(points, int(count), Qt::OddEvenFill); });
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
  TShapeCache& cache = CacheFor(this, placedPoints, 3);
  if (!cache.built) {
    const float x0 = placedPoints[0].x, y0 = placedPoints[0].y;
    const int w = int(placedPoints[1].x - x0 + 2);
    const int h = int(placedPoints[1].y - y0 + 2);
    int rx = int(placedPoints[2].x);
    int ry = int(placedPoints[2].y);
    if (rx == 0) rx = 1;
    if (ry == 0) ry = 1;
    QRectF box(int(x0), int(y0), 2 * rx, 2 * ry);
    AddArc(cache.path, box, 180, 90, true);
    box.translate(w - 2 * rx - 1, 0);
    AddArc(cache.path, box, 270, 90, false);
    box.translate(0, h - 2 * ry - 1);
    AddArc(cache.path, box, 0, 90, false);
    box.translate(-(w - 2 * rx - 1), 0);
    AddArc(cache.path, box, 90, 90, false);
    cache.path.closeSubpath();
    cache.built = true;
  }
  PreparePainter(painter, fillMode == 2);
  if (StrokedWidth(currentWidth))
    DrawCached(painter, cache, fillMode == 2, currentWidth, [&] { painter.drawPath(cache.path); });
  else
    painter.drawPath(cache.path);
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
  const QRectF box(placedPoints[0].x, placedPoints[0].y, placedPoints[1].x - placedPoints[0].x,
                   placedPoints[1].y - placedPoints[0].y);
  if (!StrokedWidth(currentWidth)) {
    painter.drawEllipse(box);
    return;
  }
  TShapeCache& cache = CacheFor(this, placedPoints, 2);
  if (!cache.built) {
    cache.path.addEllipse(box);
    cache.built = true;
  }
  DrawCached(painter, cache, fillMode == 2, currentWidth, [&] { painter.drawEllipse(box); });
}

// ---------------------------------------------------------------- polygon

TGUIPolygon::TGUIPolygon(const TPointF* points, unsigned n, int width, TColor colour) : TGUILine(width, colour) {
  pointCount = std::min(n, kMaxPoints);
  for (unsigned i = 0; i < pointCount; ++i) sourcePoints[i] = points[i];
}

void TGUIPolygon::Draw(TCanvas* target) { DrawPolygon(target->Painter(), pointCount); }

// ---------------------------------------------------------------- text

namespace {

// The first kMaxLineLength characters of a UTF-8 line (a character is cut whole).
std::string KeptLine(const std::string& text) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (characters++ == TGUIText::kMaxLineLength) return text.substr(0, i);
  }
  return text;
}

}  // namespace

TGUIText::TGUIText(const float* at, const std::string& text, int size)
    : TGUIObject(1, 0), position{at[0], at[1]}, fontSize(size) {
  lines[0] = KeptLine(text);
}

TGUIText::~TGUIText() { ShapeCaches().erase(this); }

void TGUIText::AddLine(const std::string& text, int offset) {
  if (lineCount >= kMaxLines) return;
  lines[lineCount] = KeptLine(text);
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
  const QFont& font = DiagramFont(placedFontSize);
  painter.setFont(font);
  painter.setPen(PenColour(currentColour));
  TShapeCache& cache = CacheFor(this, nullptr, 0);
  if (!cache.built || cache.fontSize != placedFontSize || cache.texts.size() != size_t(lineCount) ||
      !std::equal(cache.texts.begin(), cache.texts.end(), lines)) {
    cache.built = true;
    cache.draws = 0;
    cache.fontSize = placedFontSize;
    cache.texts.assign(lines, lines + lineCount);
    cache.layouts.clear();
  }
  // Laid out from the second draw of a placement on.
  const bool first = cache.draws++ == 0;
  constexpr qreal kHalf = 4096;
  int y = int(placedPosition.y);
  for (int i = 0; i < lineCount; ++i) {
    const QRectF box(placedPosition.x - kHalf, y - kHalf, 2 * kHalf, 2 * kHalf);
    if (const QTextLayout* layout = first ? nullptr : LineLayout(cache, size_t(i), font)) {
      // Where drawText with the box and centred alignment puts the line.
      const QTextLine line = layout->lineAt(0);
      const qreal height = line.ascent() + line.descent();
      line.draw(&painter, QPointF(box.x() + (box.width() - line.horizontalAdvance()) / 2,
                                  box.y() + (box.height() - height) / 2));
    } else {
      painter.drawText(box, Qt::AlignCenter, QString::fromStdString(lines[i]));
    }
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

TSVGPath::~TSVGPath() { ShapeCaches().erase(this); }

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
  ShapeCaches().erase(this);
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
  painter.setBrush(fillMode == 2 ? QBrush(FillColour(fillColour)) : QBrush(Qt::NoBrush));
  // Filled by the odd-even rule; the rule does not change the outline.
  TShapeCache& cache = CacheFor(this, nullptr, 0);
  if (!cache.built) {
    cache.path = outline;
    cache.path.setFillRule(Qt::OddEvenFill);
    cache.built = true;
  }
  const auto direct = [&] { painter.drawPath(fillMode == 2 ? cache.path : outline); };
  if (StrokedWidth(currentWidth)) DrawCached(painter, cache, fillMode == 2, currentWidth, direct);
  else direct();
}
