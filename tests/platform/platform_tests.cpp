// The platform layer: path mapping, loading by name, events, threads, the
// wait pump, the log, bounded file reading and quoting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/file.h"
#include "platform/library.h"
#include "platform/log.h"
#include "platform/sync.h"
#include "platform/text.h"
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
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0], "./Codecs/libQMX7XXX.so");
  EXPECT_EQ(c[1], "./Codecs/QMX7XXX.so");
  // Then beside the program, where the build puts the plug-in modules.
  EXPECT_EQ(c[2], platform::ProgramDirectory() + "Codecs/libQMX7XXX.so");
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

// A capture ends by giving back the sink it found, not stderr.
TEST(LogTest, ANestedCaptureGivesBackTheSinkItReplaced) {
  testsupport::LogCapture outer;
  {
    testsupport::LogCapture inner;
    platform::LogLine("inner");
    EXPECT_EQ(inner.Lines(), std::vector<std::string>{"inner"});
  }
  platform::LogLine("outer");
  EXPECT_EQ(outer.Lines(), std::vector<std::string>{"outer"});
}

TEST(FileTest, OnlyRegularFilesWithinTheLimitAreRead) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("page.svg"), std::string("a\0b", 3));
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  // Sparse: the size is there, the data is not.
  const int fd = ::open(dir.File("huge").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t(platform::kMaxFileSize) + 1), 0);
  ::close(fd);
  ::mkdir(dir.File("dir").c_str(), 0755);
  struct Case {
    std::string path;
    size_t limit;
    const char* error;  // empty: read
  } cases[] = {
      {dir.File("page.svg"), platform::kMaxFileSize, ""},
      {dir.File("page.svg"), 3, ""},
      {dir.File("page.svg"), 2, "larger than 2 bytes"},
      {dir.File("huge"), platform::kMaxFileSize, "larger than 64 MB"},
      {"/dev/zero", platform::kMaxFileSize, "not a regular file"},
      {dir.File("fifo"), platform::kMaxFileSize, "not a regular file"},  // no writer: must not block
      {dir.File("dir"), platform::kMaxFileSize, "a directory, not a file"},
      {dir.File("missing"), platform::kMaxFileSize, "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string contents = "old", error;
    const bool read = platform::ReadFile(c.path, contents, error, c.limit);
    EXPECT_EQ(read, *c.error == 0) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(contents, read ? std::string("a\0b", 3) : "") << c.path;
  }
}

TEST(FileTest, AHeadIsReadFromFilesAndDevicesOnly) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("image.bin"), "abc");
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    size_t limit;
    std::string contents;
    bool cut;
    const char* error;  // empty: read
  } cases[] = {
      {dir.File("image.bin"), 3, "abc", false, ""},
      {dir.File("image.bin"), 2, "ab", true, ""},
      {"/dev/zero", 5, std::string(5, '\0'), true, ""},
      {dir.File("fifo"), 5, "", false, "not a regular file"},
      {dir.path(), 5, "", false, "a directory, not a file"},
  };
  for (const Case& c : cases) {
    std::string contents, error;
    bool cut = !c.cut;
    EXPECT_EQ(platform::ReadFileHead(c.path, c.limit, contents, cut, error), *c.error == 0) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(contents, c.contents) << c.path;
    if (*c.error == 0) {
      EXPECT_EQ(cut, c.cut) << c.path;
    }
  }
}

TEST(TextTest, QuotedValuesAreCutAt80Characters) {
  const std::string eighty(80, 'x');
  const std::string e = "\xC3\xA9";  // one character, two bytes
  struct Case {
    std::string text, cut;
  } cases[] = {
      {"", ""},
      {eighty, eighty},
      {eighty + "y", eighty + "\xE2\x80\xA6"},
      {std::string(5000000, 'z'), std::string(80, 'z') + "\xE2\x80\xA6"},
      {std::string(79, 'x') + e + e, std::string(79, 'x') + e + "\xE2\x80\xA6"},  // never half a character
  };
  for (const Case& c : cases) EXPECT_EQ(platform::Cut(c.text), c.cut) << c.text.size();
  EXPECT_EQ(platform::Quote("abc"), "\"abc\"");
  EXPECT_EQ(platform::Quote(std::string(100, 'q')).size(), 1 + 80 + 3 + 1);
}

// A parser's byte offset as a reader finds the place in an editor.
TEST(TextTest, AnOffsetIsGivenAsLineAndColumn) {
  const std::string text = "<a>\n  <b \xC3\xA9=>\n";  // an e with an accent: two bytes, one column
  const struct {
    size_t offset;
    const char* place;
  } cases[] = {
      {0, "line 1, column 1"}, {3, "line 1, column 4"},  {4, "line 2, column 1"}, {6, "line 2, column 3"},
      {9, "line 2, column 6"}, {11, "line 2, column 7"}, {99, "line 3, column 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::LineAndColumn(text, c.offset), c.place) << c.offset;
}
