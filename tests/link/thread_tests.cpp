// The link thread: block refresh with its pseudo-pages, start and stop,
// device discovery as boards come and go, and acquiring a board.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "tests/link/link_fixture.h"

namespace {

struct Passes {
  std::mutex mutex;
  int count = 0;
  unsigned page = 0, reg = 0, n = 0;
};

int CountPass(void* context, unsigned, unsigned, unsigned page, unsigned reg, unsigned count) {
  auto* p = static_cast<Passes*>(context);
  std::lock_guard<std::mutex> lock(p->mutex);
  ++p->count;
  p->page = page;
  p->reg = reg;
  p->n = count;
  return 0;
}

struct Listing {
  std::mutex mutex;
  std::vector<std::pair<int, int>> events;  // (status, index)
  std::vector<std::string> paths;
  std::vector<std::pair<int, int>> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    auto e = events;
    events.clear();
    return e;
  }
};

void RecordListing(void* context, const char* path, int index, int status) {
  auto* l = static_cast<Listing*>(context);
  if (status == kLinkCommandDone) return;
  std::lock_guard<std::mutex> lock(l->mutex);
  l->events.push_back({status, index});
  if (status == kLinkBoardListed) l->paths.push_back(path);
}

}  // namespace

using ThreadTest = LinkFixture;

TEST_F(ThreadTest, RefreshBlocksAreSplitByPage) {
  link_->AddDevice(0x30, 0, 256);
  struct Case {
    unsigned page, reg, count;
    std::vector<std::string> reads;  // the data commands of one pass (selects left out)
  } cases[] = {
      {3, 10, 40,
       {Hex({40, 0x12, 5, 0, 36, 3, 0, 10}), Hex({16, 0x12, 5, 0, 12, 3, 0, 42})}},
      {255, 0, 120,
       {Hex({64, 0x12, 6, 0, 60, 4, 0, 0xE0}), Hex({64, 0x12, 6, 0, 60, 4, 0, 0xE0}),
        Hex({16, 0x12, 6, 0, 12, 4, 0, 0xE0})}},
      {254, 4, 4, {Hex({10, 0x12, 6, 0, 6, 4, 0, 0xD0}), Hex({10, 0x12, 6, 0, 6, 4, 0, 0x90})}},
  };
  for (const auto& c : cases) {
    Passes passes;
    Mark();
    ASSERT_TRUE(link_->StartRefresh(0x30, 0, c.page, c.reg, c.count, 50, &passes, CountPass));
    ASSERT_TRUE(testsupport::WaitUntil([&] {
      std::lock_guard<std::mutex> lock(passes.mutex);
      return passes.count >= 2;
    }));
    link_->StopRefresh();
    EXPECT_EQ(link_->GetPeriod(), 50);
    EXPECT_EQ(passes.page, c.page);
    EXPECT_EQ(passes.n, c.count);
    // The data commands of the first passes, headers only (selects and page writes left out).
    std::vector<std::string> data;
    for (const auto& cmd : Commands()) {
      const std::string cls = cmd.substr(6, 2), op = cmd.substr(15, 2);
      if (op == "02" || (cls == "05" && op == "00")) continue;
      data.push_back(cmd.substr(0, 23));
    }
    ASSERT_GE(data.size(), c.reads.size());
    for (size_t i = 0; i < c.reads.size(); ++i) EXPECT_EQ(data[i], c.reads[i]) << "page " << c.page;
  }
}

TEST_F(ThreadTest, TouchSamplesLandAtTheirRegisters) {
  link_->AddDevice(0x30, 0, 256);
  Passes passes;
  ASSERT_TRUE(link_->StartRefresh(0x30, 0, 254, 8, 4, 100, &passes, CountPass));
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    std::lock_guard<std::mutex> lock(passes.mutex);
    return passes.count >= 1;
  }));
  link_->StopRefresh();
  // The last two replies are the 0xD0 and 0x90 samples of the last pass.
  auto replies = Replies();
  ASSERT_GE(replies.size(), 2u);
  const uint8_t* image = link_->GetRegisterImage(0x30, 0, 254, 8);
  const std::string x = replies[replies.size() - 2].substr(24), y = replies.back().substr(24);
  EXPECT_EQ(x, Hex({image[0], image[1]}));
  EXPECT_EQ(y, Hex({image[2], image[3]}));
}

TEST_F(ThreadTest, RefreshRefusesBlocksOutsideTheImage) {
  link_->AddDevice(0x30, 0, 256);
  link_->AddDevice(0x34, 0, 0);
  Passes passes;
  EXPECT_FALSE(link_->StartRefresh(0x30, 0, 3, 100, 29, 10, &passes, CountPass));
  EXPECT_FALSE(link_->StartRefresh(0x30, 0, 3, 0, 8, 0, &passes, CountPass));
  EXPECT_FALSE(link_->StartRefresh(0x30, 0, 3, 0, 8, -5, &passes, CountPass));
  EXPECT_FALSE(link_->StartRefresh(0x34, 0, 255, 0, 56, 10, &passes, CountPass));
  EXPECT_FALSE(link_->StartRefresh(0x40, 0, 0, 0, 8, 10, &passes, CountPass));
  EXPECT_FALSE(link_->StartRefresh(0x30, 0, 254, 126, 2, 10, &passes, CountPass));
  EXPECT_FALSE(link_->IsRefreshing());
  EXPECT_TRUE(link_->StartRefresh(0x30, 0, 3, 0, 8, 3, &passes, CountPass));
  EXPECT_EQ(link_->GetPeriod(), 333);
  link_->StopRefresh();
}

TEST_F(ThreadTest, RefreshReadsTheBoardIntoTheImage) {
  link_->AddDevice(0x30, 0, 256);
  QuillbusSetRegister(0, 0x30, 0, 3, 20, 0xAB);
  Passes passes;
  ASSERT_TRUE(link_->StartRefresh(0x30, 0, 3, 16, 8, 100, &passes, CountPass));
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    std::lock_guard<std::mutex> lock(passes.mutex);
    return passes.count >= 1;
  }));
  // The link thread writes the image: it is read once the refresh has stopped.
  link_->StopRefresh();
  EXPECT_EQ(*link_->GetRegisterImage(0x30, 0, 3, 20), 0xAB);
}

namespace {

// A refresh report that holds the link thread until the owner lets it go,
// as a board window's synchronous report does.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool waiting = false, release = false, open = false;

  static int Pass(void* context, unsigned, unsigned, unsigned, unsigned, unsigned) {
    auto* g = static_cast<Gate*>(context);
    std::unique_lock<std::mutex> lock(g->mutex);
    if (g->open) return 0;
    g->waiting = true;
    g->changed.notify_all();
    g->changed.wait(lock, [g] { return g->release; });
    g->release = false;
    g->waiting = false;
    return 0;
  }
  bool WaitForReport() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [this] { return waiting; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = release = true;
    changed.notify_all();
  }
};

}  // namespace

// With the hand-over on, the link thread never writes the image: the owner
// copies the pass in on its own thread, and a byte it wrote after the pass
// had read it keeps the owner's value.
TEST_F(ThreadTest, RefreshHandOverKeepsTheOwnersWrites) {
  link_->AddDevice(0x30, 0, 256);
  link_->SetRefreshHandOver(true);
  QuillbusSetRegister(0, 0x30, 0, 3, 20, 0x11);
  QuillbusSetRegister(0, 0x30, 0, 3, 21, 0x33);
  Gate gate;
  ASSERT_TRUE(link_->StartRefresh(0x30, 0, 3, 16, 8, 100, &gate, Gate::Pass));
  ASSERT_TRUE(gate.WaitForReport());
  uint8_t* image = link_->GetRegisterImage(0x30, 0, 3, 20);
  EXPECT_EQ(image[0], 0);
  EXPECT_EQ(image[1], 0);
  // A widget's write while the report waits, as the GUI thread makes it.
  image[0] = 0x22;
  ASSERT_TRUE(link_->WriteRegisters(image, 0x30, 0, 3, 20, 1));
  EXPECT_TRUE(link_->ApplyRefresh());
  EXPECT_EQ(image[0], 0x22);
  EXPECT_EQ(image[1], 0x33);
  EXPECT_FALSE(link_->ApplyRefresh());
  gate.Open();
  link_->StopRefresh();
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 3, 20), 0x22);
}

TEST_F(ThreadTest, BoardWindowLinkNeverAdoptsAnotherBoard) {
  link_->AddDevice(0x30, 0, 256);
  TUSBI2C link(false);
  link.AddDevice(0x30, 0, 256);
  Passes passes;
  ASSERT_TRUE(link.StartRefresh(0x30, 0, 255, 0, 8, 100, &passes, CountPass));
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    std::lock_guard<std::mutex> lock(passes.mutex);
    return passes.count >= 2;
  }));
  link.StopRefresh();
  EXPECT_EQ(link.GetDeviceHandle(), nullptr);
  link.Stop();
}

TEST_F(ThreadTest, AcquireEVMWithNullHandle) {
  testsupport::LogCapture log;
  Listing listing;
  link_->SetConnectCallback(&listing, RecordListing);
  link_->AcquireEVM(nullptr);
  EXPECT_TRUE(log.Contains("AcquireEVM: pAPI = 0x00000000"));
  EXPECT_EQ(listing.Take(), (std::vector<std::pair<int, int>>{{kLinkHandleCleared, 0}}));
  EXPECT_TRUE(Commands().empty());
}

TEST_F(ThreadTest, AcquireEVMFindsTheBoardAndSendsAppID) {
  AddBoard("b.board", "SECONDEVM");
  testsupport::LogCapture log;
  TUSBI2C link(false);
  OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId);
  void* second = OrvaneUsbHidGetDevHandle(1);
  const int appIds = QuillbusGetAppIdCount(1);
  link.AcquireEVM(second);
  EXPECT_EQ(link.GetDeviceIndex(), 1);
  EXPECT_EQ(QuillbusGetAppIdCount(1), appIds + 1);
  EXPECT_NE(std::string(link.GetDevicePathName()).find("b.board"), std::string::npos);
  const std::vector<std::string> wanted = {"Fetch device path name from HID", "Convert device path name to Unicode",
                                           "Execute AppID command via HID"};
  for (const auto& w : wanted) EXPECT_TRUE(log.Contains(w)) << w;
  link.Stop();
}

TEST_F(ThreadTest, WatcherReportsBoardsComingAndGoing) {
  testsupport::LogCapture log;
  Listing listing;
  TUSBI2C watcher(true);
  watcher.SetConnectCallback(&listing, RecordListing);
  using Events = std::vector<std::pair<int, int>>;
  auto waitFor = [&](size_t n) {
    Events all;
    testsupport::WaitUntil([&] {
      for (auto& e : listing.Take()) all.push_back(e);
      return all.size() >= n;
    });
    return all;
  };
  EXPECT_EQ(waitFor(3), (Events{{kLinkCountChanged, 0}, {kLinkBoardListed, 0}, {kLinkListingEnds, 0}}));

  AddBoard("b.board", "SECONDEVM");
  EXPECT_EQ(waitFor(4), (Events{{kLinkCountChanged, 0}, {kLinkBoardListed, 0}, {kLinkBoardListed, 1},
                                {kLinkListingEnds, 1}}));
  EXPECT_TRUE(log.Contains("AcquireEVM: number of HID devices changed: 2"));
  {
    std::lock_guard<std::mutex> lock(listing.mutex);
    ASSERT_EQ(listing.paths.size(), 3u);
    EXPECT_EQ(listing.paths[0], listing.paths[1]);  // the same board keeps its path
    EXPECT_NE(listing.paths[1], listing.paths[2]);
  }

  std::remove(dir_.File("a.board").c_str());
  EXPECT_EQ(waitFor(3), (Events{{kLinkCountChanged, 1}, {kLinkBoardListed, 0}, {kLinkListingEnds, 0}}));
  // An unchanged count reports nothing.
  EXPECT_FALSE(testsupport::WaitUntil([&] { return !listing.Take().empty(); }, std::chrono::milliseconds(1200)));
  watcher.Stop();
}
