// Numeric entry fields of the plug-in's dialogs: they take effect on Enter
// or on leaving the field, and a text that does not convert keeps the
// previous value.
#pragma once

#include <QLineEdit>
#include <QString>

#include <initializer_list>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;

namespace codecedit {

// A decimal integer (blanks around it allowed); false when the text is none.
bool ParseInt(const QString& text, int& value);
// The integer an edit shows, or `fallback` when it shows none.
int IntOf(const QLineEdit* edit, int fallback);
void Show(QLineEdit* edit, long long value);
// A clamped edit: the text bounded to [low, high] (the field's value when it
// does not convert) is shown; true, with the field taking it, when it
// differs from the field.
bool Clamped(QLineEdit* edit, int low, int high, int& field);
// Calls `handler` when the edit's entry ends (Enter or leaving it).
template <class F>
void OnExit(QLineEdit* edit, F handler) {
  QObject::connect(edit, &QLineEdit::editingFinished, edit, handler);
}

// A form that is being destroyed: its controls' signals (an edit that loses
// the focus ends its entry) must not reach the half-destroyed form.
void Quiet(QWidget* form);

// Controls of the dialogs, placed as their form definitions place them.
QLineEdit* Edit(QWidget* parent, const char* name, const char* text, int x, int y, int w = 40);
QLabel* Label(QWidget* parent, const char* text, int x, int y, int w = 80, const char* name = nullptr);
QCheckBox* Check(QWidget* parent, const char* name, const char* text, int x, int y, int w = 60);
QGroupBox* Group(QWidget* parent, const char* name, const char* title, int x, int y, int w, int h);
QComboBox* Combo(QWidget* parent, const char* name, std::initializer_list<const char*> items, int x, int y, int w);

}  // namespace codecedit
