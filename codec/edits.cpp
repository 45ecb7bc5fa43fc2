#include "codec/edits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include <algorithm>
#include <charconv>
#include <string>

namespace codecedit {

bool ParseInt(const QString& text, int& value) {
  const std::string s = text.trimmed().toStdString();
  if (s.empty()) return false;
  const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
  int parsed = 0;
  const auto [end, error] = std::from_chars(begin, s.data() + s.size(), parsed);
  if (error != std::errc() || end != s.data() + s.size() || begin == end) return false;
  value = parsed;
  return true;
}

int IntOf(const QLineEdit* edit, int fallback) {
  int value = fallback;
  return edit && ParseInt(edit->text(), value) ? value : fallback;
}

void Show(QLineEdit* edit, long long value) { edit->setText(QString::number(value)); }

bool Clamped(QLineEdit* edit, int low, int high, int& field) {
  int value = field;
  if (ParseInt(edit->text(), value)) value = std::clamp(value, low, high);
  Show(edit, value);
  if (value == field) return false;
  field = value;
  return true;
}

void Quiet(QWidget* form) {
  for (QWidget* child : form->findChildren<QWidget*>()) child->blockSignals(true);
}

QLineEdit* Edit(QWidget* parent, const char* name, const char* text, int x, int y, int w) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  edit->setGeometry(x, y, w, 22);
  return edit;
}

QLabel* Label(QWidget* parent, const char* text, int x, int y, int w, const char* name) {
  auto* label = new QLabel(text, parent);
  if (name) label->setObjectName(name);
  label->setGeometry(x, y, w, 20);
  return label;
}

QCheckBox* Check(QWidget* parent, const char* name, const char* text, int x, int y, int w) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  box->setGeometry(x, y, w, 20);
  return box;
}

QGroupBox* Group(QWidget* parent, const char* name, const char* title, int x, int y, int w, int h) {
  auto* group = new QGroupBox(title, parent);
  group->setObjectName(name);
  group->setGeometry(x, y, w, h);
  return group;
}

QComboBox* Combo(QWidget* parent, const char* name, std::initializer_list<const char*> items, int x, int y, int w) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  for (const char* item : items) box->addItem(item);
  box->setGeometry(x, y, w, 22);
  return box;
}

}  // namespace codecedit
