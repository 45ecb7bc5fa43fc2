// The small windows: board picker, network dialog, about box, loading
// splash and log window, driven through their real controls.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "host/about_box.h"
#include "host/load_form.h"
#include "host/log_form.h"
#include "host/select_evm_form.h"
#include "host/tcp_connect_form.h"
#include "platform/log.h"
#include "tests/host/host_support.h"
#include "tests/support/test_support.h"

namespace {

using hosttest::FakeDialogs;
using hosttest::PumpEvents;

class SelectEVMFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(document_.load_string("<EVMList><AEVM/><BEVM/><CEVM/></EVMList>"));
    for (pugi::xml_node node : document_.document_element().children()) form_.AddEVM(node.name(), node);
    form_.setResult(0);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    form_.EVMList->setCurrentRow(1);
  }

  pugi::xml_document document_;
  TSelectEVMForm form_;
};

TEST_F(SelectEVMFormTest, ButtonDoubleClickAndEnterEachPickTheSelectedBoard) {
  const struct {
    const char* how;
    std::function<void(TSelectEVMForm&)> act;
  } ways[] = {
      {"Select button", [](TSelectEVMForm& f) { QTest::mouseClick(f.Select, Qt::LeftButton); }},
      {"double click",
       [](TSelectEVMForm& f) {
         const QPoint at = f.EVMList->visualItemRect(f.EVMList->item(1)).center();
         // As a window system delivers it: press, release, double click, release.
         QWidget* viewport = f.EVMList->viewport();
         QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
         QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, at);
         QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, at);
       }},
      {"Enter key", [](TSelectEVMForm& f) { QTest::keyClick(f.EVMList, Qt::Key_Return); }},
  };
  for (const auto& way : ways) {
    form_.setResult(0);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    form_.EVMList->setCurrentRow(1);
    way.act(form_);
    EXPECT_EQ(form_.result(), QDialog::Accepted) << way.how;
    EXPECT_FALSE(form_.isVisible()) << way.how;
    EXPECT_STREQ(form_.GetEVM(form_.EVMList->currentRow()).name(), "BEVM") << way.how;
  }
}

TEST_F(SelectEVMFormTest, CancelAndOtherKeysDoNotPick) {
  QTest::keyClick(form_.EVMList, Qt::Key_Down);
  EXPECT_TRUE(form_.isVisible());
  EXPECT_EQ(form_.EVMList->currentRow(), 2);
  QTest::mouseClick(form_.Cancel, Qt::LeftButton);
  EXPECT_EQ(form_.result(), QDialog::Rejected);
  EXPECT_FALSE(form_.GetEVM(-1));
  EXPECT_FALSE(form_.GetEVM(3));
  EXPECT_EQ(form_.windowTitle(), "Select EVM");
}

class TCPConnectFormTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDialogs(&dialogs_); }
  void TearDown() override { SetDialogs(nullptr); }

  // Types the two fields and clicks Connect; the dialog's result.
  int Connect(const QString& server, const QString& port) {
    form_.setResult(0);
    form_.show();
    form_.ServerName->clear();
    QTest::keyClicks(form_.ServerName, server);
    form_.Port->clear();
    QTest::keyClicks(form_.Port, port);
    QTest::mouseClick(form_.Connect, Qt::LeftButton);
    return form_.result();
  }

  FakeDialogs dialogs_;
  TTCPConnectForm form_;
};

TEST_F(TCPConnectFormTest, StartsWithLoopbackAndPort80) {
  EXPECT_EQ(form_.ServerName->text(), "127.0.0.1");
  EXPECT_EQ(form_.Port->text(), "80");
  EXPECT_EQ(form_.StaticText1->text(), "Server:");
  EXPECT_EQ(form_.StaticText2->text(), "Port:");
  EXPECT_EQ(form_.windowTitle(), "Network Connect");
}

TEST_F(TCPConnectFormTest, ASecondShorterServerNamePassesExactlyTheNewName) {
  ASSERT_EQ(Connect("boards.example.internal", "6001"), QDialog::Accepted);
  EXPECT_STREQ(form_.server, "boards.example.internal");
  EXPECT_EQ(form_.port, 6001);
  ASSERT_EQ(Connect("10.0.0.7", " 6002 "), QDialog::Accepted);
  EXPECT_STREQ(form_.server, "10.0.0.7");
  EXPECT_EQ(form_.port, 6002);
}

TEST_F(TCPConnectFormTest, APortThatIsNoNumberKeepsTheDialogOpen) {
  ASSERT_EQ(Connect("127.0.0.1", "7000"), QDialog::Accepted);
  for (const char* bad : {"abc", "", "70x", "99999999999"}) {
    EXPECT_NE(Connect("10.1.1.1", bad), QDialog::Accepted) << bad;
    EXPECT_TRUE(form_.isVisible()) << bad;
    // Nothing of the refused entry is taken.
    EXPECT_EQ(form_.port, 7000) << bad;
    EXPECT_STREQ(form_.server, "127.0.0.1") << bad;
  }
  ASSERT_EQ(dialogs_.messages.size(), 4u);
  EXPECT_EQ(dialogs_.messages[0], "'abc' is not a valid integer value");
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);
  QTest::mouseClick(form_.Cancel, Qt::LeftButton);
  EXPECT_EQ(form_.result(), QDialog::Rejected);
  EXPECT_FALSE(form_.isVisible());
}

TEST_F(TCPConnectFormTest, AnOverlongServerNameIsCutAndTerminated) {
  ASSERT_EQ(Connect(QString(300, 'h'), "1"), QDialog::Accepted);
  EXPECT_EQ(std::strlen(form_.server), sizeof form_.server - 1);
}

TEST(StrToIntTest, DecimalIntegersOnly) {
  const struct {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"80", true, 80},   {" -12 ", true, -12}, {"+7", true, 7},      {"", false, 0},
               {"0x10", false, 0}, {"1.5", false, 0},    {"+-1", false, 0},    {"2147483648", false, 0}};
  for (const auto& c : cases) {
    int value = 0;
    EXPECT_EQ(StrToInt(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(SmallFormsTest, CaptionsAndTextsAreThoseOfTheForms) {
  TAboutBox about;
  TLoadForm load;
  const struct {
    QWidget* form;
    const char* name;
    const char* text;
  } labels[] = {
      {&about, "ProductName", "Palisar Software"}, {&about, "Version", "Version 2.03"},
      {&about, "Comments", "Firmware Version:"},   {&about, "Firmware", "N/A"},
      {&about, "Label1", "ID:"},                   {&about, "ID", "N/A"},
      {&load, "EVM", "EVM:"},                      {&load, "Loading", "Loading:"},
  };
  for (const auto& l : labels) {
    auto* label = l.form->findChild<QLabel*>(l.name);
    ASSERT_NE(label, nullptr) << l.name;
    EXPECT_EQ(label->text(), l.text) << l.name;
  }
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.OKButton->text(), "OK");
  EXPECT_TRUE(about.OKButton->isDefault());
  EXPECT_EQ(load.ProgressBar->minimum(), 0);
  EXPECT_EQ(load.ProgressBar->maximum(), 100);
  EXPECT_TRUE(load.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(load.windowFlags() & Qt::WindowStaysOnTopHint);

  about.setResult(0);
  about.show();
  QTest::mouseClick(about.OKButton, Qt::LeftButton);
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(LogFormTest, LinesFromAnyThreadReachTheMemoInOrder) {
  TLogForm form;
  LogForm = &form;
  platform::LogLine("first");
  std::thread worker([] {
    for (int i = 0; i < 3; ++i) platform::LogF("worker %d", i);
  });
  worker.join();
  platform::LogLine("last");
  PumpEvents();
  LogForm = nullptr;
  EXPECT_EQ(form.Memo->toPlainText().toStdString(), "first\nworker 0\nworker 1\nworker 2\nlast");
  EXPECT_EQ(form.windowTitle(), "Log");
  EXPECT_TRUE(form.Memo->isReadOnly());
}

// A log window as the program has it, and fd 2 pointed at a file from
// Redirect() until Restore() (or the end).
class LogToStderrTest : public ::testing::Test {
 protected:
  LogToStderrTest() { LogForm = &form_; }
  ~LogToStderrTest() override {
    Restore();
    LogForm = nullptr;
  }
  void Redirect() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(Path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::string Path() const { return dir_.File("stderr.txt"); }
  std::string Stderr() const { return testsupport::ReadFile(Path()); }
  std::string Memo() {
    PumpEvents();
    return form_.Memo->toPlainText().toStdString();
  }

 private:
  testsupport::TempDir dir_;
  TLogForm form_;
  int saved_ = -1;
};

// A user who started Palisar from a terminal (or reads the desktop session's
// log) sees every line as it is logged, from any thread, besides the memo.
TEST_F(LogToStderrTest, EveryLineIsAlsoWrittenToStderrAtOnce) {
  Redirect();
  platform::LogLine("Transfer failed, line = 3: w 30 00 01");
  std::thread worker([] { platform::LogF("USB connect CB: 0x%02X", 0x201); });
  worker.join();
  // Before the GUI thread has run a thing: stderr has them already.
  EXPECT_EQ(Stderr(), "Transfer failed, line = 3: w 30 00 01\nUSB connect CB: 0x201\n");
  Restore();
  EXPECT_EQ(Memo(), "Transfer failed, line = 3: w 30 00 01\nUSB connect CB: 0x201");
}

// A test's capture takes the lines in place of the window and stderr, and
// gives both back when it ends.
TEST_F(LogToStderrTest, ACaptureTakesTheLinesAndGivesTheSinkBack) {
  Redirect();
  {
    testsupport::LogCapture capture;
    platform::LogLine("captured");
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"captured"});
  }
  platform::LogLine("after");
  Restore();
  EXPECT_EQ(Stderr(), "after\n");
  EXPECT_EQ(Memo(), "after");
}

}  // namespace
