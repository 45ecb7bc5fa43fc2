#include "registers/evm_applications_form.h"

#include <QAction>
#include <QCheckBox>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "link/usbi2c.h"
#include "platform/gui/dialogs.h"
#include "platform/text.h"
#include "registers/i2c_command.h"

TEVMApplicationsForm* EVMApplicationsForm = nullptr;

namespace {

constexpr const char* kCaption = "EVM Applications";
constexpr int kPieceSize = 32;

// Names are 8-bit text, as the EEPROM stores them.
QString FromLatin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }
std::string ToLatin1(const QString& s) { return s.toLatin1().toStdString(); }
// Messages are UTF-8; names that the image holds are 8-bit.
std::string Latin1ToUtf8(const std::string& s) { return FromLatin1(s).toStdString(); }
// A node's text, as messages quote it.
std::string Quoted(const QTreeWidgetItem* node) { return platform::Cut(node->text(0).toStdString()); }

std::string Format(const char* format, unsigned value) {
  char text[96];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return out && out.write(bytes.data(), std::streamsize(bytes.size())) && out.flush();
}

// "0x2000" or "8192"; false for anything else.
bool ParseAddress(const std::string& text, unsigned long& value) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = text.c_str() + (hex ? 2 : 0);
  if (*digits == 0 || *digits == '-' || *digits == '+' || *digits == ' ') return false;
  char* end = nullptr;
  value = std::strtoul(digits, &end, hex ? 16 : 10);
  return *end == 0;
}

}  // namespace

// ---- TEVMScript ---------------------------------------------------------------------------

TEVMScript::TEVMScript() : recorder(new TI2CCommand(nullptr)) {
  recorder->SetCallbacks(this, RecordTransfer);
  // A recorder has no board: a read it cannot answer is no fault worth a log line.
  recorder->Script().SetLogTransferFailures(false);
  image.SetName(name);
}

TEVMScript::~TEVMScript() { delete recorder; }

int TEVMScript::RecordTransfer(void* user, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                               bool isRead, bool) {
  auto* script = static_cast<TEVMScript*>(user);
  if (!place.placed) script->PlaceOf(device, place);
  if (isRead) return script->Answer(device, place, reg, data, count);
  script->Remember(device, place, reg, data, count);
  if (!script->image.AddWrite(device, reg, data, count)) {
    script->overflowed = true;
    return 0;
  }
  return 1;
}

int TEVMScript::Edit(QWidget* parent) {
  if (!recorder) return QDialog::Rejected;
  recorder->setWindowTitle(QString::fromStdString(directory + name + extension));
  // The recorder is shown modally inside a dialog that carries its caption.
  QDialog dialog(parent);
  dialog.setObjectName("ScriptRecorder");
  dialog.setWindowTitle(recorder->windowTitle());
  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(recorder);
  recorder->show();
  QObject::connect(recorder, &QWidget::windowTitleChanged, &dialog, &QWidget::setWindowTitle);
  dialog.resize(recorder->size());
  const int result = Dialogs().RunModal(&dialog);
  layout->removeWidget(recorder);
  QObject::disconnect(recorder, &QWidget::windowTitleChanged, &dialog, &QWidget::setWindowTitle);
  recorder->setParent(nullptr);
  recorder->hide();

  const std::string caption = recorder->windowTitle().toStdString();
  const size_t separator = caption.find_last_of("\\/");
  const size_t start = separator == std::string::npos ? 0 : separator + 1;
  directory = caption.substr(0, start);
  // A name without an extension keeps all of its text.
  const size_t dot = caption.rfind('.');
  if (dot == std::string::npos || dot < start) {
    name = caption.substr(start);
    extension.clear();
  } else {
    name = caption.substr(start, dot - start);
    extension = caption.substr(dot);
  }
  image.SetName(ToLatin1(QString::fromStdString(name)));
  return result;
}

uint32_t TEVMScript::Key(int device, const ScriptPlace& at, int reg) {
  return uint32_t(device & 0xFF) << 24 | uint32_t(at.book & 0xFF) << 16 | uint32_t(at.page & 0xFF) << 8 |
         uint32_t(reg & 0xFF);
}

void TEVMScript::PlaceOf(int device, ScriptPlace& place) const {
  // The script starts where the board window's device is; without a board
  // every device is taken for a paged codec.
  if (board) board->PlaceScript(unsigned(device), place);
  else place = ScriptPlace{true, true, false, 0, 0};
}

void TEVMScript::Remember(int device, const ScriptPlace& at, int reg, const uint8_t* data, int count) {
  for (int i = 0; i < count && reg + i < int(TUSBI2C::kPageBytes); ++i) written[Key(device, at, reg + i)] = data[i];
}

int TEVMScript::Answer(int device, const ScriptPlace& at, int reg, uint8_t* data, int count) {
  if (reg < 0 || count < 0 || reg + count > int(TUSBI2C::kPageBytes)) return kTransferNoBoard;
  std::vector<uint8_t> values(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    auto own = written.find(Key(device, at, reg + i));
    const uint8_t* image = board ? board->GetRegisterImage(unsigned(device), unsigned(at.book), unsigned(at.page),
                                                           unsigned(reg + i))
                                 : nullptr;
    if (own != written.end())
      values[size_t(i)] = own->second;
    else if (image)
      values[size_t(i)] = *image;
    else
      return kTransferNoBoard;
  }
  std::copy(values.begin(), values.end(), data);
  // Not read from a board, but the values the board window knows.
  return kTransferLastKnown | kTransferNoBoard;
}

bool TEVMScript::Run(TUSBI2C* on) {
  if (!recorder) return false;
  const EVMScriptImage previous = image;
  image.Clear();
  overflowed = false;
  board = on;
  written.clear();
  recorder->RunSync();
  board = nullptr;
  // A failed line shows the recorder; it is edited again from the tree, not beside the modal editor.
  recorder->hide();
  if (overflowed) image = previous;
  return true;
}

void TEVMScript::DropRecorder() {
  delete recorder;
  recorder = nullptr;
}

// ---- the tree ------------------------------------------------------------------------------

TEVMApplicationsTree::TEVMApplicationsTree(TEVMApplicationsForm* form, QWidget* parent)
    : QTreeWidget(parent), form(form) {}

void TEVMApplicationsTree::dragEnterEvent(QDragEnterEvent* event) {
  if (event->source() == this) event->acceptProposedAction();
  else event->ignore();
}

void TEVMApplicationsTree::dragMoveEvent(QDragMoveEvent* event) {
  QTreeWidgetItem* target = itemAt(event->position().toPoint());
  if (form->TreeViewDragOver(event->source(), currentItem(), target)) event->acceptProposedAction();
  else event->ignore();
}

void TEVMApplicationsTree::dropEvent(QDropEvent* event) {
  QTreeWidgetItem* target = itemAt(event->position().toPoint());
  QTreeWidgetItem* dragged = currentItem();
  // The form places the node itself; the view must not move anything.
  event->setDropAction(Qt::IgnoreAction);
  event->accept();
  if (form->TreeViewDragOver(event->source(), dragged, target)) form->TreeViewDragDrop(dragged, target);
}

// ---- the form ------------------------------------------------------------------------------

TEVMApplicationsForm::TEVMApplicationsForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("EVMApplicationsForm");
  setWindowTitle(kCaption);

  UpdateEVM = new QPushButton("Update EVM", this);
  UpdateEVM->setObjectName("UpdateEVM");
  TreeView = new TEVMApplicationsTree(this, this);
  TreeView->setObjectName("TreeView");
  TreeView->setHeaderHidden(true);
  TreeView->setDragEnabled(true);
  TreeView->setAcceptDrops(true);
  TreeView->setDragDropMode(QAbstractItemView::InternalMove);
  TreeView->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  TreeView->setContextMenuPolicy(Qt::CustomContextMenu);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  AddApplication1 = PopupMenu1->addAction("Add Application");
  AddApplication1->setObjectName("AddApplication1");
  AddScript1 = PopupMenu1->addAction("Add Script");
  AddScript1->setObjectName("AddScript1");
  Delete1 = PopupMenu1->addAction("Delete");
  Delete1->setObjectName("Delete1");
  Delete1->setShortcut(QKeySequence(Qt::Key_Delete));
  Delete1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  addAction(Delete1);

  auto counter = [this](const char* name, const char* caption, const char* unit, int row, QGridLayout* grid) {
    auto* label = new QLabel("0", this);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(new QLabel(caption, this), row, 0);
    grid->addWidget(label, row, 1);
    if (*unit) grid->addWidget(new QLabel(unit, this), row, 2);
    return label;
  };
  auto* counters = new QGridLayout;
  CommandsText = counter("CommandsText", "Commands:", "", 0, counters);
  LengthText = counter("LengthText", "Length:", "Bytes", 1, counters);
  ImageText = counter("ImageText", "Image:", "Bytes", 2, counters);
  EEPROMText = counter("EEPROMText", "EEPROM:", "Bytes", 3, counters);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setTextVisible(false);
  ProgressBar->hide();
  Save = new QPushButton("Save", this);
  Save->setObjectName("Save");
  AutoLoad = new QCheckBox("Enable UCX0740b Auto Load", this);
  AutoLoad->setObjectName("AutoLoad");
  StartAddress = new QLineEdit(this);
  StartAddress->setObjectName("StartAddress");
  StartAddress->setText(QString::fromStdString(Format("0x%04X", EEPROMApplicationImage::kBase)));

  auto* grid = new QGridLayout(this);
  grid->addWidget(UpdateEVM, 0, 0, 1, 2);
  grid->addWidget(TreeView, 1, 0, 1, 2);
  grid->addLayout(counters, 2, 0, 1, 2);
  grid->addWidget(ProgressBar, 3, 0, 1, 2);
  auto* address = new QHBoxLayout;
  address->addWidget(new QLabel("Addr:", this));
  address->addWidget(StartAddress);
  grid->addLayout(address, 4, 0);
  grid->addWidget(Save, 4, 1);
  grid->addWidget(AutoLoad, 5, 0, 1, 2);
  resize(300, 460);

  ReadEVMTimer = new QTimer(this);
  ReadEVMTimer->setObjectName("ReadEVMTimer");
  ReadEVMTimer->setInterval(500);

  connect(UpdateEVM, &QPushButton::clicked, this, [this] { UpdateEVMClick(); });
  connect(Save, &QPushButton::clicked, this, [this] { SaveClick(); });
  connect(AutoLoad, &QCheckBox::clicked, this, [this] { AutoLoadClick(); });
  connect(AddApplication1, &QAction::triggered, this, [this] { AddApplication1Click(); });
  connect(AddScript1, &QAction::triggered, this, [this] { AddScript1Click(); });
  connect(Delete1, &QAction::triggered, this, [this] { Delete1Click(); });
  connect(TreeView, &QTreeWidget::itemDoubleClicked, this, [this] { TreeViewDblClick(); });
  connect(TreeView, &QTreeWidget::itemClicked, this, [this] { TreeViewClick(); });
  connect(TreeView, &QTreeWidget::currentItemChanged, this, [this] { TreeViewChange(); });
  connect(TreeView, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(TreeView->viewport()->mapToGlobal(at)); });
  connect(ReadEVMTimer, &QTimer::timeout, this, [this] { ReadEVMTimerTimer(); });
  ReadEVMTimer->start();
}

TEVMApplicationsForm::~TEVMApplicationsForm() { ClearTree(); }

TEVMScript* TEVMApplicationsForm::ScriptOf(const QTreeWidgetItem* node) {
  return node ? reinterpret_cast<TEVMScript*>(node->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

int TEVMApplicationsForm::ImageOf(const QTreeWidgetItem* node) { return node ? node->data(0, kImageRole).toInt() : -1; }

QTreeWidgetItem* TEVMApplicationsForm::ApplicationOf(QTreeWidgetItem* node) {
  return node && node->parent() ? node->parent() : node;
}

void TEVMApplicationsForm::Tell(const std::string& text) { Dialogs().Warning(this, kCaption, text); }

QTreeWidgetItem* TEVMApplicationsForm::AddApplicationNode(const std::string& name) {
  auto* node = new QTreeWidgetItem(TreeView, QStringList{FromLatin1(name)});
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  node->setData(0, kImageRole, int(kApplicationImage));
  node->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
  return node;
}

QTreeWidgetItem* TEVMApplicationsForm::AddScriptNode(QTreeWidgetItem* application, const std::string& text,
                                                     TEVMScript* script, int image) {
  auto* node = new QTreeWidgetItem(application, QStringList{FromLatin1(text)});
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  node->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(script)));
  node->setData(0, kImageRole, image);
  node->setIcon(0, style()->standardIcon(image == kRecordedScriptImage ? QStyle::SP_FileIcon
                                                                        : QStyle::SP_DriveHDIcon));
  return node;
}

void TEVMApplicationsForm::DeleteNode(QTreeWidgetItem* node) {
  std::vector<TEVMScript*> scripts{ScriptOf(node)};
  for (int s = 0; s < node->childCount(); ++s) scripts.push_back(ScriptOf(node->child(s)));
  // The node goes first: while it leaves, the tree still shows the counters of its scripts.
  delete node;
  for (TEVMScript* script : scripts) delete script;
}

void TEVMApplicationsForm::ClearTree() {
  while (TreeView->topLevelItemCount() > 0) DeleteNode(TreeView->topLevelItem(0));
}

// ---- board traffic --------------------------------------------------------------------------

void TEVMApplicationsForm::ShowEVMApplications(TUSBI2C* board) {
  link = board;
  uint8_t block[AutoLoadBlock::kSize];
  // A block that cannot be read counts as one without the tag.
  const bool tagged = link && link->ReadEEPROM(block, AutoLoadBlock::kAddress, sizeof block, false) &&
                      AutoLoadBlock::Tagged(block);
  AutoLoad->setEnabled(tagged);
  if (tagged) AutoLoad->setChecked(AutoLoadBlock::Enabled(block));
  Dialogs().RunModal(this);
}

void TEVMApplicationsForm::ReadEVMTimerTimer() {
  ReadEVMTimer->stop();
  if (link) ReadImage(link);
}

void TEVMApplicationsForm::SetProgress(int p, int n, int s, int scripts, int k, int records) {
  const int share = ProgressBar->maximum() / n;
  const int span = int(double(s + 1) / scripts * share);
  ProgressBar->setValue(int(double(span) * k / records + share * p));
}

void TEVMApplicationsForm::ReadImage(TUSBI2C* board) {
  ClearTree();
  ProgressBar->hide();
  readFailed = false;
  ProgressBar->setValue(0);
  ProgressBar->show();
  const EEPROMApplicationImage::ReadResult read = EEPROMApplicationImage::Read(
      [board](uint8_t* buffer, unsigned address, unsigned count) {
        return board->ReadEEPROM(buffer, address, count, true);
      },
      [this](int p, int n, int s, int scripts, int k, int records) { SetProgress(p, n, s, scripts, k, records); });
  for (const EVMApplicationRead& application : read.applications) {
    QTreeWidgetItem* node = AddApplicationNode(application.name);
    for (const EVMApplicationRead::Script& s : application.scripts) {
      auto* script = new TEVMScript;
      script->DropRecorder();
      script->SetName(Latin1ToUtf8(s.name));
      script->GetImage() = s.image;
      AddScriptNode(node, s.name, script, kBoardScriptImage);
    }
    node->setExpanded(true);
  }
  ProgressBar->hide();
  BuildImage();
  std::string problems;
  if (read.failed) {
    readFailed = true;
    problems = Latin1ToUtf8(read.error) + "\nThe board's applications are left as they are: Update EVM is refused.";
  }
  for (const std::string& warning : read.warnings)
    problems += (problems.empty() ? "" : "\n") + Latin1ToUtf8(warning);
  if (!problems.empty()) Tell(problems);
}

bool TEVMApplicationsForm::BuildImage() {
  std::vector<EVMApplicationLayout> layout;
  for (int p = 0; p < TreeView->topLevelItemCount(); ++p) {
    QTreeWidgetItem* application = TreeView->topLevelItem(p);
    layout.push_back({ToLatin1(application->text(0)), {}});
    for (int s = 0; s < application->childCount(); ++s) {
      QTreeWidgetItem* node = application->child(s);
      TEVMScript* script = ScriptOf(node);
      if (!script) continue;
      script->GetImage().SetName(ToLatin1(node->text(0)));
      layout.back().scripts.push_back(&script->GetImage());
    }
  }
  std::vector<uint8_t> image;
  if (!EEPROMApplicationImage::Build(layout, image, buildError)) {
    buildError = Latin1ToUtf8(buildError);
    return false;
  }
  buildError.clear();
  imageBuffer = std::move(image);
  ImageText->setText(QString::number(imageBuffer.size()));
  return true;
}

void TEVMApplicationsForm::UpdateEVMClick() {
  if (!link) return;
  if (readFailed) {
    Tell("The applications could not be read from the EVM: Update EVM would overwrite them, so nothing is written.");
    return;
  }
  if (!BuildImage()) {
    Tell(buildError + "\nNothing is written.");
    return;
  }
  ProgressBar->setValue(0);
  ProgressBar->show();
  const unsigned length = unsigned(imageBuffer.size());
  for (unsigned written = 0; written < length;) {
    const unsigned piece = std::min(unsigned(kPieceSize), length - written);
    const unsigned address = EEPROMApplicationImage::kBase + written;
    if (!link->WriteEEPROM(imageBuffer.data() + written, address, piece)) {
      ProgressBar->hide();
      Tell(Format("Writing the EVM applications failed at EEPROM address 0x%04X.", address));
      return;
    }
    written += piece;
    ProgressBar->setValue(int(written * 100 / length));
  }
  ProgressBar->hide();
}

void TEVMApplicationsForm::AutoLoadClick() {
  const bool on = AutoLoad->isChecked();
  uint8_t block[AutoLoadBlock::kSize];
  // Without the board's own bits the flag byte cannot be written back.
  if (!link || !link->ReadEEPROM(block, AutoLoadBlock::kAddress, sizeof block, false)) {
    AutoLoad->setChecked(!on);
    Tell("The auto-load flag could not be read from the EVM; it is left as it is.");
    return;
  }
  AutoLoadBlock::SetEnabled(block, on);
  if (!link->WriteEEPROM(block, AutoLoadBlock::kAddress, sizeof block)) {
    AutoLoad->setChecked(!on);
    Tell("The auto-load flag could not be written to the EVM.");
  }
}

// ---- exports --------------------------------------------------------------------------------

void TEVMApplicationsForm::SaveClick() {
  const std::string name = Dialogs().SaveFile(this, "Save", "C header files (*.h)|*.h");
  if (name.empty()) return;
  // The files show the tree as it is now, a reorder included.
  if (!BuildImage()) {
    Tell(buildError + "\nNothing is saved.");
    return;
  }
  const std::string addressText = StartAddress->text().toStdString();
  unsigned long start = 0;
  if (!ParseAddress(addressText, start)) {
    Tell("'" + platform::Cut(addressText) + "' is not a valid integer value");
    return;
  }
  std::string hex, error;
  if (start > 0xFFFF || !EEPROMApplicationImage::IntelHex(imageBuffer, unsigned(start), hex, error)) {
    Tell((error.empty() ? "The start address " + platform::Cut(addressText) + " passes address 0xFFFF." : error) +
         "\nNothing is saved.");
    return;
  }
  for (const auto& [path, text] : {std::pair{name, EEPROMApplicationImage::CHeader(imageBuffer)},
                                   std::pair{name + ".hex", hex}}) {
    if (!WriteFileBytes(path, text)) {
      Tell("Cannot write " + platform::Cut(path));
      return;
    }
  }
}

// ---- tree editing ---------------------------------------------------------------------------

void TEVMApplicationsForm::AddApplication1Click() {
  if (TreeView->topLevelItemCount() >= EEPROMApplicationImage::kMaxApplications) {
    Tell("An image holds at most 8 applications: no application is added.");
    return;
  }
  AddApplicationNode("Application");
  BuildImage();
}

void TEVMApplicationsForm::AddScript1Click() {
  QTreeWidgetItem* application = ApplicationOf(TreeView->currentItem());
  if (!application) return;
  if (application->childCount() >= EEPROMApplicationImage::kMaxScripts) {
    Tell("Application '" + Quoted(application) +
         "' holds 8 scripts, as many as an application can: no script is added.");
    return;
  }
  auto* script = new TEVMScript;
  script->SetName("Script");
  AddScriptNode(application, "Script", script, kRecordedScriptImage);
  application->setExpanded(true);
  BuildImage();
}

void TEVMApplicationsForm::Delete1Click() {
  QTreeWidgetItem* node = TreeView->currentItem();
  if (!node) return;
  QMessageBox box(QMessageBox::Question, kCaption,
                  QString::fromStdString("Delete '" + Quoted(node) + "' ?"),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName("ConfirmDelete");
  Dialogs().RunModal(&box);
  if (box.clickedButton() != box.button(QMessageBox::Yes)) return;
  DeleteNode(node);
  BuildImage();
}

void TEVMApplicationsForm::TreeViewDblClick() {
  QTreeWidgetItem* node = TreeView->currentItem();
  TEVMScript* script = ScriptOf(node);
  if (!script || !script->HasRecorder()) return;
  script->SetName(node->text(0).toStdString());
  script->Edit(this);
  script->Run(link);
  node->setText(0, QString::fromStdString(script->GetName()));
  ShowCounters(node);
  if (script->Overflowed()) {
    Tell("Script '" + Quoted(node) + "' of application '" + Quoted(node->parent()) +
         "' is too large: its records pass 8192 bytes. The recording is refused; the previous one stays.");
  }
  if (!BuildImage()) Tell(buildError);
}

void TEVMApplicationsForm::ShowCounters(QTreeWidgetItem* node) {
  if (!node) return;
  unsigned commands = 0, length = 0;
  if (TEVMScript* script = ScriptOf(node)) {
    commands = unsigned(script->GetCount());
    length = unsigned(script->GetLength());
  } else {
    for (int s = 0; s < node->childCount(); ++s)
      if (TEVMScript* script = ScriptOf(node->child(s))) {
        commands += unsigned(script->GetCount());
        length += unsigned(script->GetLength());
      }
  }
  CommandsText->setText(QString::number(commands));
  LengthText->setText(QString::number(length));
}

void TEVMApplicationsForm::TreeViewClick() { ShowCounters(TreeView->currentItem()); }
void TEVMApplicationsForm::TreeViewChange() { ShowCounters(TreeView->currentItem()); }

bool TEVMApplicationsForm::TreeViewDragOver(QObject* source, QTreeWidgetItem* dragged, QTreeWidgetItem* target) const {
  if (!dragged || !target || (source != TreeView && source != TreeView->viewport())) return false;
  const bool draggedScript = dragged->parent() != nullptr;
  if (!draggedScript) return target->parent() == nullptr;
  // A script may go anywhere its application-to-be has room.
  QTreeWidgetItem* application = ApplicationOf(target);
  return application == dragged->parent() || application->childCount() < EEPROMApplicationImage::kMaxScripts;
}

void TEVMApplicationsForm::TreeViewDragDrop(QTreeWidgetItem* dragged, QTreeWidgetItem* target) {
  if (!dragged || !target || dragged == target) return;
  QTreeWidgetItem* current = TreeView->currentItem();
  if (!dragged->parent()) {
    // An application always goes to the end of the list.
    if (target->parent()) return;
    TreeView->addTopLevelItem(TreeView->takeTopLevelItem(TreeView->indexOfTopLevelItem(dragged)));
    dragged->setExpanded(true);
  } else if (target->parent()) {
    QTreeWidgetItem* application = target->parent();
    dragged->parent()->removeChild(dragged);
    application->insertChild(application->indexOfChild(target) + 1, dragged);
  } else {
    dragged->parent()->removeChild(dragged);
    target->addChild(dragged);
    target->setExpanded(true);
  }
  if (current) TreeView->setCurrentItem(current);
}
