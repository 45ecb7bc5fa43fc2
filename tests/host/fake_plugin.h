// A recording codec plug-in module for the host's binding tests: it counts
// every export call, hands out a chosen number of register windows, and
// sends the host's command callback whatever the test asks.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "codec/codec_command.h"

struct FakePluginState {
  int init = 0;
  std::vector<std::string> names;       // _SetCodecName, in order
  std::vector<unsigned> windowIndices;  // _GetI2CObject, in order
  std::vector<unsigned> selected;       // _SelectMenu indices
  std::vector<std::string> dialogs;     // _ShowDialog names
  std::vector<unsigned> rates;          // _SetSampleRate
  std::thread::id rateThread;
  std::vector<void*> freed;             // _FreeCodecInstance
  void* lastInstance = nullptr;
  void* host = nullptr;
  TCodecCommandCallback command = nullptr;
  unsigned windowCount = 3;  // windows handed out before null
  bool initFails = false;
};

// Exported by the fake module under these names (looked up by the tests).
typedef FakePluginState* (*TFakePluginState)();
typedef void (*TFakePluginReset)();
typedef TI2CObject* (*TFakePluginWindow)(unsigned index);
