// The instance table and the biquad writer, linked in.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "codec/instance.h"

namespace {

struct Sent {
  int page, reg, count;
  std::vector<uint8_t> bytes;
};
std::vector<Sent> sent;
int Record(void*, TCodecCommand* command) {
  auto* t = static_cast<TI2CBlockTransfer*>(command->payload);
  EXPECT_EQ(command->type, kCodecBlockTransfer);
  EXPECT_EQ(t->device, 0x30u);
  EXPECT_EQ(t->book, 0);
  EXPECT_EQ(t->read, 0);
  sent.push_back({t->page, t->reg, t->count, std::vector<uint8_t>(t->data, t->data + t->count)});
  return 0;
}

TEST(PluginRecordsTest, TheRecordsKeepTheirFieldOrderAndWidths) {
  // Both deliverables read these records: their layout is one contract.
  EXPECT_EQ(offsetof(TCodecCommand, type), 0u);
  EXPECT_EQ(offsetof(TCodecCommand, payload), sizeof(void*));
  EXPECT_EQ(offsetof(TI2CBlockTransfer, device), 0u);
  EXPECT_EQ(offsetof(TI2CBlockTransfer, book), 4u);
  EXPECT_EQ(offsetof(TI2CBlockTransfer, page), 8u);
  EXPECT_EQ(offsetof(TI2CBlockTransfer, reg), 12u);
  EXPECT_EQ(offsetof(TI2CBlockTransfer, count), 16u);
  EXPECT_EQ(offsetof(TI2CBlockTransfer, data), 24u);
  EXPECT_EQ(offsetof(TI2CBlockTransfer, read), 24u + sizeof(void*));
  EXPECT_EQ(sizeof(TI2CBlockTransfer::device), 4u);
  // The instance: twelve form pointers, the 256-character name, the host handle.
  int host = 0;
  TQMX7XXXForms* forms = CodecInstanceTable::Init(&host, Record);
  const char* base = reinterpret_cast<const char*>(forms);
  EXPECT_EQ(size_t(reinterpret_cast<const char*>(&forms->codecName) - base), 12 * sizeof(void*));
  EXPECT_EQ(size_t(reinterpret_cast<const char*>(&forms->hostHandle) - base), 12 * sizeof(void*) + 256);
  CodecInstanceTable::Free(forms);
}

TEST(InstanceTableTest, TheScanStartsAtSlotZeroAndTheCounterFollowsTheSlotFilled) {
  std::vector<TQMX7XXXForms*> made;
  for (int i = 0; i < 16; ++i) made.push_back(CodecInstanceTable::Init(&made, Record));
  EXPECT_EQ(CodecInstanceTable::SlotCounter(), 16);
  EXPECT_EQ(CodecInstanceTable::Init(&made, Record), nullptr);
  CodecInstanceTable::Free(made[3]);
  EXPECT_EQ(CodecInstanceTable::SlotCounter(), 16);  // freeing leaves it
  TQMX7XXXForms* again = CodecInstanceTable::Init(&made, Record);
  EXPECT_EQ(CodecInstanceTable::Slot(3), again);
  EXPECT_EQ(CodecInstanceTable::SlotCounter(), 4);
  made[3] = again;
  for (TQMX7XXXForms* f : made) CodecInstanceTable::Free(f);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(CodecInstanceTable::Slot(i), nullptr);
}

TEST(BiquadWriterTest, TheBlockIsTheLow16BitsMostSignificantFirst) {
  const int32_t num[3] = {-1, 0, 0x12345};
  const int32_t den[3] = {0x7FFFFFFF, 0x1234, -2};
  uint8_t block[10];
  TQMX7XXXForms::BiquadRegisterBlock(num, den, block);
  const uint8_t expected[10] = {0xFF, 0xFF, 0x00, 0x00, 0x23, 0x45, 0x12, 0x34, 0xFF, 0xFE};
  EXPECT_EQ(std::vector<uint8_t>(block, block + 10), std::vector<uint8_t>(expected, expected + 10));
}

TEST(BiquadWriterTest, FiveTransfersPerBiquadAndNoneWithoutARegisterSet) {
  const int32_t num[3] = {1, 2, 3}, den[3] = {0, 4, 5};
  const struct {
    unsigned slot;
    int left, right;
  } sets[] = {{0, 2, 66}, {3, 32, 96}, {5, 52, 116}};
  for (const auto& s : sets) {
    sent.clear();
    int host = 0;
    EXPECT_TRUE(TQMX7XXXForms::SendBiquad(Record, &host, s.slot, num, den));
    ASSERT_EQ(sent.size(), 5u);
    const int regs[5] = {s.left, s.right, 1, s.left, s.right};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(sent[size_t(i)].page, 8);
      EXPECT_EQ(sent[size_t(i)].reg, regs[i]) << s.slot << " " << i;
      EXPECT_EQ(sent[size_t(i)].count, i == 2 ? 1 : 10);
    }
    EXPECT_EQ(sent[2].bytes, std::vector<uint8_t>{0x05});
    EXPECT_EQ(sent[0].bytes[9], 5);
  }
  sent.clear();
  EXPECT_FALSE(TQMX7XXXForms::SendBiquad(Record, nullptr, 6, num, den));
  EXPECT_FALSE(TQMX7XXXForms::SendBiquad(Record, nullptr, 0, nullptr, den));
  EXPECT_TRUE(sent.empty());
}

TEST(BiquadWriterTest, NothingIsSentWhileTheFilterWindowIsNotShown) {
  sent.clear();
  int host = 0;
  TQMX7XXXForms* forms = CodecInstanceTable::Init(&host, Record);
  const int32_t num[3] = {1, 2, 3}, den[3] = {0, 4, 5};
  TQMX7XXXForms::WriteBiquad(forms, 0, num, den);
  TQMX7XXXForms::WriteBiquad(forms, 0, nullptr, nullptr);  // a batch marker
  TQMX7XXXForms::WriteBiquad(nullptr, 0, num, den);
  EXPECT_TRUE(sent.empty());
  CodecInstanceTable::Free(forms);
}

}  // namespace
