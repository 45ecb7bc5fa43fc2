// The open request the watcher thread (or the simulation command) hands to
// the main window with message 1025. The sender owns it, on its stack, for
// the duration of the synchronous send.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>

struct EVMOpenRequest {
  uint32_t reserved = 0;
  // The board's element in "EVM.xml"; empty: the user is asked to pick one.
  pugi::xml_node node;
  // The board's index in the watcher's device list; -1 for a simulation.
  int32_t deviceIndex = -1;
  bool simulation = false;
  // The access library's handle of the board; null for none.
  void* deviceHandle = nullptr;
  // The board name read from the EEPROM ("" for a simulation).
  const std::string* name = nullptr;
};

// The message number of the open request.
constexpr int kOpenEVMMessage = 1025;
