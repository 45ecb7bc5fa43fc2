// The GUI-thread layer: queued and synchronous work from worker threads,
// and GUI-thread waits that keep serving synchronous sends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <functional>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/gui/dialogs.h"
#include "platform/gui/gui.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "tests/host/host_support.h"

namespace {

using hosttest::PumpEvents;
using hosttest::WaitFor;

TEST(GuiLayerTest, WorkFromAWorkerRunsOnTheGuiThreadInOrder) {
  std::vector<int> order;
  std::atomic<bool> sendOnGui{false};
  std::atomic<bool> sent{false};
  std::thread worker([&] {
    gui::Post([&] { order.push_back(1); });
    gui::Post([&] { order.push_back(2); });
    // Returns only once the GUI thread has run it.
    sent = gui::SendSync([&] {
      sendOnGui = gui::IsGuiThread();
      order.push_back(3);
    });
  });
  ASSERT_TRUE(WaitFor([&] { return sent.load(); }));
  worker.join();
  PumpEvents();
  EXPECT_TRUE(sendOnGui);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(GuiLayerTest, SendSyncOnTheGuiThreadIsADirectCall) {
  bool ran = false;
  EXPECT_TRUE(gui::SendSync([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

// A worker that sends to the GUI thread and ends only after the send: a
// GUI-thread wait for it that did not serve sends would never return.
class SendingThread : public platform::TThread {
 public:
  std::atomic<int> served{0};

 protected:
  void Execute() override {
    for (int i = 0; i < 50; ++i) gui::SendSync([this] { ++served; });
  }
};

TEST(GuiLayerTest, GuiThreadWaitsKeepServingSends) {
  SendingThread thread;
  thread.Start();
  thread.WaitForServing();
  EXPECT_EQ(thread.served.load(), 50);

  platform::TEvent done;
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    ran = gui::SendSync([] {});
    done.Set();
  });
  EXPECT_TRUE(platform::WaitServing(done, -1));
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(GuiLayerTest, UninstallReleasesSendersWithoutRunningTheirWork) {
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  platform::TEvent started;
  std::thread worker([&] {
    started.Set();
    result = gui::SendSync([&] { ran = true; }) ? 1 : 0;
  });
  started.WaitFor(-1);
  gui::Uninstall();
  worker.join();
  gui::Install();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(gui::Post([] {}));
}

TEST(GuiLayerTest, WorkForADestroyedContextIsDropped) {
  auto* context = new QObject;
  bool ran = false;
  ASSERT_TRUE(gui::Post(context, [&] { ran = true; }));
  delete context;
  PumpEvents();
  EXPECT_FALSE(ran);
}

// The real boxes: a failure carries the warning icon, a result the
// information icon. Each box is read and closed once it is up.
TEST(GuiLayerTest, WarningsShowTheWarningIconAndMessagesTheInformationIcon) {
  const struct {
    void (IDialogs::*show)(QWidget*, const std::string&, const std::string&);
    QMessageBox::Icon icon;
  } cases[] = {
      {&IDialogs::Warning, QMessageBox::Warning},
      {&IDialogs::Message, QMessageBox::Information},
  };
  for (const auto& c : cases) {
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    QString title, text;
    std::function<void()> closeWhenUp = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        QTimer::singleShot(1, closeWhenUp);
        return;
      }
      shown = box->icon();
      title = box->windowTitle();
      text = box->text();
      box->accept();
    };
    QTimer::singleShot(0, closeWhenUp);
    (Dialogs().*c.show)(nullptr, "Palisar", "Firmware update failed. Please try DFU instead.");
    EXPECT_EQ(shown, c.icon);
    EXPECT_EQ(title, "Palisar");
    EXPECT_EQ(text, "Firmware update failed. Please try DFU instead.");
  }
}

}  // namespace
