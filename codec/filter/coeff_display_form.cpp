#include "codec/filter/coeff_display_form.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "codec/filter/biquad.h"
#include "codec/filter/coefficient_text.h"
#include "platform/gui/dialogs.h"

namespace {
constexpr int kSections = 40;

bool IsEnter(const QKeyEvent* key) { return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter; }
}  // namespace

TCoeffDisplayForm::TCoeffDisplayForm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("CoeffDisplayForm");
  setWindowTitle("Coefficients");
  setFixedSize(538, 442);
  setFont(QFont("Tahoma", 8));

  Memo = new QPlainTextEdit(this);
  Memo->setObjectName("Memo");
  Memo->setGeometry(8, 37, 522, 389);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->installEventFilter(this);

  StaticText1 = new QLabel("Resolution:", this);
  StaticText1->move(8, 14);
  Resolution = new QLineEdit("16", this);
  Resolution->setObjectName("Resolution");
  Resolution->setGeometry(72, 10, 33, 21);
  StaticText2 = new QLabel("Bits", this);
  StaticText2->move(111, 14);
  Save = new QPushButton("  Save", this);
  Save->setObjectName("Save");
  Save->setGeometry(455, 6, 75, 25);

  connect(Resolution, &QLineEdit::editingFinished, this, [this] { ResolutionExit(); });
  connect(Save, &QPushButton::clicked, this, [this] { SaveClick(); });
}

bool TCoeffDisplayForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo && event->type() == QEvent::KeyPress && IsEnter(static_cast<QKeyEvent*>(event))) {
    ParseCoefficients();
    return true;  // no line break
  }
  return QWidget::eventFilter(watched, event);
}

void TCoeffDisplayForm::ShowCoefficients(TBiquad** sections) {
  if (!sections) return;
  filters = sections;
  Resolution->setText(QString::number(unsigned(filters[0]->bits)));
  std::string text = CoefficientListing(filters);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  Memo->setPlainText(QString::fromStdString(text));
}

void TCoeffDisplayForm::ParseCoefficients() {
  if (!filters) return;
  ::ParseCoefficients(Memo->toPlainText().toStdString(), filters);
  const int caret = Memo->textCursor().position();
  ShowCoefficients(filters);
  QTextCursor cursor = Memo->textCursor();
  cursor.setPosition(std::min(caret, Memo->document()->characterCount() - 1));
  Memo->setTextCursor(cursor);
  if (changed) changed();
}

void TCoeffDisplayForm::ResolutionExit() {
  const std::string text = Resolution->text().trimmed().toStdString();
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + (!text.empty() && text[0] == '+'), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    Dialogs().Warning(this, "Error", "'" + text + "' is not a valid integer value");
    return;
  }
  value = std::clamp(value, TBiquad::kMinBits, TBiquad::kMaxBits);
  Resolution->setText(QString::number(value));
  if (!filters) return;
  for (int i = 0; i < kSections; ++i) filters[i]->SetBits(value);
  ShowCoefficients(filters);
}

void TCoeffDisplayForm::SaveClick() {
  std::string name = Dialogs().SaveFile(this, "Save", "Text files|*.txt|All files|*.*", "Coefficients.txt");
  if (name.empty()) return;
  // The default extension joins a name that has none.
  if (std::filesystem::path(name).extension().empty()) name += ".txt";
  std::ofstream file(name, std::ios::binary);
  for (QTextBlock block = Memo->document()->begin(); file && block.isValid(); block = block.next())
    file << block.text().toStdString() << "\r\n";
  if (!file) Dialogs().Warning(this, "Error", "Cannot create file \"" + name + "\".");
}
