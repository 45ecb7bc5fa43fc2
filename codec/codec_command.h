// What the host and the codec plug-in module hand each other: the command
// records the plug-in sends back through the host's command callback, the
// biquad writer's callback type, and the signatures of the module's eight
// exports. Both deliverables include this one header, so the field order
// and widths of the records are one definition.
#pragma once

#include <cstdint>

class QProgressBar;
class TGUIObject;
class TI2CObject;

// Command types of TCodecCommand.
enum : int32_t {
  kCodecRunScript = 1,
  kCodecBlockTransfer = 2,
  kCodecProgress = 3,
  kCodecLogLine = 4,
};

// One command, built by the plug-in for the duration of one callback: the
// host handles it before the callback returns.
struct TCodecCommand {
  int32_t type;
  void* payload;
};

// Type 2: a register block of one device, book and page.
struct TI2CBlockTransfer {
  uint32_t device;  // 8-bit write form (0x30)
  int32_t book;
  int32_t page;
  int32_t reg;  // first register
  int32_t count;
  uint8_t* data;  // source of a write, destination of a read
  uint8_t read;   // 0 write, non-zero read
};

// Type 1: a command script run by the host in a temporary command window.
struct TCodecScriptRequest {
  const char* script;         // the script text, UTF-8
  QProgressBar* progressBar;  // stands in for the command window's bar; may be null
};

// Type 3: the host's loading-progress text and bar (80 + 15 x step / total).
struct TCodecProgress {
  const char* text;
  uint32_t step;
  uint32_t total;
};

// Type 4: one line for the host's log window, UTF-8.
struct TCodecLogLine {
  const char* text;
};

typedef int (*TCodecCommandCallback)(void* hostHandle, TCodecCommand* command);
typedef int (*TPluginCallbackStub)();
// Sends one biquad's coefficients to register set `slot` (the numerator
// triple and the denominator triple, whose first value is not sent).
typedef void (*TBiquadWriteCallback)(void* context, unsigned slot, const int32_t* num3, const int32_t* den3);

// The exports of a codec plug-in module, looked up by these names.
typedef void* (*TPluginInit)(void* hostHandle, TPluginCallbackStub, TPluginCallbackStub, TCodecCommandCallback command,
                             uint8_t* registerImage);
typedef void (*TPluginSetCodecName)(void* instance, const char* name);
typedef TI2CObject* (*TPluginGetI2CObject)(void* instance, unsigned index);
typedef const char* (*TPluginGetMenuItem)(unsigned index);
typedef void (*TPluginSelectMenu)(void* instance, unsigned index);
typedef int (*TPluginShowDialog)(void* instance, const char* dialogName, int x, int y, TGUIObject* object);
typedef void (*TPluginSetSampleRate)(void* instance, unsigned rateHz);
typedef void (*TPluginFreeCodecInstance)(void* instance);
