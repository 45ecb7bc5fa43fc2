// The board window on the bundled board kit and an emulated board, with
// the emulator's packet trace: what the diagram tests of the board window
// share.
#pragma once

#include <gtest/gtest.h>

#include <QMdiArea>
#include <QPoint>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/gui_object.h"
#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "tests/host/host_support.h"

namespace hosttest {

inline std::string Hex(const HIDCommandPacket& packet);

// The hex of an I2C register write packet, as the trace shows it.
inline std::string WriteHex(int reg, uint8_t value) {
  return Hex(HIDCommandPacket::I2CWrite(uint8_t(reg), &value, 1));
}

// A packet's bytes as the trace shows them.
inline std::string Hex(const HIDCommandPacket& packet) {
  std::string hex;
  char byte[4];
  for (int i = 0; i < packet.Length(); ++i) {
    std::snprintf(byte, sizeof byte, "%s%02X", i ? " " : "", packet.bytes[i]);
    hex += byte;
  }
  return hex;
}

inline bool IsRegisterWrite(const std::string& hex) {
  // Class 0x05 (I2C), operation 0x02 (write).
  return hex.size() > 17 && hex.compare(6, 2, "05") == 0 && hex.compare(15, 2, "02") == 0;
}

class DiagramPagesTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    UseBoardKit();
    StartSmallWindows();
    // The first show of a board window comes with its frame's.
    area_.resize(1200, 900);
    area_.show();
  }
  void TearDown() override {
    QuillbusSetTrace(nullptr);
    HostTest::TearDown();
  }

  // A window for `kind` of `list` on the emulated board (plugged first).
  TDiagramForm* Open(const char* kind, const std::string& list = "", bool board = true) {
    LoadList(list);
    return OpenBoardWindow(&area_, list_.document_element().child(kind), board, "QMX7XXXEVM");
  }
  void LoadList(const std::string& list) {
    if (list.empty()) EXPECT_TRUE(list_.load_file(dir_.File("EVM.xml").c_str()));
    else EXPECT_TRUE(list_.load_string(list.c_str()));
  }

  void Mark() { trace_.Mark(); }
  // Commands to board 0 since Mark().
  std::vector<std::string> Commands() { return trace_.Commands(); }
  std::vector<std::string> Writes() {
    std::vector<std::string> out;
    for (const std::string& c : Commands())
      if (IsRegisterWrite(c)) out.push_back(c);
    return out;
  }

  // The switch of `reg`, `bit` on the current page.
  static TSwitch* FindSwitch(TDiagramForm* form, int reg, int bit) {
    TBlockDiagram* page = form->CurrentPage();
    for (unsigned i = 0; page && i < page->ObjectCount(); ++i) {
      auto* s = dynamic_cast<TSwitch*>(page->Object(i));
      if (s && !dynamic_cast<TAmpSwitch*>(s) && s->GetFirstRegister() == reg && s->GetBit() == bit) return s;
    }
    return nullptr;
  }

  pugi::xml_document list_;
  QMdiArea area_;
  BoardTrace trace_{dir_.File("trace.txt")};
};

}  // namespace hosttest
