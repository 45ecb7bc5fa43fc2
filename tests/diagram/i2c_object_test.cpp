#include "common/i2c_object.h"

#include <gtest/gtest.h>

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

}  // namespace

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
