// The platform layer: path mapping, loading by name, events, threads, the
// wait pump and the log.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/library.h"
#include "platform/log.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "tests/support/test_support.h"

namespace {

struct InDir {
  std::string old;
  explicit InDir(const std::string& dir) {
    char b[4096];
    old = ::getcwd(b, sizeof b) ? b : ".";
    EXPECT_EQ(::chdir(dir.c_str()), 0);
  }
  ~InDir() { EXPECT_EQ(::chdir(old.c_str()), 0); }
};

}  // namespace

TEST(PathTest, BackslashesAndCaseAreMapped) {
  testsupport::TempDir dir;
  ::mkdir(dir.File("Codecs").c_str(), 0755);
  testsupport::WriteFile(dir.File("Codecs/Page1.svg"), "x");
  InDir in(dir.path());
  struct Case {
    const char* name;
    const char* mapped;
  } cases[] = {
      {"Codecs\\Page1.svg", "Codecs/Page1.svg"},
      {"codecs\\PAGE1.SVG", "Codecs/Page1.svg"},
      {"CODECS/missing.txt", "Codecs/missing.txt"},
      {"nowhere\\x.txt", "nowhere/x.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::MapPath(c.name), c.mapped) << c.name;
  EXPECT_EQ(platform::MapPath(dir.File("CODECS") + "\\page1.svg"), dir.File("Codecs/Page1.svg"));
}

TEST(PathTest, LibraryNamesBecomeSharedObjects) {
  auto c = platform::LibraryCandidates("Codecs\\QMX7XXX.dll");
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0], "./Codecs/libQMX7XXX.so");
  EXPECT_EQ(c[1], "./Codecs/QMX7XXX.so");
  auto bare = platform::LibraryCandidates("quillbus.dll");
  ASSERT_EQ(bare.size(), 4u);
  EXPECT_EQ(bare[0], platform::ProgramDirectory() + "libquillbus.so");
  EXPECT_EQ(bare[2], "./libquillbus.so");
}

TEST(LibraryTest, LoadsAndResolvesByName) {
  platform::TLibrary lib;
  ASSERT_TRUE(lib.Load("quillbus.dll")) << lib.Error();
  EXPECT_NE(lib.Resolve("OrvaneUsbHidRefresh"), nullptr);
  EXPECT_EQ(lib.Resolve("?OrvaneUsbHidRefresh@@YAHGG@Z"), nullptr);
  platform::TLibrary missing;
  EXPECT_FALSE(missing.Load("nosuch.dll"));
  EXPECT_FALSE(missing.Error().empty());
  EXPECT_EQ(missing.Resolve("x"), nullptr);
}

TEST(EventTest, ManualReset) {
  platform::TEvent e;
  EXPECT_FALSE(e.WaitFor(0));
  e.Set();
  EXPECT_TRUE(e.WaitFor(0));
  EXPECT_TRUE(e.WaitFor(0));  // stays set until reset
  e.Reset();
  EXPECT_FALSE(e.WaitFor(1));
  std::thread t([&] { e.Set(); });
  EXPECT_TRUE(e.WaitFor(-1));
  t.join();
}

namespace {

class Worker : public platform::TThread {
 public:
  platform::TEvent wake;
  std::atomic<int> passes{0};
  bool terminatedOnItsThread = false;
  ~Worker() override {
    Terminate();
    WaitFor();
  }

 protected:
  void Execute() override {
    while (!Terminated()) {
      wake.WaitFor(-1);  // only DoTerminate can end this wait
      wake.Reset();
      ++passes;
    }
  }
  void DoTerminate() override { wake.Set(); }
};

}  // namespace

TEST(ThreadTest, TerminateWakesAPendingWait) {
  Worker w;
  w.Start();
  w.wake.Set();
  EXPECT_TRUE(testsupport::WaitUntil([&] { return w.passes >= 1; }));
  w.Terminate();
  w.WaitFor();
  EXPECT_TRUE(w.Finished());
}

TEST(ThreadTest, WaitForServingKeepsThePumpRunning) {
  // A worker that can only end once the waiting thread has run its request.
  std::atomic<bool> requested{false}, served{false};
  platform::SetWaitPump([&] {
    if (requested.exchange(false)) served = true;
  });
  class Asker : public platform::TThread {
   public:
    std::atomic<bool>* requested;
    std::atomic<bool>* served;

   protected:
    void Execute() override {
      *requested = true;
      while (!*served) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } asker;
  asker.requested = &requested;
  asker.served = &served;
  asker.Start();
  asker.WaitForServing();
  EXPECT_TRUE(served);

  platform::TEvent never;
  requested = true;
  served = false;
  EXPECT_FALSE(platform::WaitServing(never, 20));
  EXPECT_TRUE(served);
  platform::SetWaitPump({});
}

TEST(LogTest, LinesReachTheSink) {
  testsupport::LogCapture log;
  platform::LogF("ExecuteCommand: Error = %d", 0);
  platform::LogLine("plain");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ExecuteCommand: Error = 0", "plain"}));
}
