// The main window: the MDI frame, the watcher link that follows the boards
// on USB (and on the network), the board list "EVM.xml", and one diagram
// window per board or simulated board.
#pragma once

#include <QMainWindow>
#include <atomic>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "host/evm_request.h"

class QAction;
class QMdiArea;
class QMenu;
class TDiagramForm;
class TUSBI2C;

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* owner = nullptr);
  ~TMainForm() override;

  // The watcher's status callback; runs on the watcher's thread.
  static void USBConnectCallback(void* form, const char* devicePath, int deviceIndex, int code);
  // Its three reactions, also on the watcher's thread; the window work in
  // them runs on the GUI thread while the watcher waits.
  void ChangeDetected();
  void ChangeDone();
  void ConnectEVM(const char* devicePath, int deviceIndex);

  // Fills the Select EVM list from "EVM.xml" when it is empty and selects
  // its first item; with `show`, asks the user: the picked element, or an
  // empty node on Cancel. Without `show`, an empty node.
  pugi::xml_node SelectEVM(bool show);
  // The handler of message 1025 (GUI thread).
  void OpenEVMDiagram(EVMOpenRequest* request);
  // Sends message 1025: OpenEVMDiagram runs on the GUI thread and this
  // returns when it has. False when it could not run (program ending).
  bool Dispatch(int message, EVMOpenRequest* request);

  void NewEVMSimulationClick();
  void NetworkConnect1Click();
  void FileExit1Execute();
  void HelpAbout1Execute();

  // The open diagram windows, in the MDI frame's order; windows already
  // closing are left out (GUI thread).
  std::vector<TDiagramForm*> MdiChildren() const;
  QMdiArea* MdiArea() const { return mdiArea_; }
  TUSBI2C* GetWatcher() const { return watcher; }
  // False when "EVM.xml" was missing or not well-formed at start-up.
  bool BoardListLoaded() const { return boardListLoaded_; }
  // Rebuilds the Window menu's list of diagram windows (done before it opens).
  void UpdateWindowMenu();

  QMenu* File1;
  QAction* NewEVMSimulation;
  QAction* NetworkConnect1;
  QAction* N1;
  QAction* FileExitItem;
  QMenu* Window1;
  QMenu* Help1;
  QAction* HelpAboutItem;
  pugi::xml_document EVMList;

 signals:
  // The main window closed: the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void LoadBoardList();
  int BoardKindCount() const;

  TUSBI2C* watcher = nullptr;
  std::string startDirectory;
  QMdiArea* mdiArea_ = nullptr;
  bool boardListLoaded_ = false;
  // Set before the watcher is stopped: window work it still sends is skipped.
  std::atomic<bool> shuttingDown_{false};
};

extern TMainForm* MainForm;
