// Every modal interaction of the host goes through this interface, so tests
// can answer it without a blocking dialog.
#pragma once

#include <string>

class QDialog;
class QWidget;

class IDialogs {
 public:
  virtual ~IDialogs() = default;

  // A message box with an OK button and the information icon: a result to
  // take note of.
  virtual void Message(QWidget* parent, const std::string& caption, const std::string& text) = 0;
  // The same with the warning icon: a failure, or input that is refused. A
  // replacement that answers only Message takes these too.
  virtual void Warning(QWidget* parent, const std::string& caption, const std::string& text);
  // Shows a form modally; its modal result (QDialog::Accepted or Rejected).
  virtual int RunModal(QDialog* dialog) = 0;
  // A file name to open or save, "" when cancelled. `filter` is in the
  // original "Description|*.ext" form; `initial` is the name proposed.
  virtual std::string OpenFile(QWidget* parent, const std::string& caption, const std::string& filter) = 0;
  virtual std::string SaveFile(QWidget* parent, const std::string& caption, const std::string& filter,
                               const std::string& initial = "") = 0;
  // A warning box with OK and Cancel: true on OK.
  virtual bool Confirm(QWidget* parent, const std::string& caption, const std::string& text);
  // A one-line text prompt; false when cancelled, `value` unchanged then.
  virtual bool InputQuery(QWidget* parent, const std::string& caption, const std::string& prompt,
                          std::string& value) = 0;
};

// The dialogs in use: real Qt dialogs unless a replacement was set.
IDialogs& Dialogs();
// Replaces them (not owned); nullptr restores the real ones.
void SetDialogs(IDialogs* dialogs);

// "Text files (*.txt)|*.txt|All (*.*)|*.*" in Qt's form "Text files (*.txt);;All (*.*)".
std::string QtFileFilter(const std::string& filter);
