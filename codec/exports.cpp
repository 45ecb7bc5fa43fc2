// The module's eight exports, plain C under their names with the leading
// underscore. Nothing may throw across the boundary: every export catches
// what its work might throw. Instances the table does not hold (null, freed,
// foreign) are ignored.
#include "codec/codec_command.h"
#include "codec/instance.h"
#include "platform/log.h"

#define QMX_EXPORT extern "C" __attribute__((visibility("default")))

QMX_EXPORT void* QmxInit(void*, TPluginCallbackStub, TPluginCallbackStub, TCodecCommandCallback, uint8_t*)
    __asm__("_Init");
QMX_EXPORT void QmxSetCodecName(void*, const char*) __asm__("_SetCodecName");
QMX_EXPORT TI2CObject* QmxGetI2CObject(void*, unsigned) __asm__("_GetI2CObject");
QMX_EXPORT const char* QmxGetMenuItem(unsigned) __asm__("_GetMenuItem");
QMX_EXPORT void QmxSelectMenu(void*, unsigned) __asm__("_SelectMenu");
QMX_EXPORT int QmxShowDialog(void*, const char*, int, int, TGUIObject*) __asm__("_ShowDialog");
QMX_EXPORT void QmxSetSampleRate(void*, unsigned) __asm__("_SetSampleRate");
QMX_EXPORT void QmxFreeCodecInstance(void*) __asm__("_FreeCodecInstance");

namespace {

TQMX7XXXForms* Known(void* instance) {
  auto* forms = static_cast<TQMX7XXXForms*>(instance);
  return CodecInstanceTable::Contains(forms) ? forms : nullptr;
}

template <class F>
void Guarded(F&& work) noexcept {
  try {
    work();
  } catch (...) {
  }
}

__attribute__((destructor)) void DetachLibrary() {
  Guarded([] { CodecInstanceTable::Detach(); });
}

}  // namespace

void* QmxInit(void* hostHandle, TPluginCallbackStub, TPluginCallbackStub, TCodecCommandCallback command, uint8_t*) {
  void* instance = nullptr;
  Guarded([&] {
    instance = CodecInstanceTable::Init(hostHandle, command);
    // The module's copy of the platform log would write to stderr: its
    // lines go to the host's log window instead.
    if (instance) platform::SetLogSink(CodecInstanceTable::ForwardLogLine);
  });
  return instance;
}

void QmxSetCodecName(void* instance, const char* name) {
  if (TQMX7XXXForms* forms = Known(instance)) Guarded([&] { forms->SetCodecName(name ? name : ""); });
}

TI2CObject* QmxGetI2CObject(void* instance, unsigned index) {
  TI2CObject* window = nullptr;
  if (TQMX7XXXForms* forms = Known(instance)) Guarded([&] { window = forms->GetI2CObject(index); });
  return window;
}

const char* QmxGetMenuItem(unsigned index) { return TQMX7XXXForms::MenuCaption(index); }

void QmxSelectMenu(void* instance, unsigned index) {
  if (TQMX7XXXForms* forms = Known(instance)) Guarded([&] { forms->SelectMenu(index); });
}

int QmxShowDialog(void* instance, const char* dialogName, int x, int y, TGUIObject* object) {
  TQMX7XXXForms* forms = Known(instance);
  if (forms && dialogName) Guarded([&] { forms->ShowDialog(dialogName, x, y, object); });
  return 0;
}

void QmxSetSampleRate(void* instance, unsigned rateHz) {
  if (TQMX7XXXForms* forms = Known(instance)) Guarded([&] { forms->SetSampleRate(rateHz); });
}

void QmxFreeCodecInstance(void* instance) {
  Guarded([&] { CodecInstanceTable::Free(static_cast<TQMX7XXXForms*>(instance)); });
}
