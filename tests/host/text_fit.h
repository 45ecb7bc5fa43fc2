// The text fit of a window: every label, button, check box, radio button,
// group box title and grid header or cell shows its whole text inside its
// rectangle (the control's own font against its contents rectangle, the
// style's indicator and margins taken off), inside every ancestor, and not
// under a sibling or over another sibling's text; nor does it touch them,
// or the frame of a group it is in: a pixel stays free between. No control
// lies over a group it is not in, nor partly out of the frame of its own.
// A control of the program's own class (a plot) keeps the texts it paints
// inside it, apart, and clear of the frames it paints.
#pragma once

#include <QRect>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QPaintDevice;
class QWidget;
class TDiagramForm;

namespace hosttest {

struct TextFault {
  std::string where;  // the control's object path in its window
  std::string text;   // the text that does not fit
  std::string why;
};

// Every fault of the visible controls of `window` (shown, with its layout done).
std::vector<TextFault> TextFaults(QWidget* window);
// The same for the texts that `paint` paints for `control` in a box of
// `size` (a plot drawn into a bitmap that the control then shows).
std::vector<TextFault> PaintedTextFaults(const QWidget* control, QSize size,
                                         const std::function<void(QPaintDevice&)>& paint);
// The faults of the board window's current page: its real Qt controls as
// above, and every text object of the page, which must be seen where it is
// drawn: inside the bitmap, not painted over by a later object and not
// under a control.
std::vector<TextFault> PageTextFaults(TDiagramForm* form);
// The faults of the current page's gain edits, each showing the widest
// gain of its range (then its own gain again). Edits, like labels, show
// their whole text: one whose text and cursor do not fit scrolls its start
// out of sight.
std::vector<TextFault> WidestEditFaults(TDiagramForm* form);

std::string Describe(const std::vector<TextFault>& faults);

}  // namespace hosttest
