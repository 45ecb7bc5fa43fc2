// How the real controls of a page follow its zoom. A control has the size
// its widget gives it from one pixel per diagram unit up; on a smaller
// scale it shrinks with the diagram, its offsets, font and check mark
// included, so that it keeps to the room the diagram leaves it (a page
// drawn for its controls at that scale shows them as drawn at every zoom).
// Fonts stop shrinking where they can still be read.
#pragma once

#include <QFont>
#include <QWidget>

constexpr float kFullSizeScale = 1.0f;
constexpr int kSmallestControlFontPixels = 7;

// The factor of the controls' sizes at the placement scale `scale`: (0, 1].
float ControlSizeFactor(float scale);
// `pixels` at `factor`, rounded; a size of 1 pixel or more stays one.
int ScaledControlPixels(int pixels, float factor);
// A font of `points` drawn beside a control, at `factor`.
int ScaledControlPoints(int points, float factor);
// Gives `control` its `design` font at `factor` and, for a check box or a
// radio button, a check mark of that size.
void FitControl(QWidget* control, const QFont& design, float factor);
// A check box beside a widget's bottom-right corner (x, y): 10 pixels to its
// right and `below` pixels lower, 16 pixels high and as wide as its caption,
// all at the controls' factor for `scale`, in the application's font. It
// starts under the outlines that run along the corner's row, lit ones
// included, so that it covers none of a neighbour that shares the row.
void PlaceBoxBeside(QWidget* box, float x, float y, int below, float scale);
