// The board window itself: its construction and teardown, controls, menus
// and window commands, the status bar with its activity lamp, and what
// happens as it closes, shows and hides.
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
#include <QScrollArea>
#include <QStatusBar>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/canvas.h"
#include "common/page_drawing.h"
#include "diagram/block_diagram.h"
#include "diagram/processing_blocks.h"
#include "registers/evm_applications_form.h"
#include "registers/i2c_command.h"
#include "registers/register_inspector.h"
#include "platform/log.h"
#include "platform/text.h"

#include "host/about_box.h"
#include "host/board_id.h"
#include "host/diagram_form_internal.h"
#include "host/diagram_paint_box.h"
#include "platform/gui/dialogs.h"
#include "host/load_form.h"
#include "host/select_evm_form.h"
#include "host/window_util.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"

namespace {

const QColor kDiagramBackground(0xD2, 0xD2, 0xD7);
constexpr int kPanelWidths[TDiagramForm::kStatusPanels] = {250, 100, 120, 50};
const char* const kZoomEntries[] = {"50%", "80%", "100%", "125%", "150%", "175%", "200%"};

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

}  // namespace

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

void TDiagramForm::BuildControls() {
  setObjectName("DiagramForm");
  setWindowTitle("Palisar ");
  setMinimumSize(320, 240);

  BlockDiagramScrollBox = new QScrollArea(this);
  BlockDiagramScrollBox->setObjectName("BlockDiagramScrollBox");
  BlockDiagramPaintBox = new DiagramPaintBox(this);
  BlockDiagramPaintBox->setObjectName("BlockDiagramPaintBox");
  BlockDiagramScrollBox->setWidget(BlockDiagramPaintBox);
  static_cast<DiagramPaintBox*>(BlockDiagramPaintBox)->WatchView(BlockDiagramScrollBox->viewport());
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
  // Nothing more of a script reaches the board once its window goes.
  StopInitScripts(nullptr, "the board window closes");
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
    Dialogs().Warning(this, "Palisar", "Firmware update failed. Please try DFU instead.");
}

void TDiagramForm::CodecPortClick() {
  codecPortEnabled = !codecPortEnabled;
  CodecPort->setText(codecPortEnabled ? "Disable Codec Port" : "Enable Codec Port");
  link->SetControllerBits(0xFFB1, 1, codecPortEnabled);
  link->SetControllerBits(0xFFB1, 16, codecPortEnabled);
}

void TDiagramForm::FileOpen1Execute() { Dialogs().OpenFile(this, "Open", "All Files (*.*)|*.*"); }

void TDiagramForm::FileSave1Execute() { Dialogs().SaveFile(this, "Save As", "All Files (*.*)|*.*"); }

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

void TDiagramForm::ProcessingBlocksClick() {
  pbForm->ReserveForCodec(S(windowTitle()));
  pbForm->show();
  pbForm->raise();
}
