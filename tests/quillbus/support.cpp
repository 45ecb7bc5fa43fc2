#include "support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qbtest {

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::u16string DevicePath(int index) {
  char16_t buffer[512];
  if (!OrvaneUsbHidGetDevicePathName(index, buffer, sizeof buffer)) return {};
  return buffer;
}

namespace {

Bytes Head(uint8_t cls, uint8_t op, uint8_t key, size_t dataSize, size_t extra = 0) {
  const auto length = static_cast<uint8_t>(8 + extra + dataSize);
  return {length, 0x12, cls, 0x00, static_cast<uint8_t>(length - 4), op, 0x00, key};
}

Bytes Append(Bytes head, const Bytes& data) {
  head.insert(head.end(), data.begin(), data.end());
  return head;
}

}  // namespace

Bytes Select(uint8_t address) { return {0x08, 0x12, 0x05, 0x00, 0x04, 0x00, 0x01, address}; }
Bytes I2cWrite(uint8_t reg, const Bytes& data) { return Append(Head(0x05, 0x02, reg, data.size()), data); }
Bytes I2cRead(uint8_t reg, int count) { return Append(Head(0x05, 0x03, reg, count), Bytes(count, 0)); }
Bytes SpiWrite(uint8_t key, const Bytes& data) { return Append(Head(0x06, 0x00, key, data.size()), data); }
Bytes SpiRead(uint8_t key, int count) { return Append(Head(0x06, 0x01, key, count), Bytes(count, 0)); }
Bytes SpiCommand(uint8_t command, int count) { return Append(Head(0x06, 0x04, command, count), Bytes(count, 0)); }

Bytes EepromWrite(uint16_t address, const Bytes& data) {
  Bytes head = Head(0x05, 0x04, 0x00, data.size(), 2);
  head.push_back(static_cast<uint8_t>(address >> 8));
  head.push_back(static_cast<uint8_t>(address));
  return Append(head, data);
}

Bytes EepromRead(uint16_t address, int count) {
  Bytes packet = EepromWrite(address, Bytes(count, 0));
  packet[5] = 0x05;
  return packet;
}

Bytes Reply(Bytes packet, uint8_t status, size_t offset, const Bytes& data) {
  packet[3] = status;
  std::copy(data.begin(), data.end(), packet.begin() + static_cast<long>(offset));
  return packet;
}

void QuillbusTest::SetUp() {
  ASSERT_FALSE(dir_.path().empty());
  OrvaneSetLogCB(nullptr);
  QuillbusReset();
  QuillbusSetTrace(nullptr);
  QuillbusSetLatency(0);
  QuillbusSetBoardsDir(dir_.path().c_str());
}

void QuillbusTest::TearDown() {
  OrvaneSetLogCB(nullptr);
  QuillbusReset();
  QuillbusSetBoardsDir(nullptr);
}

std::string QuillbusTest::AddBoard(const std::string& file, const std::string& content) {
  const std::string path = dir_.path() + "/" + file;
  WriteFile(path, content);
  return path;
}

Bytes QuillbusTest::Exchange(int index, Bytes command) {
  Bytes reply(command.size());
  if (!OrvaneUsbHidWrite(index, command.data(), static_cast<uint16_t>(command.size()))) return {};
  if (!OrvaneUsbHidRead(index, reply.data(), static_cast<uint16_t>(reply.size()))) return {};
  return reply;
}

std::string QuillbusTest::Log() {
  char* text = OrvaneGetCodecLog();
  std::string copy = text ? text : "";
  std::free(text);
  return copy;
}

}  // namespace qbtest
