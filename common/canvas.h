// The drawing surface of a diagram: a stable object that owns the target
// image and knows the widget that shows it. Objects paint at any time (the
// window's paint, the fade timer, register refreshes, the plug-in), which a
// QPainter on a widget cannot do outside its paint event; so all drawing
// goes into the image, and the widget's paint only copies it.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include "common/colour.h"
#include "common/export.h"

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
  // is locked (nothing changes then).
  bool SetSize(int width, int height, TColor background);
  // Adopts an image (a zoom that built its bitmap elsewhere). False while locked.
  bool SetImage(const QImage& image);
  const QImage& Image() const { return image_; }
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  // The colour of one pixel as a TColor (for tests and pickers).
  TColor PixelColour(int x, int y) const;

  // Begins the one shared painter on the image; nested locks reuse it.
  QPainter& Lock();
  // Ends the painter at the outermost lock and schedules the view's update.
  void Unlock();
  bool Locked() const { return depth_ > 0; }
  QPainter& Painter() { return painter_; }

 private:
  QImage image_;
  QPainter painter_;
  int depth_ = 0;
  QPointer<QWidget> view_;
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
