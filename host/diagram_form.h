// The window of one evaluation board or simulated board: an MDI child with
// its own board link, its diagram pages, register inspector and command
// window. It is the hub of the board's register traffic: every register
// window of its pages writes, polls and block-transfers through it, and
// every register change it writes or the link reads is fanned out to the
// register windows of the current page.
#pragma once

#include <array>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "codec/codec_command.h"
#include "diagram/context.h"
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
class TBlockDiagram;
class TCanvas;
class TGUIObject;
class TPageDrawing;
class TI2CCommand;
class TPBForm;
class TRegisterInspector;
class TEVMApplicationsForm;
struct TWriteWatch;

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

  static constexpr int kMaxPages = 5;
  // The message number of the link thread's refresh report.
  static constexpr int kRegisterDataMessage = 1026;

  // ---- pages
  // Loads a page and makes it current (hidden); false with five pages
  // already or when the file did not load (reported, logged).
  bool AddDiagram(const std::string& fileName);
  void SelectDiagram(int index);
  void InitView();
  void FormShow();
  void ObjectClicked(TGUIObject* object);
  int PageCount() const { return pageCount; }
  TBlockDiagram* Page(int index) const { return index >= 0 && index < pageCount ? pages[index] : nullptr; }
  TBlockDiagram* CurrentPage() const { return currentPage; }
  TBlockDiagram* ClockPage() const { return clockPage; }
  TBlockDiagram* PreviousPage() const { return previousPage; }
  TRegisterInspector* Inspector() const { return inspector; }
  TI2CCommand* CommandWindow() const { return commandWindow; }
  // The command window that runs a page's init script (null without one).
  TI2CCommand* InitScriptWindow(TBlockDiagram* page);
  // An init script holds the GUI thread this long at most; one that has not
  // ended by then goes on in its window, stoppable.
  static constexpr int kInitScriptHoldMs = 1000;
  // For tests: windows run their first init script as they are made.
  static void SetInitScriptHold(std::chrono::milliseconds hold);
  static std::chrono::milliseconds InitScriptHold();
  const TDiagramContext& Context() const { return context; }

  // ---- register traffic (the user pointer is the window)
  static void ObjectEvent(void* form, TGUIObject* object, int event);
  static void ObjectWrite(void* form, int device, int page, int first, int count);
  static void ObjectRefreshRequest(void* form, int device, int page, int first, int count, int rate);
  static void BlockTransfer(void* form, int device, int reg, uint8_t* data, int count, bool read, bool refresh);
  // The scripts' form of BlockTransfer: at the book and page the script has
  // selected on the device; the transfer result (kTransferDone, ...).
  static int CommandTransfer(void* form, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                             bool read, bool last);
  static void InspectorAccess(void* form, int device, int book, int page, int reg, int mode);
  static void InspectorDescribe(void* form, std::vector<std::string>& lines, int device, int page, int reg,
                                int value);
  static int ScriptGPIO(void* form, int value, bool on);
  static void ScriptDecode(void* form, std::vector<std::string>& lines, int device, int page, int reg, int value);
  static int ScriptPageQuery(void* form, int device);
  static char* ScriptLog(void* form);
  static void RecordWrite(void* form, const uint8_t* data, unsigned device, unsigned book, unsigned page,
                          unsigned reg, unsigned count);
  static int RefreshCallback(void* form, unsigned device, unsigned book, unsigned page, unsigned reg,
                             unsigned count);
  // The line RecordWrite appends: "w 30 05 12".
  static std::string RecordLine(const uint8_t* data, unsigned device, unsigned reg, unsigned count);

  // Tells the current page's register windows that `count` registers from
  // `reg` changed (every window's own registers when `all`).
  void UpdateObjects(int device, int page, int reg, bool all, int count = 1);
  void NotifyRegisterObjects(int device, int book, int page, int reg, int count = 1);
  // Message 1026: the stored refresh report reaches the register windows.
  void RegisterDataMessage();
  void ReadAllPages(int device, int book, int firstPage, int lastPage);
  void LoadRegisterMapFile(const std::string& fileName, int device);
  // The inspector shows the current page's device from the image.
  void RefreshInspector();

  // ---- view
  void ZoomBoxChange();
  void Redraw();
  void DrawBackground();
  void DrawForeground();
  void BlockDiagramPaintBoxPaint(QPainter& painter);
  void BlockDiagramPaintBoxMouseDown(int x, int y);
  void BlockDiagramPaintBoxMouseMove(int x, int y);
  void BlockDiagramPaintBoxMouseUp(int x, int y);
  // The pointer left the paint box: every object's hover ends.
  void BlockDiagramPaintBoxMouseLeave();
  // The page moved under a pointer that rests in the view (a scroll, a zoom,
  // a page switch, the end of a pan): the hover follows as a move would.
  void FollowPointer();
  void BlockDiagramPaintBoxClick();
  void ActiveObjectsClick();
  void RefreshClick();
  float Zoom() const { return zoom; }
  TCanvas* Foreground() const { return foreground.get(); }
  TCanvas* Background() const { return background.get(); }
  TPageDrawing* Drawing() const { return drawing.get(); }
  bool IsPanning() const { return panning; }
  int HoverCount() const { return hoverCount; }
  bool DrawingEnabled() const { return drawingEnabled; }

  // ---- page and window commands
  void DisplayFullClick() { ShowPage(0); }
  void DisplayPlaybackClick() { ShowPage(1); }
  void DisplayRecordClick() { ShowPage(2); }
  void DisplayTouchScreenClick() { ShowPage(3); }
  // Opens the EEPROM application editor on this window's board (created on first use).
  void EVMApplicationsClick();
  // The clock page becomes current; "return" leads back (as "DConf" does).
  void ShowClockPage();
  void I2CCommand1Click();
  void RegisterInspector1Click();
  void InitScriptClick();
  void ProcessingBlocksClick();
  TPBForm* ProcessingBlocks() const { return pbForm; }

  // ---- codec plug-in
  void* GetPluginInstance() const { return pluginInstance; }
  void SetPluginInstance(void* instance) { pluginInstance = instance; }
  // The plug-in's View menu items, in order (their data is the tag).
  const std::vector<QAction*>& PluginMenuItems() const { return pluginMenuItems; }
  // A plug-in menu item: `_SelectMenu` of the current page's library.
  void MenuItemsClick(QAction* item);
  // The command callback given to `_Init`: types 1 to 4; always 0.
  static int PluginCommandCallback(void* form, TCodecCommand* command);
  // Type 1: the script in a temporary command window (GUI thread).
  void RunPluginScript(const TCodecScriptRequest* request);
  // Type 2: on the GUI thread or the plug-in's writer thread; what it
  // touches besides the link is posted to the GUI thread.
  void PluginBlockTransfer(unsigned device, int book, int page, int first, int count, uint8_t* data, bool read);

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
  QAction* ProcessingBlocks1;
  QMenu* Help1;
  QAction* About;
  // The action list (shortcuts Ctrl+N, Ctrl+O, Ctrl+S).
  QAction* FileNew1;
  QAction* FileOpen1;
  QAction* FileSave1;
  QAction* FileSaveAs1;
  QAction* HelpAbout1;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Hidden or minimised (its frame or the main window), the window ends the
  // streams of its widgets; shown again, the current page's may start anew.
  void hideEvent(QHideEvent* event) override;

 private:
  class LoadProgress;

  void BuildControls();
  void SetStatus(int panel, const QString& text);
  // A page loaded with this window's context; null (reported) on a load error.
  TBlockDiagram* LoadPage(const std::string& fileName);
  // Hides the current page, makes `page` current and shows it.
  void MakeCurrent(TBlockDiagram* page);
  // Only the current page of a window on screen may stream.
  void HoldStreams();
  // The page commands: page `index` becomes current unless it is.
  void ShowPage(int index);
  // The page's init script, unless it still runs (it then goes on); at most
  // one init script runs at a time.
  void RunInitScript(TBlockDiagram* page);
  // Stops every init script that still runs but `except`'s, logging `why`.
  void StopInitScripts(TI2CCommand* except, const char* why);
  // View menu items for the loaded pages, captioned by title or file name.
  void AddPageMenuItems();
  static QString PageCaption(const TBlockDiagram* page);
  // The scripts a page's widgets run as it loads: sent once the window holds
  // its board, logged as not sent in a simulated window.
  void RunLoadScripts(TBlockDiagram* page);
  void RepaintDiagram();
  // Gives the bitmaps the size of the current zoom (made at the first).
  void SizeBitmaps();
  // Drawing held over a pass that notifies objects (a click, a register
  // change): true for the outermost hold, whose release draws once what
  // changed.
  bool HoldDrawing();
  void ReleaseDrawing(bool outer);
  // The address the link is given for `device`: 0 while "Use SPI on EVM" is checked.
  unsigned LinkAddress(int device) const;
  // A block transfer at (book, page), mirrored in the image inside one page
  // and never recorded: the transfer result (kTransferDone, ...). With
  // `back` (book, page) the device is put back there afterwards.
  int DoBlockTransfer(unsigned address, unsigned book, unsigned page, int reg, uint8_t* data, int count, bool read,
                      bool refresh, const unsigned* back);
  // The book and page of `bytes` when they are register `reg` of the image
  // of `address` (else both are left as they are).
  bool ImagePlace(unsigned address, const uint8_t* bytes, int reg, unsigned& book, unsigned& page);
  // Writes a block through the link, copying it into the image first
  // (`mirror`); a block the board refuses leaves the image as it was.
  bool WriteMirrored(unsigned address, unsigned book, unsigned page, int reg, const uint8_t* data, int count,
                     bool mirror);
  // Stops every refresh and closes the page-bound windows (before the pages go).
  void StopTraffic();
  // Appends the current page's plug-in menu items to View.
  void AddPluginMenuItems();
  // GUI thread: copies the plug-in's block writes made on other threads
  // into the image, in the order they reached the link.
  void ApplyPluginWrites();

  int pointerX = 0;
  int pointerY = 0;
  TRegisterInspector* inspector = nullptr;
  TPBForm* pbForm = nullptr;
  // Set once the window holds its board (or knows it has none): pages
  // loaded from then on run their load-time scripts at once.
  bool boardAcquired = false;
  TI2CCommand* commandWindow = nullptr;
  TEVMApplicationsForm* applicationsForm = nullptr;
  TUSBI2C* link = nullptr;
  // Device, book, page, register, count of the last refresh report.
  int lastRefresh[5] = {};
  // The block (device, page, first, count) of the last refresh request.
  std::array<int, 4> refreshOwner = {};
  TActivityIndicator* activityIndicator = nullptr;
  float zoom = 1.0f;
  int scrollRangeX = 0;
  int scrollRangeY = 0;
  bool panning = false;
  // Set while a zoom places the page and scrolls it home: the pointer is
  // followed once, when the page lies still.
  bool placing = false;
  QPoint panAnchor;
  int hoverCount = 0;
  int pageCount = 0;
  TBlockDiagram* pages[kMaxPages + 1] = {};
  TBlockDiagram* clockPage = nullptr;
  TBlockDiagram* currentPage = nullptr;
  TBlockDiagram* previousPage = nullptr;
  std::unique_ptr<TCanvas> foreground;
  std::unique_ptr<TCanvas> background;
  // What is drawn on the two bitmaps, so that a pass draws what changed.
  std::unique_ptr<TPageDrawing> drawing;
  // The bitmaps' size at the current zoom, once a zoom was computed.
  QSize bitmapSize;
  bool bitmapsWanted = false;
  int usbSampleRate = 44100;
  bool shown = false;
  bool onScreen = false;  // shown, and neither hidden nor minimised since
  bool connected = false;
  bool simulation = false;
  bool drawingEnabled = false;
  bool redrawPending = true;
  bool codecPortEnabled = true;
  char boardIdText[32] = "FWIDN/A";
  void* pluginInstance = nullptr;
  std::vector<QAction*> pluginMenuItems;
  pugi::xml_node boardNode;
  TDiagramContext context;
  std::unique_ptr<LoadProgress> loadProgress;
  std::map<TBlockDiagram*, TI2CCommand*> initScripts;
  std::atomic<bool> closing_{false};
  // The window without a board has said so in the log (once).
  std::atomic<bool> noBoardLogged_{false};
  std::string boardName_;  // the caption at construction, for log lines of any thread
  // Plug-in block writes of other threads that the image has yet to take;
  // the watch tells which of their bytes a later write has changed since.
  struct TPluginWrite {
    std::vector<uint8_t> bytes;
    std::unique_ptr<TWriteWatch> watch;
  };
  std::mutex pluginWritesMutex_;
  std::vector<TPluginWrite> pluginWrites_;
};
