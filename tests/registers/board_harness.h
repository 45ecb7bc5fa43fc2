// The callbacks a board window gives its command window and register
// inspector, forwarding to a link as the board window does: block transfers
// at the book and page the script has selected (placed where the device is
// at the script's first transfer there) through the register image, board
// bits, register comments and descriptions, the current page, the access
// library's log, and the inspector's register access.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/usbi2c.h"
#include "registers/command_script.h"

namespace regtest {

struct BoardHarness {
  TUSBI2C* link = nullptr;
  // Called after an inspector page read (the board window refreshes its inspector).
  std::function<void(int address)> refreshInspector;
  std::vector<std::string> accesses;  // "mode 0: 30 0 0 5"

  static int BlockTransfer(void* user, int device, ScriptPlace& place, int reg, uint8_t* data, int count, bool read,
                           bool) {
    TUSBI2C* link = static_cast<BoardHarness*>(user)->link;
    if (!place.placed) link->PlaceScript(unsigned(device), place);
    const unsigned page = unsigned(place.page), book = unsigned(place.book);
    uint8_t* image = link->GetRegisterImage(unsigned(device), book, page, unsigned(reg));
    // The image page ends at register 127: nothing beyond it is touched.
    const bool inImage = image && reg + count <= 128;
    if (read) {
      const bool ok = link->ReadRegisters(data, unsigned(device), book, page, unsigned(reg), unsigned(count));
      const bool lastKnown = !ok && inImage && count > 0;
      if (inImage && count > 0) {
        if (ok) std::memcpy(image, data, size_t(count));
        else std::memcpy(data, image, size_t(count));
      }
      return TransferResult(ok, lastKnown, link->HasBoard());
    }
    if (inImage && count > 0) std::memcpy(image, data, size_t(count));
    const bool ok = link->WriteRegisters(data, unsigned(device), book, page, unsigned(reg), unsigned(count));
    return TransferResult(ok, false, link->HasBoard());
  }
  static int ScriptGPIO(void* user, int value, bool on) {
    return static_cast<BoardHarness*>(user)->link->SetBoardBits(uint8_t(value), on);
  }
  static void ScriptDecode(void* user, std::vector<std::string>& lines, int device, int page, int reg, int value) {
    static_cast<BoardHarness*>(user)->link->GetRegisterComments(lines, unsigned(device), page, reg, value);
  }
  static int ScriptPageQuery(void* user, int device) {
    return int(static_cast<BoardHarness*>(user)->link->GetPage(unsigned(device)));
  }
  static char* ScriptLog(void* user) { return static_cast<BoardHarness*>(user)->link->GetCodecLog(); }
  static void InspectorAccess(void* user, int device, int book, int page, int reg, int mode) {
    auto* h = static_cast<BoardHarness*>(user);
    h->accesses.push_back("mode " + std::to_string(mode) + ": " + std::to_string(device) + " " +
                          std::to_string(book) + " " + std::to_string(page) + " " + std::to_string(reg));
    const unsigned d = unsigned(device);
    if (mode == 0) {
      if (uint8_t* byte = h->link->GetRegisterImage(d, unsigned(book), unsigned(page), unsigned(reg)))
        h->link->WriteRegisters(byte, d, unsigned(book), unsigned(page), unsigned(reg), 1);
    } else if (mode == 1) {
      if (uint8_t* first = h->link->GetRegisterImage(d, unsigned(book), unsigned(page), 0))
        h->link->ReadRegisters(first, d, unsigned(book), unsigned(page), 0, 128);
      if (h->refreshInspector) h->refreshInspector(device);
    }
  }
  static void InspectorDescribe(void* user, std::vector<std::string>& lines, int device, int page, int reg,
                                int value) {
    static_cast<BoardHarness*>(user)->link->GetRegisterDescription(lines, unsigned(device), page, reg, value);
  }
};

}  // namespace regtest
