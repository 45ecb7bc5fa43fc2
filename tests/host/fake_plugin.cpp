#include "tests/host/fake_plugin.h"

#include <memory>

#include "common/i2c_object.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT void* FakeInit(void*, TPluginCallbackStub, TPluginCallbackStub, TCodecCommandCallback, uint8_t*)
    __asm__("_Init");
FAKE_EXPORT void FakeSetCodecName(void*, const char*) __asm__("_SetCodecName");
FAKE_EXPORT TI2CObject* FakeGetI2CObject(void*, unsigned) __asm__("_GetI2CObject");
FAKE_EXPORT const char* FakeGetMenuItem(unsigned) __asm__("_GetMenuItem");
FAKE_EXPORT void FakeSelectMenu(void*, unsigned) __asm__("_SelectMenu");
FAKE_EXPORT int FakeShowDialog(void*, const char*, int, int, TGUIObject*) __asm__("_ShowDialog");
FAKE_EXPORT void FakeSetSampleRate(void*, unsigned) __asm__("_SetSampleRate");
FAKE_EXPORT void FakeFreeCodecInstance(void*) __asm__("_FreeCodecInstance");
FAKE_EXPORT FakePluginState* FakePluginStateOf() __asm__("FakePluginState");
FAKE_EXPORT void FakePluginResetAll() __asm__("FakePluginReset");
FAKE_EXPORT TI2CObject* FakePluginWindowAt(unsigned) __asm__("FakePluginWindow");

namespace {

class FakeWindow : public TI2CObject {
 public:
  explicit FakeWindow(int reg) : TI2CObject(0x30, 0, reg, 1, nullptr) {}
  ~FakeWindow() = default;
  void Refresh() override {}
};

FakePluginState state;
std::unique_ptr<FakeWindow> windows[8];
int instances[64];

}  // namespace

FakePluginState* FakePluginStateOf() { return &state; }

void FakePluginResetAll() { state = FakePluginState(); }

TI2CObject* FakePluginWindowAt(unsigned index) {
  if (index >= 8) return nullptr;
  if (!windows[index]) windows[index] = std::make_unique<FakeWindow>(int(10 + index));
  return windows[index].get();
}

void* FakeInit(void* host, TPluginCallbackStub stub1, TPluginCallbackStub stub2, TCodecCommandCallback command,
               uint8_t*) {
  ++state.init;
  if (state.initFails) return nullptr;
  // The stubs do nothing and say 0.
  if (!stub1 || !stub2 || stub1() != 0 || stub2() != 0) return nullptr;
  state.host = host;
  state.command = command;
  state.lastInstance = &instances[state.init % 64];
  return state.lastInstance;
}

void FakeSetCodecName(void*, const char* name) { state.names.push_back(name ? name : "(null)"); }

TI2CObject* FakeGetI2CObject(void*, unsigned index) {
  state.windowIndices.push_back(index);
  return index < state.windowCount ? FakePluginWindowAt(index) : nullptr;
}

const char* FakeGetMenuItem(unsigned index) {
  static const char* const captions[] = {"One...", "Two...", "Three...", "Four..."};
  return index < 4 ? captions[index] : nullptr;
}

void FakeSelectMenu(void*, unsigned index) { state.selected.push_back(index); }

int FakeShowDialog(void*, const char* name, int, int, TGUIObject*) {
  state.dialogs.push_back(name ? name : "(null)");
  return 0;
}

void FakeSetSampleRate(void*, unsigned rate) {
  state.rates.push_back(rate);
  state.rateThread = std::this_thread::get_id();
}

void FakeFreeCodecInstance(void* instance) { state.freed.push_back(instance); }
