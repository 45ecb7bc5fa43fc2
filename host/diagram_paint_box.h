#pragma once

#include <QEnterEvent>
#include <QEvent>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPoint>
#include <QWheelEvent>
#include <QWidget>

#include "host/diagram_form.h"

// The board window's paint box: its paint only copies the foreground
// bitmap; pointer events go to the form's handlers. It keeps where the
// pointer rests while it is in the view (on the page, or in the scroll
// box's viewport beside a page smaller than the view), so that a page that
// moves or is placed anew under a still pointer is hovered as a move there
// would hover it.
class DiagramPaintBox : public QWidget {
 public:
  explicit DiagramPaintBox(TDiagramForm* form) : form_(form) { setMouseTracking(true); }

  // The scroll box's viewport: the pointer is in the view from its enter to
  // its leave, and its moves beside a small page are kept too.
  void WatchView(QWidget* viewport) {
    viewport_ = viewport;
    viewport->setMouseTracking(true);
    viewport->installEventFilter(this);
  }

  // The still pointer meets the page as it now lies: a move where it rests
  // when that is on the page, a leave when the page went from under it.
  void FollowPointer() {
    if (!inView_) return;
    const QPoint at = mapFromGlobal(global_);
    if (rect().contains(at)) {
      mouseMove(at);
    } else if (last_ != kNowhere) {
      last_ = kNowhere;
      form_->BlockDiagramPaintBoxMouseLeave();
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    form_->BlockDiagramPaintBoxPaint(painter);
  }
  void mousePressEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    Seen(event->globalPosition());
    // A real pointer moves onto the place before it presses there.
    if (at != last_) mouseMove(at);
    if (event->button() == Qt::LeftButton) clicked_ = true;
    form_->BlockDiagramPaintBoxMouseDown(at.x(), at.y());
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    Seen(event->globalPosition());
    mouseMove(event->position().toPoint());
  }
  // A pointer that comes onto the page (from outside the window, or as what
  // covered the page goes) is a move there: no further move is needed.
  void enterEvent(QEnterEvent* event) override {
    QWidget::enterEvent(event);
    Seen(event->globalPosition());
    mouseMove(event->position().toPoint());
  }
  // However the pointer goes (onto a scroll bar, out of the window), it
  // leaves what it rested on.
  void leaveEvent(QEvent* event) override {
    QWidget::leaveEvent(event);
    last_ = kNowhere;
    form_->BlockDiagramPaintBoxMouseLeave();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    Seen(event->globalPosition());
    // As the old controls did: the click first, then the button-up.
    if (event->button() == Qt::LeftButton && clicked_) {
      clicked_ = false;
      if (rect().contains(at)) form_->BlockDiagramPaintBoxClick();
    }
    form_->BlockDiagramPaintBoxMouseUp(at.x(), at.y());
  }
  // The scroll box takes the wheel and scrolls; the page's move follows.
  void wheelEvent(QWheelEvent* event) override {
    Seen(event->globalPosition());
    QWidget::wheelEvent(event);
  }
  // A scroll moves the paint box in the viewport, under the pointer.
  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    if (inView_) form_->FollowPointer();
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != viewport_) return false;
    switch (event->type()) {
      case QEvent::Enter:
        Seen(static_cast<QEnterEvent*>(event)->globalPosition());
        break;
      case QEvent::MouseMove:
        Seen(static_cast<QMouseEvent*>(event)->globalPosition());
        break;
      case QEvent::Wheel:
        Seen(static_cast<QWheelEvent*>(event)->globalPosition());
        break;
      case QEvent::Leave:
        // Off the view: a page that moves no longer meets the pointer.
        inView_ = false;
        break;
      default:
        break;
    }
    return false;
  }

 private:
  static constexpr QPoint kNowhere{-1, -1};
  void Seen(const QPointF& global) {
    global_ = global.toPoint();
    inView_ = true;
  }
  void mouseMove(const QPoint& at) {
    last_ = at;
    form_->BlockDiagramPaintBoxMouseMove(at.x(), at.y());
  }

  TDiagramForm* form_;
  QWidget* viewport_ = nullptr;
  QPoint last_ = kNowhere;
  bool clicked_ = false;
  // Where on screen the pointer was last seen, while it is in the view.
  QPoint global_;
  bool inView_ = false;
};
