// A transfer callback that records what a script sends and answers reads
// from a small register file, and an output that collects what a run shows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "registers/command_script.h"

namespace regtest {

struct Recorder : CommandScriptOutput {
  // "W 30 10 [01 02] last=1" or "R 30 05 n1 last=0".
  std::vector<std::string> transfers;
  std::vector<std::string> readData;
  std::vector<std::string> breaks;
  std::vector<std::string> bits;
  std::map<int, uint8_t> registers;  // answers to reads, by register
  int result = 1;                    // what the transfer callback returns
  int page = 0;

  void AddReadData(const std::string& line) override { readData.push_back(line); }
  void Break(const std::string& text) override { breaks.push_back(text); }

  static int Transfer(void* user, int device, ScriptPlace&, int reg, uint8_t* buffer, int count, bool isRead,
                      bool last) {
    auto* r = static_cast<Recorder*>(user);
    char head[48];
    std::snprintf(head, sizeof head, "%c %02X %02X ", isRead ? 'R' : 'W', device, reg);
    std::string line = head;
    if (isRead) {
      line += "n" + std::to_string(count);
      for (int i = 0; i < count; ++i) buffer[i] = r->registers.count(reg + i) ? r->registers[reg + i] : 0;
    } else {
      line += "[";
      for (int i = 0; i < count; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", buffer[i]);
        line += b;
        r->registers[reg + i] = buffer[i];
      }
      line += "]";
    }
    line += last ? " last=1" : " last=0";
    r->transfers.push_back(line);
    return r->result;
  }
  static int Bits(void* user, int value, bool on) {
    static_cast<Recorder*>(user)->bits.push_back(std::to_string(value) + (on ? " on" : " off"));
    return 1;
  }
  static int Page(void* user, int) { return static_cast<Recorder*>(user)->page; }

  // A script with this recorder as its owner.
  void Attach(CommandScript& script, bool withPage = false) {
    script.SetCallbacks(this, Transfer, Bits, nullptr, withPage ? Page : nullptr, nullptr);
    script.SetOutput(this);
  }
};

}  // namespace regtest
