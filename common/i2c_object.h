// A register window: a run of consecutive registers of one device and one
// page, seen through a pointer into the host's register image, with the
// callbacks through which its owner writes, polls or block-transfers them.
// Host and plug-in both read and write these fields, so their order and
// widths and the order of the two virtual operations are one contract.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "common/export.h"

typedef void (*TI2CWriteCallback)(void* user, int device, int page, int firstRegister, int count);
typedef void (*TI2CPollCallback)(void* user, int device, int page, int reg, int count, int rate);
typedef void (*TI2CBlockCallback)(void* user, int device, int reg, uint8_t* data, int count, bool read, bool refresh);

class COMMON_API TI2CObject {
 public:
  // A null `data` points the window at a private image until the host binds
  // it: `inlineByte` for one register, an owned buffer of `count` bytes for
  // more, so a window never reads or writes past what it owns.
  TI2CObject(int device, int page, int firstRegister, int count, uint8_t* data);
  TI2CObject(const TI2CObject&) = delete;
  TI2CObject& operator=(const TI2CObject&) = delete;

  void SetData(uint8_t* data) { this->data = data; }
  uint8_t* GetData() const { return data; }
  void SetCallbacks(void* user, TI2CWriteCallback write, TI2CPollCallback poll, TI2CBlockCallback block);
  int GetDevice() const { return device; }
  int GetPage() const { return page; }
  int GetFirstRegister() const { return firstRegister; }
  int GetCount() const { return count; }
  bool AcceptsNotifications() const { return enabled != 0; }
  void* GetUser() const { return user; }
  TI2CWriteCallback GetWrite() const { return write; }
  TI2CPollCallback GetPoll() const { return poll; }
  TI2CBlockCallback GetBlock() const { return block; }
  // The private image the window points at until it is bound.
  const uint8_t* PrivateData() const { return privateData ? privateData : &inlineByte; }

  void SuspendWrites(bool suspend);
  void WriteBits(unsigned reg, uint8_t value, uint8_t mask);
  // A write the owner means to make even from inside its refresh (a readout
  // re-arming the conversion it has just read: not an echo of the values
  // read): the byte takes `value` and goes to the board at once, or, while
  // the refresh holds writes back, in order once that refresh is over. As
  // with WriteBits, the window skips the fan-out of its own write.
  void WriteOrHold(unsigned reg, uint8_t value);

  // Slot 1: the host's notification that registers changed.
  virtual void OnRegisterChanged(int device, int page, unsigned reg);
  // Slot 2: the owner re-reads its bytes through `data`.
  virtual void Refresh() = 0;

 protected:
  // Not virtual: the owner destroys the window as part of itself.
  ~TI2CObject();

  int32_t device;
  int32_t page;
  int32_t firstRegister;
  int32_t count;
  uint8_t* data;
  uint8_t inlineByte = 0;
  uint8_t enabled = 1;
  TI2CWriteCallback savedWrite = nullptr;
  TI2CWriteCallback write = nullptr;
  TI2CPollCallback poll = nullptr;
  TI2CBlockCallback block = nullptr;
  void* user = nullptr;
  // Owned private image of a multi-register window (null for one register).
  uint8_t* privateData = nullptr;

 private:
  void Send(unsigned reg, uint8_t value);

  // Writes made by WriteOrHold during the refresh under way, in order.
  std::vector<std::pair<unsigned, uint8_t>> heldWrites;

  friend struct TI2CObjectLayout;
};
