#include "common/page_drawing.h"

#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "common/gui_object.h"
#include "common/shapes.h"

namespace {

// Objects whose drawing follows from their fields alone: their place and
// signature are computed; every other object (widgets, groups) is painted
// on the probe to learn them.
enum : int { kProbed, kPointShape, kRectangle, kText, kPath };

int KindOf(const TGUIObject& object) {
  const std::type_info& type = typeid(object);
  if (type == typeid(TGUILine) || type == typeid(TGUITriangle) || type == typeid(TGUIEllipse) ||
      type == typeid(TGUIPolygon))
    return kPointShape;
  if (type == typeid(TGUIRectangle)) return kRectangle;
  if (type == typeid(TGUIText)) return kText;
  if (type == typeid(TSVGPath)) return kPath;
  return kProbed;
}

uint64_t Fold(uint64_t hash, uint64_t word) {
  for (int i = 0; i < 8; ++i, word >>= 8) hash = (hash ^ (word & 0xFF)) * 0x100000001B3ull;
  return hash;
}

uint64_t Fold(uint64_t hash, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return Fold(hash, uint64_t(bits));
}

QRect Grown(const QRectF& box, int margin) { return box.normalized().toAlignedRect().adjusted(-margin, -margin, margin, margin); }

// Where a shape of the base classes draws and a signature of its drawing,
// from what Paint and the shape's Draw use.
void MeasureShape(const TGUIObject& object, int kind, QRect& extent, uint64_t& signature) {
  extent = QRect();
  uint64_t hash = Fold(0xCBF29CE484222325ull, uint64_t(kind));
  if (!object.IsVisible()) {
    signature = hash;
    return;
  }
  const bool fading = object.GetFadeState() != kFadeIdle;
  const int width = fading ? object.GetHighlightWidth() : object.GetCurrentWidth();
  const TColor colour =
      fading ? Lerp(object.GetBackgroundColour(), object.GetHighlightColour(), float(object.GetFadeStep()) * 0.1f)
             : object.GetCurrentColour();
  hash = Fold(hash, uint64_t(uint32_t(width)) | uint64_t(colour) << 32);
  const bool filled = object.GetFillMode() == 2;
  hash = Fold(hash, uint64_t(filled) | (filled ? uint64_t(object.GetFillColour()) << 8 : 0));
  // The pen on both sides (a mitred corner reaches as far again) and the
  // pixels anti-aliasing and rounding touch.
  const int margin = std::clamp(width, 1, TCanvas::kMaxSide) + 3;
  switch (kind) {
    case kPointShape:
    case kRectangle: {
      const unsigned count = kind == kRectangle ? 2u : std::min(object.GetPointCount(), TGUIObject::kMaxPoints);
      if (count == 0) break;
      const TPointF first = object.GetPlacedPoint(0);
      float left = first.x, top = first.y, right = first.x, bottom = first.y;
      for (unsigned i = 0; i < object.GetPointCount() && i < TGUIObject::kMaxPoints; ++i) {
        const TPointF p = object.GetPlacedPoint(i);
        hash = Fold(Fold(hash, p.x), p.y);
        if (i >= count) continue;
        left = std::min(left, p.x), right = std::max(right, p.x);
        top = std::min(top, p.y), bottom = std::max(bottom, p.y);
      }
      QRectF box(QPointF(left, top), QPointF(right, bottom));
      if (kind == kRectangle) {
        // The corner arcs' boxes, as the rectangle's Draw places them: radii
        // past half the sides reach beyond the corners.
        const TPointF a = object.GetPlacedPoint(0), b = object.GetPlacedPoint(1), radii = object.GetPlacedPoint(2);
        const int w = int(b.x - a.x + 2), h = int(b.y - a.y + 2);
        const int rx = int(radii.x) ? int(radii.x) : 1, ry = int(radii.y) ? int(radii.y) : 1;
        const QRectF arc(int(a.x), int(a.y), 2 * rx, 2 * ry);
        const QPointF across(w - 2 * rx - 1, 0), down(0, h - 2 * ry - 1);
        box |= arc.normalized() | arc.translated(across).normalized() |
               arc.translated(across + down).normalized() | arc.translated(down).normalized();
      }
      extent = Grown(box, margin);
      break;
    }
    case kText: {
      const auto& text = static_cast<const TGUIText&>(object);
      const TPointF at = text.GetPlacedPosition();
      hash = Fold(Fold(Fold(hash, at.x), at.y), uint64_t(uint32_t(text.GetPlacedFontSize())));
      if (text.GetTextWidth() <= 0 || text.GetTextHeight() <= 0) break;
      // Glyphs may reach a little past their advance and line height.
      const int overhang = 3 + std::clamp(text.GetPlacedFontSize(), 0, TCanvas::kMaxSide) / 2;
      const QRectF block(at.x - text.GetTextWidth() / 2, at.y + text.GetTextTop(), text.GetTextWidth(),
                         text.GetTextHeight());
      extent = Grown(block, overhang);
      break;
    }
    case kPath: {
      const QPainterPath& outline = static_cast<const TSVGPath&>(object).GetOutline();
      if (outline.isEmpty()) break;
      const QRectF box = outline.controlPointRect();
      hash = Fold(Fold(Fold(Fold(hash, float(box.x())), float(box.y())), float(box.width())), float(box.height()));
      hash = Fold(hash, uint64_t(outline.elementCount()));
      extent = Grown(box, margin);
      break;
    }
    default:
      break;
  }
  signature = hash;
}

// The part of a filled rectangle that its fill alone colours: inside its
// corner arcs and its pen. Empty for anything else.
QRect SolidInterior(const TGUIObject& object, int kind) {
  if (kind != kRectangle || !object.IsVisible()) return QRect();
  const TPointF a = object.GetPlacedPoint(0), b = object.GetPlacedPoint(1), radii = object.GetPlacedPoint(2);
  const int w = int(b.x - a.x + 2), h = int(b.y - a.y + 2);
  const int rx = std::abs(int(radii.x)), ry = std::abs(int(radii.y));
  const int width = object.GetFadeState() != kFadeIdle ? object.GetHighlightWidth() : object.GetCurrentWidth();
  const int inset = std::max(std::max(rx, ry), 1) + std::clamp(width, 1, TCanvas::kMaxSide) + 3;
  if (w <= 2 * inset || h <= 2 * inset) return QRect();
  return QRect(int(a.x), int(a.y), w, h).adjusted(inset, inset, -inset, -inset);
}

// Locks the probe canvas on the probe for a scope (nested scopes share it).
class ProbeLock {
 public:
  ProbeLock(TCanvas& canvas, TDrawingProbe& probe) : canvas_(canvas) { canvas_.LockOn(probe); }
  ~ProbeLock() { canvas_.Unlock(); }
  ProbeLock(const ProbeLock&) = delete;
  ProbeLock& operator=(const ProbeLock&) = delete;

 private:
  TCanvas& canvas_;
};

}  // namespace

TPageDrawing::TPageDrawing() = default;

TPageDrawing::~TPageDrawing() {
  if (inPass_ && foreground_) foreground_->Hold(false);
}

void TPageDrawing::SetCanvases(TCanvas* foreground, TCanvas* background, TColor colour) {
  if (inPass_ && foreground_ && foreground_ != foreground) {
    foreground_->Hold(false);
    if (foreground) foreground->Hold(true);
  }
  foreground_ = foreground;
  background_ = background;
  colour_ = colour;
  backgroundDrawn_ = foregroundDrawn_ = false;
  backgroundLate_ = true;
  whole_ = whole_ || inPass_;
}

void TPageDrawing::SetObjects(TGUIObject* const* objects, unsigned count) {
  entries_.clear();
  index_.clear();
  for (unsigned i = 0; objects && i < count; ++i) {
    TEntry entry;
    entry.object = objects[i];
    entry.kind = objects[i] ? KindOf(*objects[i]) : kProbed;
    entry.group = dynamic_cast<const TGUIGroup*>(objects[i]);
    entries_.push_back(entry);
    // A group's objects paint and report as themselves: they lead to it.
    std::vector<TGUIObject*> pending = {objects[i]};
    while (!pending.empty()) {
      TGUIObject* object = pending.back();
      pending.pop_back();
      if (!object) continue;
      index_.emplace(object, i);
      if (auto* group = dynamic_cast<TGUIGroup*>(object))
        for (unsigned c = 0; c < group->GetChildCount(); ++c) pending.push_back(group->GetChild(c));
    }
  }
  marked_.assign(entries_.size(), 0);
  backgroundDrawn_ = foregroundDrawn_ = false;
  whole_ = whole_ || inPass_;
}

TPageDrawing::TState TPageDrawing::StateOf(const TGUIObject& object, const TGUIGroup* group) {
  TState state;
  state.mode = object.GetMode();
  state.colour = object.GetCurrentColour();
  state.width = object.GetCurrentWidth();
  state.fadeState = object.GetFadeState();
  state.fadeStep = object.GetFadeStep();
  state.fillMode = object.GetFillMode();
  state.fillColour = object.GetFillColour();
  state.visible = object.IsVisible();
  state.on = object.IsOn();
  state.enabled = object.IsEnabled();
  if (group) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned i = 0; i < group->GetChildCount(); ++i) {
      const TGUIObject* child = group->GetChild(i);
      if (!child) continue;
      const TState inner = StateOf(*child, dynamic_cast<const TGUIGroup*>(child));
      hash = Fold(hash, uint64_t(uint32_t(inner.mode)) | uint64_t(inner.colour) << 32);
      hash = Fold(hash, uint64_t(uint32_t(inner.width)) | uint64_t(uint32_t(inner.fadeState)) << 32);
      hash = Fold(hash, uint64_t(uint32_t(inner.fadeStep)) | uint64_t(uint32_t(inner.fillMode)) << 32);
      hash = Fold(hash, uint64_t(inner.fillColour) | uint64_t(inner.visible) << 32 | uint64_t(inner.on) << 33 |
                            uint64_t(inner.enabled) << 34);
      hash = Fold(hash, inner.children);
    }
    state.children = hash;
  }
  return state;
}

void TPageDrawing::Measure(const TEntry& entry, QRect& extent, uint64_t& signature) {
  if (entry.kind != kProbed) {
    MeasureShape(*entry.object, entry.kind, extent, signature);
    return;
  }
  ProbeLock lock(probeCanvas_, probe_);
  probe_.Take(extent, signature);  // nothing of an earlier object stays
  entry.object->PaintAside(&probeCanvas_);
  probe_.Take(extent, signature);
}

void TPageDrawing::Record(TEntry& entry) {
  entry.state = StateOf(*entry.object, entry.group);
  entry.background = entry.state.mode == 0;
  Measure(entry, entry.extent, entry.signature);
  entry.drawn = true;
}

void TPageDrawing::PaintLayer(bool background) {
  TCanvasLock lock(*foreground_);
  QPainter& painter = lock.Painter();
  if (!painter.isActive()) return;
  ProbeLock probe(probeCanvas_, probe_);
  if (background) painter.fillRect(foreground_->Image().rect(), PenColour(colour_));
  for (TEntry& entry : entries_) {
    if (!entry.object || (entry.object->GetMode() == 0) != background) continue;
    entry.object->Paint(foreground_);
    Record(entry);
  }
}

bool TPageDrawing::MakeBackground() {
  const QSize size = foreground_->Image().size();
  if (background_->Image().size() != size) background_->Resize(size.width(), size.height());
  if (background_->Image().size() != size) return false;
  {
    TCanvasLock lock(*background_);
    QPainter& painter = lock.Painter();
    if (!painter.isActive()) return false;
    painter.fillRect(background_->Image().rect(), PenColour(colour_));
    // Their later paints still go to the foreground.
    for (TEntry& entry : entries_)
      if (entry.object && entry.object->GetMode() == 0) entry.object->PaintAside(background_);
  }
  backgroundDrawn_ = true;
  backgroundLate_ = false;
  return true;
}

bool TPageDrawing::DrawRegion(bool background, const QRegion& region) {
  if (region.isEmpty()) return true;
  // Behind the last object of the layer whose fill alone covers the whole
  // region nothing shows there: drawing starts from its colour.
  const QRect bounds = region.boundingRect();
  size_t first = 0;
  const TEntry* cover = nullptr;
  for (size_t i = entries_.size(); i-- > 0;) {
    const TEntry& entry = entries_[i];
    if (!entry.object || entry.background != background || entry.object->GetFillMode() != 2) continue;
    if (SolidInterior(*entry.object, entry.kind).contains(bounds)) {
      cover = &entry;
      first = i + 1;
      break;
    }
  }
  // Objects are drawn whole, on a bitmap holding all of each: a clip or
  // the bitmap's edge through a stroke moves its anti-aliased pixels.
  QRect box = bounds;
  std::vector<TEntry*> reaching;
  for (size_t i = first; i < entries_.size(); ++i) {
    TEntry& entry = entries_[i];
    if (!entry.object || entry.background != background || !region.intersects(entry.extent)) continue;
    // An outline alone does not reach what lies inside it.
    if (entry.kind == kRectangle && entry.object->GetFillMode() != 2) {
      const QRect inside = SolidInterior(*entry.object, entry.kind);
      if (!inside.isEmpty() && (region & entry.extent).subtracted(QRegion(inside)).isEmpty()) continue;
    }
    reaching.push_back(&entry);
    box |= entry.extent;
  }
  const QRect page = foreground_->Image().rect();
  box &= page;
  if (qint64(box.width()) * box.height() * 3 > qint64(page.width()) * page.height()) return false;
  // The foreground's objects lie on the background, the background's on
  // the page colour, either on a cover's fill.
  if (cover) {
    scratch_.Resize(box.width(), box.height());
    TCanvasLock lock(scratch_);
    lock.Painter().fillRect(scratch_.Image().rect(), FillColour(cover->object->GetFillColour()));
  } else if (!background) {
    scratch_.Resize(box.width(), box.height());
    scratch_.CopyFrom(*background_, box, QPoint(0, 0));
  } else {
    scratch_.SetSize(box.width(), box.height(), colour_);
  }
  {
    TCanvasLock lock(scratch_);
    // Whole pixels: the objects' coordinates move without rounding.
    lock.Painter().translate(-box.topLeft());
    for (TEntry* entry : reaching) entry->object->PaintAside(&scratch_);
  }
  TCanvas* target = background ? background_ : foreground_;
  for (const QRect& r : region) target->CopyFrom(scratch_, r.translated(-box.topLeft()), r.topLeft());
  // A large bitmap is not kept for the next pass.
  if (qint64(box.width()) * box.height() > 256 * 256) scratch_.Release();
  return true;
}

void TPageDrawing::Redraw() {
  if (inPass_) {
    whole_ = true;
    return;
  }
  if (!foreground_ || !background_) return;
  PaintLayer(true);
  // The background is not shown: after new bitmaps it waits until it is
  // first needed (a zoom touches the foreground's memory alone); later it
  // takes a copy of the layer just drawn.
  backgroundDrawn_ = !backgroundLate_ && background_->CopyFrom(*foreground_, foreground_->Image().rect());
  PaintLayer(false);
  foregroundDrawn_ = true;
  ++wholeForegroundDraws_;
}

void TPageDrawing::DrawBackground() {
  if (inPass_) {
    whole_ = true;
    return;
  }
  if (!foreground_ || !background_) return;
  PaintLayer(true);
  const QSize size = foreground_->Image().size();
  if (background_->Image().size() != size) background_->Resize(size.width(), size.height());
  if (!background_->CopyFrom(*foreground_, foreground_->Image().rect())) background_->SetImage(foreground_->Image());
  backgroundDrawn_ = true;
  backgroundLate_ = false;
  foregroundDrawn_ = false;
}

void TPageDrawing::DrawForeground() {
  if (inPass_) {
    whole_ = true;
    return;
  }
  if (!foreground_ || !background_) return;
  // An object is drawing on it: that paint ends first.
  if (foreground_->Locked()) return;
  if (!backgroundDrawn_) {
    if (!foregroundDrawn_ || !MakeBackground()) {
      Redraw();
      return;
    }
  }
  if (!foreground_->CopyFrom(*background_, background_->Image().rect()) && !foreground_->SetImage(background_->Image()))
    return;
  PaintLayer(false);
  foregroundDrawn_ = true;
  ++wholeForegroundDraws_;
}

void TPageDrawing::BeginPass() {
  if (inPass_ || !foreground_) return;
  inPass_ = true;
  whole_ = false;
  marked_.assign(entries_.size(), 0);
  foreground_->Hold(true);
}

bool TPageDrawing::Mark(TGUIObject* object) {
  const auto found = index_.find(object);
  if (found == index_.end()) return false;
  marked_[found->second] = 1;
  return true;
}

void TPageDrawing::NoteChange(TGUIObject* object) {
  if (inPass_ && !Mark(object)) whole_ = true;
}

bool TPageDrawing::EndPass(bool whole) {
  if (!inPass_) return false;
  inPass_ = false;
  const std::vector<TGUIObject*> painted = foreground_->TakeHeldPaints();
  foreground_->Hold(false);
  lastChanges_ = 0;
  // An object that is not on the page painted: nothing tells where.
  bool all = whole || whole_ || !foregroundDrawn_ || !background_;
  for (TGUIObject* object : painted)
    if (!all && !Mark(object)) all = true;
  if (all) {
    Redraw();
    lastPass_ = TPass::kWhole;
    return foreground_ && background_;
  }
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!marked_[i] && entries_[i].object && StateOf(*entries_[i].object, entries_[i].group) != entries_[i].state)
      marked_[i] = 1;

  QRegion back, front;
  std::vector<std::pair<size_t, TEntry>> changes;
  {
    ProbeLock probe(probeCanvas_, probe_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!marked_[i] || !entries_[i].object) continue;
      TEntry& drawn = entries_[i];
      TEntry now = drawn;
      now.state = StateOf(*now.object, now.group);
      now.background = now.state.mode == 0;
      Measure(now, now.extent, now.signature);
      if (now.signature == drawn.signature && now.background == drawn.background) {
        drawn.state = now.state;
        continue;
      }
      (drawn.background ? back : front) += drawn.extent;
      (now.background ? back : front) += now.extent;
      changes.emplace_back(i, now);
    }
  }
  if (changes.empty()) {
    lastPass_ = TPass::kNothing;
    return false;
  }
  // Inside an object's paint nothing can be copied in: the next pass
  // draws the whole page.
  if (foreground_->Locked() || background_->Locked()) {
    backgroundDrawn_ = foregroundDrawn_ = false;
    lastPass_ = TPass::kNothing;
    return false;
  }
  // A background not drawn since new bitmaps is drawn now, as it is.
  if (!backgroundDrawn_ && !MakeBackground()) {
    Redraw();
    lastPass_ = TPass::kWhole;
    return true;
  }
  const QRect page = foreground_->Image().rect();
  back &= page;
  front = (front & page) | back;
  for (auto& [i, now] : changes) entries_[i] = now;
  // The background first: the foreground's objects lie on it.
  if ((!back.isEmpty() && !DrawRegion(true, back)) || !DrawRegion(false, front)) {
    Redraw();
    lastPass_ = TPass::kWhole;
    return true;
  }
  lastPass_ = TPass::kChanged;
  lastChanges_ = unsigned(changes.size());
  return true;
}
