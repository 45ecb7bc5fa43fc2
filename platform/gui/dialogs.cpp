#include "platform/gui/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace {

class QtDialogs final : public IDialogs {
 public:
  void Message(QWidget* parent, const std::string& caption, const std::string& text) override {
    QMessageBox::information(parent, QString::fromStdString(caption), QString::fromStdString(text));
  }
  void Warning(QWidget* parent, const std::string& caption, const std::string& text) override {
    QMessageBox::warning(parent, QString::fromStdString(caption), QString::fromStdString(text));
  }
  int RunModal(QDialog* dialog) override { return dialog->exec(); }
  std::string OpenFile(QWidget* parent, const std::string& caption, const std::string& filter) override {
    return QFileDialog::getOpenFileName(parent, QString::fromStdString(caption), QString(),
                                        QString::fromStdString(QtFileFilter(filter)))
        .toStdString();
  }
  std::string SaveFile(QWidget* parent, const std::string& caption, const std::string& filter,
                       const std::string& initial) override {
    return QFileDialog::getSaveFileName(parent, QString::fromStdString(caption), QString::fromStdString(initial),
                                        QString::fromStdString(QtFileFilter(filter)))
        .toStdString();
  }
  bool InputQuery(QWidget* parent, const std::string& caption, const std::string& prompt,
                  std::string& value) override {
    bool ok = false;
    QString text = QInputDialog::getText(parent, QString::fromStdString(caption), QString::fromStdString(prompt),
                                         QLineEdit::Normal, QString::fromStdString(value), &ok);
    if (ok) value = text.toStdString();
    return ok;
  }
};

QtDialogs& Real() {
  static QtDialogs dialogs;
  return dialogs;
}

IDialogs* current = nullptr;

}  // namespace

void IDialogs::Warning(QWidget* parent, const std::string& caption, const std::string& text) {
  Message(parent, caption, text);
}

bool IDialogs::Confirm(QWidget* parent, const std::string& caption, const std::string& text) {
  return QMessageBox::warning(parent, QString::fromStdString(caption), QString::fromStdString(text),
                              QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

IDialogs& Dialogs() { return current ? *current : Real(); }

void SetDialogs(IDialogs* dialogs) { current = dialogs; }

std::string QtFileFilter(const std::string& filter) {
  // Pairs of description and pattern; Qt wants the patterns inside the description.
  std::string out;
  size_t pos = 0;
  while (pos <= filter.size()) {
    size_t bar = filter.find('|', pos);
    std::string description = filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
    std::string pattern;
    if (bar != std::string::npos) {
      size_t next = filter.find('|', bar + 1);
      pattern = filter.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
      pos = next == std::string::npos ? filter.size() + 1 : next + 1;
    } else {
      pos = filter.size() + 1;
    }
    if (description.empty() && pattern.empty()) continue;
    for (char& c : pattern)
      if (c == ';') c = ' ';
    // The pattern given decides what matches; a description's own "(...)" is only text.
    if (size_t paren = description.rfind('('); paren != std::string::npos && !pattern.empty()) {
      description.resize(paren);
      while (!description.empty() && description.back() == ' ') description.pop_back();
    }
    if (!out.empty()) out += ";;";
    out += description;
    if (!pattern.empty()) out += " (" + pattern + ")";
  }
  return out;
}
