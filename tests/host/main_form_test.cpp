// The main window without boards: its frame and menus, the board list,
// simulated boards, the Window menu, and a screenshot.
#include <gtest/gtest.h>

#include <QAction>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <QTest>
#include <QLineEdit>
#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/application.h"
#include "host/diagram_form.h"
#include "host/main_form.h"
#include "host/select_evm_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "registers/evm_applications_form.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

class MainFormTest : public HostTest {};

TEST_F(MainFormTest, FrameAndMenusAreThoseOfTheForm) {
  Start();
  EXPECT_EQ(MainForm->windowTitle(), "Palisar");
  EXPECT_EQ(MainForm->File1->title(), "&File");
  EXPECT_EQ(MainForm->Window1->title(), "&Window");
  EXPECT_EQ(MainForm->Help1->title(), "&Help");
  const struct {
    QMenu* menu;
    std::vector<std::pair<const char*, const char*>> items;  // object name, text ("" for a separator)
  } menus[] = {
      {MainForm->File1,
       {{"NewEVMSimulation", "New EVM Simulation..."},
        {"NetworkConnect1", "Network Connect..."},
        {"N1", ""},
        {"FileExitItem", "E&xit"}}},
      {MainForm->Help1, {{"HelpAboutItem", "&About..."}}},
  };
  for (const auto& m : menus) {
    const QList<QAction*> actions = m.menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(m.items.size()));
    for (size_t i = 0; i < m.items.size(); ++i) {
      EXPECT_EQ(actions[static_cast<qsizetype>(i)]->objectName(), m.items[i].first);
      EXPECT_EQ(actions[static_cast<qsizetype>(i)]->text(), m.items[i].second);
    }
  }
  EXPECT_TRUE(MainForm->N1->isSeparator());
  EXPECT_TRUE(MainForm->BoardListLoaded());
}

TEST_F(MainFormTest, ABoardListThatCannotBeReadIsReportedOnceAndLeavesTheListEmpty) {
  const struct {
    const char* what;
    const char* xml;  // nullptr: no file at all
    bool fifo = false;  // a FIFO without a writer: reading it would never end
    const char* says = "";  // what the message gives after the folder
  } cases[] = {
      {"missing", nullptr, false,
       " (No such file or directory); no board can be opened. Palisar reads it from the folder it is started in"},
      {"not well-formed", "<EVMList>\n  <QMX7XXXEVM>\n</EVMList>", false,
       " is not well-formed (Start-end tags mismatch at line 3, column 3)"},
      {"empty", "", false, " is not well-formed (No document element found at line 1, column 1)"},
      {"a FIFO", nullptr, true, " (not a regular file)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_.File("EVM.xml"));
    if (c.xml) WriteBoardList(c.xml);
    if (c.fifo) {
      ASSERT_EQ(::mkfifo(dir_.File("EVM.xml").c_str(), 0600), 0);
    }
    dialogs_.messages.clear();
    dialogs_.warnings.clear();
    dialogs_.modalForms.clear();
    AddBoard("board", "QMX7XXXEVM");
    Start();
    ASSERT_TRUE(WaitForListings(1));
    EXPECT_FALSE(MainForm->BoardListLoaded());
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.warnings, dialogs_.messages);  // a failure: the warning icon
    EXPECT_EQ(LogCount(dialogs_.messages[0]), 1);
    // The folder it looked in (the one it was started in), then the reason.
    const std::string& text = dialogs_.messages[0];
    const std::string folder = "the folder \"" + std::filesystem::current_path().string() + "\"";
    EXPECT_NE(text.find(folder + c.says), std::string::npos) << text;
    // The attached board opens nothing and asks nothing.
    EXPECT_TRUE(Windows().empty());
    EXPECT_TRUE(dialogs_.modalForms.empty());
    // A simulation offers the empty list.
    int offered = -1;
    dialogs_.modal = [&](QDialog* dialog) {
      offered = dialog->findChild<QListWidget*>("EVMList")->count();
      Press("Select")(dialog);
    };
    MainForm->NewEVMSimulationClick();
    EXPECT_EQ(offered, 0);
    EXPECT_TRUE(Windows().empty());
    dialogs_.modal = nullptr;
    DestroyPermanentWindows();
    started_ = false;
    RemoveBoard("board");
    PumpEvents();
    QuillbusReset();
    QuillbusSetBoardsDir(boards_.c_str());
  }
}

TEST_F(MainFormTest, NewEVMSimulationOpensThePickedBoardKind) {
  Start();
  dialogs_.modal = nullptr;  // cancelled
  MainForm->NewEVMSimulation->trigger();
  EXPECT_EQ(dialogs_.modalForms, std::vector<std::string>{"SelectEVMForm"});
  EXPECT_TRUE(Windows().empty());
  // The list holds the board kinds of the file, in its order, the first one selected.
  EXPECT_EQ(SelectEVMForm->EVMList->count(), 3);
  EXPECT_EQ(SelectEVMForm->EVMList->item(1)->text(), "My_Board");

  dialogs_.modal = PickBoard("QMX7200EVM");
  MainForm->NewEVMSimulation->trigger();
  ASSERT_EQ(Windows().size(), 1u);
  TDiagramForm* form = Windows()[0];
  EXPECT_EQ(form->windowTitle(), "QMX7200EVM");
  EXPECT_TRUE(form->IsSimulation());
  EXPECT_TRUE(form->IsConnected());
  EXPECT_EQ(form->GetLink()->GetDeviceHandle(), nullptr);
  EXPECT_EQ(form->StatusText(0), "EVM Status: Simulation");
  // The list is filled once.
  EXPECT_EQ(SelectEVMForm->EVMList->count(), 3);
}

TEST_F(MainFormTest, WindowMenuListsTheDiagramWindowsAndActivatesThem) {
  Start();
  MainForm->show();
  for (const char* kind : {"QMX7XXXEVM", "QMX7200EVM"}) {
    dialogs_.modal = PickBoard(kind);
    MainForm->NewEVMSimulationClick();
  }
  ASSERT_EQ(Windows().size(), 2u);
  MainForm->UpdateWindowMenu();
  QList<QAction*> actions = MainForm->Window1->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), "&1 QMX7XXXEVM");
  EXPECT_EQ(actions[1]->text(), "&2 QMX7200EVM");
  actions[0]->trigger();
  EXPECT_EQ(MainForm->MdiArea()->activeSubWindow(), Windows()[0]->SubWindow());
  MainForm->UpdateWindowMenu();
  actions = MainForm->Window1->actions();
  EXPECT_TRUE(actions[0]->isChecked());
  EXPECT_FALSE(actions[1]->isChecked());
  actions[1]->trigger();
  EXPECT_EQ(MainForm->MdiArea()->activeSubWindow(), Windows()[1]->SubWindow());
}

TEST_F(MainFormTest, StartUpCreatesTheApplicationsEditorWithoutABoard) {
  Start();
  ASSERT_NE(EVMApplicationsForm, nullptr);
  EXPECT_EQ(EVMApplicationsForm->Link(), nullptr);
  // Its one read finds no board: nothing is read and the timer ends.
  ASSERT_TRUE(WaitFor([] { return !EVMApplicationsForm->ReadEVMTimer->isActive(); }));
  EXPECT_EQ(EVMApplicationsForm->TreeView->topLevelItemCount(), 0);
}

TEST_F(MainFormTest, HelpNetworkAndExitCommands) {
  Start();
  MainForm->show();
  MainForm->HelpAboutItem->trigger();
  MainForm->NetworkConnect1->trigger();  // cancelled: nothing is connected
  EXPECT_EQ(dialogs_.modalForms, (std::vector<std::string>{"AboutBox", "TCPConnectForm"}));
  QSignalSpy closed(MainForm, &TMainForm::Closed);
  MainForm->FileExitItem->trigger();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(MainForm->isVisible());
}

TEST_F(MainFormTest, ANetworkConnectWhereNothingListensSaysWhy) {
  // A port that was free a moment ago: nothing listens there.
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(socket, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);
  ::close(socket);

  Start();
  dialogs_.modal = [port](QDialog* dialog) {
    dialog->findChild<QLineEdit*>("ServerName")->setText("127.0.0.1");
    dialog->findChild<QLineEdit*>("Port")->setText(QString::number(port));
    Press("Connect")(dialog);
  };
  MainForm->NetworkConnect1->trigger();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);
  const std::string& text = dialogs_.messages[0];
  EXPECT_NE(text.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << text;
  EXPECT_NE(text.find("Connection refused"), std::string::npos) << text;
  EXPECT_TRUE(WaitFor([&] { return LogCount(text) == 1; })) << LogText();
}

}  // namespace
