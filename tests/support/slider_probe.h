// A track bar as the user sees and turns it: where its style draws the
// handle, and one notch of the mouse wheel over it.
#pragma once

#include <QApplication>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

namespace testsupport {

// The handle's rectangle for the bar's state, with the style option the bar
// builds for painting (a vertical bar's default is drawn upside down).
inline QRect SliderHandle(const QSlider* s) {
  QStyleOptionSlider o;
  o.initFrom(s);
  o.subControls = QStyle::SC_None;
  o.activeSubControls = QStyle::SC_None;
  o.orientation = s->orientation();
  o.minimum = s->minimum();
  o.maximum = s->maximum();
  o.tickPosition = s->tickPosition();
  o.tickInterval = s->tickInterval();
  o.upsideDown = s->orientation() == Qt::Horizontal ? s->invertedAppearance() : !s->invertedAppearance();
  o.direction = Qt::LeftToRight;
  o.sliderPosition = s->sliderPosition();
  o.sliderValue = s->value();
  o.singleStep = s->singleStep();
  o.pageStep = s->pageStep();
  return s->style()->subControlRect(QStyle::CC_Slider, &o, QStyle::SC_SliderHandle, s);
}

// One wheel notch over the bar's middle: up for a positive `notches`.
inline void WheelNotch(QSlider* s, int notches = 1) {
  const QPointF at(s->width() / 2.0, s->height() / 2.0);
  QWheelEvent event(at, s->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(s, &event);
}

}  // namespace testsupport
