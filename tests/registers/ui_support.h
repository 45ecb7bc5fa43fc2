// Dialog answers for the window tests, and event pumping.
#pragma once

#include <QCoreApplication>
#include <functional>
#include <string>
#include <vector>

#include "platform/gui/dialogs.h"

namespace regtest {

class TestDialogs : public IDialogs {
 public:
  void Message(QWidget*, const std::string&, const std::string& text) override {
    messages.push_back(text);
    if (onMessage) onMessage();
  }
  void Warning(QWidget* parent, const std::string& caption, const std::string& text) override {
    warnings.push_back(text);
    Message(parent, caption, text);
  }
  int RunModal(QDialog*) override { return 0; }
  std::string OpenFile(QWidget*, const std::string&, const std::string& filter) override {
    filters.push_back(filter);
    return openFile;
  }
  std::string SaveFile(QWidget*, const std::string&, const std::string& filter, const std::string& initial) override {
    filters.push_back(filter);
    proposed.push_back(initial);
    return saveFile;
  }
  bool InputQuery(QWidget*, const std::string&, const std::string&, std::string&) override { return false; }

  // Runs while a message is shown.
  std::function<void()> onMessage;
  std::vector<std::string> messages, filters, proposed;
  std::vector<std::string> warnings;  // the warning boxes among the messages
  std::string openFile, saveFile;
};

inline void PumpEvents() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace regtest
