// The text fit of a window: every label, button, check box, radio button,
// group box title and grid header or cell shows its whole text inside its
// rectangle (the control's own font against its contents rectangle, the
// style's indicator and margins taken off), inside every ancestor, and not
// under a sibling or over another sibling's text.
#pragma once

#include <QRect>
#include <QString>
#include <string>
#include <vector>

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
// The faults of the board window's current page: its real Qt controls as
// above, and every text object of the page, which must be seen where it is
// drawn: inside the bitmap, not painted over by a later object and not
// under a control.
std::vector<TextFault> PageTextFaults(TDiagramForm* form);

std::string Describe(const std::vector<TextFault>& faults);

}  // namespace hosttest
