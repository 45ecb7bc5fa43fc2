// The window of one evaluation board or simulated board: an MDI child with
// its own board link. This is its core as the main window uses it; pages,
// drawing and the register tools build on it.
#pragma once

#include <QMainWindow>
#include <atomic>
#include <pugixml.hpp>

#include "host/evm_request.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPainter;
class QTimer;
class QToolBar;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QScrollArea;
class QStatusBar;
class TUSBI2C;

// The activity lamp of the status bar: lit for a while after each transfer.
class TActivityIndicator {
 public:
  // `target` is the widget the lamp is drawn on; its paint calls Draw.
  explicit TActivityIndicator(QWidget* target);
  ~TActivityIndicator();
  TActivityIndicator(const TActivityIndicator&) = delete;
  TActivityIndicator& operator=(const TActivityIndicator&) = delete;

  void Blink(int milliseconds);
  void Draw(QPainter& canvas, int x, int y);
  bool IsLit() const { return lit; }

 private:
  QTimer* timer;
  QWidget* target;
  bool lit = false;
  int x = 0, y = 0;
};

class TDiagramForm : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kStatusPanels = 4;

  // Builds the window for `request` (always given) and shows it in `owner`
  // (a top-level window without one).
  TDiagramForm(QMdiArea* owner, const EVMOpenRequest* request);
  ~TDiagramForm() override;

  // Refused (the window minimises) while the link holds a device handle;
  // otherwise the link thread is stopped and the window is freed.
  void FormClose(QCloseEvent* event);

  void SetConnected(bool connected) { this->connected = connected; }
  bool IsConnected() const { return connected; }
  bool IsSimulation() const { return simulation; }
  TUSBI2C* GetLink() const { return link; }

  // The link's status callback: on whichever thread made the transfer.
  static void UpdateEVMStatusCallback(void* form, const char* devicePath, int deviceIndex, int code);
  // The status display for the link's code bits (GUI thread).
  void UpdateEVMStatus(int code);

  // Writes the board ID block: with a sender (the menu) for the board kind
  // picked in the Select EVM dialog, without one for the window caption.
  void SetIDClick(QObject* sender);
  void FileExit1Execute();
  void HelpAbout1Execute();
  void FileNew1Execute() {}
  void FileOpen1Execute();
  void FileSave1Execute();
  void UpdateFirmwareClick();
  void CodecPortClick();
  // Owner-draw of status panel 1: the caption and the lamp.
  void StatusBarDrawPanel(QPainter& canvas, const QRect& rect);
  TActivityIndicator* GetActivityIndicator() const { return activityIndicator; }

  // Asks the window to close, through its MDI frame.
  void CloseWindow();
  // Set once a close was accepted or destruction began.
  bool IsClosing() const { return closing_.load(); }
  QMdiSubWindow* SubWindow() const;
  QString StatusText(int panel) const;

  // The number of numbered "Diagram-" attributes of a board element,
  // counted from 1 while they exist.
  static int CountDiagramAttributes(pugi::xml_node node);

  QToolBar* ToolBar2;
  QCheckBox* ActiveObjects;
  QComboBox* ZoomBox;
  QAction* Refresh;
  QCheckBox* SPI;
  QStatusBar* StatusBar;
  QLabel* StatusPanels[kStatusPanels];
  QScrollArea* BlockDiagramScrollBox;
  QWidget* BlockDiagramPaintBox;
  QMenu* File1;
  QAction* UpdateFirmware;
  QAction* EVMApplications;
  QAction* SetID;
  QAction* CodecPort;
  QAction* FileExitItem;
  QMenu* View;
  QAction* InitScript;
  QAction* I2CCommand1;
  QAction* RegisterInspector1;
  QAction* Test;
  QMenu* Help1;
  QAction* About;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void SetStatus(int panel, const QString& text);

  TActivityIndicator* activityIndicator = nullptr;
  int pointerX = 0;
  int pointerY = 0;
  TUSBI2C* link = nullptr;
  float zoom = 1.0f;
  int scrollRangeX = 0;
  int scrollRangeY = 0;
  int hoverCount = 0;
  int pageCount = 0;
  int usbSampleRate = 44100;
  bool shown = false;
  bool connected = false;
  bool simulation = false;
  bool drawingEnabled = false;
  bool redrawPending = true;
  bool codecPortEnabled = true;
  char boardIdText[32] = "FWIDN/A";
  pugi::xml_node boardNode;
  std::atomic<bool> closing_{false};
};
