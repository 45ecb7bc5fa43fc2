// How the real controls of a page follow its zoom. A control has the size
// its widget gives it from one pixel per diagram unit up; on a smaller
// scale it shrinks with the diagram, its offsets, font and check mark
// included, so that it keeps to the room the diagram leaves it (a page
// drawn for its controls at that scale shows them as drawn at every zoom).
// Fonts stop shrinking where they can still be read.
//
// A page holds hundreds of controls, so a widget fits them (font and style)
// only when its factor changes, and a smaller control gets its check mark
// and thin edit border from a shared style of that size, never from a style
// sheet (matching a sheet costs each control far more than its drawing).
#pragma once

#include <QFont>
#include <QLineEdit>
#include <QString>
#include <QWidget>

constexpr float kFullSizeScale = 1.0f;
constexpr int kSmallestControlFontPixels = 7;

// The factor of the controls' sizes at the placement scale `scale`: (0, 1].
float ControlSizeFactor(float scale);
// `pixels` at `factor`, rounded; a size of 1 pixel or more stays one.
int ScaledControlPixels(int pixels, float factor);
// A font of `points` drawn beside a control, at `factor`.
int ScaledControlPoints(int points, float factor);
// The `design` font of a control at `factor`: the design font as it stands
// at full size, else its pixel size scaled, down to the smallest.
QFont ScaledControlFont(const QFont& design, float factor);
// Gives `control` its `font` (made by ScaledControlFont for `factor`) and
// the style of `factor`: below full size a check box's or radio button's
// mark of that size, and an edit's thin border without padding; the
// application's style at full size.
void FitControl(QWidget* control, const QFont& font, float factor);

// The width `edit` needs to show `text` whole in its font and style: the
// text, the cursor's room after it, the edit's margins and its frame. A
// narrower edit scrolls the text's start out of sight.
int EditWidthFor(const QLineEdit* edit, const QString& text);

// The factor a widget last fitted its controls to.
class TControlFit {
 public:
  // Whether the controls need fitting at `factor` (always the first time);
  // from then on they count as fitted to it.
  bool Refit(float factor) {
    if (fitted && factor == this->factor) return false;
    fitted = true;
    this->factor = factor;
    return true;
  }

 private:
  bool fitted = false;
  float factor = 1;
};

// A check box beside a widget's bottom-right corner (x, y): 10 pixels to its
// right and `below` pixels lower, 16 pixels high and as wide as its caption,
// all at the controls' factor for `scale`, in the application's font. It
// starts under the outlines that run along the corner's row, lit ones
// included, so that it covers none of a neighbour that shares the row.
// `fit` is the box's own.
void PlaceBoxBeside(QWidget* box, float x, float y, int below, float scale, TControlFit& fit);
