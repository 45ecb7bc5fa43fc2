#include <cstring>

#include "link/usbi2c.h"

HIDCommandPacket HIDCommandPacket::Header(uint8_t length, uint8_t commandClass, uint8_t operation, uint8_t byte7) {
  HIDCommandPacket p;
  p.bytes[0] = length;
  p.bytes[1] = 0x12;
  p.bytes[2] = commandClass;
  p.bytes[3] = 0;
  p.bytes[4] = static_cast<uint8_t>(length - 4);
  p.bytes[5] = operation;
  p.bytes[6] = 0;
  p.bytes[7] = byte7;
  return p;
}

HIDCommandPacket HIDCommandPacket::I2CSelect(uint8_t deviceAddress) {
  HIDCommandPacket p = Header(8, 0x05, 0x00, deviceAddress);
  p.bytes[6] = 1;
  return p;
}

HIDCommandPacket HIDCommandPacket::AppID() {
  HIDCommandPacket p = Header(8, 0xFF, 0x00, 0x12);
  p.bytes[1] = 0xFF;
  return p;
}

namespace {

// Builders clamp the data to what one packet carries, so no caller can
// write past the 64 bytes.
unsigned Clamp(unsigned count, unsigned limit) { return count > limit ? limit : count; }

}  // namespace

HIDCommandPacket HIDCommandPacket::I2CWrite(uint8_t reg, const uint8_t* data, unsigned count) {
  count = Clamp(count, kMaxRegisterData);
  HIDCommandPacket p = Header(static_cast<uint8_t>(count + 8), 0x05, 0x02, reg);
  if (count) std::memcpy(p.bytes + 8, data, count);
  return p;
}

HIDCommandPacket HIDCommandPacket::I2CRead(uint8_t reg, unsigned count) {
  count = Clamp(count, kMaxRegisterData);
  return Header(static_cast<uint8_t>(count + 8), 0x05, 0x03, reg);
}

HIDCommandPacket HIDCommandPacket::SPIWrite(uint8_t key, const uint8_t* data, unsigned count) {
  count = Clamp(count, kMaxRegisterData);
  HIDCommandPacket p = Header(static_cast<uint8_t>(count + 8), 0x06, 0x00, key);
  if (count) std::memcpy(p.bytes + 8, data, count);
  return p;
}

HIDCommandPacket HIDCommandPacket::SPIRead(uint8_t key, unsigned count) {
  count = Clamp(count, kMaxRegisterData);
  return Header(static_cast<uint8_t>(count + 8), 0x06, 0x01, key);
}

HIDCommandPacket HIDCommandPacket::SPICommandRead(uint8_t command, unsigned count) {
  count = Clamp(count, kMaxCommandRead);
  return Header(static_cast<uint8_t>(count + 8), 0x06, 0x04, command);
}

HIDCommandPacket HIDCommandPacket::EEPROMWrite(uint16_t address, const uint8_t* data, unsigned count) {
  count = Clamp(count, kMaxRegisterData);
  HIDCommandPacket p = Header(static_cast<uint8_t>(count + 10), 0x05, 0x04, 0x00);
  p.bytes[8] = static_cast<uint8_t>(address >> 8);
  p.bytes[9] = static_cast<uint8_t>(address & 0xFF);
  if (count) std::memcpy(p.bytes + 10, data, count);
  return p;
}

HIDCommandPacket HIDCommandPacket::EEPROMRead(uint16_t address, unsigned count) {
  count = Clamp(count, kMaxRegisterData);
  HIDCommandPacket p = Header(static_cast<uint8_t>(count + 10), 0x05, 0x05, 0x00);
  p.bytes[8] = static_cast<uint8_t>(address >> 8);
  p.bytes[9] = static_cast<uint8_t>(address & 0xFF);
  return p;
}

HIDCommandPacket HIDCommandPacket::ControllerBits(uint16_t address, uint8_t mask, bool set) {
  HIDCommandPacket p = Header(10, 0x04, set ? 0 : 1, static_cast<uint8_t>(address >> 8));
  p.bytes[8] = static_cast<uint8_t>(address & 0xFF);
  p.bytes[9] = mask;
  return p;
}

HIDCommandPacket HIDCommandPacket::BoardBits(uint8_t value, bool set) {
  return Header(8, 0x02, set ? 0 : 1, value);
}

uint8_t HIDCommandPacket::SPIWriteKey(unsigned address, unsigned reg) {
  return address == 0 ? static_cast<uint8_t>((reg * 2) & 0xFE) : static_cast<uint8_t>(reg & 0x7F);
}

uint8_t HIDCommandPacket::SPIReadKey(unsigned address, unsigned reg) {
  return address == 0 ? static_cast<uint8_t>(reg * 2 + 1) : static_cast<uint8_t>(reg | 0x80);
}
