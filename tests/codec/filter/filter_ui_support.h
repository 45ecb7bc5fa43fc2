// Helpers of the filter window tests: dialog answers, pointer events sent
// to the real widgets, and a recorder of the write callback.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gui/dialogs.h"

namespace filtertest {

class Answers : public IDialogs {
 public:
  Answers() { SetDialogs(this); }
  ~Answers() override { SetDialogs(nullptr); }
  void Message(QWidget*, const std::string&, const std::string& text) override { messages.push_back(text); }
  void Warning(QWidget* parent, const std::string& caption, const std::string& text) override {
    warnings.push_back(text);
    Message(parent, caption, text);
  }
  int RunModal(QDialog*) override { return modalResult; }
  std::string OpenFile(QWidget*, const std::string&, const std::string&) override { return {}; }
  std::string SaveFile(QWidget*, const std::string&, const std::string&, const std::string& initial) override {
    proposed = initial;
    return saveFile;
  }
  bool InputQuery(QWidget*, const std::string&, const std::string&, std::string&) override { return false; }

  std::vector<std::string> messages;
  std::vector<std::string> warnings;  // the warning boxes among the messages
  std::string saveFile, proposed;
  int modalResult = QDialog::Rejected;
};

// The write callback's calls, from whichever thread.
struct Writes {
  struct Call {
    unsigned slot;
    bool arrays;
    int32_t num[3];
    int32_t den[3];
  };
  static void Callback(void* context, unsigned slot, const int32_t* num3, const int32_t* den3) {
    auto* self = static_cast<Writes*>(context);
    Call call{slot, num3 && den3, {}, {}};
    for (int k = 0; num3 && den3 && k < 3; ++k) {
      call.num[k] = num3[k];
      call.den[k] = den3[k];
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    self->calls.push_back(call);
  }
  std::vector<Call> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(calls, {});
  }
  std::mutex mutex;
  std::vector<Call> calls;
};

inline void SendMouse(QWidget* widget, QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::LeftButton,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPointF local(x, y);
  const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent event(type, local, widget->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : button,
                    buttons, modifiers);
  QApplication::sendEvent(widget, &event);
}

inline void Drag(QWidget* widget, int x0, int y0, int x1, int y1, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  SendMouse(widget, QEvent::MouseButtonPress, x0, y0, button, modifiers);
  SendMouse(widget, QEvent::MouseMove, (x0 + x1) / 2, (y0 + y1) / 2, button, modifiers);
  SendMouse(widget, QEvent::MouseMove, x1, y1, button, modifiers);
  SendMouse(widget, QEvent::MouseButtonRelease, x1, y1, button, modifiers);
}

// Opens the editor of a value cell of the filter grid, types `text` and ends
// the edit with `key`; the delegate commits queued, so events are run.
inline void TypeInto(QTableWidget* grid, int row, int column, const QString& text, Qt::Key key = Qt::Key_Return) {
  grid->setCurrentCell(row, column);
  grid->editItem(grid->item(row, column));
  // The open editor; closed ones are hidden until they are deleted.
  QLineEdit* editor = nullptr;
  for (QLineEdit* line : grid->viewport()->findChildren<QLineEdit*>())
    if (line->isVisible()) editor = line;
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, key);
  QApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace filtertest
