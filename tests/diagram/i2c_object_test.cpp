#include "common/i2c_object.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

struct Write {
  int device, page, reg, count;
  bool operator==(const Write&) const = default;
};

class Window : public TI2CObject {
 public:
  Window(int first, int count, uint8_t* data = nullptr) : TI2CObject(0x30, 2, first, count, data) {}
  void Refresh() override {
    ++refreshes;
    writeDuringRefresh = write;
  }
  int refreshes = 0;
  TI2CWriteCallback writeDuringRefresh = nullptr;
  std::vector<Write> writes;
  using TI2CObject::enabled;
};

void RecordWrite(void* user, int device, int page, int reg, int count) {
  static_cast<Window*>(user)->writes.push_back({device, page, reg, count});
}

// A window whose refresh makes deliberate writes; each write records the
// register, the byte the board gets and whether the window then takes
// notifications (the host's fan-out of the write).
class WritingWindow : public TI2CObject {
 public:
  explicit WritingWindow(uint8_t* data) : TI2CObject(0x30, 3, 0, 8, data) {
    SetCallbacks(this, Record, nullptr, nullptr);
  }
  void Refresh() override {
    if (onRefresh) onRefresh(*this);
  }
  struct Sent {
    int reg, value;
    bool notified;
    bool operator==(const Sent&) const = default;
  };
  static void Record(void* user, int, int page, int reg, int count) {
    auto* self = static_cast<WritingWindow*>(user);
    EXPECT_EQ(page, 3);
    EXPECT_EQ(count, 1);
    self->sent.push_back({reg, self->GetData()[reg], self->AcceptsNotifications()});
  }
  std::function<void(WritingWindow&)> onRefresh;
  std::vector<Sent> sent;
};

}  // namespace

TEST(TI2CObject, WritesMadeInARefreshGoOutInOrderOnceItIsOver) {
  uint8_t image[8] = {};
  WritingWindow window(image);
  size_t sentDuringRefresh = 99;
  window.onRefresh = [&](WritingWindow& w) {
    w.WriteOrHold(2, 0x98);
    w.WriteOrHold(5, 0x24);
    w.WriteOrHold(2, 0x18);
    sentDuringRefresh = w.sent.size();
    EXPECT_EQ(image[2], 0x18);  // the image has the value at once
  };
  window.OnRegisterChanged(0x30, 3, 4);
  EXPECT_EQ(sentDuringRefresh, 0u);
  // Each write with its own value, and the writer skips its own fan-out.
  const std::vector<WritingWindow::Sent> expected = {{2, 0x98, false}, {5, 0x24, false}, {2, 0x18, false}};
  EXPECT_EQ(window.sent, expected);
  EXPECT_EQ(image[2], 0x18);
  EXPECT_TRUE(window.AcceptsNotifications());
  EXPECT_EQ(window.GetWrite(), &WritingWindow::Record);

  // Outside a refresh the write goes at once.
  window.sent.clear();
  window.WriteOrHold(7, 0x11);
  EXPECT_EQ(window.sent, (std::vector<WritingWindow::Sent>{{7, 0x11, false}}));
}

TEST(TI2CObject, AHoldThatIsNoRefreshSendsNothingLater) {
  uint8_t image[8] = {};
  WritingWindow window(image);
  // The owner's own hold (a paint): the write changes the image only.
  window.SuspendWrites(true);
  window.WriteOrHold(1, 0x55);
  window.SuspendWrites(false);
  EXPECT_EQ(image[1], 0x55);
  window.OnRegisterChanged(0x30, 3, 1);
  EXPECT_TRUE(window.sent.empty());
  // Unbound: the image only.
  uint8_t other[8] = {};
  WritingWindow unbound(other);
  unbound.SetCallbacks(nullptr, nullptr, nullptr, nullptr);
  unbound.onRefresh = [](WritingWindow& w) { w.WriteOrHold(3, 0x33); };
  unbound.OnRegisterChanged(0x30, 3, 0);
  unbound.WriteOrHold(4, 0x44);
  EXPECT_EQ(other[3], 0x33);
  EXPECT_EQ(other[4], 0x44);
  EXPECT_TRUE(unbound.sent.empty());
}

TEST(TI2CObject, NotifiesOnlyForItsDevicePageAndRegisters) {
  uint8_t image[8] = {};
  Window window(10, 4, image);
  struct Case {
    int device, page;
    unsigned reg;
    bool refreshes;
  } cases[] = {{0x30, 2, 10, true},  {0x30, 2, 13, true},  {0x30, 2, 14, false},         {0x30, 2, 9, false},
               {0x31, 2, 10, false}, {0x30, 3, 10, false}, {0x30, 2, 0xFFFFFFFFu, false}};
  for (const Case& c : cases) {
    const int before = window.refreshes;
    window.OnRegisterChanged(c.device, c.page, c.reg);
    EXPECT_EQ(window.refreshes - before, c.refreshes ? 1 : 0) << c.device << " " << c.page << " " << c.reg;
  }
}

TEST(TI2CObject, RefreshRunsWithWritesParkedAndRestoresThem) {
  Window window(0, 1);
  window.SetCallbacks(&window, RecordWrite, nullptr, nullptr);
  window.OnRegisterChanged(0x30, 2, 0);
  EXPECT_EQ(window.refreshes, 1);
  EXPECT_EQ(window.writeDuringRefresh, nullptr);
  EXPECT_EQ(window.GetWrite(), &RecordWrite);
  window.enabled = 0;  // inside its own WriteBits
  window.OnRegisterChanged(0x30, 2, 0);
  EXPECT_EQ(window.refreshes, 1);
  window.enabled = 1;
  window.SetData(nullptr);
  window.OnRegisterChanged(0x30, 2, 0);
  EXPECT_EQ(window.refreshes, 1);
}

TEST(TI2CObject, WriteBitsEditsTheByteAndWritesOneRegister) {
  uint8_t image[4] = {0xF0, 0xA5, 0, 0};
  Window window(20, 4, image);
  window.WriteBits(21, 0x03, 0x0F);  // bits outside the mask stay
  EXPECT_EQ(image[1], 0xA3);
  EXPECT_TRUE(window.writes.empty());  // no callback: the image only
  window.SetCallbacks(&window, RecordWrite, nullptr, nullptr);
  window.WriteBits(22, 0x80, 0x80);
  EXPECT_EQ(image[2], 0x80);
  EXPECT_EQ(window.writes, (std::vector<Write>{{0x30, 2, 22, 1}}));
  EXPECT_TRUE(window.AcceptsNotifications());
}

TEST(TI2CObject, UnboundWindowsUsePrivateImagesOfTheirSize) {
  Window one(5, 1);
  EXPECT_EQ(one.GetData(), one.PrivateData());
  EXPECT_EQ(*one.GetData(), 0);
  one.WriteBits(5, 0x42, 0xFF);
  EXPECT_EQ(*one.PrivateData(), 0x42);

  // A window of 64 registers writes its last byte inside its own buffer.
  Window many(0, 64);
  many.WriteBits(63, 0x11, 0xFF);
  EXPECT_EQ(many.PrivateData()[63], 0x11);
  EXPECT_NE(many.GetData(), nullptr);
}

TEST(TI2CObject, SuspendAndResumeKeepTheSavedCallback) {
  Window window(0, 1);
  window.SuspendWrites(true);  // nothing set: nothing moves
  EXPECT_EQ(window.GetWrite(), nullptr);
  window.SetCallbacks(&window, RecordWrite, nullptr, nullptr);
  window.SuspendWrites(true);
  EXPECT_EQ(window.GetWrite(), nullptr);
  window.SuspendWrites(false);
  EXPECT_EQ(window.GetWrite(), &RecordWrite);
}
