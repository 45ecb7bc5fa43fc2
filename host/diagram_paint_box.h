#pragma once

#include <QMouseEvent>
#include <QPainter>
#include <QPoint>
#include <QWidget>

#include "host/diagram_form.h"

// The board window's paint box: its paint only copies the foreground
// bitmap; pointer events go to the form's handlers.
class DiagramPaintBox : public QWidget {
 public:
  explicit DiagramPaintBox(TDiagramForm* form) : form_(form) { setMouseTracking(true); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    form_->BlockDiagramPaintBoxPaint(painter);
  }
  void mousePressEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    // A real pointer moves onto the place before it presses there.
    if (at != last_) mouseMove(at);
    if (event->button() == Qt::LeftButton) clicked_ = true;
    form_->BlockDiagramPaintBoxMouseDown(at.x(), at.y());
  }
  void mouseMoveEvent(QMouseEvent* event) override { mouseMove(event->position().toPoint()); }
  // However the pointer goes (onto a scroll bar, out of the window), it
  // leaves what it rested on.
  void leaveEvent(QEvent* event) override {
    QWidget::leaveEvent(event);
    last_ = {-1, -1};
    form_->BlockDiagramPaintBoxMouseLeave();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    // As the old controls did: the click first, then the button-up.
    if (event->button() == Qt::LeftButton && clicked_) {
      clicked_ = false;
      if (rect().contains(at)) form_->BlockDiagramPaintBoxClick();
    }
    form_->BlockDiagramPaintBoxMouseUp(at.x(), at.y());
  }

 private:
  void mouseMove(const QPoint& at) {
    last_ = at;
    form_->BlockDiagramPaintBoxMouseMove(at.x(), at.y());
  }

  TDiagramForm* form_;
  QPoint last_{-1, -1};
  bool clicked_ = false;
};
