// The log window: every diagnostic line of the host, one per memo line.
#pragma once

#include <QWidget>
#include <string>

class QPlainTextEdit;

class TLogForm : public QWidget {
  Q_OBJECT
 public:
  explicit TLogForm(QWidget* owner = nullptr);

  void Append(const std::string& line);

  QPlainTextEdit* Memo;
};

extern TLogForm* LogForm;

// Makes the platform log (the link's and the host's lines, from any thread)
// append to LogForm's memo on the GUI thread, in the order logged, and
// writes each line to stderr at once.
void InstallLogSink();
