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
      // A hold that ended without a refresh's end sends nothing later.
      heldWrites.clear();
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
  // The owner's deliberate writes of the refresh go now, once it is over.
  if (heldWrites.empty()) return;
  std::vector<std::pair<unsigned, uint8_t>> held;
  held.swap(heldWrites);
  for (const auto& [heldReg, value] : held) Send(heldReg, value);
}

void TI2CObject::WriteBits(unsigned reg, uint8_t value, uint8_t mask) {
  const uint8_t byte = data[reg - unsigned(firstRegister)];
  Send(reg, uint8_t((byte & ~mask) | value));
}

void TI2CObject::WriteOrHold(unsigned reg, uint8_t value) {
  if (write) return Send(reg, value);
  data[reg - unsigned(firstRegister)] = value;
  // Writes are parked only while a refresh holds them back.
  if (savedWrite) heldWrites.emplace_back(reg, value);
}

// The window that writes is skipped by the host's fan-out of its write.
void TI2CObject::Send(unsigned reg, uint8_t value) {
  data[reg - unsigned(firstRegister)] = value;
  enabled = 0;
  if (write) write(user, device, page, int(reg), 1);
  enabled = 1;
}
