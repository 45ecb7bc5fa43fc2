#include "host/log_form.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "platform/gui/gui.h"
#include "platform/log.h"

TLogForm* LogForm = nullptr;

namespace {
// Keeps a long session's log from growing without bound.
constexpr int kMaxLines = 20000;
}  // namespace

TLogForm::TLogForm(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName("LogForm");
  setWindowTitle("Log");
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName("Memo");
  Memo->setReadOnly(true);
  Memo->setMaximumBlockCount(kMaxLines);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo);
  resize(600, 400);
}

void TLogForm::Append(const std::string& line) { Memo->appendPlainText(QString::fromStdString(line)); }

void InstallLogSink() {
  platform::SetLogSink([](const std::string& line) {
    // The memo keeps the session's lines; stderr shows each as it comes, in
    // the terminal Palisar was started from or the desktop session's log.
    platform::WriteStderrLine(line);
    // Always queued, even from the GUI thread: lines keep the order they were logged in.
    gui::Post([line] {
      if (LogForm) LogForm->Append(line);
    });
  });
}
