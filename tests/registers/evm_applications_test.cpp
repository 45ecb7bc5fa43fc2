// The "EVM Applications" editor on an emulated board: recording scripts,
// writing the image to the board and reading it back through a new link,
// read failures, reordering, deleting, refusals and the exports.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "quillbus/quillbus.h"
#include "registers/evm_applications_form.h"
#include "registers/i2c_command.h"
#include "tests/link/link_fixture.h"
#include "tests/registers/ui_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

class EditorDialogs : public regtest::TestDialogs {
 public:
  int RunModal(QDialog* dialog) override {
    modalForms.push_back(dialog->objectName().toStdString());
    dialog->setResult(QDialog::Rejected);
    dialog->show();
    if (!modal.empty()) {
      auto script = modal.front();
      modal.erase(modal.begin());
      script(dialog);
    }
    const int result = dialog->result();
    dialog->hide();
    return result;
  }
  std::vector<std::function<void(QDialog*)>> modal;
  std::vector<std::string> modalForms;
};

// Types a script into the recorder, names it by its caption and closes it.
std::function<void(QDialog*)> RecordScript(const std::string& caption, const std::string& script) {
  return [=](QDialog* dialog) {
    auto* recorder = dialog->findChild<TI2CCommand*>();
    ASSERT_NE(recorder, nullptr);
    EXPECT_TRUE(recorder->isVisible());
    for (const QString& line : QString::fromStdString(script).split('\n', Qt::SkipEmptyParts)) {
      QTest::keyClicks(recorder->CommandBuffer, line);
      QTest::keyClick(recorder->CommandBuffer, Qt::Key_Return);
    }
    recorder->setWindowTitle(QString::fromStdString(caption));
    dialog->accept();
  };
}

std::function<void(QDialog*)> Answer(QMessageBox::StandardButton which) {
  return [which](QDialog* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(which), Qt::LeftButton);
  };
}

class EVMApplicationsTest : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    SetDialogs(&dialogs_);
    form_ = std::make_unique<TEVMApplicationsForm>(nullptr);
  }
  void TearDown() override {
    form_.reset();
    SetDialogs(nullptr);
    LinkFixture::TearDown();
  }

  QTreeWidget* Tree() { return form_->TreeView; }
  QTreeWidgetItem* App(int p) { return Tree()->topLevelItem(p); }
  void Select(QTreeWidgetItem* node) {
    Tree()->scrollToItem(node);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(node).center());
    ASSERT_EQ(Tree()->currentItem(), node);
  }
  void DoubleClick(QTreeWidgetItem* node) {
    Select(node);
    QTest::mouseDClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(node).center());
  }
  QTreeWidgetItem* AddApplication(const std::string& name) {
    form_->AddApplication1->trigger();
    QTreeWidgetItem* node = App(Tree()->topLevelItemCount() - 1);
    node->setText(0, QString::fromStdString(name));
    return node;
  }
  QTreeWidgetItem* AddScript(QTreeWidgetItem* application) {
    Select(application);
    form_->AddScript1->trigger();
    return application->child(application->childCount() - 1);
  }
  QTreeWidgetItem* Record(QTreeWidgetItem* application, const std::string& caption, const std::string& script) {
    QTreeWidgetItem* node = AddScript(application);
    dialogs_.modal.push_back(RecordScript(caption, script));
    DoubleClick(node);
    return node;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int p = 0; p < Tree()->topLevelItemCount(); ++p) {
      names.push_back(App(p)->text(0).toStdString());
      for (int s = 0; s < App(p)->childCount(); ++s) names.push_back("  " + App(p)->child(s)->text(0).toStdString());
    }
    return names;
  }
  Bytes Eeprom(unsigned address, int count) {
    Bytes bytes(static_cast<size_t>(count));
    QuillbusReadEeprom(0, int(address), bytes.data(), count);
    return bytes;
  }
  int Count(const std::vector<std::string>& commands, const std::string& prefix) {
    int n = 0;
    for (const std::string& c : commands) n += c.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

  EditorDialogs dialogs_;
  std::unique_ptr<TEVMApplicationsForm> form_;
};

TEST_F(EVMApplicationsTest, RecordedTreeReachesTheBoardAndANewLinkReadsItBack) {
  form_->ShowEVMApplications(link_.get());
  QTreeWidgetItem* playback = AddApplication("Playback");
  Mark();
  // A read records nothing; a name without an extension keeps all of it,
  // though a directory has a dot.
  QTreeWidgetItem* mute =
      Record(playback, "/home/me.d/scripts/Mute", "w 30 10 01 02 03\n> 04\nr 30 00 01\nw 32 20 AA\n");
  EXPECT_EQ(mute->text(0), "Mute");
  // The next edit shows the same caption again, and keeps the records.
  std::string caption;
  dialogs_.modal.push_back([&](QDialog* dialog) {
    caption = dialog->findChild<TI2CCommand*>()->windowTitle().toStdString();
    dialog->accept();
  });
  DoubleClick(mute);
  EXPECT_EQ(caption, "/home/me.d/scripts/Mute");
  TEVMScript* script = TEVMApplicationsForm::ScriptOf(mute);
  ASSERT_NE(script, nullptr);
  EXPECT_EQ(script->GetCount(), 2);
  EXPECT_EQ(script->GetImage().Records(), (Bytes{0, 0x30, 0x10, 4, 1, 2, 3, 4, 0, 0x32, 0x20, 1, 0xAA}));
  EXPECT_EQ(form_->CommandsText->text(), "2");
  EXPECT_EQ(form_->LengthText->text(), "13");
  // Recording sent nothing to the board.
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(TEVMApplicationsForm::ImageOf(mute), TEVMApplicationsForm::kRecordedScriptImage);

  // A record longer than the link's 48-byte EEPROM window.
  std::string ramp = "w 30 08", more = ">";
  for (int i = 0; i < 60; ++i) {
    ramp += " " + std::string(1, "0123456789ABCDEF"[i / 16]) + "0123456789ABCDEF"[i % 16];
    more += " A5";
  }
  Record(playback, "C:\\cfg\\Unmute.cfg", "w 30 10 00\n" + ramp + "\n" + more + "\n");
  EXPECT_EQ(TEVMApplicationsForm::ScriptOf(playback->child(1))->GetLength(), 5 + 4 + 120);
  QTreeWidgetItem* record = AddApplication("Record");
  Record(record, "Mic.txt", "w 30 51 C0 C1\n");
  ASSERT_EQ(Names(), (std::vector<std::string>{"Playback", "  Mute", "  Unmute", "Record", "  Mic"}));
  EXPECT_EQ(form_->ImageText->text(), QString::number(form_->ImageLength()));

  Mark();
  QTest::mouseClick(form_->UpdateEVM, Qt::LeftButton);
  const Bytes image = form_->Image();
  EXPECT_EQ(Eeprom(0x2000, int(image.size())), image);
  // Written in pieces of at most 32 bytes.
  const int pieces = int((image.size() + 31) / 32);
  EXPECT_EQ(Count(Commands(), "2A 12 05 00 26 04 00 00 20 00"), 1);
  EXPECT_EQ(Count(Commands(), Hex({10 + 32, 0x12, 0x05, 0x00, 6 + 32, 0x04})), pieces - 1);
  EXPECT_TRUE(dialogs_.messages.empty());

  // A new editor on a new link sees the same tree and builds the same image.
  form_.reset();
  std::unique_ptr<TUSBI2C> other = OpenLink(0);
  form_ = std::make_unique<TEVMApplicationsForm>(nullptr);
  form_->ReadImage(other.get());
  EXPECT_EQ(Names(), (std::vector<std::string>{"Playback", "  Mute", "  Unmute", "Record", "  Mic"}));
  EXPECT_EQ(form_->Image(), image);
  QTreeWidgetItem* read = App(0)->child(0);
  EXPECT_EQ(TEVMApplicationsForm::ImageOf(read), TEVMApplicationsForm::kBoardScriptImage);
  EXPECT_FALSE(TEVMApplicationsForm::ScriptOf(read)->HasRecorder());
  // Scripts read from the board are not recorded again.
  DoubleClick(read);
  EXPECT_TRUE(dialogs_.modal.empty());
  EXPECT_EQ(TEVMApplicationsForm::ScriptOf(read)->GetCount(), 2);
}

// A bit change reads its register: the recorder answers from the board
// window's register image, with the script's own writes over it, at the
// page the script selected, and records the write the change makes.
TEST_F(EVMApplicationsTest, ABitChangeRecordsTheWriteItMakesFromTheBoardWindowsImage) {
  link_->AddDevice(0x30, 0, 256);
  link_->AddDevice(0x70, 0, 0);
  auto image = [&](int device, int page, int reg) -> uint8_t& {
    return *link_->GetRegisterImage(unsigned(device), 0, unsigned(page), unsigned(reg));
  };
  image(0x30, 0, 0x1E) = 0x05;
  image(0x30, 1, 0x1E) = 0x40;
  image(0x30, 0, 0x40) = 0xFF;
  image(0x70, 0, 0x00) = 0x11;
  form_->ShowEVMApplications(link_.get());
  QTreeWidgetItem* playback = AddApplication("Playback");
  const struct {
    const char* line;
    Bytes records;  // what the line records
  } lines[] = {
      {"s 30 1E 1XXXXXXX", {0, 0x30, 0x1E, 1, 0x85}},              // the image's 0x05
      {"w 30 40 0C", {0, 0x30, 0x40, 1, 0x0C}},
      {"s 30 40 XXXX00XX", {0, 0x30, 0x40, 1, 0x00}},              // the script's own 0x0C, not the image's 0xFF
      {"w 30 00 01", {0, 0x30, 0x00, 1, 0x01}},
      {"s 30 1E XXXXXX11", {0, 0x30, 0x1E, 1, 0x43}},              // page 1's 0x40
      {"s 30 1E 1XXXX0XX", {0, 0x30, 0x1E, 1, 0xC3}},              // the change before it
      {"f 30 1E 0XXXXXXX -1", {}},                                 // a poll ends at once, recording nothing
      {"s 70 00 XXXXXXX0", {0, 0x70, 0x00, 1, 0x10}},              // an unpaged device keeps its one page
      {"s 72 00 XXXXXXX1", {}},                                    // a register no image holds: nothing
      {"r 30 1E 01", {}},
  };
  std::string script;
  Bytes records;
  for (const auto& l : lines) {
    script += std::string(l.line) + "\n";
    records.insert(records.end(), l.records.begin(), l.records.end());
  }
  Mark();
  QTreeWidgetItem* node = Record(playback, "Bits.cfg", script);
  const TEVMScript* recorded = TEVMApplicationsForm::ScriptOf(node);
  ASSERT_NE(recorded, nullptr);
  EXPECT_EQ(recorded->GetImage().Records(), records);
  // Nothing reached the board or the board window's image.
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(image(0x30, 0, 0x1E), 0x05);
  EXPECT_EQ(image(0x30, 1, 0x1E), 0x40);
  EXPECT_EQ(image(0x30, 0, 0x40), 0xFF);
  EXPECT_EQ(image(0x30, 0, 0x00), 0x00);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(EVMApplicationsTest, TheTimerReadsTheBoardWhileTheEditorIsShown) {
  const Bytes image{0x01, 0x20, 0x03, 'A', 'p', 'p', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};
  QuillbusWriteEeprom(0, 0x2000, image.data(), int(image.size()));
  const Bytes tag{'F', 'P', '_', 0x06};
  QuillbusWriteEeprom(0, 0x1FBC, tag.data(), 4);
  bool read = false;
  dialogs_.modal.push_back([&](QDialog* dialog) {
    EXPECT_EQ(dialog, form_.get());
    read = testsupport::WaitUntil([&] {
      QCoreApplication::processEvents();
      return Tree()->topLevelItemCount() == 1;
    });
  });
  form_->ShowEVMApplications(link_.get());
  EXPECT_TRUE(read);
  EXPECT_EQ(Names(), std::vector<std::string>{"App"});
  EXPECT_FALSE(form_->ReadEVMTimer->isActive());
  EXPECT_TRUE(form_->AutoLoad->isEnabled());
  EXPECT_TRUE(form_->AutoLoad->isChecked());
  // Unchecking clears bits 0 and 1 and keeps the board's bits.
  QTest::mouseClick(form_->AutoLoad, Qt::LeftButton);
  EXPECT_EQ(Eeprom(0x1FBC, 4), (Bytes{'F', 'P', '_', 0x04}));
  QTest::mouseClick(form_->AutoLoad, Qt::LeftButton);
  EXPECT_EQ(Eeprom(0x1FBC, 4), (Bytes{'F', 'P', '_', 0x07}));

  // Without the tag the box is disabled.
  const Bytes blank(4, 0xFF);
  QuillbusWriteEeprom(0, 0x1FBC, blank.data(), 4);
  form_->ShowEVMApplications(link_.get());
  EXPECT_FALSE(form_->AutoLoad->isEnabled());
}

TEST_F(EVMApplicationsTest, AFailedReadLeavesTheBoardsEEPROMUntouched) {
  Bytes image(200);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7);
  image[0] = 0x01;
  image[1] = 0x20;
  image[2] = 0x03;
  QuillbusWriteEeprom(0, 0x2000, image.data(), int(image.size()));
  const Bytes tag{'F', 'P', '_', 0x00};
  QuillbusWriteEeprom(0, 0x1FBC, tag.data(), 4);
  const Bytes before = Eeprom(0x1F00, 0x200);

  // The select and its second sending refused, each followed by the re-acquire's AppID.
  QuillbusFailStatus(0, 4);
  form_->ReadImage(link_.get());
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find("Reading the EVM applications failed at EEPROM address 0x2000."),
            std::string::npos);
  EXPECT_EQ(Tree()->topLevelItemCount(), 0);

  form_->ShowEVMApplications(link_.get());
  form_->ReadEVMTimer->stop();
  ASSERT_TRUE(form_->AutoLoad->isEnabled());
  Mark();
  QTest::mouseClick(form_->UpdateEVM, Qt::LeftButton);
  EXPECT_EQ(dialogs_.messages.size(), 2u);
  // The auto-load flag is not written when its block cannot be read.
  QuillbusFailStatus(0, 4);
  QTest::mouseClick(form_->AutoLoad, Qt::LeftButton);
  EXPECT_FALSE(form_->AutoLoad->isChecked());
  EXPECT_EQ(dialogs_.messages.size(), 3u);
  EXPECT_EQ(Count(Commands(), Hex({10 + 4, 0x12, 0x05, 0x00, 6 + 4, 0x04})), 0);
  EXPECT_EQ(Count(Commands(), "2A 12 05 00 26 04"), 0);
  EXPECT_EQ(Eeprom(0x1F00, 0x200), before);
}

TEST_F(EVMApplicationsTest, DroppingPlacesNodesByTheirRules) {
  QTreeWidgetItem* a = AddApplication("A");
  QTreeWidgetItem* b = AddApplication("B");
  AddApplication("C");
  QTreeWidgetItem* a1 = AddScript(a);
  a1->setText(0, "a1");
  QTreeWidgetItem* a2 = AddScript(a);
  a2->setText(0, "a2");
  QTreeWidgetItem* b1 = AddScript(b);
  b1->setText(0, "b1");

  QObject* source = Tree()->viewport();
  EXPECT_FALSE(form_->TreeViewDragOver(source, a, a1));
  EXPECT_TRUE(form_->TreeViewDragOver(source, a, b));
  EXPECT_TRUE(form_->TreeViewDragOver(source, a1, b));
  EXPECT_TRUE(form_->TreeViewDragOver(source, a1, b1));
  EXPECT_FALSE(form_->TreeViewDragOver(form_->Save, a1, b1));

  // An application dropped on another goes to the end, not next to it.
  form_->TreeViewDragDrop(a, b);
  EXPECT_EQ(Names(), (std::vector<std::string>{"B", "  b1", "C", "A", "  a1", "  a2"}));
  // A script on a script goes right after it; on an application, to its end.
  form_->TreeViewDragDrop(a2, b1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"B", "  b1", "  a2", "C", "A", "  a1"}));
  form_->TreeViewDragDrop(b1, Tree()->topLevelItem(1));
  EXPECT_EQ(Names(), (std::vector<std::string>{"B", "  a2", "C", "  b1", "A", "  a1"}));
  // The image follows the new order at the next build.
  ASSERT_TRUE(form_->BuildImage());
  EXPECT_EQ(form_->Image()[7], 'B');
  EXPECT_EQ(TEVMApplicationsForm::ScriptOf(a2)->GetImage().Name(), "a2");
}

TEST_F(EVMApplicationsTest, DeletingAnApplicationFreesItsScriptsAndRecorders) {
  QTreeWidgetItem* a = AddApplication("A");
  AddApplication("B");
  QPointer<TI2CCommand> first = TEVMApplicationsForm::ScriptOf(AddScript(a))->Recorder();
  QPointer<TI2CCommand> second = TEVMApplicationsForm::ScriptOf(AddScript(a))->Recorder();
  ASSERT_TRUE(first && second);

  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  Select(a);
  dialogs_.modal.push_back(Answer(QMessageBox::No));
  QTest::keyClick(Tree(), Qt::Key_Delete);
  EXPECT_EQ(Tree()->topLevelItemCount(), 2);
  EXPECT_TRUE(first && second);

  dialogs_.modal.push_back(Answer(QMessageBox::Yes));
  QTest::keyClick(Tree(), Qt::Key_Delete);
  EXPECT_EQ(dialogs_.modalForms, (std::vector<std::string>{"ConfirmDelete", "ConfirmDelete"}));
  EXPECT_EQ(Names(), std::vector<std::string>{"B"});
  EXPECT_TRUE(!first && !second);
  EXPECT_EQ(form_->Image(), (Bytes{0x01, 0x20, 0x03, 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EVMApplicationsTest, RefusesANinthApplicationOrScriptAndAnOversizedRecording) {
  for (int p = 0; p < 8; ++p) AddApplication("A" + std::to_string(p));
  form_->AddApplication1->trigger();
  EXPECT_EQ(Tree()->topLevelItemCount(), 8);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0], "An image holds at most 8 applications: no application is added.");
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);

  for (int s = 0; s < 8; ++s) AddScript(App(0));
  AddScript(App(0));
  EXPECT_EQ(App(0)->childCount(), 8);
  EXPECT_EQ(dialogs_.messages.back(), "Application 'A0' holds 8 scripts, as many as an application can: no script is added.");
  // A script cannot be dropped into a full application either.
  QTreeWidgetItem* other = AddScript(App(1));
  EXPECT_FALSE(form_->TreeViewDragOver(Tree()->viewport(), other, App(0)));

  // 201 writes of 80 bytes pass the 8192-byte record area: the recording is
  // refused and the one before stays.
  std::string block = "w 30 00";
  for (int i = 0; i < 80; ++i) block += " 5A";
  dialogs_.modal.push_back(RecordScript("Small", "w 30 01 02\n"));
  DoubleClick(other);
  ASSERT_EQ(TEVMApplicationsForm::ScriptOf(other)->GetCount(), 1);
  // A failing line is reported; the writes before it are recorded.
  dialogs_.modal.push_back([](QDialog* dialog) {
    dialog->findChild<TI2CCommand*>()->SetCommandLines({"w 30 07 01", "w 30 00 0x12"});
    dialog->accept();
  });
  DoubleClick(other);
  EXPECT_EQ(dialogs_.messages.back().substr(0, 17), "Error, line = 2, ");
  EXPECT_FALSE(TEVMApplicationsForm::ScriptOf(other)->Recorder()->isVisible());
  EXPECT_EQ(TEVMApplicationsForm::ScriptOf(other)->GetImage().Records(), (Bytes{0, 0x30, 0x07, 1, 0x01}));
  dialogs_.modal.push_back([](QDialog* dialog) {
    dialog->findChild<TI2CCommand*>()->SetCommandLines({"w 30 01 02"});
    dialog->accept();
  });
  DoubleClick(other);
  ASSERT_EQ(TEVMApplicationsForm::ScriptOf(other)->GetImage().Records(), (Bytes{0, 0x30, 0x01, 1, 0x02}));
  dialogs_.modal.push_back([&](QDialog* dialog) {
    auto* recorder = dialog->findChild<TI2CCommand*>();
    recorder->SetCommandLines({":L 200", block, ":L"});
    recorder->setWindowTitle("Large.cfg");
    dialog->accept();
  });
  DoubleClick(other);
  EXPECT_EQ(dialogs_.messages.back(),
            "Script 'Large' of application 'A1' is too large: its records pass 8192 bytes. The recording is refused; "
            "the previous one stays.");
  EXPECT_EQ(TEVMApplicationsForm::ScriptOf(other)->GetImage().Records(), (Bytes{0, 0x30, 0x01, 1, 0x02}));
}

TEST_F(EVMApplicationsTest, SaveWritesTheHeaderAndTheHexFile) {
  Record(AddApplication("App"), "Init", "w 30 00 00\n");
  ASSERT_EQ(form_->ImageLength(), 45);
  dialogs_.saveFile = dir_.File("apps.h");
  QTest::mouseClick(form_->Save, Qt::LeftButton);
  EXPECT_EQ(testsupport::ReadFile(dir_.File("apps.h")), EEPROMApplicationImage::CHeader(form_->Image()));
  const std::string hex = testsupport::ReadFile(dir_.File("apps.h.hex"));
  EXPECT_EQ(hex.substr(0, 9), ":10200000");
  EXPECT_EQ(hex.substr(hex.size() - 13), ":00000001FF\r\n");

  // A start address whose image would pass 0xFFFF, or no number at all, saves nothing.
  for (const char* address : {"0xFFE0", "65535", "zz", "0x"}) {
    std::filesystem::remove(dir_.File("apps.h"));
    std::filesystem::remove(dir_.File("apps.h.hex"));
    form_->StartAddress->setText(address);
    const size_t messages = dialogs_.messages.size();
    QTest::mouseClick(form_->Save, Qt::LeftButton);
    EXPECT_EQ(dialogs_.messages.size(), messages + 1) << address;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("apps.h"))) << address;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("apps.h.hex"))) << address;
  }
  // Outside text in a message is cut.
  form_->StartAddress->setText(QString(200, 'z'));
  QTest::mouseClick(form_->Save, Qt::LeftButton);
  EXPECT_EQ(dialogs_.messages.back(), "'" + std::string(80, 'z') + "…' is not a valid integer value");
  form_->StartAddress->setText("0xFFD3");
  QTest::mouseClick(form_->Save, Qt::LeftButton);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("apps.h.hex")));
}

}  // namespace

namespace {

// The kit's default board starts with an application image of the kit's own
// scripts, recorded as the editor records them on the board as it starts:
// the bit changes record their writes.
TEST(EVMApplicationsKit, TheDefaultBoardStartsWithTheKitsScriptsRecorded) {
  namespace fs = std::filesystem;
  const fs::path kit = fs::path(PALISAR_SOURCE_DIR) / "boards";
  testsupport::TempDir dir;
  for (const char* file : {"QMX7XXXEVM.board", "QMX7XXXEVM.start.bin"})
    fs::copy_file(kit / "emulated" / file, fs::path(dir.path()) / file);
  QuillbusReset();
  QuillbusSetBoardsDir(dir.path().c_str());
  regtest::TestDialogs dialogs;
  SetDialogs(&dialogs);
  {
    TUSBI2C link(false);
    ASSERT_EQ(OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId), 1);
    link.AcquireEVM(OrvaneUsbHidGetDevHandle(0));
    uint8_t id[32];
    ASSERT_TRUE(link.ReadEEPROM(id, 0x1FE0, 32, false));
    EXPECT_STREQ(reinterpret_cast<const char*>(id), "FWIDQMX7XXXEVM");

    TEVMApplicationsForm form(nullptr);
    form.ShowEVMApplications(&link);
    EXPECT_TRUE(form.AutoLoad->isEnabled());
    EXPECT_FALSE(form.AutoLoad->isChecked());
    form.ReadImage(&link);
    ASSERT_EQ(form.TreeView->topLevelItemCount(), 1);
    QTreeWidgetItem* playback = form.TreeView->topLevelItem(0);
    EXPECT_EQ(playback->text(0), "Playback");
    ASSERT_EQ(playback->childCount(), 2);
    EXPECT_TRUE(dialogs.messages.empty());

    // The board window's image of the fresh board's codec.
    link.AddDevice(0x30, 0, 256);
    ASSERT_TRUE(link.ReadRegisters(link.GetRegisterImage(0x30, 0, 0, 0), 0x30, 0, 0, 0, 128));
    const char* files[] = {"Init.cfg", "Playback.cfg"};
    for (int s = 0; s < 2; ++s) {
      TEVMScript recorded;
      recorded.Recorder()->LoadScript((kit / "QMX7XXX" / files[s]).string());
      ASSERT_TRUE(recorded.Run(&link));
      const TEVMScript* stored = TEVMApplicationsForm::ScriptOf(playback->child(s));
      EXPECT_EQ(stored->GetImage().Records(), recorded.GetImage().Records()) << files[s];
      EXPECT_GT(stored->GetCount(), 0) << files[s];
    }
    EXPECT_EQ(playback->child(1)->text(0), "Playback");
    // Its two bit changes: the bit clock divider powered, the DAC channels unmuted.
    const Bytes& records = TEVMApplicationsForm::ScriptOf(playback->child(1))->GetImage().Records();
    for (const Bytes& change : {Bytes{0, 0x30, 0x1E, 1, 0x80}, Bytes{0, 0x30, 0x40, 1, 0x00}})
      EXPECT_NE(std::search(records.begin(), records.end(), change.begin(), change.end()), records.end());
  }
  SetDialogs(nullptr);
  QuillbusReset();
  QuillbusSetBoardsDir(nullptr);
}

}  // namespace
