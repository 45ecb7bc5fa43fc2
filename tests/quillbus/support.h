// Shared helpers of the quillbus tests: a temporary boards directory, board
// files, and command packets built from the wire format.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "quillbus/quillbus.h"
#include "tests/support/test_support.h"

namespace qbtest {

using Bytes = std::vector<uint8_t>;

using testsupport::TempDir;
using testsupport::WriteFile;
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::string Utf8(const std::u16string& text);
// The device path of board `index`, empty when there is none.
std::u16string DevicePath(int index);

// Command packets.
Bytes Select(uint8_t address);
Bytes I2cWrite(uint8_t reg, const Bytes& data);
Bytes I2cRead(uint8_t reg, int count);
Bytes SpiWrite(uint8_t key, const Bytes& data);
Bytes SpiRead(uint8_t key, int count);
Bytes SpiCommand(uint8_t command, int count);
Bytes EepromWrite(uint16_t address, const Bytes& data);
Bytes EepromRead(uint16_t address, int count);
// `packet` with status byte `status`, and `data` placed from `offset` on.
Bytes Reply(Bytes packet, uint8_t status, size_t offset = 0, const Bytes& data = {});

// Every test starts with a reset library and an empty boards directory.
class QuillbusTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes `<dir>/<file>` and returns its path.
  std::string AddBoard(const std::string& file, const std::string& content = "");
  int Refresh() { return OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId); }
  // Write then read; the reply, or an empty vector when either failed.
  Bytes Exchange(int index, Bytes command);
  std::string Log();

  TempDir dir_;
};

}  // namespace qbtest
