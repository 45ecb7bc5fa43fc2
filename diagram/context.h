// What a diagram page needs from the board window that owns it, as plain
// callbacks and pointers, so the page loads and tests without the window:
// the window binds its own handlers here when it creates its pages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/colour.h"
#include "common/gui_object.h"
#include "common/i2c_object.h"
#include "codec/codec_command.h"
#include "registers/command_script.h"

class QWidget;

// The load window's text and bar; the loader repaints it at every step,
// since the message loop does not run while a page loads.
class TLoadProgress {
 public:
  virtual ~TLoadProgress() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual void SetPosition(int position) = 0;  // 0..100
  virtual void Repaint() = 0;
};

// The GPIO callback of a script button's command scripts (value, on).
typedef int (*TScriptGPIOCallback)(void* user, int value, bool on);
// The transfer of a widget's command scripts: the interpreter's own.
using TScriptTransferCallback = TI2CCommandTransferCallback;

struct TDiagramContext {
  // The board window: `user` of every register window and event callback.
  void* window = nullptr;
  // The diagram's scroll box: owner and parent of the widgets' controls and
  // of image panels. May be none (headless).
  QWidget* owner = nullptr;
  // Colour of the scroll box: every object fades from it.
  TColor backgroundColour = kSystemWindowColour;

  TGUIEventCallback objectEvent = nullptr;          // ObjectEvent
  TI2CWriteCallback objectWrite = nullptr;          // ObjectWrite
  TI2CPollCallback objectRefreshRequest = nullptr;  // ObjectRefreshRequest
  TI2CBlockCallback blockTransfer = nullptr;        // BlockTransfer
  TScriptGPIOCallback scriptGPIO = nullptr;         // ScriptGPIO
  TScriptTransferCallback scriptTransfer = nullptr; // CommandTransfer

  // Declares the page's codec device on the window's board link
  // (TUSBI2C::AddDevice).
  std::function<void(unsigned address, unsigned books, unsigned pages)> addDevice;
  // The load window (may be none).
  TLoadProgress* progress = nullptr;
  // The processing-block window's register window, appended to every page
  // (may be none).
  TI2CObject* processingBlockWindow = nullptr;

  // The codec plug-in binding: the window's one instance (shared by its
  // pages), the window's caption, the command callback given to `_Init`,
  // and the register image of device 0x30 that `_Init` is given.
  std::function<void*()> getPluginInstance;
  std::function<void(void*)> setPluginInstance;
  std::function<std::string()> caption;
  TCodecCommandCallback pluginCommand = nullptr;
  std::function<uint8_t*()> pluginImage;
};
