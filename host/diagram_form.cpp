#include "host/diagram_form.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QPainter>
#include <QTimer>
#include <QToolBar>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollArea>
#include <QStatusBar>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/about_box.h"
#include "host/board_id.h"
#include "host/dialogs.h"
#include "host/load_form.h"
#include "host/select_evm_form.h"
#include "host/window_util.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"

namespace {

// 0xD7D2D2 as the original colour value: red in the low byte.
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
  // The form and its controls.
  simulation = request->simulation;
  boardNode = request->node;
  BuildControls();
  // The board ID text shown while no board is present.
  std::snprintf(boardIdText, sizeof boardIdText, "%s", "FWIDN/A");
  // Diagram colours.
  QPalette palette = BlockDiagramScrollBox->palette();
  palette.setColor(QPalette::Window, kDiagramBackground);
  BlockDiagramScrollBox->setPalette(palette);
  BlockDiagramScrollBox->setAutoFillBackground(true);
  BlockDiagramPaintBox->setPalette(palette);
  BlockDiagramPaintBox->setAutoFillBackground(true);
  // The window's own link; its thread starts idle.
  link = new TUSBI2C(false);
  link->SetConnectCallback(this, UpdateEVMStatusCallback);
  // Base of the zoomed scroll ranges.
  scrollRangeX = 2000;
  scrollRangeY = 3000;
  // The device slots every board window declares, in this order.
  link->AddDevice(0x70, 0, 0);
  link->AddDevice(0x72, 0, 0);
  link->AddDevice(0, 0, 256);
  link->AddDevice(1, 0, 256);
  link->AddDevice(0x80, 0, 256);
  link->AddDevice(0xA4, 0, 256);
  // The loading splash and the caption.
  if (LoadForm) {
    LoadForm->ProgressBar->setValue(0);
    LoadForm->show();
  }
  setWindowTitle(QString::fromUtf8(boardNode.name()));
  if (LoadForm) {
    LoadForm->EVM->setText("EVM: " + windowTitle());
    LoadForm->repaint();
  }
  // The diagram pages, register map and plug-in menu of the board element join here.
  // The board of the request; a null handle leaves the link without one.
  link->AcquireEVM(request->deviceHandle);
  // A window opened for a listed board shows it connected.
  if (request->deviceIndex != -1) UpdateEVMStatus(1);
  if (LoadForm) LoadForm->hide();

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
  // The thread is finished after an accepted close; otherwise it stops here.
  link->Stop();
  delete link;
  delete activityIndicator;
}

void TDiagramForm::BuildControls() {
  setObjectName("DiagramForm");
  setWindowTitle("Palisar ");
  setMinimumSize(320, 240);

  BlockDiagramScrollBox = new QScrollArea(this);
  BlockDiagramScrollBox->setObjectName("BlockDiagramScrollBox");
  BlockDiagramPaintBox = new QWidget;
  BlockDiagramPaintBox->setObjectName("BlockDiagramPaintBox");
  BlockDiagramScrollBox->setWidget(BlockDiagramPaintBox);
  BlockDiagramScrollBox->setWidgetResizable(true);
  setCentralWidget(BlockDiagramScrollBox);

  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName("StatusBar");
  StatusBar->setSizeGripEnabled(false);
  QFont arial("Arial");
  StatusBar->setFont(arial);
  for (int i = 0; i < kStatusPanels; ++i) {
    StatusPanels[i] = i == 1 ? new ActivityPanel(this, StatusBar) : new QLabel(StatusBar);
    StatusPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
    StatusPanels[i]->setFixedWidth(kPanelWidths[i]);
    StatusBar->addWidget(StatusPanels[i]);
  }
  StatusPanels[0]->setText("EVM Status: Connected");
  StatusPanels[1]->setText("EVM Activity");
  StatusBar->setEnabled(false);
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
  EVMApplications->setVisible(false);
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
  Help1 = bar->addMenu("&Help");
  Help1->setObjectName("Help1");
  About = Help1->addAction("&About...");
  About->setObjectName("About");

  connect(SetID, &QAction::triggered, this, [this] { SetIDClick(SetID); });
  connect(UpdateFirmware, &QAction::triggered, this, [this] { UpdateFirmwareClick(); });
  connect(CodecPort, &QAction::triggered, this, [this] { CodecPortClick(); });
  connect(FileExitItem, &QAction::triggered, this, [this] { FileExit1Execute(); });
  connect(About, &QAction::triggered, this, [this] { HelpAbout1Execute(); });
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
  // Keeps serving synchronous sends, so a link thread blocked in one ends.
  link->Stop();
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
    SetStatus(0, "EVM Status: Connected");
    SetStatus(2, QString("USB Fs = %1").arg(usbSampleRate));
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
