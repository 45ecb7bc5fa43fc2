// Helpers of the host tests: event pumping, scripted dialogs, and a fixture
// with a start directory, a board list and emulated boards.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QProcess>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/gui/dialogs.h"
#include "tests/support/test_support.h"

class QMdiArea;
class QPoint;
class QWidget;
class TDiagramForm;
class TGUIObject;
namespace pugi {
class xml_node;
}

namespace hosttest {

// Runs queued GUI work and deferred deletions.
void PumpEvents();
// Pumps until `done` holds or `timeout` passes; the last value of `done`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30));
// The window system's pointer moves to `at` in `widget`, a widget of a
// shown window; enter and leave events follow as for a real pointer.
void PointerTo(QWidget* widget, const QPoint& at);
// The window system's pointer goes off every window: each test starts with
// the pointer nowhere, wherever the last one left it.
void PointerOffWindows();
// The centre of an object's placed rectangle on the paint box.
QPoint Centre(TGUIObject* object);
// The pointer comes to rest on an object (its fade runs to the end), or leaves it.
void Hover(TGUIObject* object);
void Leave(TGUIObject* object);
// The pointer comes to rest on `object` of the board window's page, `shift`
// from its centre, the page scrolled to show it first.
void RestOn(TDiagramForm* form, TGUIObject* object, const QPoint& shift);

// Dialog answers scripted by the test. A modal form is shown while its
// script runs (as exec would show it) and its result is returned.
class FakeDialogs : public IDialogs {
 public:
  using Script = std::function<void(QDialog*)>;

  void Message(QWidget* parent, const std::string& caption, const std::string& text) override;
  // Kept with the messages, and in `warnings` as well.
  void Warning(QWidget* parent, const std::string& caption, const std::string& text) override;
  int RunModal(QDialog* dialog) override;
  std::string OpenFile(QWidget*, const std::string& caption, const std::string&) override {
    fileDialogs.push_back("open " + caption);
    return openFile;
  }
  std::string SaveFile(QWidget*, const std::string& caption, const std::string&, const std::string&) override {
    fileDialogs.push_back("save " + caption);
    return saveFile;
  }
  bool InputQuery(QWidget*, const std::string&, const std::string&, std::string& value) override;
  bool Confirm(QWidget*, const std::string& caption, const std::string& text) override {
    confirmations.push_back(caption + ": " + text);
    return confirm;
  }

  // Runs for each modal form; without one every form is cancelled.
  Script modal;
  // Runs for each message, as it is shown.
  std::function<void(const std::string&)> onMessage;
  std::vector<std::string> messages;  // information and warning boxes, in order
  std::vector<std::string> warnings;  // the warning boxes among them
  std::vector<std::string> modalForms;  // object names, in order
  std::string openFile, saveFile;
  std::vector<std::string> fileDialogs;  // "open <caption>", "save <caption>", in order
  std::vector<std::string> inputs;
  std::vector<std::string> confirmations;  // "caption: text", in order
  bool confirm = false;                    // the answer: OK or Cancel
};

// Scripts: pick the Select EVM item with this text and click Select; press
// a form's button by object name.
FakeDialogs::Script PickBoard(const std::string& name);
FakeDialogs::Script Press(const std::string& buttonName);

// A start directory with "EVM.xml" and a boards directory for the emulator.
class HostTest : public ::testing::Test {
 protected:
  static const char* const kDefaultBoardList;

  void SetUp() override;
  void TearDown() override;

  // Writes <boards>/<file>.board naming the board `name`.
  std::string AddBoard(const std::string& file, const std::string& name, const std::string& extra = "");
  void RemoveBoard(const std::string& file);
  void WriteBoardList(const std::string& xml);
  // Copies the repository's board kit (its "EVM.xml" and board directories)
  // into the start directory.
  void UseBoardKit();
  // The permanent windows, as the program creates them.
  void Start();
  // The small windows only: no main window, so no watcher opens windows.
  void StartSmallWindows();

  std::string LogText();
  int LogCount(const std::string& line);
  // A board window in `area` for the board list element `node`: on an
  // emulated board (plugged first) of that name or `boardName`, or simulated.
  TDiagramForm* OpenBoardWindow(QMdiArea* area, pugi::xml_node node, bool board, const std::string& boardName = "");
  // Waits until the watcher has ended `count` listings in all.
  bool WaitForListings(int count);
  std::vector<TDiagramForm*> Windows();
  // The emulated board's EEPROM bytes at `address`.
  std::vector<uint8_t> Eeprom(int board, int address, int count);

  testsupport::TempDir dir_;
  std::string boards_;
  std::string previousDirectory_;
  FakeDialogs dialogs_;
  bool started_ = false;
};

// The board server (quillbus-board) serving one board file on loopback, and
// the main window's network dialog connecting to it.
class BoardServer {
 public:
  BoardServer();
  ~BoardServer();
  // Writes the board file (as `board file text`), starts the server on it and
  // connects the started main window to it; true once a window is open.
  bool Connect(FakeDialogs& dialogs, const std::string& boardText);
  const std::string& BoardFile() const { return boardFile_; }

 private:
  testsupport::TempDir dir_;
  std::string boardFile_;
  QProcess* server_;
};

// The emulated boards' packet trace, from a mark on.
class BoardTrace {
 public:
  explicit BoardTrace(std::string path) : path_(std::move(path)) {}
  ~BoardTrace();
  // Starts (or goes on) tracing; later calls see only what follows.
  void Mark();
  // Commands to board 0 since the mark, in hex.
  std::vector<std::string> Commands() const;
  // Every trace line since the mark, commands and replies, as written.
  std::vector<std::string> Lines() const;

 private:
  std::string path_;
  size_t mark_ = 0;
};

}  // namespace hosttest
