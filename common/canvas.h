// The drawing surface of a diagram: a stable object that owns the target
// image and knows the widget that shows it. Objects paint at any time (the
// window's paint, the fade timer, register refreshes, the plug-in), which a
// QPainter on a widget cannot do outside its paint event; so all drawing
// goes into the image, and the widget's paint only copies it.
#pragma once

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/colour.h"
#include "common/export.h"

class TGUIObject;

class COMMON_API TCanvas {
 public:
  // Beyond these the image is not grown: a page size or zoom from a file
  // must not make the window allocate gigabytes.
  static constexpr int kMaxSide = 16384;
  static constexpr qint64 kMaxPixels = 32ll * 1024 * 1024;

  explicit TCanvas(QWidget* view = nullptr);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // The widget updated after each outermost Unlock (may be none).
  void SetView(QWidget* view);
  QWidget* View() const { return view_.data(); }

  // Replaces the image by one of the given size filled with `background`;
  // the canvas stays the same object. False when the size had to be cut to
  // the limits above (it is cut, keeping the aspect roughly) or the canvas
  // is locked (nothing changes then). The canvas keeps its memory for the
  // next size that fits in it, unless a copy of its image still uses it.
  bool SetSize(int width, int height, TColor background);
  // The same without the fill, for a caller that draws every pixel before
  // the image is shown: what the memory held stays.
  bool Resize(int width, int height);
  // Lets go of the image and its memory (a large scratch image not kept).
  void Release();
  // Adopts an image (a zoom that built its bitmap elsewhere). False while locked.
  bool SetImage(const QImage& image);
  const QImage& Image() const { return image_; }
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  // The colour of one pixel as a TColor (for tests and pickers).
  TColor PixelColour(int x, int y) const;

  // Copies `rect` of `source`, an image of the same size, into this
  // image's own pixels: no new buffer, no copy of a shared one. False when
  // the sizes differ or this canvas is locked.
  bool CopyFrom(const TCanvas& source, const QRect& rect);
  // The same from an image of any size: `rect` of `source` to `at` here
  // (what lies outside either image is left out).
  bool CopyFrom(const TCanvas& source, const QRect& rect, const QPoint& at);

  // Begins the one shared painter on the image; nested locks reuse it.
  QPainter& Lock();
  // The same on another device (a window measures where objects draw).
  QPainter& LockOn(QPaintDevice& device);
  // Ends the painter at the outermost lock and schedules the view's update.
  void Unlock();
  bool Locked() const { return depth_ > 0; }
  QPainter& Painter() { return painter_; }

  // While held, an object that paints here is noted instead of drawn, so
  // that a window notifying many objects draws once what changed.
  void Hold(bool hold);
  bool Held() const { return held_; }
  void NoteHeldPaint(TGUIObject* object);
  // The objects that painted since the hold began (in order, an object as
  // often as it painted); the list starts again empty.
  std::vector<TGUIObject*> TakeHeldPaints();

 private:
  QImage image_;
  QPainter painter_;
  int depth_ = 0;
  // In the padding after `depth_`: the layout the plug-in shares stays.
  bool held_ = false;
  QPointer<QWidget> view_;
};

// A paint device that draws nothing: it keeps the box of all that is drawn
// on it (pen widths, text and images included) and a signature of how it
// was drawn (every primitive, pen, brush, font and image), so a window can
// tell where an object draws and whether its drawing changed.
class COMMON_API TDrawingProbe : public QPaintDevice {
 public:
  TDrawingProbe();
  ~TDrawingProbe() override;
  TDrawingProbe(const TDrawingProbe&) = delete;
  TDrawingProbe& operator=(const TDrawingProbe&) = delete;

  QPaintEngine* paintEngine() const override;
  // The device pixels drawn on and the signature since the last Take (an
  // empty box when nothing was drawn); both start again.
  void Take(QRect& box, uint64_t& signature);

 protected:
  int metric(PaintDeviceMetric metric) const override;

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
};

// Holds the canvas lock for a scope.
class TCanvasLock {
 public:
  explicit TCanvasLock(TCanvas& canvas) : canvas_(canvas), painter_(canvas.Lock()) {}
  ~TCanvasLock() { canvas_.Unlock(); }
  TCanvasLock(const TCanvasLock&) = delete;
  TCanvasLock& operator=(const TCanvasLock&) = delete;
  QPainter& Painter() { return painter_; }

 private:
  TCanvas& canvas_;
  QPainter& painter_;
};
