#include "host/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "host/about_box.h"
#include "host/board_id.h"
#include "host/diagram_form.h"
#include "platform/gui/dialogs.h"
#include "host/select_evm_form.h"
#include "host/tcp_connect_form.h"
#include "host/window_util.h"
#include "link/usbi2c.h"
#include "platform/gui/gui.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/text.h"

TMainForm* MainForm = nullptr;

namespace {

QAction* NamedAction(QMenu* menu, const char* name, const char* text) {
  QAction* action = menu->addAction(text);
  action->setObjectName(name);
  return action;
}

// A folder is named whole in a message, unless it is beyond reason.
constexpr size_t kMaxFolderChars = 1024;

std::string CurrentDirectory() {
  std::error_code error;
  std::string directory = std::filesystem::current_path(error).string();
  return error ? std::string(".") : directory;
}

}  // namespace

TMainForm::TMainForm(QWidget* owner) : QMainWindow(owner) {
  // The frame, as its form resource builds it.
  setObjectName("MainForm");
  setWindowTitle("Palisar");
  mdiArea_ = new QMdiArea(this);
  mdiArea_->setObjectName("MDIArea");
  mdiArea_->setBackground(QColor(0xAB, 0xAB, 0xAB));  // the application work space colour
  setCentralWidget(mdiArea_);

  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  File1 = bar->addMenu("&File");
  File1->setObjectName("File1");
  NewEVMSimulation = NamedAction(File1, "NewEVMSimulation", "New EVM Simulation...");
  NetworkConnect1 = NamedAction(File1, "NetworkConnect1", "Network Connect...");
  N1 = File1->addSeparator();
  N1->setObjectName("N1");
  FileExitItem = NamedAction(File1, "FileExitItem", "E&xit");
  Window1 = bar->addMenu("&Window");
  Window1->setObjectName("Window1");
  Help1 = bar->addMenu("&Help");
  Help1->setObjectName("Help1");
  HelpAboutItem = NamedAction(Help1, "HelpAboutItem", "&About...");

  connect(NewEVMSimulation, &QAction::triggered, this, [this] { NewEVMSimulationClick(); });
  connect(NetworkConnect1, &QAction::triggered, this, [this] { NetworkConnect1Click(); });
  connect(FileExitItem, &QAction::triggered, this, [this] { FileExit1Execute(); });
  connect(HelpAboutItem, &QAction::triggered, this, [this] { HelpAbout1Execute(); });
  connect(Window1, &QMenu::aboutToShow, this, [this] { UpdateWindowMenu(); });
  resize(1024, 768);

  watcher = new TUSBI2C(true);
  watcher->SetConnectCallback(this, USBConnectCallback);
  // The watcher reads the board list only after its first synchronous send
  // (the count change), which the GUI thread serves once this constructor is done.
  LoadBoardList();
  startDirectory = CurrentDirectory();
  // The numeric locale stays "C" (set at start-up): numbers use a point, as in English.
}

TMainForm::~TMainForm() {
  shuttingDown_ = true;
  watcher->Stop();
  delete watcher;
  watcher = nullptr;
  // Each board window stops its own link as it goes.
  for (QMdiSubWindow* sub : mdiArea_->subWindowList()) delete sub;
}

void TMainForm::LoadBoardList() {
  std::string contents, problem;
  // Read from the folder Palisar was started in: a start elsewhere is the
  // usual cause of a missing list, so the message names the folder.
  const std::string folder = platform::Quote(CurrentDirectory(), kMaxFolderChars);
  std::string text;
  if (platform::ReadFile("EVM.xml", contents, problem)) {
    const pugi::xml_parse_result result = EVMList.load_buffer(contents.data(), contents.size());
    boardListLoaded_ = static_cast<bool>(result);
    if (boardListLoaded_) return;
    text = "The board list EVM.xml in the folder " + folder + " is not well-formed (" + result.description() +
           " at " + platform::LineAndColumn(contents, size_t(std::max<ptrdiff_t>(result.offset, 0))) +
           "); no board can be opened.";
  } else {
    text = "The board list EVM.xml cannot be read in the folder " + folder + " (" + problem +
           "); no board can be opened. Palisar reads it from the folder it is started in: start it in its "
           "board kit's folder.";
  }
  boardListLoaded_ = false;
  // Carry on with an empty list: boards then open nothing, and a simulation
  // offers an empty choice.
  EVMList.reset();
  platform::LogLine(text);
  // Shown from the message loop: the other start-up windows exist by then.
  gui::Post(this, [this, text] { Dialogs().Warning(this, "Palisar", text); });
}

int TMainForm::BoardKindCount() const {
  int count = 0;
  for (pugi::xml_node child : EVMList.document_element().children())
    if (child.type() == pugi::node_element) ++count;
  return count;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) emit Closed();
}

std::vector<TDiagramForm*> TMainForm::MdiChildren() const {
  std::vector<TDiagramForm*> children;
  for (QMdiSubWindow* sub : mdiArea_->subWindowList()) {
    auto* form = qobject_cast<TDiagramForm*>(sub->widget());
    if (form && !form->IsClosing()) children.push_back(form);
  }
  return children;
}

void TMainForm::UpdateWindowMenu() {
  Window1->clear();
  int number = 0;
  QMdiSubWindow* active = mdiArea_->activeSubWindow();
  for (TDiagramForm* form : MdiChildren()) {
    QMdiSubWindow* sub = form->SubWindow();
    if (!sub) continue;
    ++number;
    QString text = number < 10 ? QString("&%1 %2").arg(number).arg(form->windowTitle())
                               : QString("%1 %2").arg(number).arg(form->windowTitle());
    QAction* action = Window1->addAction(text);
    action->setCheckable(true);
    action->setChecked(sub == active);
    connect(action, &QAction::triggered, mdiArea_, [this, sub] {
      if (mdiArea_->subWindowList().contains(sub)) {
        if (sub->isMinimized()) sub->showNormal();
        mdiArea_->setActiveSubWindow(sub);
      }
    });
  }
}

// ---- the watcher ------------------------------------------------------------------

void TMainForm::USBConnectCallback(void* form, const char* devicePath, int deviceIndex, int code) {
  auto* self = static_cast<TMainForm*>(form);
  platform::LogF("USB connect CB: 0x%02X", code);
  if (code & 0x200) self->ChangeDetected();
  if (code & 0x400) self->ChangeDone();
  if (code & 0x001) self->ConnectEVM(devicePath, deviceIndex);
}

void TMainForm::ChangeDetected() {
  platform::LogLine("Change Detected");
  gui::SendSync([this] {
    if (shuttingDown_) return;
    for (TDiagramForm* child : MdiChildren()) child->SetConnected(false);
  });
}

void TMainForm::ConnectEVM(const char* devicePath, int deviceIndex) {
  const std::string reported = devicePath ? devicePath : "";
  platform::LogLine("Connect -> Check & Load Diagram");
  platform::LogF("DevicePathName %s", reported.c_str());
  void* handle = watcher->GetDeviceHandle();

  bool found = false;
  bool ending = false;
  const bool served = gui::SendSync([&] {
    if (shuttingDown_) {
      ending = true;
      return;
    }
    const std::vector<TDiagramForm*> children = MdiChildren();
    const int n = static_cast<int>(children.size());
    for (int i = 0; i < n; ++i) {
      TDiagramForm* child = children[static_cast<size_t>(i)];
      platform::LogF("Check Diagram %d of %d", i, n);
      const std::string path = child->GetLink()->CopyDevicePathName();
      platform::LogLine(path);
      if (reported == path) {
        platform::LogLine("Flag connection\n");
        child->SetConnected(true);
        found = true;
        child->GetLink()->AcquireEVM(handle);
        platform::LogLine("EVM acquired\n");
      }
    }
  });
  // A board plugged again into the same port keeps its window.
  if (!served || found || ending || shuttingDown_) return;

  platform::LogLine("New EVM detected...");
  auto* probe = new TUSBI2C(false);
  probe->AcquireEVM(handle);
  platform::LogLine(std::string("USB Device Path Name = ") + probe->GetDevicePathName());
  BoardIdBytes block{};
  const bool read = probe->ReadEEPROM(block.data(), kBoardIdAddress, kBoardIdSize, false);
  platform::LogF("ReadEEPROM: %hd", static_cast<short>(read));
  // A failed read counts as a block without the tag.
  if (!read) block = BoardIdBytes{};
  const std::string name = BoardNameFromId(block);
  platform::LogLine("EVM name: " + name);

  pugi::xml_node node;
  if (!name.empty()) {
    pugi::xml_node match = EVMList.document_element().child(name.c_str());
    if (match.type() == pugi::node_element) node = match;
  }
  EVMOpenRequest request;
  request.node = node;
  request.deviceIndex = deviceIndex;
  request.simulation = false;
  request.deviceHandle = handle;
  request.name = &name;

  // The new window opens its own link on the same handle.
  probe->Stop();
  delete probe;
  Dispatch(kOpenEVMMessage, &request);
}

void TMainForm::ChangeDone() {
  platform::LogLine("Change Done");
  gui::SendSync([this] {
    if (shuttingDown_) return;
    for (TDiagramForm* child : MdiChildren()) {
      if (child->IsConnected() || child->IsSimulation()) continue;
      // Without a device handle the window accepts the close.
      child->GetLink()->SetDeviceHandle(nullptr);
      child->CloseWindow();
    }
  });
}

// ---- board list and windows ---------------------------------------------------------

pugi::xml_node TMainForm::SelectEVM(bool show) {
  if (!SelectEVMForm) return {};
  if (SelectEVMForm->EVMList->count() == 0) {
    for (pugi::xml_node child : EVMList.document_element().children())
      if (child.type() == pugi::node_element) SelectEVMForm->AddEVM(child.name(), child);
  }
  if (SelectEVMForm->EVMList->count() > 0) SelectEVMForm->EVMList->setCurrentRow(0);
  if (!show) return {};
  if (Dialogs().RunModal(SelectEVMForm) != QDialog::Accepted) return {};
  return SelectEVMForm->GetEVM(SelectEVMForm->EVMList->currentRow());
}

bool TMainForm::Dispatch(int message, EVMOpenRequest* request) {
  if (message != kOpenEVMMessage) return false;
  return gui::SendSync([this, request] { OpenEVMDiagram(request); });
}

void TMainForm::OpenEVMDiagram(EVMOpenRequest* request) {
  if (shuttingDown_ || !request) return;
  EVMOpenRequest open = *request;
  bool picked = false;
  if (open.node) {
    SelectEVM(false);
  } else {
    // Without any board kind there is nothing to pick a board from.
    if (!open.simulation && BoardKindCount() == 0) return;
    open.node = SelectEVM(true);
    picked = true;
  }
  if (!open.node || shuttingDown_) return;

  // The board list names its files relative to the start directory.
  std::error_code error;
  std::filesystem::current_path(startDirectory, error);
  auto* form = new TDiagramForm(mdiArea_, &open);
  form->SetConnected(true);
  // Written so that the board is recognised the next time it is attached.
  if (picked) form->SetIDClick(nullptr);
}

// ---- menu commands ----------------------------------------------------------------

void TMainForm::NewEVMSimulationClick() {
  const std::string name;
  EVMOpenRequest request;
  request.node = pugi::xml_node();
  request.deviceIndex = -1;
  request.simulation = true;
  request.deviceHandle = nullptr;
  request.name = &name;
  Dispatch(kOpenEVMMessage, &request);
}

void TMainForm::NetworkConnect1Click() {
  if (!TCPConnectForm) return;
  if (Dialogs().RunModal(TCPConnectForm) != QDialog::Accepted) return;
  // The board joins the watcher's device list like a USB board.
  if (watcher->TCPConnect(TCPConnectForm->server, TCPConnectForm->port)) return;
  // A failure would otherwise show nothing: the library's log line holds the reason.
  std::string reason;
  if (char* log = watcher->GetCodecLog()) {
    std::istringstream lines(log);
    std::free(log);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("cannot connect", 0) == 0) reason = line;  // the latest one
  }
  const std::string where = std::string(TCPConnectForm->server) + ":" + std::to_string(TCPConnectForm->port);
  const std::string text = "Network Connect to " + where + " failed" + (reason.empty() ? "" : ": " + reason);
  platform::LogLine(text);
  Dialogs().Warning(this, "Network Connect", text);
}

void TMainForm::FileExit1Execute() { close(); }

void TMainForm::HelpAbout1Execute() {
  if (AboutBox) Dialogs().RunModal(AboutBox);
}
