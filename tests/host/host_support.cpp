#include "tests/host/host_support.h"

#include <algorithm>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QWindow>
#include <QLineEdit>
#include <QRegularExpression>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <pugixml.hpp>
#include <thread>

#include "common/gui_object.h"
#include "host/about_box.h"
#include "host/application.h"
#include "host/diagram_form.h"
#include "host/log_form.h"
#include "host/load_form.h"
#include "host/main_form.h"
#include "host/select_evm_form.h"
#include "host/tcp_connect_form.h"
#include "quillbus/quillbus.h"

namespace hosttest {

void PumpEvents() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    PumpEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void PointerTo(QWidget* widget, const QPoint& at) {
  QWidget* window = widget->window();
  QTest::mouseMove(window->windowHandle(), widget->mapTo(window, at));
  PumpEvents();
}

void PointerOffWindows() {
  const QPoint away(-10000, -10000);
  // The window system drops a move to the place where it holds the pointer,
  // so the move is made while a window is there to take it.
  for (QWindow* window : QGuiApplication::topLevelWindows()) {
    if (!window->isExposed()) continue;
    QTest::mouseMove(window, window->mapFromGlobal(away));
    break;
  }
  // Where a window shown later finds the pointer.
  QCursor::setPos(away);
  PumpEvents();
}

QPoint Centre(TGUIObject* object) {
  const TPointF a = object->GetPlacedPoint(0), b = object->GetPlacedPoint(1);
  return QPoint(int((a.x + b.x) / 2), int((a.y + b.y) / 2));
}

void Hover(TGUIObject* object) {
  object->MouseMove(Centre(object).x(), Centre(object).y());
  for (int i = 0; i < 40 && object->FadeStep() != 0; ++i) {
  }
}

void Leave(TGUIObject* object) {
  object->MouseMove(-100, -100);
  for (int i = 0; i < 40 && object->FadeStep() != 0; ++i) {
  }
}

void RestOn(TDiagramForm* form, TGUIObject* object, const QPoint& shift) {
  const TPointF a = object->GetPlacedPoint(0), b = object->GetPlacedPoint(1);
  const QPoint centre = Centre(object);
  form->BlockDiagramScrollBox->ensureVisible(centre.x(), centre.y(), int(std::abs(b.x - a.x)) / 2 + 20,
                                             int(std::abs(b.y - a.y)) / 2 + 20);
  PumpEvents();
  PointerTo(form->BlockDiagramPaintBox, centre + shift);
}

void FakeDialogs::Message(QWidget*, const std::string&, const std::string& text) {
  messages.push_back(text);
  if (onMessage) onMessage(text);
}

void FakeDialogs::Warning(QWidget* parent, const std::string& caption, const std::string& text) {
  warnings.push_back(text);
  Message(parent, caption, text);
}

int FakeDialogs::RunModal(QDialog* dialog) {
  modalForms.push_back(dialog->objectName().toStdString());
  dialog->setResult(0);
  dialog->show();
  if (modal) modal(dialog);
  else dialog->reject();
  const int result = dialog->result();
  dialog->hide();
  return result;
}

bool FakeDialogs::InputQuery(QWidget*, const std::string&, const std::string&, std::string& value) {
  if (inputs.empty()) return false;
  value = inputs.front();
  inputs.erase(inputs.begin());
  return true;
}

FakeDialogs::Script PickBoard(const std::string& name) {
  return [name](QDialog* dialog) {
    auto* list = dialog->findChild<QListWidget*>("EVMList");
    ASSERT_NE(list, nullptr);
    const auto items = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << name;
    list->setCurrentItem(items.front());
    QTest::mouseClick(dialog->findChild<QPushButton*>("Select"), Qt::LeftButton);
  };
}

FakeDialogs::Script Press(const std::string& buttonName) {
  return [buttonName](QDialog* dialog) {
    auto* button = dialog->findChild<QPushButton*>(QString::fromStdString(buttonName));
    ASSERT_NE(button, nullptr) << buttonName;
    QTest::mouseClick(button, Qt::LeftButton);
  };
}

const char* const HostTest::kDefaultBoardList =
    "<?xml version=\"1.0\"?>\n"
    "<EVMList>\n"
    "  <QMX7XXXEVM Diagram-1=\"QMX7XXX\\Page1.svg\" Registermap=\"QMX7XXX\\QMX7XXX.xml\"/>\n"
    "  <My_Board Diagram-1=\"My\\Page1.svg\"/>\n"
    "  <QMX7200EVM/>\n"
    "</EVMList>\n";

void HostTest::SetUp() {
  previousDirectory_ = std::filesystem::current_path().string();
  boards_ = dir_.File("boards");
  std::filesystem::create_directory(boards_);
  WriteBoardList(kDefaultBoardList);
  QuillbusReset();
  QuillbusSetBoardsDir(boards_.c_str());
  std::filesystem::current_path(dir_.path());
  SetDialogs(&dialogs_);
  PointerOffWindows();
}

void HostTest::TearDown() {
  PointerOffWindows();
  if (started_) DestroyPermanentWindows();
  PumpEvents();
  SetDialogs(nullptr);
  std::filesystem::current_path(previousDirectory_);
  QuillbusReset();
  QuillbusSetBoardsDir(nullptr);
}

std::string HostTest::AddBoard(const std::string& file, const std::string& name, const std::string& extra) {
  const std::string path = boards_ + "/" + file + ".board";
  testsupport::WriteFile(path, "name = " + name + "\nfirmware = 0x0103\nrate = 48000\ndevices = 0x30\n" + extra);
  return path;
}

void HostTest::RemoveBoard(const std::string& file) { std::filesystem::remove(boards_ + "/" + file + ".board"); }

void HostTest::WriteBoardList(const std::string& xml) { testsupport::WriteFile(dir_.File("EVM.xml"), xml); }

void HostTest::UseBoardKit() {
  namespace fs = std::filesystem;
  const fs::path kit = fs::path(PALISAR_SOURCE_DIR) / "boards";
  for (const char* part : {"QMX7XXX", "QMX7200", "Codecs"})
    fs::copy(kit / part, fs::path(dir_.path()) / part, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  fs::copy_file(kit / "EVM.xml", dir_.File("EVM.xml"), fs::copy_options::overwrite_existing);
}

TDiagramForm* HostTest::OpenBoardWindow(QMdiArea* area, pugi::xml_node node, bool board, const std::string& boardName) {
  EVMOpenRequest request;
  request.node = node;
  if (board) {
    AddBoard("board", boardName.empty() ? node.name() : boardName);
    EXPECT_EQ(OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId), 1);
    request.deviceIndex = 0;
    request.deviceHandle = OrvaneUsbHidGetDevHandle(0);
  } else {
    request.simulation = true;
  }
  auto* form = new TDiagramForm(area, &request);
  PumpEvents();
  return form;
}

BoardTrace::~BoardTrace() { QuillbusSetTrace(nullptr); }

void BoardTrace::Mark() {
  QuillbusSetTrace(path_.c_str());
  mark_ = testsupport::ReadLines(path_).size();
}

std::vector<std::string> BoardTrace::Commands() const {
  std::vector<std::string> out;
  const auto lines = testsupport::ReadLines(path_);
  for (size_t i = mark_; i < lines.size(); ++i)
    if (lines[i].rfind("0 > ", 0) == 0) out.push_back(lines[i].substr(4));
  return out;
}

BoardServer::BoardServer() : boardFile_(dir_.File("remote.board")), server_(new QProcess) {}

BoardServer::~BoardServer() {
  server_->terminate();
  server_->waitForFinished();
  delete server_;
}

bool BoardServer::Connect(FakeDialogs& dialogs, const std::string& boardText) {
  testsupport::WriteFile(boardFile_, boardText);
  server_->start(QCoreApplication::applicationDirPath() + "/quillbus-board",
                 {"--port", "0", QString::fromStdString(boardFile_)});
  if (!server_->waitForStarted()) return false;
  QString output;
  WaitFor([&] {
    server_->waitForReadyRead(50);
    output += QString::fromUtf8(server_->readAllStandardOutput());
    return output.contains('\n');
  });
  const QRegularExpressionMatch match = QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+)").match(output);
  if (!match.hasMatch()) {
    ADD_FAILURE() << "the board server said: " << output.toStdString();
    return false;
  }
  const QString port = match.captured(1);
  const size_t before = MainForm->MdiChildren().size();
  dialogs.modal = [&](QDialog* dialog) {
    dialog->findChild<QLineEdit*>("Port")->setText(port);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("ServerName")->text(), "127.0.0.1");
    Press("Connect")(dialog);
  };
  MainForm->NetworkConnect1Click();
  dialogs.modal = {};
  return WaitFor([&] { return MainForm->MdiChildren().size() > before; });
}

std::vector<std::string> BoardTrace::Lines() const {
  const auto lines = testsupport::ReadLines(path_);
  return std::vector<std::string>(lines.begin() + std::min(mark_, lines.size()), lines.end());
}

void HostTest::Start() {
  CreatePermanentWindows();
  started_ = true;
}

void HostTest::StartSmallWindows() {
  LogForm = new TLogForm;
  AboutBox = new TAboutBox;
  LoadForm = new TLoadForm;
  SelectEVMForm = new TSelectEVMForm;
  TCPConnectForm = new TTCPConnectForm;
  started_ = true;
}

std::string HostTest::LogText() {
  PumpEvents();
  return LogForm ? LogForm->Memo->toPlainText().toStdString() : std::string();
}

int HostTest::LogCount(const std::string& line) {
  int count = 0;
  for (const QString& text : QString::fromStdString(LogText()).split('\n'))
    if (text.toStdString() == line) ++count;
  return count;
}

bool HostTest::WaitForListings(int count) {
  return WaitFor([&] { return LogCount("Change Done") >= count; });
}

std::vector<TDiagramForm*> HostTest::Windows() { return MainForm ? MainForm->MdiChildren() : std::vector<TDiagramForm*>{}; }

std::vector<uint8_t> HostTest::Eeprom(int board, int address, int count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  QuillbusReadEeprom(board, address, bytes.data(), count);
  return bytes;
}

}  // namespace hosttest
