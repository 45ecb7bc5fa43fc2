// The board window as the main window uses it: construction from a
// request, the link status display, closing, and Set ID.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QCheckBox>
#include <QPushButton>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <QTest>
#include <QImage>
#include <QScrollArea>
#include <QStatusBar>
#include <pugixml.hpp>
#include <thread>

#include "host/about_box.h"
#include "host/board_id.h"
#include "host/diagram_form.h"
#include "host/select_evm_form.h"
#include "link/usbi2c.h"
#include "registers/evm_applications_form.h"
#include "quillbus/quillbus.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

class DiagramFormTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(list_.load_string(kDefaultBoardList));
    StartSmallWindows();
    for (pugi::xml_node node : list_.document_element().children()) SelectEVMForm->AddEVM(node.name(), node);
  }

  // A window for board 0 of the emulator (plugged first), or a simulation.
  TDiagramForm* Open(const char* kind, bool simulation) {
    EVMOpenRequest request;
    request.node = list_.document_element().child(kind);
    request.simulation = simulation;
    if (!simulation) {
      AddBoard("board", "QMX7XXXEVM");
      EXPECT_EQ(OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId), 1);
      request.deviceIndex = 0;
      request.deviceHandle = OrvaneUsbHidGetDevHandle(0);
    }
    return new TDiagramForm(&area_, &request);
  }

  pugi::xml_document list_;
  QMdiArea area_;
};

TEST_F(DiagramFormTest, ABoardWindowShowsItsBoardConnected) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  EXPECT_EQ(form->windowTitle(), "QMX7XXXEVM");
  ASSERT_NE(form->SubWindow(), nullptr);
  EXPECT_EQ(area_.subWindowList().size(), 1);
  EXPECT_FALSE(form->IsSimulation());
  EXPECT_EQ(form->GetLink()->GetDeviceHandle(), OrvaneUsbHidGetDevHandle(0));
  EXPECT_EQ(form->StatusText(0), "EVM Status: Connected");
  EXPECT_EQ(form->StatusText(2), "USB Fs = 48000");
  EXPECT_EQ(AboutBox->Firmware->text(), "1.03");
  EXPECT_EQ(AboutBox->ID->text(), "QMX7XXXEVM");
  EXPECT_TRUE(form->UpdateFirmware->isEnabled());
  // The window's link declares its six fixed device slots.
  EXPECT_EQ(form->GetLink()->GetDeviceCount(), 6);

  form->UpdateEVMStatus(6);
  EXPECT_EQ(form->StatusText(0), "EVM Status: Disconnected");
  EXPECT_EQ(form->StatusText(2), "USB Fs = N/A");
  EXPECT_EQ(AboutBox->Firmware->text(), "N/A");
  EXPECT_EQ(AboutBox->ID->text(), "N/A");
  EXPECT_FALSE(form->UpdateFirmware->isEnabled());
}

TEST_F(DiagramFormTest, StatusTextFollowsTheLinkCodes) {
  TDiagramForm* board = Open("QMX7XXXEVM", false);
  TDiagramForm* simulated = Open("QMX7200EVM", true);
  EXPECT_EQ(simulated->StatusText(0), "EVM Status: Simulation");
  const struct {
    int code;
    const char* board;
    const char* simulated;
  } cases[] = {
      {32, "EVM Status: Connected", "EVM Status: Connected"},
      {1, "EVM Status: Connected", "EVM Status: Simulation"},
      {6, "EVM Status: Disconnected", "EVM Status: Simulation"},
      {12, "EVM Status: Communications Error", "EVM Status: Simulation"},
      {20, "EVM Status: Communications Error", "EVM Status: Simulation"},
      {512, "EVM Status: Connected", "EVM Status: Simulation"},
  };
  for (const auto& c : cases) {
    board->UpdateEVMStatus(32);
    simulated->UpdateEVMStatus(32);
    board->UpdateEVMStatus(c.code);
    simulated->UpdateEVMStatus(c.code);
    EXPECT_EQ(board->StatusText(0), c.board) << c.code;
    EXPECT_EQ(simulated->StatusText(0), c.simulated) << c.code;
  }
}

TEST_F(DiagramFormTest, ReportsFromTheLinkThreadReachTheStatusBar) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  std::thread worker([form] { TDiagramForm::UpdateEVMStatusCallback(form, "", 0, 12); });
  worker.join();
  // Queued from the other thread, shown once the GUI thread runs.
  EXPECT_EQ(form->StatusText(0), "EVM Status: Connected");
  EXPECT_TRUE(WaitFor([&] { return form->StatusText(0) == "EVM Status: Communications Error"; }));
}

TEST_F(DiagramFormTest, CloseIsRefusedWhileTheBoardIsHeld) {
  QPointer<TDiagramForm> form = Open("QMX7XXXEVM", false);
  form->CloseWindow();
  PumpEvents();
  ASSERT_FALSE(form.isNull());
  EXPECT_TRUE(form->SubWindow()->isMinimized());
  EXPECT_FALSE(form->IsClosing());

  form->GetLink()->SetDeviceHandle(nullptr);
  EXPECT_EQ(form->StatusText(0), "EVM Status: Disconnected");
  TUSBI2C* link = form->GetLink();
  form->FileExit1Execute();
  EXPECT_TRUE(link->Finished());
  PumpEvents();
  EXPECT_TRUE(form.isNull());
  EXPECT_TRUE(area_.subWindowList().isEmpty());
}

TEST_F(DiagramFormTest, SetIdWritesExactlyTheBlock) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  const std::vector<uint8_t> before = Eeprom(0, 0x1F00, 0x300);
  const struct {
    const char* what;
    bool sender;
    FakeDialogs::Script answer;
    std::string written;  // "" when nothing may be written
  } cases[] = {
      {"menu, cancelled", true, nullptr, ""},
      {"menu, picked", true, PickBoard("QMX7200EVM"), "QMX7200EVM"},
      {"no sender: the caption", false, nullptr, "QMX7XXXEVM"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(QuillbusWriteEeprom(0, 0x1F00, before.data(), static_cast<int>(before.size())), 0x300);
    dialogs_.modal = c.answer;
    dialogs_.modalForms.clear();
    form->SetIDClick(c.sender ? form->SetID : nullptr);
    EXPECT_EQ(dialogs_.modalForms.size(), c.sender ? 1u : 0u) << c.what;
    std::vector<uint8_t> expected = before;
    if (!c.written.empty()) {
      const BoardIdBytes block = MakeBoardIdBlock(c.written);
      std::copy(block.begin(), block.end(), expected.begin() + (kBoardIdAddress - 0x1F00));
    }
    EXPECT_EQ(Eeprom(0, 0x1F00, 0x300), expected) << c.what;
    EXPECT_EQ(form->windowTitle(), "QMX7XXXEVM") << c.what;
  }
}

TEST_F(DiagramFormTest, EVMApplicationsOpensOneEditorOnTheBoardsStoredApplications) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  // Two applications, the second with one script of one record.
  const std::vector<uint8_t> image = {
      0x02, 0x20, 0x05, 0x20, 0x16,                                              // head
      'O', 'n', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,                // application at 0x2005
      'T', 'w', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x20, 0x29,    // application at 0x2016
      'G', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x01,            // script at 0x2029
      0x00, 0x30, 0x05, 0x01, 0x7F};
  ASSERT_EQ(QuillbusWriteEeprom(0, 0x2000, image.data(), int(image.size())), int(image.size()));
  TEVMApplicationsForm* editor = nullptr;
  std::vector<std::string> names;
  dialogs_.modal = [&](QDialog* dialog) {
    editor = qobject_cast<TEVMApplicationsForm*>(dialog);
    ASSERT_NE(editor, nullptr);
    // The editor reads the board shortly after it opens.
    ASSERT_TRUE(WaitFor([&] { return !editor->ReadEVMTimer->isActive(); }));
    for (QTreeWidgetItemIterator it(editor->TreeView); *it; ++it) names.push_back((*it)->text(0).toStdString());
  };
  form->EVMApplications->trigger();
  EXPECT_EQ(names, (std::vector<std::string>{"One", "Two", "Go"}));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->Link(), form->GetLink());
  EXPECT_EQ(editor->Image(), image);
  // Later uses show the same editor.
  TEVMApplicationsForm* first = editor;
  form->EVMApplications->trigger();
  EXPECT_EQ(editor, first);
  EXPECT_EQ(dialogs_.modalForms, (std::vector<std::string>{"EVMApplicationsForm", "EVMApplicationsForm"}));
}

TEST_F(DiagramFormTest, EVMApplicationsOfASimulatedBoardSaysItCannotReadAndWritesNothing) {
  TDiagramForm* form = Open("QMX7200EVM", true);
  TEVMApplicationsForm* editor = nullptr;
  dialogs_.modal = [&](QDialog* dialog) {
    editor = qobject_cast<TEVMApplicationsForm*>(dialog);
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !editor->ReadEVMTimer->isActive(); }));
    EXPECT_FALSE(editor->AutoLoad->isEnabled());
    editor->AddApplication1->trigger();
    editor->UpdateEVM->click();
  };
  form->EVMApplications->trigger();
  ASSERT_NE(editor, nullptr);
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_NE(dialogs_.messages[0].find("Reading the EVM applications failed"), std::string::npos);
  EXPECT_NE(dialogs_.messages[1].find("nothing is written"), std::string::npos);
}

TEST_F(DiagramFormTest, CountsNumberedDiagramAttributesUntilOneIsMissing) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<L><A Diagram-1='a' Diagram-2='b' Diagram-4='d'/><B/>"
      "<C Diagram-1='1' Diagram-2='2' Diagram-3='3' Diagram-4='4' Diagram-5='5' Diagram-6='6' Diagram-7='7'/></L>"));
  EXPECT_EQ(TDiagramForm::CountDiagramAttributes(document.child("L").child("A")), 2);
  EXPECT_EQ(TDiagramForm::CountDiagramAttributes(document.child("L").child("B")), 0);
  EXPECT_EQ(TDiagramForm::CountDiagramAttributes(document.child("L").child("C")), 7);
}

}  // namespace

namespace {

TEST_F(DiagramFormTest, ToolbarAndMenusOfTheForm) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  ASSERT_EQ(form->ZoomBox->count(), 7);
  EXPECT_EQ(form->ZoomBox->itemText(2), "100%");
  EXPECT_EQ(form->ZoomBox->currentText(), "200%");
  EXPECT_TRUE(form->ActiveObjects->isChecked());
  EXPECT_FALSE(form->SPI->isChecked());
  EXPECT_EQ(form->SPI->text(), "Use SPI on EVM");
  EXPECT_TRUE(form->EVMApplications->isVisible());
  EXPECT_FALSE(form->CodecPort->isVisible());
  QStringList view;
  for (QAction* a : form->View->actions()) view << a->text();
  EXPECT_EQ(view, (QStringList{"&Init Script...", "&Command...", "&Register Inspector...", "&Test...",
                               "&Processing Blocks..."}));
}

TEST_F(DiagramFormTest, CodecPortToggleSendsClearThenSet) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  const std::string trace = dir_.File("trace.txt");
  QuillbusSetTrace(trace.c_str());
  form->CodecPortClick();
  EXPECT_EQ(form->CodecPort->text(), "Enable Codec Port");
  EXPECT_EQ(QuillbusGetControllerByte(0, 0xFFB1), 0);
  form->CodecPortClick();
  EXPECT_EQ(form->CodecPort->text(), "Disable Codec Port");
  EXPECT_EQ(QuillbusGetControllerByte(0, 0xFFB1), 0x11);
  QuillbusSetTrace(nullptr);
  std::vector<std::string> commands;
  for (const auto& line : testsupport::ReadLines(trace))
    if (line.rfind("0 > ", 0) == 0) commands.push_back(line.substr(4));
  EXPECT_EQ(commands, (std::vector<std::string>{
                          "0A 12 04 00 06 01 00 FF B1 01", "0A 12 04 00 06 01 00 FF B1 10",
                          "0A 12 04 00 06 00 00 FF B1 01", "0A 12 04 00 06 00 00 FF B1 10"}));
}

TEST_F(DiagramFormTest, FirmwareUpdateSaysHowItWent) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  dialogs_.messages.clear();  // the default list names pages this directory lacks
  dialogs_.warnings.clear();
  dialogs_.openFile = "";
  form->UpdateFirmwareClick();
  EXPECT_TRUE(dialogs_.messages.empty());
  dialogs_.openFile = dir_.File("missing.bin");
  form->UpdateFirmwareClick();
  testsupport::WriteFile(dir_.File("good.bin"), std::string("QBFW\x04\x01", 6) + std::string(64, 'x'));
  dialogs_.openFile = dir_.File("good.bin");
  form->UpdateFirmwareClick();
  EXPECT_EQ(dialogs_.messages, (std::vector<std::string>{"Firmware update failed. Please try DFU instead.",
                                                         "Firmware updated. Please disconnect and reconnect EVM."}));
  // The failure with the warning icon, the success with the information icon.
  EXPECT_EQ(dialogs_.warnings, std::vector<std::string>{"Firmware update failed. Please try DFU instead."});
  EXPECT_EQ(form->GetLink()->GetFirmwareVersion(), 0x0104);
}

TEST_F(DiagramFormTest, LampLightsOnTransfersAndGoesOut) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  form->UpdateEVMStatus(32);  // no lamp before the panel was first drawn
  EXPECT_EQ(form->GetActivityIndicator(), nullptr);
  form->StatusPanels[1]->grab();
  ASSERT_NE(form->GetActivityIndicator(), nullptr);
  EXPECT_FALSE(form->GetActivityIndicator()->IsLit());
  form->UpdateEVMStatus(32);
  EXPECT_TRUE(form->GetActivityIndicator()->IsLit());
  EXPECT_TRUE(WaitFor([&] { return !form->GetActivityIndicator()->IsLit(); }));
}

TEST_F(DiagramFormTest, TheStatusBarTakesNoInputAndShowsItsTextsInNormalColours) {
  TDiagramForm* form = Open("QMX7200EVM", true);
  form->SubWindow()->resize(800, 600);
  PumpEvents();
  EXPECT_TRUE(form->StatusBar->isEnabled());
  EXPECT_TRUE(form->StatusBar->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_EQ(form->StatusBar->focusPolicy(), Qt::NoFocus);
  // The status text is drawn in the palette's normal text colour, not greyed.
  const QImage image = form->StatusPanels[0]->grab().toImage();
  const QColor text = form->StatusPanels[0]->palette().color(QPalette::Active, QPalette::WindowText);
  int darkest = 255;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) darkest = std::min(darkest, QColor(image.pixel(x, y)).lightness());
  EXPECT_LE(darkest, text.lightness() + 0x20);
}

TEST_F(DiagramFormTest, TheActionListsShortcutsReachTheirHandlers) {
  TDiagramForm* form = Open("QMX7200EVM", true);
  area_.resize(800, 600);
  area_.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&area_));
  area_.setActiveSubWindow(form->SubWindow());
  form->BlockDiagramScrollBox->setFocus();
  PumpEvents();
  QTest::keyClick(form->BlockDiagramScrollBox, Qt::Key_O, Qt::ControlModifier);
  QTest::keyClick(form->BlockDiagramScrollBox, Qt::Key_S, Qt::ControlModifier);
  QTest::keyClick(form->BlockDiagramScrollBox, Qt::Key_N, Qt::ControlModifier);  // does nothing
  EXPECT_EQ(dialogs_.fileDialogs, (std::vector<std::string>{"open Open", "save Save As"}));
  for (QAction* action : {form->FileNew1, form->FileOpen1, form->FileSave1})
    EXPECT_EQ(action->shortcutContext(), Qt::WidgetWithChildrenShortcut);
  form->FileSaveAs1->trigger();  // the Save handler as well
  EXPECT_EQ(dialogs_.fileDialogs.size(), 3u);
}

}  // namespace

namespace {

TEST_F(DiagramFormTest, AStopEndsOnlyTheRefreshOfTheBlockItNames) {
  TDiagramForm* form = Open("QMX7XXXEVM", false);
  TUSBI2C* link = form->GetLink();
  TDiagramForm::ObjectRefreshRequest(form, 0x30, 3, 54, 16, 50);
  // A second widget takes the stream over; the first one's late stop leaves it running.
  TDiagramForm::ObjectRefreshRequest(form, 0, 255, 6, 112, 20);
  TDiagramForm::ObjectRefreshRequest(form, 0x30, 3, 54, 16, 0);
  EXPECT_TRUE(link->IsRefreshing());
  EXPECT_EQ(link->GetPeriod(), 50);
  TDiagramForm::ObjectRefreshRequest(form, 0, 255, 6, 112, 0);
  EXPECT_TRUE(WaitFor([&] { return !link->IsRefreshing(); }, std::chrono::seconds(2)));
}

}  // namespace
