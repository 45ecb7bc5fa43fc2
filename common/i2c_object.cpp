#include "common/i2c_object.h"

#include <cstring>

TI2CObject::TI2CObject(int device, int page, int firstRegister, int count, uint8_t* data)
    : device(device), page(page), firstRegister(firstRegister), count(count), data(data) {
  if (!this->data) {
    if (count > 1) {
      privateData = new uint8_t[size_t(count)];
      std::memset(privateData, 0, size_t(count));
      this->data = privateData;
    } else {
      this->data = &inlineByte;
    }
  }
}

TI2CObject::~TI2CObject() { delete[] privateData; }

void TI2CObject::SetCallbacks(void* user, TI2CWriteCallback write, TI2CPollCallback poll, TI2CBlockCallback block) {
  this->user = user;
  this->write = write;
  this->poll = poll;
  this->block = block;
}

void TI2CObject::SuspendWrites(bool suspend) {
  if (suspend) {
    if (write) {
      savedWrite = write;
      write = nullptr;
    }
  } else if (savedWrite) {
    write = savedWrite;
  }
}

void TI2CObject::OnRegisterChanged(int device, int page, unsigned reg) {
  if (enabled != 1 || !data || device != this->device || page != this->page) return;
  const unsigned first = unsigned(firstRegister);
  // In 64 bits: a first register near the int limit must not wrap.
  const unsigned last = unsigned(int64_t(firstRegister) + count - 1);
  if (reg < first || reg > last) return;
  SuspendWrites(true);
  Refresh();
  SuspendWrites(false);
}

void TI2CObject::WriteBits(unsigned reg, uint8_t value, uint8_t mask) {
  uint8_t& byte = data[reg - unsigned(firstRegister)];
  byte = uint8_t((byte & ~mask) | value);
  enabled = 0;
  if (write) write(user, device, page, int(reg), 1);
  enabled = 1;
}
