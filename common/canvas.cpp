#include "common/canvas.h"

#include <QPaintEngine>
#include <QPainterPath>
#include <QTextItem>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {
// 96 dots per inch, so a font size in points means on the image what it
// means on the original's screen.
constexpr int kDotsPerMeter = 3780;

// The memory of a canvas's image. Memory the process has not touched yet
// costs a page fault per page when first written, far more than filling
// it: a canvas keeps its memory for the next size that fits, and a large
// image lies in huge pages where the system lends them (a fault then maps
// 2 MB rather than 4 kB).
struct TPixelMemory {
  static constexpr size_t kHugePage = size_t(2) << 20;
  uchar* data = nullptr;
  size_t capacity = 0;
  bool mapped = false;

  explicit TPixelMemory(size_t bytes) {
#ifdef __linux__
    if (bytes >= kHugePage) {
      const size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
      void* start = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (start != MAP_FAILED) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(start);
        const uintptr_t aligned = (base + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
        if (aligned > base) munmap(start, aligned - base);
        const uintptr_t end = base + length + kHugePage;
        if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
        madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
        data = reinterpret_cast<uchar*>(aligned);
        capacity = length;
        mapped = true;
        return;
      }
    }
#endif
    data = static_cast<uchar*>(std::calloc(bytes, 1));
    capacity = data ? bytes : 0;
  }
  ~TPixelMemory() {
#ifdef __linux__
    if (mapped) {
      munmap(data, capacity);
      return;
    }
#endif
    std::free(data);
  }
  TPixelMemory(const TPixelMemory&) = delete;
  TPixelMemory& operator=(const TPixelMemory&) = delete;
};

// Each canvas's memory, kept beside the class (its layout is shared with
// the plug-in); an image on it holds a reference, so a copy of the image
// that outlives the canvas's next size keeps its pixels.
struct TPixelMemories {
  std::mutex lock;
  std::unordered_map<const TCanvas*, std::shared_ptr<TPixelMemory>> of;
};
TPixelMemories& PixelMemories() {
  static auto* memories = new TPixelMemories;
  return *memories;
}

void ReleasePixelMemory(void* holder) { delete static_cast<std::shared_ptr<TPixelMemory>*>(holder); }

// The paints noted on held canvases. Kept beside the class: its layout is
// shared with the plug-in. Never destroyed, so a canvas that outlives the
// program's statics still finds it.
std::unordered_map<const TCanvas*, std::vector<TGUIObject*>>& HeldPaints() {
  static auto* held = new std::unordered_map<const TCanvas*, std::vector<TGUIObject*>>;
  return *held;
}
}  // namespace

TCanvas::TCanvas(QWidget* view) : view_(view) {}

TCanvas::~TCanvas() {
  if (painter_.isActive()) painter_.end();
  if (held_) HeldPaints().erase(this);
  image_ = QImage();
  TPixelMemories& memories = PixelMemories();
  std::lock_guard<std::mutex> guard(memories.lock);
  memories.of.erase(this);
}

void TCanvas::SetView(QWidget* view) { view_ = view; }

bool TCanvas::SetSize(int width, int height, TColor background) {
  if (Locked()) return false;
  const bool whole = Resize(width, height);
  image_.fill(PenColour(background));
  return whole;
}

bool TCanvas::Resize(int width, int height) {
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
  // The same size again keeps the image.
  if (image_.width() == width && image_.height() == height &&
      image_.format() == QImage::Format_ARGB32_Premultiplied)
    return !cut;
  const size_t bytes = size_t(width) * 4 * size_t(height);
  TPixelMemories& memories = PixelMemories();
  std::lock_guard<std::mutex> guard(memories.lock);
  std::shared_ptr<TPixelMemory>& memory = memories.of[this];
  // The old image lets go of the memory, unless a copy of it lives on.
  image_ = QImage();
  if (!memory || memory.use_count() > 1 || memory->capacity < bytes) {
    memory.reset();
    memory = std::make_shared<TPixelMemory>(bytes);
  }
  if (!memory->data) {
    memories.of.erase(this);
    return false;
  }
  image_ = QImage(memory->data, width, height, qsizetype(width) * 4, QImage::Format_ARGB32_Premultiplied,
                  ReleasePixelMemory, new std::shared_ptr<TPixelMemory>(memory));
  image_.setDotsPerMeterX(kDotsPerMeter);
  image_.setDotsPerMeterY(kDotsPerMeter);
  return !cut;
}

void TCanvas::Release() {
  if (Locked()) return;
  image_ = QImage();
  TPixelMemories& memories = PixelMemories();
  std::lock_guard<std::mutex> guard(memories.lock);
  memories.of.erase(this);
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

bool TCanvas::CopyFrom(const TCanvas& source, const QRect& rect) {
  if (source.image_.size() != image_.size()) return false;
  return CopyFrom(source, rect, rect.topLeft());
}

bool TCanvas::CopyFrom(const TCanvas& source, const QRect& rect, const QPoint& at) {
  if (Locked() || &source == this || source.image_.format() != image_.format() || image_.depth() != 32) return false;
  const QPoint shift = at - rect.topLeft();
  const QRect to = (rect & source.image_.rect()).translated(shift) & image_.rect();
  if (to.isEmpty()) return true;
  const QRect from = to.translated(-shift);
  // bits() detaches a buffer still shared with another image first.
  uchar* target = image_.bits();
  const uchar* origin = source.image_.constBits();
  const qsizetype line = image_.bytesPerLine(), sourceLine = source.image_.bytesPerLine();
  if (to == image_.rect() && from == source.image_.rect() && line == sourceLine) {
    std::memcpy(target, origin, size_t(image_.sizeInBytes()));
    return true;
  }
  const size_t bytes = size_t(to.width()) * 4;
  for (int y = 0; y < to.height(); ++y)
    std::memcpy(target + (to.top() + y) * line + size_t(to.left()) * 4,
                origin + (from.top() + y) * sourceLine + size_t(from.left()) * 4, bytes);
  return true;
}

QPainter& TCanvas::Lock() {
  if (depth_++ == 0 && !image_.isNull()) painter_.begin(&image_);
  return painter_;
}

QPainter& TCanvas::LockOn(QPaintDevice& device) {
  if (depth_++ == 0) painter_.begin(&device);
  return painter_;
}

void TCanvas::Hold(bool hold) {
  if (hold == held_) return;
  held_ = hold;
  if (hold) HeldPaints()[this];
  else HeldPaints().erase(this);
}

void TCanvas::NoteHeldPaint(TGUIObject* object) {
  if (held_) HeldPaints()[this].push_back(object);
}

std::vector<TGUIObject*> TCanvas::TakeHeldPaints() {
  if (!held_) return {};
  std::vector<TGUIObject*> paints;
  paints.swap(HeldPaints()[this]);
  return paints;
}

void TCanvas::Unlock() {
  if (depth_ == 0) return;
  if (--depth_ == 0) {
    if (painter_.isActive()) painter_.end();
    if (view_) view_->update();
  }
}

// ---------------------------------------------------------------- probe

namespace {

// A running hash of 64-bit words.
struct Signature {
  uint64_t value = 0xCBF29CE484222325ull;
  void Add(uint64_t word) {
    value = (value ^ word) * 0x100000001B3ull;
    value ^= value >> 29;
  }
  void Add(double number) {
    uint64_t bits;
    std::memcpy(&bits, &number, sizeof bits);
    Add(bits);
  }
  void Add(const QRectF& r) { Add(r.x()), Add(r.y()), Add(r.width()), Add(r.height()); }
  void Add(const QColor& c) { Add(uint64_t(c.rgba64())); }
  void Add(const QBrush& b) {
    Add(uint64_t(b.style()));
    Add(b.color());
    if (b.style() == Qt::TexturePattern) Add(uint64_t(b.textureImage().cacheKey()));
  }
};

}  // namespace

// Drawing on no pixels: every primitive widens the box and goes into the
// signature. All features are claimed, so the painter hands primitives over
// untransformed and the transform is applied here.
class TDrawingProbe::Engine : public QPaintEngine {
 public:
  Engine() : QPaintEngine(QPaintEngine::AllFeatures) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  Type type() const override { return QPaintEngine::User; }

  // The state is kept whole and goes into the signature with every
  // primitive: a painter reports only what changed since the last object,
  // so the signature of one object must not depend on the one before.
  void updateState(const QPaintEngineState& state) override {
    const DirtyFlags dirty = state.state();
    if (dirty & DirtyPen) pen_ = state.pen();
    if (dirty & DirtyBrush) brush_ = state.brush();
    if (dirty & DirtyBrushOrigin) brushOrigin_ = state.brushOrigin();
    if (dirty & DirtyBackground) background_ = state.backgroundBrush();
    if (dirty & DirtyBackgroundMode) backgroundMode_ = state.backgroundMode();
    if (dirty & DirtyTransform) transform_ = state.transform();
    if (dirty & (DirtyClipRegion | DirtyClipPath | DirtyClipEnabled)) {
      clipEnabled_ = state.isClipEnabled();
      clip_ = QRectF(state.clipRegion().boundingRect()) | state.clipPath().boundingRect();
    }
    if (dirty & DirtyHints) hints_ = state.renderHints();
    if (dirty & DirtyCompositionMode) composition_ = state.compositionMode();
    if (dirty & DirtyOpacity) opacity_ = state.opacity();
    stateHash_ = StateHash();
  }

  void drawPath(const QPainterPath& path) override {
    State(1);
    signature_.Add(uint64_t(path.elementCount()) | uint64_t(path.fillRule()) << 40);
    for (int i = 0; i < path.elementCount(); ++i) {
      const QPainterPath::Element& e = path.elementAt(i);
      signature_.Add(e.x), signature_.Add(e.y), signature_.Add(uint64_t(e.type));
    }
    Stroked(path.controlPointRect());
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
    State(2);
    signature_.Add(uint64_t(count) | uint64_t(mode) << 40);
    Points(points, count);
  }
  void drawPoints(const QPointF* points, int count) override {
    State(3);
    signature_.Add(uint64_t(count));
    Points(points, count);
  }
  void drawLines(const QLineF* lines, int count) override {
    State(4);
    signature_.Add(uint64_t(count));
    for (int i = 0; i < count; ++i) {
      const QPointF ends[2] = {lines[i].p1(), lines[i].p2()};
      Points(ends, 2);
    }
  }
  void drawRects(const QRectF* rects, int count) override {
    State(5);
    signature_.Add(uint64_t(count));
    for (int i = 0; i < count; ++i) signature_.Add(rects[i]), Stroked(rects[i]);
  }
  void drawEllipse(const QRectF& r) override {
    State(6);
    signature_.Add(r);
    Stroked(r);
  }
  void drawPixmap(const QRectF& r, const QPixmap& pixmap, const QRectF& source) override {
    State(7);
    signature_.Add(uint64_t(pixmap.cacheKey()));
    Picture(r, source);
  }
  void drawImage(const QRectF& r, const QImage& image, const QRectF& source, Qt::ImageConversionFlags flags) override {
    State(8);
    signature_.Add(uint64_t(flags));
    signature_.Add(uint64_t(image.cacheKey()));
    Picture(r, source);
  }
  void drawTiledPixmap(const QRectF& r, const QPixmap& pixmap, const QPointF& offset) override {
    State(9);
    signature_.Add(uint64_t(pixmap.cacheKey()));
    signature_.Add(offset.x()), signature_.Add(offset.y());
    Picture(r, r);
  }
  void drawTextItem(const QPointF& at, const QTextItem& item) override {
    State(10);
    signature_.Add(uint64_t(item.renderFlags()));
    signature_.Add(uint64_t(qHash(item.text())));
    const QFont font = item.font();
    signature_.Add(uint64_t(qHash(font.family())));
    signature_.Add(font.pointSizeF());
    signature_.Add(uint64_t(font.pixelSize()) | uint64_t(font.weight()) << 32);
    signature_.Add(at.x()), signature_.Add(at.y());
    // Glyphs may reach past their advance and below the descent a little.
    const qreal margin = 2 + (item.ascent() + item.descent()) / 4;
    Add(QRectF(at.x(), at.y() - item.ascent(), item.width(), item.ascent() + item.descent())
            .adjusted(-margin, -margin, margin, margin));
  }

  void Take(QRect& box, uint64_t& signature) {
    box = any_ ? QRect(QPoint(int(std::floor(left_)), int(std::floor(top_))),
                       QPoint(int(std::ceil(right_)), int(std::ceil(bottom_))))
                     // Anti-aliasing and pixel snapping touch one more pixel around.
                     .adjusted(-2, -2, 2, 2)
               : QRect();
    signature = signature_.value;
    any_ = false;
    signature_ = Signature();
  }

 private:
  // The primitive's kind and everything of the state that shapes its pixels.
  void State(uint64_t kind) {
    signature_.Add(kind);
    signature_.Add(stateHash_);
  }
  uint64_t StateHash() const {
    Signature hash;
    hash.Add(pen_.brush());
    hash.Add(pen_.widthF());
    hash.Add(uint64_t(pen_.style()) | uint64_t(pen_.capStyle()) << 8 | uint64_t(pen_.joinStyle()) << 16 |
             uint64_t(pen_.isCosmetic()) << 32);
    hash.Add(pen_.miterLimit());
    if (pen_.style() == Qt::CustomDashLine)
      for (qreal dash : pen_.dashPattern()) hash.Add(dash);
    hash.Add(brush_);
    hash.Add(brushOrigin_.x()), hash.Add(brushOrigin_.y());
    hash.Add(background_);
    hash.Add(uint64_t(backgroundMode_) | uint64_t(hints_.toInt()) << 8 | uint64_t(composition_) << 24 |
             uint64_t(clipEnabled_) << 40);
    hash.Add(opacity_);
    if (clipEnabled_) hash.Add(clip_);
    if (!transform_.isIdentity()) {
      const QTransform& t = transform_;
      for (qreal v : {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33()}) hash.Add(v);
    }
    return hash.value;
  }
  void Points(const QPointF* points, int count) {
    if (count <= 0) return;
    qreal l = points[0].x(), t = points[0].y(), r = l, b = t;
    for (int i = 0; i < count; ++i) {
      signature_.Add(points[i].x()), signature_.Add(points[i].y());
      l = std::min(l, points[i].x()), r = std::max(r, points[i].x());
      t = std::min(t, points[i].y()), b = std::max(b, points[i].y());
    }
    Stroked(QRectF(QPointF(l, t), QPointF(r, b)));
  }
  // A shape's box with its outline: half the pen each side, and as much
  // again for mitred corners.
  void Stroked(const QRectF& r) {
    const QRectF mapped = transform_.mapRect(r);
    qreal pen = 0;
    if (pen_.style() != Qt::NoPen) {
      const qreal scale = pen_.isCosmetic() ? 1.0 : std::max(std::abs(transform_.m11()), std::abs(transform_.m22()));
      pen = std::max<qreal>(pen_.widthF() * scale, 1.0);
    }
    Grow(mapped.adjusted(-pen, -pen, pen, pen));
  }
  void Picture(const QRectF& r, const QRectF& source) {
    signature_.Add(r), signature_.Add(source);
    Add(r);
  }
  void Add(const QRectF& r) { Grow(transform_.mapRect(r)); }
  void Grow(const QRectF& r) {
    const qreal limit = TCanvas::kMaxSide * 4.0;
    const qreal l = std::clamp(r.left(), -limit, limit), t = std::clamp(r.top(), -limit, limit);
    const qreal rr = std::clamp(r.right(), -limit, limit), b = std::clamp(r.bottom(), -limit, limit);
    if (!any_) {
      left_ = l, top_ = t, right_ = rr, bottom_ = b;
      any_ = true;
      return;
    }
    left_ = std::min(left_, l), top_ = std::min(top_, t);
    right_ = std::max(right_, rr), bottom_ = std::max(bottom_, b);
  }

  Signature signature_;
  QPen pen_;
  QBrush brush_;
  QPointF brushOrigin_;
  QBrush background_;
  Qt::BGMode backgroundMode_ = Qt::TransparentMode;
  QTransform transform_;
  bool clipEnabled_ = false;
  QRectF clip_;
  QPainter::RenderHints hints_;
  QPainter::CompositionMode composition_ = QPainter::CompositionMode_SourceOver;
  qreal opacity_ = 1;
  uint64_t stateHash_ = StateHash();
  bool any_ = false;
  qreal left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
};

TDrawingProbe::TDrawingProbe() : engine_(std::make_unique<Engine>()) {}
TDrawingProbe::~TDrawingProbe() = default;

QPaintEngine* TDrawingProbe::paintEngine() const { return engine_.get(); }

void TDrawingProbe::Take(QRect& box, uint64_t& signature) { engine_->Take(box, signature); }

int TDrawingProbe::metric(PaintDeviceMetric metric) const {
  switch (metric) {
    case PdmWidth:
    case PdmHeight:
      return TCanvas::kMaxSide;
    case PdmWidthMM:
    case PdmHeightMM:
      return TCanvas::kMaxSide * 1000 / kDotsPerMeter;
    case PdmNumColors:
      return INT_MAX;
    case PdmDepth:
      return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
      return 96;
    case PdmDevicePixelRatio:
      return 1;
    case PdmDevicePixelRatioScaled:
      return int(devicePixelRatioFScale());
    default:
      return QPaintDevice::metric(metric);
  }
}
