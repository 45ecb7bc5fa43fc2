#include "host/diagram_form.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QPainter>
#include <QTimer>
#include <QToolBar>
#include <QDialog>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/canvas.h"
#include "common/colour.h"
#include "common/page_drawing.h"
#include "diagram/block_diagram.h"
#include "diagram/processing_blocks.h"
#include "diagram/register_binding.h"
#include "registers/evm_applications_form.h"
#include "registers/i2c_command.h"
#include "registers/register_inspector.h"
#include "registers/register_list_text.h"
#include "platform/library.h"
#include "platform/log.h"
#include "platform/text.h"

#include "host/about_box.h"
#include "host/board_id.h"
#include "platform/gui/dialogs.h"
#include "host/load_form.h"
#include "host/select_evm_form.h"
#include "host/window_util.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"

namespace {

// 0xD7D2D2 as the original colour value: red in the low byte.
constexpr TColor kDiagramColour = 0xD7D2D2;
const QColor kDiagramBackground(0xD2, 0xD2, 0xD7);
constexpr int kPanelWidths[TDiagramForm::kStatusPanels] = {250, 100, 120, 50};
const char* const kZoomEntries[] = {"50%", "80%", "100%", "125%", "150%", "175%", "200%"};

// The register a window is told about when `count` registers from `first`
// changed: the first of them it holds, so that every window on a written or
// read block follows it; `first` when it holds none (windows that follow a
// whole page or a stream look at the device and page only).
unsigned NotifiedRegister(const TI2CObject& window, int device, int page, int first, int count) {
  if (count <= 1 || window.GetDevice() != device || window.GetPage() != page) return unsigned(first);
  const int64_t from = std::max<int64_t>(first, window.GetFirstRegister());
  const int64_t to = std::min<int64_t>(int64_t(first) + count, int64_t(window.GetFirstRegister()) + window.GetCount());
  return from < to ? unsigned(from) : unsigned(first);
}

// The lamp's two 11 x 11 images: dark (0) and lit (1).
const QPixmap& LampImage(bool lit) {
  static QPixmap images[2];
  QPixmap& image = images[lit ? 1 : 0];
  if (image.isNull()) {
    image = QPixmap(11, 11);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(lit ? QColor(0x30, 0xE0, 0x30) : QColor(0x30, 0x50, 0x30));
    p.drawEllipse(QRectF(0.5, 0.5, 10, 10));
  }
  return image;
}

// Status panel 1, drawn by its owner.
class ActivityPanel : public QLabel {
 public:
  ActivityPanel(TDiagramForm* form, QWidget* parent) : QLabel(parent), form_(form) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter canvas(this);
    form_->StatusBarDrawPanel(canvas, rect());
  }

 private:
  TDiagramForm* form_;
};

// The paint box: its paint only copies the foreground bitmap; pointer
// events go to the form's handlers.
class DiagramPaintBox : public QWidget {
 public:
  explicit DiagramPaintBox(TDiagramForm* form) : form_(form) { setMouseTracking(true); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    form_->BlockDiagramPaintBoxPaint(painter);
  }
  void mousePressEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    // A real pointer moves onto the place before it presses there.
    if (at != last_) mouseMove(at);
    if (event->button() == Qt::LeftButton) clicked_ = true;
    form_->BlockDiagramPaintBoxMouseDown(at.x(), at.y());
  }
  void mouseMoveEvent(QMouseEvent* event) override { mouseMove(event->position().toPoint()); }
  // However the pointer goes (onto a scroll bar, out of the window), it
  // leaves what it rested on.
  void leaveEvent(QEvent* event) override {
    QWidget::leaveEvent(event);
    last_ = {-1, -1};
    form_->BlockDiagramPaintBoxMouseLeave();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    // As the old controls did: the click first, then the button-up.
    if (event->button() == Qt::LeftButton && clicked_) {
      clicked_ = false;
      if (rect().contains(at)) form_->BlockDiagramPaintBoxClick();
    }
    form_->BlockDiagramPaintBoxMouseUp(at.x(), at.y());
  }

 private:
  void mouseMove(const QPoint& at) {
    last_ = at;
    form_->BlockDiagramPaintBoxMouseMove(at.x(), at.y());
  }

  TDiagramForm* form_;
  QPoint last_{-1, -1};
  bool clicked_ = false;
};

}  // namespace

// The load window as the pages' progress sink.
class TDiagramForm::LoadProgress : public TLoadProgress {
 public:
  void SetText(const std::string& text) override {
    if (LoadForm) LoadForm->Loading->setText(QString::fromStdString(text));
  }
  void SetPosition(int position) override {
    if (LoadForm) LoadForm->ProgressBar->setValue(position);
  }
  void Repaint() override {
    if (LoadForm) LoadForm->repaint();
  }
};

TActivityIndicator::TActivityIndicator(QWidget* target) : timer(new QTimer), target(target) {
  timer->setInterval(100);
  timer->setSingleShot(true);
  QObject::connect(timer, &QTimer::timeout, [this] {
    lit = false;
    if (this->target) this->target->update();
  });
}

TActivityIndicator::~TActivityIndicator() { delete timer; }

void TActivityIndicator::Blink(int milliseconds) {
  lit = true;
  if (target) target->update();
  timer->start(milliseconds);
}

void TActivityIndicator::Draw(QPainter& canvas, int x, int y) {
  this->x = x;
  this->y = y;
  canvas.drawPixmap(x, y, LampImage(lit));
}

TDiagramForm::TDiagramForm(QMdiArea* owner, const EVMOpenRequest* request) {
  // 1. The form and its controls.
  simulation = request->simulation;
  boardNode = request->node;
  BuildControls();
  pbForm = new TPBForm(this);
  // 2. The board ID text shown while no board is present.
  std::snprintf(boardIdText, sizeof boardIdText, "%s", "FWIDN/A");
  // 3. Diagram colours.
  QPalette palette = BlockDiagramScrollBox->palette();
  palette.setColor(QPalette::Window, kDiagramBackground);
  BlockDiagramScrollBox->setPalette(palette);
  BlockDiagramScrollBox->setAutoFillBackground(true);
  BlockDiagramPaintBox->setPalette(palette);
  BlockDiagramPaintBox->setAutoFillBackground(true);
  // 4, 5. The register tools of this board.
  inspector = new TRegisterInspector(this);
  inspector->SetCallbacks(this, InspectorAccess, InspectorDescribe);
  commandWindow = new TI2CCommand(this);
  // 6. The window's own link; its thread starts idle.
  link = new TUSBI2C(false);
  link->SetWriteCallback(this, RecordWrite);
  // The refresh reaches the image on the GUI thread, in RegisterDataMessage.
  link->SetRefreshHandOver(true);
  link->SetConnectCallback(this, UpdateEVMStatusCallback);
  // 7. Base of the zoomed scroll ranges.
  scrollRangeX = 2000;
  scrollRangeY = 3000;
  // 8. The device slots every board window declares, in this order.
  link->AddDevice(0x70, 0, 0);
  link->AddDevice(0x72, 0, 0);
  link->AddDevice(0, 0, 256);
  link->AddDevice(1, 0, 256);
  link->AddDevice(0x80, 0, 256);
  link->AddDevice(0xA4, 0, 256);
  // What every page of this window is built with.
  loadProgress = std::make_unique<LoadProgress>();
  context.window = this;
  // The paint box scrolls, so the widgets' own controls live on it.
  context.owner = BlockDiagramPaintBox;
  context.backgroundColour = kDiagramColour;
  context.objectEvent = ObjectEvent;
  context.objectWrite = ObjectWrite;
  context.objectRefreshRequest = ObjectRefreshRequest;
  context.blockTransfer = BlockTransfer;
  context.scriptGPIO = ScriptGPIO;
  context.scriptTransfer = CommandTransfer;
  context.processingBlockWindow = &pbForm->Window();
  context.addDevice = [this](unsigned address, unsigned books, unsigned pageCount) {
    link->AddDevice(address, books, pageCount);
  };
  context.progress = loadProgress.get();
  context.getPluginInstance = [this] { return pluginInstance; };
  context.setPluginInstance = [this](void* instance) { pluginInstance = instance; };
  context.caption = [this] { return S(windowTitle()); };
  context.pluginCommand = PluginCommandCallback;
  context.pluginImage = [this] { return link->GetRegisterImage(0x30, 0, 0, 0); };
  // 9. The loading splash and the caption.
  if (LoadForm) {
    LoadForm->ProgressBar->setValue(0);
    LoadForm->show();
  }
  setWindowTitle(QString::fromUtf8(boardNode.name()));
  boardName_ = boardNode.name();
  if (LoadForm) {
    LoadForm->EVM->setText("EVM: " + windowTitle());
    LoadForm->repaint();
  }
  // 10, 11. The numbered pages; the last one loaded is current for now.
  const int count = CountDiagramAttributes(boardNode);
  for (int k = 1; k <= count; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "Diagram-%i", k);
    if (pageCount >= kMaxPages) {
      platform::LogF("%s: %s and later pages are ignored (at most %d)", platform::Cut(boardNode.name()).c_str(), name,
                     kMaxPages);
      break;
    }
    AddDiagram(boardNode.attribute(name).value());
  }
  // 12. The clock page: loaded, not counted, not current.
  if (pugi::xml_attribute clock = boardNode.attribute("Diagram-Clock")) clockPage = LoadPage(clock.value());
  // Hidden like the other pages until shown: its widgets' controls must not
  // sit over the page shown.
  if (clockPage) clockPage->SetVisible(false);
  // Every loaded page can be reached from the View menu.
  AddPageMenuItems();
  // 13. The inspector on the current page's device. Without a page (none
  // listed, or none loaded) the empty page of the first show supplies it.
  RefreshInspector();
  inspector->setWindowTitle(inspector->windowTitle() + " " + windowTitle());
  if (currentPage) {
    inspector->SetPageCount(currentPage->GetPages());
    inspector->SetBookCount(currentPage->GetBooks());
  }
  // 14. Register names (and, from a text list, defaults).
  if (pugi::xml_attribute map = boardNode.attribute("Registermap")) {
    // An empty page would have the loader's default device, 0x30.
    LoadRegisterMapFile(map.value(), currentPage ? currentPage->GetI2CAddress() : 0x30);
    RefreshInspector();
  }
  // 15.
  commandWindow->setWindowTitle(commandWindow->windowTitle() + " " + windowTitle());
  // 16. The plug-in's View menu items.
  AddPluginMenuItems();
  // The pages are loaded: the load window goes before the board's scripts
  // run, so that it covers none of their messages.
  if (LoadForm) LoadForm->hide();
  // 17. The board of the request; a null handle leaves the link without one.
  link->AcquireEVM(request->deviceHandle);
  // The scripts of the pages' widgets can reach the board only now.
  boardAcquired = true;
  for (int i = 0; i < pageCount; ++i) RunLoadScripts(pages[i]);
  RunLoadScripts(clockPage);
  // 18. A window opened for a listed board shows it connected.
  if (request->deviceIndex != -1) UpdateEVMStatus(1);
  // 19. The bitmaps come with the first zoom.
  inspector->SetName(boardName_);

  // The user's changes of the toolbar, connected after the design values are set.
  connect(ZoomBox, &QComboBox::currentTextChanged, this, [this] { ZoomBoxChange(); });
  connect(ActiveObjects, &QCheckBox::clicked, this, [this] { ActiveObjectsClick(); });
  connect(Refresh, &QAction::triggered, this, [this] { RefreshClick(); });

  if (owner) {
    QMdiSubWindow* sub = owner->addSubWindow(this);
    sub->setObjectName("DiagramSubWindow");
    sub->setMinimumSize(320, 240);
    sub->showMaximized();
  } else {
    setAttribute(Qt::WA_DeleteOnClose);
    show();
  }
}

TDiagramForm::~TDiagramForm() {
  closing_ = true;
  // Every refresh ends with the link's thread: nothing may reach a page or
  // the image while they go. The first page with a plug-in library frees
  // the plug-in's instance (and its writer thread) before the link goes.
  StopTraffic();
  // What is drawn refers to the pages' objects.
  drawing.reset();
  // The pages before the link: their register windows point into its image.
  for (auto& entry : initScripts) delete entry.second;
  initScripts.clear();
  for (TBlockDiagram*& page : pages) {
    delete page;
    page = nullptr;
  }
  delete clockPage;
  clockPage = currentPage = previousPage = nullptr;
  pageCount = 0;
  // The editor holds the link.
  delete applicationsForm;
  applicationsForm = nullptr;
  foreground.reset();
  background.reset();
  delete link;
  link = nullptr;
  delete activityIndicator;
}

void TDiagramForm::StopTraffic() {
  // Keeps serving synchronous sends, so a link thread blocked in one ends.
  link->Stop();
}

void TDiagramForm::BuildControls() {
  setObjectName("DiagramForm");
  setWindowTitle("Palisar ");
  setMinimumSize(320, 240);

  BlockDiagramScrollBox = new QScrollArea(this);
  BlockDiagramScrollBox->setObjectName("BlockDiagramScrollBox");
  BlockDiagramPaintBox = new DiagramPaintBox(this);
  BlockDiagramPaintBox->setObjectName("BlockDiagramPaintBox");
  BlockDiagramScrollBox->setWidget(BlockDiagramPaintBox);
  // The paint box takes the size of the zoomed bitmap; the scroll box scrolls it.
  BlockDiagramScrollBox->setWidgetResizable(false);
  setCentralWidget(BlockDiagramScrollBox);

  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName("StatusBar");
  StatusBar->setSizeGripEnabled(false);
  QFont arial("Arial");
  StatusBar->setFont(arial);
  for (int i = 0; i < kStatusPanels; ++i) {
    StatusPanels[i] = i == 1 ? new ActivityPanel(this, StatusBar) : new QLabel(StatusBar);
    StatusPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
    // The last panel, the hint, reaches to the bar's right end, as a status
    // bar's last panel does: a hint is a whole sentence.
    const bool last = i + 1 == kStatusPanels;
    if (last) StatusPanels[i]->setMinimumWidth(kPanelWidths[i]);
    else StatusPanels[i]->setFixedWidth(kPanelWidths[i]);
    StatusBar->addWidget(StatusPanels[i], last ? 1 : 0);
  }
  StatusPanels[0]->setText("EVM Status: Connected");
  StatusPanels[1]->setText("EVM Activity");
  // Out of input, but enabled: a disabled bar would grey its texts.
  StatusBar->setAttribute(Qt::WA_TransparentForMouseEvents);
  StatusBar->setFocusPolicy(Qt::NoFocus);
  setStatusBar(StatusBar);

  ToolBar2 = addToolBar("ToolBar2");
  ToolBar2->setObjectName("ToolBar2");
  ToolBar2->setMovable(false);
  ActiveObjects = new QCheckBox("Active Objects", ToolBar2);
  ActiveObjects->setObjectName("ActiveObjects");
  ActiveObjects->setChecked(true);
  ToolBar2->addWidget(ActiveObjects);
  ZoomBox = new QComboBox(ToolBar2);
  ZoomBox->setObjectName("ZoomBox");
  ZoomBox->setEditable(true);
  for (const char* entry : kZoomEntries) ZoomBox->addItem(entry);
  ZoomBox->setEditText("200%");
  ToolBar2->addWidget(ZoomBox);
  ToolBar2->addSeparator();
  Refresh = ToolBar2->addAction("Refresh");
  Refresh->setObjectName("Refresh");
  SPI = new QCheckBox("Use SPI on EVM", ToolBar2);
  SPI->setObjectName("SPI");
  ToolBar2->addWidget(SPI);

  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  File1 = bar->addMenu("&File");
  File1->setObjectName("File1");
  EVMApplications = File1->addAction("EVM Applications...");
  EVMApplications->setObjectName("EVMApplications");
  UpdateFirmware = File1->addAction("Update &Firmware...");
  UpdateFirmware->setObjectName("UpdateFirmware");
  UpdateFirmware->setEnabled(false);
  SetID = File1->addAction("Set ID");
  SetID->setObjectName("SetID");
  CodecPort = File1->addAction("Disable Codec Port");
  CodecPort->setObjectName("CodecPort");
  CodecPort->setVisible(false);
  FileExitItem = File1->addAction("E&xit");
  FileExitItem->setObjectName("FileExitItem");
  View = bar->addMenu("&View");
  View->setObjectName("View");
  InitScript = View->addAction("&Init Script...");
  InitScript->setObjectName("InitScript");
  I2CCommand1 = View->addAction("&Command...");
  I2CCommand1->setObjectName("I2CCommand1");
  RegisterInspector1 = View->addAction("&Register Inspector...");
  RegisterInspector1->setObjectName("RegisterInspector1");
  Test = View->addAction("&Test...");
  Test->setObjectName("Test");
  ProcessingBlocks1 = View->addAction("&Processing Blocks...");
  ProcessingBlocks1->setObjectName("ProcessingBlocks1");
  Help1 = bar->addMenu("&Help");
  Help1->setObjectName("Help1");
  About = Help1->addAction("&About...");
  About->setObjectName("About");

  connect(EVMApplications, &QAction::triggered, this, [this] { EVMApplicationsClick(); });
  // The form's action list; its shortcuts work while focus is in this window.
  auto listAction = [this](const char* name, const char* text, QKeySequence keys, void (TDiagramForm::*handler)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    addAction(action);
    return action;
  };
  FileNew1 = listAction("FileNew1", "&New", QKeySequence(Qt::CTRL | Qt::Key_N), &TDiagramForm::FileNew1Execute);
  FileOpen1 = listAction("FileOpen1", "&Open", QKeySequence(Qt::CTRL | Qt::Key_O), &TDiagramForm::FileOpen1Execute);
  FileSave1 = listAction("FileSave1", "&Save", QKeySequence(Qt::CTRL | Qt::Key_S), &TDiagramForm::FileSave1Execute);
  FileSaveAs1 = listAction("FileSaveAs1", "Save &As...", QKeySequence(), &TDiagramForm::FileSave1Execute);
  HelpAbout1 = listAction("HelpAbout1", "&About...", QKeySequence(), &TDiagramForm::HelpAbout1Execute);

  connect(SetID, &QAction::triggered, this, [this] { SetIDClick(SetID); });
  connect(UpdateFirmware, &QAction::triggered, this, [this] { UpdateFirmwareClick(); });
  connect(CodecPort, &QAction::triggered, this, [this] { CodecPortClick(); });
  connect(FileExitItem, &QAction::triggered, this, [this] { FileExit1Execute(); });
  connect(About, &QAction::triggered, this, [this] { HelpAbout1Execute(); });
  connect(InitScript, &QAction::triggered, this, [this] { InitScriptClick(); });
  connect(I2CCommand1, &QAction::triggered, this, [this] { I2CCommand1Click(); });
  connect(RegisterInspector1, &QAction::triggered, this, [this] { RegisterInspector1Click(); });
  connect(ProcessingBlocks1, &QAction::triggered, this, [this] { ProcessingBlocksClick(); });
}

int TDiagramForm::CountDiagramAttributes(pugi::xml_node node) {
  int count = 0;
  for (;;) {
    char name[32];
    std::snprintf(name, sizeof name, "Diagram-%i", count + 1);
    if (!node.attribute(name)) return count;
    ++count;
  }
}

QMdiSubWindow* TDiagramForm::SubWindow() const { return qobject_cast<QMdiSubWindow*>(parentWidget()); }

QString TDiagramForm::StatusText(int panel) const {
  return panel >= 0 && panel < kStatusPanels ? StatusPanels[panel]->text() : QString();
}

void TDiagramForm::SetStatus(int panel, const QString& text) { StatusPanels[panel]->setText(text); }

void TDiagramForm::closeEvent(QCloseEvent* event) { FormClose(event); }

void TDiagramForm::FormClose(QCloseEvent* event) {
  if (link->GetDeviceHandle()) {
    // A window whose board is still attached only minimises.
    event->ignore();
    if (QMdiSubWindow* sub = SubWindow()) sub->showMinimized();
    else showMinimized();
    return;
  }
  closing_ = true;
  StopTraffic();
  event->accept();
}

void TDiagramForm::CloseWindow() {
  if (QMdiSubWindow* sub = SubWindow()) sub->close();
  else close();
}

void TDiagramForm::FileExit1Execute() { CloseWindow(); }

void TDiagramForm::HelpAbout1Execute() {
  if (AboutBox) Dialogs().RunModal(AboutBox);
}

// ---- link status ----------------------------------------------------------------------

void TDiagramForm::UpdateEVMStatusCallback(void* form, const char*, int, int code) {
  auto* self = static_cast<TDiagramForm*>(form);
  // Codes of transfers arrive inside the link's locks: other threads only queue.
  if (gui::IsGuiThread()) self->UpdateEVMStatus(code);
  else gui::Post(self, [self, code] { self->UpdateEVMStatus(code); });
}

void TDiagramForm::UpdateEVMStatus(int code) {
  if (code & 0x20) {
    if (activityIndicator) activityIndicator->Blink(100);
    SetStatus(0, "EVM Status: Connected");
    SetStatus(2, QString("USB Fs = %1").arg(usbSampleRate));
    return;
  }
  if (code & 0x01) {
    UpdateFirmware->setEnabled(true);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(link->GetFirmwareVersion()));
    const std::string hex = digits;
    const std::string version = hex.substr(0, 1) + "." + hex.substr(1, 2);
    BoardIdBytes block{};
    const bool read = link->ReadEEPROM(block.data(), kBoardIdAddress, kBoardIdSize, false);
    const std::string id = read ? BoardIdText(block) : std::string();
    const bool tagged = read && std::memcmp(block.data(), "FWID", 4) == 0;
    if (AboutBox) {
      AboutBox->Firmware->setText(Q(version));
      AboutBox->ID->setText(tagged ? Q(id) : QString("N/A"));
    }
    usbSampleRate = static_cast<int>(link->GetSamplingRate());
    for (int i = 0; i < pageCount; ++i) pages[i]->SetSampleRate(unsigned(usbSampleRate));
    SetStatus(0, "EVM Status: Connected");
    SetStatus(2, QString("USB Fs = %1").arg(usbSampleRate));
    if (currentPage) {
      RunInitScript(currentPage);
      UpdateObjects(0, 0, 0, true);
    }
  }
  if (code & 0x02) {
    std::snprintf(boardIdText, sizeof boardIdText, "%s", "FWIDN/A");
    UpdateFirmware->setEnabled(false);
    if (AboutBox) {
      AboutBox->Firmware->setText(QString::fromLatin1(boardIdText + 4));
      AboutBox->ID->setText("N/A");
    }
    SetStatus(0, "EVM Status: Disconnected");
    SetStatus(2, "USB Fs = N/A");
  }
  if ((code & 0x04) && !(code & 0x02) && !simulation) SetStatus(0, "EVM Status: Communications Error");
  if (simulation) SetStatus(0, "EVM Status: Simulation");
}

// ---- board ID -----------------------------------------------------------------------------

void TDiagramForm::SetIDClick(QObject* sender) {
  std::string name = S(windowTitle());
  if (sender) {
    if (!SelectEVMForm || Dialogs().RunModal(SelectEVMForm) != QDialog::Accepted) return;
    QListWidgetItem* item = SelectEVMForm->EVMList->currentItem();
    if (!item) return;
    name = S(item->text());
  }
  // Exactly the block: a longer write would run into the application image at 0x2000.
  const BoardIdBytes block = MakeBoardIdBlock(name);
  link->WriteEEPROM(block.data(), kBoardIdAddress, kBoardIdSize);
}

// ---- commands -----------------------------------------------------------------------------

void TDiagramForm::StatusBarDrawPanel(QPainter& canvas, const QRect& rect) {
  if (!activityIndicator) activityIndicator = new TActivityIndicator(StatusPanels[1]);
  QFont font("Arial");
  font.setPointSize(10);
  canvas.setFont(font);
  canvas.setPen(Qt::black);
  canvas.drawText(rect.adjusted(0, 0, -22, 0), Qt::AlignLeft | Qt::AlignTop, "EVM Activity");
  activityIndicator->Draw(canvas, rect.right() - 20, rect.top() + 3);
}

void TDiagramForm::UpdateFirmwareClick() {
  const std::string file = Dialogs().OpenFile(this, "Update EVM Firmware", "Firmware files (*.bin)|*.BIN");
  if (file.empty()) return;
  if (link->ProgramEEPROM(file.c_str()))
    Dialogs().Message(this, "Palisar", "Firmware updated. Please disconnect and reconnect EVM.");
  else
    Dialogs().Message(this, "Palisar", "Firmware update failed. Please try DFU instead.");
}

void TDiagramForm::CodecPortClick() {
  codecPortEnabled = !codecPortEnabled;
  CodecPort->setText(codecPortEnabled ? "Disable Codec Port" : "Enable Codec Port");
  link->SetControllerBits(0xFFB1, 1, codecPortEnabled);
  link->SetControllerBits(0xFFB1, 16, codecPortEnabled);
}

void TDiagramForm::FileOpen1Execute() { Dialogs().OpenFile(this, "Open", "All Files (*.*)|*.*"); }

void TDiagramForm::FileSave1Execute() { Dialogs().SaveFile(this, "Save As", "All Files (*.*)|*.*"); }

// ---- pages --------------------------------------------------------------------------------

TBlockDiagram* TDiagramForm::LoadPage(const std::string& fileName) {
  try {
    return new TBlockDiagram(fileName, context);
  } catch (const std::exception& error) {
    // The window goes on with the pages that load.
    const std::string text = "The diagram " + platform::Cut(fileName) + " cannot be loaded: " + error.what();
    platform::LogLine(text);
    // The load window stays on top: it would cover the message. It comes
    // back for the pages still to load.
    const bool loading = LoadForm && LoadForm->isVisible();
    if (loading) LoadForm->hide();
    Dialogs().Message(this, "Palisar", text);
    if (loading) LoadForm->show();
    return nullptr;
  }
}

bool TDiagramForm::AddDiagram(const std::string& fileName) {
  if (pageCount >= kMaxPages) return false;
  TBlockDiagram* page = LoadPage(fileName);
  if (!page) return false;
  if (boardAcquired) RunLoadScripts(page);
  currentPage = page;
  page->SetVisible(false);
  pages[pageCount++] = page;
  return true;
}

void TDiagramForm::MakeCurrent(TBlockDiagram* page) {
  if (currentPage) currentPage->SetVisible(false);
  currentPage = page;
  if (currentPage) currentPage->SetVisible(true);
  if (drawing && currentPage) drawing->SetObjects(currentPage->Objects(), currentPage->ObjectCount());
  HoldStreams();
}

void TDiagramForm::HoldStreams() {
  for (int i = 0; i < pageCount; ++i) pages[i]->HoldStreams(!onScreen || pages[i] != currentPage);
  if (clockPage) clockPage->HoldStreams(!onScreen || clockPage != currentPage);
}

void TDiagramForm::SelectDiagram(int index) {
  if (index < 0 || index >= pageCount) return;
  MakeCurrent(pages[index]);
  ZoomBoxChange();
  UpdateObjects(0, 0, 0, true);
  RunInitScript(currentPage);
}

void TDiagramForm::ShowPage(int index) {
  if (index < 0 || index >= pageCount || pages[index] == currentPage) return;
  SelectDiagram(index);
}

void TDiagramForm::InitView() {
  pbForm->Window().SetCallbacks(this, ObjectWrite, ObjectRefreshRequest, nullptr);
  if (pageCount == 0) return;
  currentPage = previousPage = pages[0];
  pages[pageCount] = nullptr;
  for (int i = 0; i < pageCount; ++i) pages[i]->SetZoom(zoom, 0, 0);
  if (clockPage) clockPage->SetZoom(zoom, 0, 0);
  currentPage->SetVisible(true);
  // Selecting the entry recomputes the zoom once, so the bitmap matches the box.
  {
    const QSignalBlocker quiet(ZoomBox);
    ZoomBox->setCurrentIndex(2);
  }
  ZoomBoxChange();
  RefreshInspector();
  if (currentPage->GetI2CAddress() == 0x30) RefreshClick();
}

void TDiagramForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  onScreen = true;
  FormShow();
  HoldStreams();
}

void TDiagramForm::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  onScreen = false;
  // A window that is closing has stopped its link already.
  if (!closing_.load()) HoldStreams();
}

void TDiagramForm::FormShow() {
  if (shown) return;
  shown = true;
  Test->setVisible(false);
  if (pageCount == 0) {
    // A board without a page that loads still gets its (empty) page.
    if (TBlockDiagram* empty = LoadPage("")) {
      pages[0] = currentPage = empty;
      pageCount = 1;
    }
  }
  SelectDiagram(0);
  InitView();
  SizeBitmaps();
  drawingEnabled = true;
  Redraw();
  RepaintDiagram();
}

void TDiagramForm::ObjectClicked(TGUIObject* object) {
  if (!object || !currentPage) return;
  const std::string& name = object->GetFunctionName();
  if (name == "DConf") {
    if (!clockPage) {
      platform::LogLine("DConf: " + S(windowTitle()) + " has no clock page; the click is ignored");
      return;
    }
    ShowClockPage();
    return;
  } else if (name == "return") {
    if (!previousPage || currentPage == previousPage) return;
    MakeCurrent(previousPage);
  } else {
    return;
  }
  UpdateObjects(0, 0, 0, true);
  ZoomBoxChange();
}

void TDiagramForm::ShowClockPage() {
  // "return" must still lead back to a diagram page.
  if (!clockPage || currentPage == clockPage) return;
  previousPage = currentPage;
  MakeCurrent(clockPage);
  UpdateObjects(0, 0, 0, true);
  ZoomBoxChange();
}

QString TDiagramForm::PageCaption(const TBlockDiagram* page) {
  if (!page->GetTitle().empty()) return Q(page->GetTitle());
  // The file name without its folders ("QMX7XXX\\Page1.svg" gives "Page1.svg").
  const std::string& file = page->FileName();
  const size_t slash = file.find_last_of("\\/");
  return Q(slash == std::string::npos ? file : file.substr(slash + 1));
}

void TDiagramForm::AddPageMenuItems() {
  if (pageCount == 0 && !clockPage) return;
  View->addSeparator();
  // The page commands, one per loaded page; a fifth page has no named command.
  void (TDiagramForm::*const commands[kMaxPages])() = {&TDiagramForm::DisplayFullClick,
                                                       &TDiagramForm::DisplayPlaybackClick,
                                                       &TDiagramForm::DisplayRecordClick,
                                                       &TDiagramForm::DisplayTouchScreenClick, nullptr};
  for (int i = 0; i < pageCount; ++i) {
    QAction* item = View->addAction(PageCaption(pages[i]));
    item->setObjectName(QString("Page%1").arg(i + 1));
    auto command = commands[i];
    connect(item, &QAction::triggered, this, [this, command, i] {
      if (command) (this->*command)();
      else ShowPage(i);
    });
  }
  if (clockPage) {
    QAction* item = View->addAction(PageCaption(clockPage));
    item->setObjectName("ClockPage");
    connect(item, &QAction::triggered, this, [this] { ShowClockPage(); });
  }
}

TI2CCommand* TDiagramForm::InitScriptWindow(TBlockDiagram* page) {
  if (!page || page->GetInitScriptFile().empty()) return nullptr;
  auto found = initScripts.find(page);
  if (found != initScripts.end()) return found->second;
  auto* window = new TI2CCommand(this);
  window->setObjectName("InitScript");
  // A page's script window: its transfers and nothing else, nothing to record, narrow.
  window->SetCallbacks(this, CommandTransfer);
  window->setWindowTitle(QString::fromStdString("Init Script: " + page->GetInitScriptFile()));
  window->Record->hide();
  window->setMinimumWidth(420);
  window->resize(420, window->height());
  if (!window->LoadScript(platform::MapPath(page->GetInitScriptFile())))
    platform::LogLine("Cannot read the init script " + platform::Cut(page->GetInitScriptFile()));
  initScripts[page] = window;
  return window;
}

void TDiagramForm::RunLoadScripts(TBlockDiagram* page) {
  if (page) page->RunLoadScripts(!simulation);
}

void TDiagramForm::ProcessingBlocksClick() {
  pbForm->ReserveForCodec(S(windowTitle()));
  pbForm->show();
  pbForm->raise();
}

void TDiagramForm::RunInitScript(TBlockDiagram* page) {
  if (TI2CCommand* window = InitScriptWindow(page)) window->RunSync();
}

// ---- register traffic -------------------------------------------------------------------

unsigned TDiagramForm::LinkAddress(int device) const { return SPI->isChecked() ? 0u : unsigned(device) & 0xFF; }

void TDiagramForm::RefreshInspector() {
  if (!currentPage) return;
  const unsigned address = unsigned(currentPage->GetI2CAddress());
  inspector->UpdateGrid(int(address), link->GetRegisterImage(address, 0, 0, 0), -1, link->GetImageSize(address));
}

void TDiagramForm::ObjectEvent(void* form, TGUIObject* object, int event) {
  auto* self = static_cast<TDiagramForm*>(form);
  switch (event) {
    case kEventHoverEnded:
      if (self->hoverCount > 0) --self->hoverCount;
      if (self->hoverCount == 0) self->SetStatus(3, QString());
      self->DrawForeground();
      self->RepaintDiagram();
      break;
    case kEventLit:
    case kEventStateChanged:
      self->redrawPending = true;
      if (self->drawing) self->drawing->NoteChange(object);
      if (self->drawingEnabled) {
        // An inert object is drawn into the background only.
        if (object && object->GetMode() == 0) self->Redraw();
        else self->DrawForeground();
        self->RepaintDiagram();
      }
      break;
    case kEventEntered: {
      // The hint goes to status panel 3 only: the paint box shows no tooltip.
      self->SetStatus(3, object ? Q(object->GetHintText()) : QString());
      ++self->hoverCount;
      break;
    }
    default:
      break;
  }
}

void TDiagramForm::ObjectWrite(void* form, int device, int page, int first, int count) {
  auto* self = static_cast<TDiagramForm*>(form);
  TUSBI2C* link = self->link;
  const unsigned address = unsigned(device);
  if (count > 0 && page >= 0 && first >= 0) {
    // The window has changed its bytes in the image already.
    if (uint8_t* image = link->GetRegisterImage(address, 0, unsigned(page), unsigned(first)))
      link->WriteRegisters(image, self->LinkAddress(device), 0, unsigned(page), unsigned(first), unsigned(count));
  }
  // The inspector's grid (a few hundred cells) follows the write rather than
  // delaying it; nothing is drawn in between, so the user sees the same.
  self->inspector->UpdateGrid(device, link->GetRegisterImage(address, 0, 0, 0), -1, link->GetImageSize(address));
  self->UpdateObjects(device, page, first, false, count);
}

void TDiagramForm::ObjectRefreshRequest(void* form, int device, int page, int first, int count, int rate) {
  auto* self = static_cast<TDiagramForm*>(form);
  const std::array<int, 4> block = {device, page, first, count};
  if (rate != 0 && page >= 0 && first >= 0 && count > 0) {
    self->refreshOwner = block;
    self->link->StartRefresh(self->LinkAddress(device), 0, unsigned(page), unsigned(first), unsigned(count), rate,
                             self, RefreshCallback);
    return;
  }
  // A stop that names a block stops only that block's refresh: a widget
  // that leaves must not end the stream another one has started since.
  if (count > 0 && block != self->refreshOwner) return;
  self->refreshOwner = {};
  self->link->StopRefresh();
}

bool TDiagramForm::ImagePlace(unsigned address, const uint8_t* bytes, int reg, unsigned& book, unsigned& page) {
  const uint8_t* base = link->GetRegisterImage(address, 0, 0, 0);
  if (!base || !bytes || reg < 0) return false;
  const uintptr_t from = reinterpret_cast<uintptr_t>(base), at = reinterpret_cast<uintptr_t>(bytes);
  if (at < from || at - from >= link->GetImageSize(address)) return false;
  const uintptr_t offset = at - from;
  if (offset % TUSBI2C::kPageBytes != unsigned(reg)) return false;
  book = unsigned(offset / TUSBI2C::kBookBytes);
  page = unsigned(offset % TUSBI2C::kBookBytes / TUSBI2C::kPageBytes);
  return true;
}

int TDiagramForm::DoBlockTransfer(unsigned address, unsigned book, unsigned page, int reg, uint8_t* data, int count,
                                  bool read, bool refresh, const unsigned* back) {
  bool ok = false, lastKnown = false;
  // Block transfers are never recorded.
  link->SetWriteCallback(nullptr, nullptr);
  if (data && count > 0 && reg >= 0) {
    // Only a block that stays inside its page of the image is mirrored there.
    uint8_t* image = reg + count <= int(TUSBI2C::kPageBytes)
                         ? link->GetRegisterImage(address, book, page, unsigned(reg))
                         : nullptr;
    if (read) {
      ok = link->ReadRegisters(data, address, book, page, unsigned(reg), unsigned(count));
      // A failed read gives the caller the last known values.
      if (image && image != data) ok ? std::memcpy(image, data, size_t(count)) : std::memcpy(data, image, size_t(count));
      lastKnown = !ok && image;
    } else {
      if (image && image != data) std::memcpy(image, data, size_t(count));
      ok = link->WriteRegisters(data, address, book, page, unsigned(reg), unsigned(count));
      // Device 0x70 takes its value in the register byte.
      if (address == 0x70 && book == 0) {
        if (uint8_t* block = link->GetRegisterImage(address, 0, page, 0)) std::memset(block, reg & 0xFF, 7);
      }
    }
    // The device goes back to the book and page it was on (unless the
    // window wrote the page register itself).
    if (back && (back[0] != book || back[1] != page) && (read || reg != 0)) {
      const uint8_t pageByte = uint8_t(back[1]);
      if (back[0] == book) link->WriteRegisters(&pageByte, address, book, page, 0, 1);
      else link->WriteRegisters(&pageByte, address, back[0], back[1], 0, 1);
    }
  }
  link->SetWriteCallback(this, RecordWrite);
  if (refresh && currentPage && book == 0) {
    RefreshInspector();
    UpdateObjects(0, 0, 0, true);
    Redraw();
    RepaintDiagram();
  }
  const bool board = link->HasBoard();
  if (!ok && !board && !noBoardLogged_.exchange(true))
    platform::LogLine(boardName_ + ": no board; register transfers change the register image only");
  return TransferResult(ok, lastKnown, board);
}

void TDiagramForm::BlockTransfer(void* form, int device, int reg, uint8_t* data, int count, bool read, bool refresh) {
  auto* self = static_cast<TDiagramForm*>(form);
  const unsigned address = unsigned(device);
  const unsigned was[2] = {self->link->GetBook(address), self->link->GetPage(address)};
  unsigned book = was[0], page = was[1];
  // A register window's bytes belong to their page, whatever page another
  // window left the device on; the link selects it for the transfer.
  self->ImagePlace(address, data, reg, book, page);
  self->DoBlockTransfer(address, book, page, reg, data, count, read, refresh, was);
}

int TDiagramForm::CommandTransfer(void* form, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                                  bool read, bool last) {
  auto* self = static_cast<TDiagramForm*>(form);
  const unsigned address = unsigned(device);
  if (!place.placed) {
    // A run starts where the device is; its own lines move it from there.
    place.placed = true;
    place.paged = self->link->IsPaged(address);
    place.booked = self->link->IsBooked(address);
    place.book = int(self->link->GetBook(address));
    place.page = int(self->link->GetPage(address));
  }
  return self->DoBlockTransfer(address, unsigned(place.book), unsigned(place.page), reg, data, count, read, last,
                               nullptr);
}

void TDiagramForm::InspectorAccess(void* form, int device, int book, int page, int reg, int mode) {
  auto* self = static_cast<TDiagramForm*>(form);
  if (mode == 0) {
    if (book == 0 && self->currentPage) {
      // One drawing pass for the whole fan-out, as a write's notification.
      const bool outer = self->HoldDrawing();
      TBlockDiagram* current = self->currentPage;
      for (unsigned i = 0; i < current->RegisterWindowCount(); ++i)
        if (TI2CObject* window = current->RegisterWindow(i)) window->OnRegisterChanged(device, page, unsigned(reg));
      self->ReleaseDrawing(outer);
    }
    if (book >= 0 && page >= 0 && reg >= 0) {
      if (uint8_t* image = self->link->GetRegisterImage(unsigned(device), unsigned(book), unsigned(page), unsigned(reg)))
        self->link->WriteRegisters(image, self->LinkAddress(device), unsigned(book), unsigned(page), unsigned(reg), 1);
    }
  } else if (mode == 1) {
    if (!self->currentPage) return;
    self->ReadAllPages(self->currentPage->GetI2CAddress(), book, page, page);
    self->UpdateObjects(0, 0, 0, true);
    self->RefreshInspector();
  }
}

void TDiagramForm::InspectorDescribe(void* form, std::vector<std::string>& lines, int device, int page, int reg,
                                     int value) {
  static_cast<TDiagramForm*>(form)->link->GetRegisterDescription(lines, unsigned(device), page, reg, value);
}

int TDiagramForm::ScriptGPIO(void* form, int value, bool on) {
  return static_cast<TDiagramForm*>(form)->link->SetBoardBits(uint8_t(value), on) ? 1 : 0;
}

void TDiagramForm::ScriptDecode(void* form, std::vector<std::string>& lines, int device, int page, int reg,
                                int value) {
  static_cast<TDiagramForm*>(form)->link->GetRegisterComments(lines, unsigned(device), page, reg, value);
}

int TDiagramForm::ScriptPageQuery(void* form, int device) {
  return int(static_cast<TDiagramForm*>(form)->link->GetPage(unsigned(device)));
}

char* TDiagramForm::ScriptLog(void* form) { return static_cast<TDiagramForm*>(form)->link->GetCodecLog(); }

std::string TDiagramForm::RecordLine(const uint8_t* data, unsigned device, unsigned reg, unsigned count) {
  std::string line = "w";
  char byte[8];
  std::snprintf(byte, sizeof byte, " %02x", device & 0xFF);
  line += byte;
  std::snprintf(byte, sizeof byte, " %02x", reg & 0xFF);
  line += byte;
  for (unsigned i = 0; data && i < count; ++i) {
    std::snprintf(byte, sizeof byte, " %02x", data[i]);
    line += byte;
  }
  return line;
}

void TDiagramForm::RecordWrite(void* form, const uint8_t* data, unsigned device, unsigned, unsigned, unsigned reg,
                               unsigned count) {
  auto* self = static_cast<TDiagramForm*>(form);
  const std::string line = RecordLine(data, device, reg, count);
  auto append = [self, line] {
    if (self->commandWindow->Recording()) self->commandWindow->AppendCommandLine(line);
  };
  // Writes of other threads arrive inside the link's locks: they only queue.
  if (gui::IsGuiThread()) append();
  else gui::Post(self, append);
}

int TDiagramForm::RefreshCallback(void* form, unsigned device, unsigned book, unsigned page, unsigned reg,
                                  unsigned count) {
  auto* self = static_cast<TDiagramForm*>(form);
  self->lastRefresh[0] = int(device);
  self->lastRefresh[1] = int(book);
  self->lastRefresh[2] = int(page);
  self->lastRefresh[3] = int(reg);
  self->lastRefresh[4] = int(count);
  // Message 1026: the link thread waits until the GUI thread has handled it.
  gui::SendSync([self] { self->RegisterDataMessage(); });
  return 0;
}

void TDiagramForm::RegisterDataMessage() {
  // The link thread waits in its report: the image is the GUI thread's alone.
  link->ApplyRefresh();
  if (closing_.load()) return;
  NotifyRegisterObjects(lastRefresh[0], lastRefresh[1], lastRefresh[2], lastRefresh[3], lastRefresh[4]);
}

void TDiagramForm::NotifyRegisterObjects(int device, int book, int page, int reg, int count) {
  if (book == 0 && currentPage) {
    const bool outer = HoldDrawing();
    for (unsigned i = 0; i < currentPage->RegisterWindowCount(); ++i)
      if (TI2CObject* window = currentPage->RegisterWindow(i))
        window->OnRegisterChanged(device, page, NotifiedRegister(*window, device, page, reg, count));
    ReleaseDrawing(outer);
  }
  RefreshInspector();
}

bool TDiagramForm::HoldDrawing() {
  const bool outer = drawingEnabled;
  drawingEnabled = false;
  // Inside a pass that holds drawing already the flag is that pass's.
  if (outer) {
    redrawPending = false;
    if (drawing) drawing->BeginPass();
  }
  return outer;
}

void TDiagramForm::ReleaseDrawing(bool outer) {
  if (!outer) return;
  drawingEnabled = true;
  if (drawing && drawing->EndPass(false)) RepaintDiagram();
}

void TDiagramForm::UpdateObjects(int device, int page, int reg, bool all, int count) {
  if (!currentPage) return;
  const bool outer = HoldDrawing();
  for (unsigned i = 0; i < currentPage->RegisterWindowCount(); ++i) {
    TI2CObject* window = currentPage->RegisterWindow(i);
    if (!window) continue;
    uint8_t* image = RegisterWindowImage(*window, *link);
    if (!image) continue;
    window->SetData(image);
    if (all)
      window->OnRegisterChanged(window->GetDevice(), window->GetPage(), unsigned(window->GetFirstRegister()));
    else
      window->OnRegisterChanged(device, page, NotifiedRegister(*window, device, page, reg, count));
  }
  ReleaseDrawing(outer);
}

void TDiagramForm::ReadAllPages(int device, int book, int firstPage, int lastPage) {
  const unsigned saved = link->GetPage(unsigned(device));
  const unsigned address = LinkAddress(device);
  for (int page = std::max(firstPage, 0); page <= lastPage; ++page) {
    if (uint8_t* image = link->GetRegisterImage(unsigned(device), unsigned(book), unsigned(page), 0))
      link->ReadRegisters(image, address, unsigned(book), unsigned(page), 0, TUSBI2C::kPageBytes);
  }
  // The codec is left on the page it was on.
  if (device == 0x30) {
    const uint8_t page = uint8_t(saved);
    link->WriteRegisters(&page, address, unsigned(book), 0, 0, 1);
  }
}

void TDiagramForm::LoadRegisterMapFile(const std::string& fileName, int device) {
  const std::string path = platform::MapPath(fileName);
  const unsigned address = unsigned(device);
  if (fileName.find(".xml") != std::string::npos) {
    if (!link->LoadRegisterMap(path, address)) return;
    std::vector<std::string> lines;
    for (int page = 0; page < 256; ++page) {
      for (int reg = 0; reg < 128; ++reg) {
        lines.clear();
        link->GetRegisterComments(lines, address, page, reg, 0);
        if (lines.size() < 2) continue;
        // "#%  Name, Data ..." gives the name.
        const std::string& line = lines[1];
        std::string name = line.size() > 3 ? line.substr(3) : std::string();
        const size_t data = name.find(", Data");
        if (data != std::string::npos) name.resize(data);
        inspector->SetDescription(0, page, reg, name, 0xFF);
      }
    }
    return;
  }
  std::vector<RegisterListEntry> entries;
  std::string error;
  std::vector<std::string> warnings;
  if (!RegisterListText::Read(path, entries, error, warnings))
    platform::LogLine("Cannot read the register list " + platform::Cut(fileName) + ": " + error);
  for (const std::string& warning : warnings) platform::LogLine(warning);
  uint8_t* image = link->GetRegisterImage(address, 0, 0, 0);
  const unsigned size = link->GetImageSize(address);
  for (const RegisterListEntry& entry : entries) {
    inspector->SetDescription(0, entry.page, entry.reg, entry.name, int(entry.mask & 0xFF));
    const unsigned offset = unsigned(entry.page) * TUSBI2C::kPageBytes + unsigned(entry.reg);
    if (image && offset < size) image[offset] = uint8_t(entry.defaultValue & 0xFF);
  }
}

// ---- view ---------------------------------------------------------------------------------

void TDiagramForm::ZoomBoxChange() {
  const std::string text = S(ZoomBox->currentText());
  const int percent = std::atoi(text.substr(0, text.find('%')).c_str());
  if (!currentPage) return;
  const int width = currentPage->GetWidth();
  zoom = float(percent * 0.01 * currentPage->GetZoomFactor() * 1536 / unsigned(width));
  const int bitmapWidth = int(width * zoom);
  const int bitmapHeight = int(currentPage->GetHeight() * zoom);
  bitmapSize = QSize(bitmapWidth, bitmapHeight);
  bitmapsWanted = true;
  BlockDiagramPaintBox->resize(std::max(bitmapWidth, 0), std::max(bitmapHeight, 0));
  BlockDiagramScrollBox->horizontalScrollBar()->setValue(0);
  BlockDiagramScrollBox->verticalScrollBar()->setValue(0);
  currentPage->SetZoom(zoom, 0, 0);
  // Until the window first draws, its bitmaps wait: the first show passes
  // through the design zoom (200 %) to its own, and bitmaps of that size
  // would be filled only to be thrown away.
  if (foreground || drawingEnabled) SizeBitmaps();
  Redraw();
  RepaintDiagram();
}

void TDiagramForm::SizeBitmaps() {
  if (!bitmapsWanted) return;
  if (!foreground) foreground = std::make_unique<TCanvas>(BlockDiagramPaintBox);
  if (!background) background = std::make_unique<TCanvas>();
  // The drawing draws the background's pixels when it needs them, and
  // every pixel of the foreground before it is shown, unless drawing is
  // held. The background first: memory it lets go of serves the foreground.
  background->Resize(bitmapSize.width(), bitmapSize.height());
  if (drawingEnabled) foreground->Resize(bitmapSize.width(), bitmapSize.height());
  else foreground->SetSize(bitmapSize.width(), bitmapSize.height(), kDiagramColour);
  if (!drawing) drawing = std::make_unique<TPageDrawing>();
  drawing->SetCanvases(foreground.get(), background.get(), kDiagramColour);
  if (currentPage) drawing->SetObjects(currentPage->Objects(), currentPage->ObjectCount());
}

void TDiagramForm::Redraw() {
  if (!drawingEnabled) {
    // The pass that holds drawing back redraws; a whole page was asked for.
    redrawPending = true;
    if (drawing && drawing->InPass()) drawing->Redraw();
    return;
  }
  if (!background || !currentPage || !drawing) return;
  drawing->Redraw();
}

void TDiagramForm::DrawBackground() {
  if (background && foreground && currentPage && drawing) drawing->DrawBackground();
}

void TDiagramForm::DrawForeground() {
  if (background && foreground && currentPage && drawing) drawing->DrawForeground();
}

void TDiagramForm::RepaintDiagram() { BlockDiagramPaintBox->update(); }

void TDiagramForm::BlockDiagramPaintBoxPaint(QPainter& painter) {
  if (foreground) painter.drawImage(0, 0, foreground->Image());
}

void TDiagramForm::BlockDiagramPaintBoxMouseDown(int x, int y) {
  panning = true;
  panAnchor = QPoint(x, y);
}

void TDiagramForm::BlockDiagramPaintBoxMouseUp(int, int) {
  panning = false;
  BlockDiagramPaintBox->unsetCursor();
}

void TDiagramForm::BlockDiagramPaintBoxMouseMove(int x, int y) {
  pointerX = x;
  pointerY = y;
  if (panning) {
    BlockDiagramPaintBox->setCursor(Qt::OpenHandCursor);
    QScrollBar* horizontal = BlockDiagramScrollBox->horizontalScrollBar();
    QScrollBar* vertical = BlockDiagramScrollBox->verticalScrollBar();
    horizontal->setValue(horizontal->value() + panAnchor.x() - x);
    vertical->setValue(vertical->value() + panAnchor.y() - y);
    return;
  }
  BlockDiagramPaintBox->unsetCursor();
  if (!ActiveObjects->isChecked() || !currentPage) return;
  for (unsigned i = 0; i < currentPage->ObjectCount(); ++i)
    if (TGUIObject* object = currentPage->Object(i)) object->MouseMove(x, y);
}

void TDiagramForm::BlockDiagramPaintBoxMouseLeave() {
  // A window that is closing is taking its pages down.
  if (closing_.load() || !currentPage) return;
  for (unsigned i = 0; i < currentPage->ObjectCount(); ++i)
    if (TGUIObject* object = currentPage->Object(i)) object->PointerLeft();
}

void TDiagramForm::BlockDiagramPaintBoxClick() {
  TBlockDiagram* page = currentPage;
  // Drawing waits until the click is done: a widget's write reaches the
  // link first, and what changed is drawn once however many objects did.
  const bool outer = HoldDrawing();
  redrawPending = false;
  for (unsigned i = 0; page && i < page->ObjectCount(); ++i) {
    TGUIObject* object = page->Object(i);
    if (!object || !object->Click(pointerX, pointerY)) continue;
    ObjectClicked(object);
    page->ShowPluginDialog(object);
    // A click that switched the page is not offered to the new page's objects.
    if (currentPage != page) break;
  }
  ReleaseDrawing(outer);
}

void TDiagramForm::ActiveObjectsClick() {
  if (!currentPage) return;
  const bool active = ActiveObjects->isChecked();
  for (unsigned i = 0; i < currentPage->ObjectCount(); ++i)
    if (TGUIObject* object = currentPage->Object(i)) object->SetActiveObjects(active);
}

void TDiagramForm::RefreshClick() {
  if (!currentPage) return;
  const int device = currentPage->GetI2CAddress();
  const unsigned address = LinkAddress(device);
  int last = 0;
  if (currentPage->GetPages() >= 2) {
    // Page 0, book 0 first: the reads then start from a known selection.
    const uint8_t zero = 0;
    link->WriteRegisters(&zero, address, 0, 0, 0, 1);
    link->WriteRegisters(&zero, address, 0, 0, 127, 1);
    last = 4;
  }
  ReadAllPages(device, 0, 0, last);
  RefreshInspector();
  UpdateObjects(0, 0, 0, true);
  Redraw();
  RepaintDiagram();
}

// ---- window commands ------------------------------------------------------------------------

void TDiagramForm::EVMApplicationsClick() {
  if (!applicationsForm) {
    applicationsForm = new TEVMApplicationsForm(this);
    applicationsForm->ShowEVMApplications(link);
  } else {
    Dialogs().RunModal(applicationsForm);
  }
}

void TDiagramForm::I2CCommand1Click() {
  commandWindow->SetCallbacks(this, CommandTransfer, ScriptGPIO, ScriptDecode, ScriptPageQuery, ScriptLog);
  commandWindow->show();
  commandWindow->raise();
}

void TDiagramForm::RegisterInspector1Click() {
  RefreshInspector();
  inspector->show();
  inspector->raise();
}

void TDiagramForm::InitScriptClick() {
  if (TI2CCommand* window = InitScriptWindow(currentPage)) {
    window->show();
    window->raise();
  }
}

// ---- codec plug-in ------------------------------------------------------------------------

void TDiagramForm::AddPluginMenuItems() {
  void* module = currentPage ? currentPage->GetModule() : nullptr;
  auto getItem = reinterpret_cast<TPluginGetMenuItem>(platform::ResolveSymbol(module, "_GetMenuItem"));
  if (!getItem) return;
  for (unsigned i = 0;; ++i) {
    const char* caption = getItem(i);
    if (!caption) break;
    QAction* item = View->addAction(QString::fromUtf8(caption));
    item->setData(int(i));
    connect(item, &QAction::triggered, this, [this, item] { MenuItemsClick(item); });
    pluginMenuItems.push_back(item);
  }
}

void TDiagramForm::MenuItemsClick(QAction* item) {
  if (!item || !currentPage || !pluginInstance) return;
  auto select =
      reinterpret_cast<TPluginSelectMenu>(platform::ResolveSymbol(currentPage->GetModule(), "_SelectMenu"));
  if (select) select(pluginInstance, unsigned(item->data().toInt()));
}

int TDiagramForm::PluginCommandCallback(void* form, TCodecCommand* command) {
  auto* self = static_cast<TDiagramForm*>(form);
  if (!self || !command) return 0;
  switch (command->type) {
    case kCodecRunScript: {
      const auto* request = static_cast<const TCodecScriptRequest*>(command->payload);
      if (!request) break;
      // Scripts drive a window: they run on the GUI thread.
      gui::SendSync([self, request] { self->RunPluginScript(request); });
      break;
    }
    case kCodecBlockTransfer: {
      const auto* t = static_cast<const TI2CBlockTransfer*>(command->payload);
      if (t) self->PluginBlockTransfer(t->device, t->book, t->page, t->reg, t->count, t->data, t->read != 0);
      break;
    }
    case kCodecProgress: {
      const auto* progress = static_cast<const TCodecProgress*>(command->payload);
      if (!progress) break;
      if (progress->total == 0) {
        // A step of no total has no place on the bar: the bar stays.
        platform::LogLine("Plug-in progress with a total of 0 is ignored: " +
                          std::string(progress->text ? progress->text : ""));
        break;
      }
      const std::string text = progress->text ? progress->text : "";
      const int position = int(uint64_t(progress->step) * 15 / progress->total + 80);
      auto show = [self, text, position] {
        self->loadProgress->SetText(text);
        self->loadProgress->SetPosition(position);
        self->loadProgress->Repaint();
      };
      if (gui::IsGuiThread()) show();
      else gui::Post(self, show);
      break;
    }
    case kCodecLogLine: {
      const auto* line = static_cast<const TCodecLogLine*>(command->payload);
      if (line && line->text) platform::LogLine(line->text);
      break;
    }
    default:
      break;
  }
  return 0;
}

void TDiagramForm::RunPluginScript(const TCodecScriptRequest* request) {
  if (!request || !request->script) return;
  TI2CCommand window(this);
  window.SetCallbacks(this, CommandTransfer, ScriptGPIO, ScriptDecode, ScriptPageQuery, ScriptLog);
  window.CommandBuffer->setPlainText(QString::fromUtf8(request->script));
  if (request->progressBar) window.SetProgressBar(request->progressBar);
  window.RunSync();
  window.SetProgressBar(nullptr);
}

void TDiagramForm::PluginBlockTransfer(unsigned device, int book, int page, int first, int count, uint8_t* data,
                                       bool read) {
  if (!data || count <= 0 || book < 0 || page < 0 || first < 0) return;
  if (read) {
    // Into the plug-in's buffer only; the image is not touched.
    link->ReadRegisters(data, device, unsigned(book), unsigned(page), unsigned(first), unsigned(count));
    return;
  }
  // Only a block that stays inside its page of the image is mirrored there,
  // and only once the board has taken it: the image holds no refused value.
  uint8_t* image = first + count <= int(TUSBI2C::kPageBytes)
                       ? link->GetRegisterImage(device, unsigned(book), unsigned(page), unsigned(first))
                       : nullptr;
  auto refused = [&] {
    platform::LogF("%s: the board refused a plug-in write of %d bytes to device 0x%02X, book %d, page %d, register %d",
                   boardName_.c_str(), count, device & 0xFF, book, page, first);
  };
  if (gui::IsGuiThread()) {
    ApplyPluginWrites();  // the writer thread's earlier blocks first
    const bool ok = link->WriteRegisters(data, device, unsigned(book), unsigned(page), unsigned(first), unsigned(count));
    if (!ok && link->HasBoard()) return refused();
    if (image) {
      std::memcpy(image, data, size_t(count));
      RefreshInspector();
    }
    return;
  }
  // Another thread (the plug-in's writer): the link takes the block here;
  // the image and the inspector belong to the GUI thread, which takes every
  // block queued so far in one pass, leaving what was written after it.
  auto watch = std::make_unique<TWriteWatch>();
  if (!link->WriteWatched(data, device, unsigned(book), unsigned(page), unsigned(first), unsigned(count), *watch))
    return refused();
  if (!image) {
    link->EndWatch(*watch);
    return;
  }
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> lock(pluginWritesMutex_);
    wasEmpty = pluginWrites_.empty();
    pluginWrites_.push_back({std::vector<uint8_t>(data, data + count), std::move(watch)});
  }
  if (wasEmpty) gui::Post(this, [this] { ApplyPluginWrites(); });
}

void TDiagramForm::ApplyPluginWrites() {
  std::vector<TPluginWrite> writes;
  {
    std::lock_guard<std::mutex> lock(pluginWritesMutex_);
    writes.swap(pluginWrites_);
  }
  if (writes.empty()) return;
  for (TPluginWrite& w : writes) {
    link->EndWatch(*w.watch);
    const TWriteWatch& at = *w.watch;
    uint8_t* image = link->GetRegisterImage(at.address, at.book, at.page, at.reg);
    for (size_t i = 0; image && i < w.bytes.size(); ++i)
      if (!at.written[i]) image[i] = w.bytes[i];
  }
  RefreshInspector();
}
