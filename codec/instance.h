// The codec instance: one per host board window that loaded the module. It
// creates and owns every dialog of the plug-in and hands their register
// windows to the host. The library keeps at most 16 instances in its table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/codec_command.h"

class QWidget;
class TAGCForm;
class TDACVolForm;
class TDRCForm;
class TBeepForm;
class TDConf;
class TAudioInputsForm;
class TAudioOutputsForm;
class TSARForm;
class TZT;
class TStandingWindows;

class TQMX7XXXForms {
 public:
  static constexpr unsigned kCodecNameSize = 256;
  static constexpr unsigned kWindowCount = 21;
  static constexpr unsigned kMenuCount = 8;
  static constexpr unsigned kMenuOffered = 4;
  // Biquad register sets: page 8 of device 0x30, left and right blocks.
  static constexpr unsigned kBiquadSets = 6;
  static constexpr int kBiquadPage = 8;
  static constexpr int kBiquadLeft[kBiquadSets] = {2, 12, 22, 32, 42, 52};
  static constexpr int kBiquadRight[kBiquadSets] = {66, 76, 86, 96, 106, 116};

  explicit TQMX7XXXForms(void* hostHandle);
  ~TQMX7XXXForms();
  TQMX7XXXForms(const TQMX7XXXForms&) = delete;
  TQMX7XXXForms& operator=(const TQMX7XXXForms&) = delete;

  // The register window of the module's table (0..20), null otherwise.
  TI2CObject* GetI2CObject(unsigned index);
  void SetCodecName(const char* name);
  void SelectMenu(unsigned index);
  void ShowDialog(const char* dialogName, int x, int y, TGUIObject* object);
  void SetSampleRate(unsigned rateHz);

  // The filter tool's TBiquadWriteCallback; `context` is the instance.
  static void WriteBiquad(void* context, unsigned slot, const int32_t* num3, const int32_t* den3);
  // The ten bytes of one biquad: N0, N1, N2, D1, D2, each the low 16 bits,
  // most significant byte first.
  static void BiquadRegisterBlock(const int32_t* num3, const int32_t* den3, uint8_t block[10]);
  // The five block transfers of one biquad through `command`; false (and
  // nothing sent) for a slot without a register set.
  static bool SendBiquad(TCodecCommandCallback command, void* hostHandle, unsigned slot, const int32_t* num3,
                         const int32_t* den3);

  static const char* MenuCaption(unsigned index);

  // The forms, in their order. An empty slot is a form that this build
  // does not have yet: nothing is shown or sent for it.
  TAGCForm* agcForm = nullptr;
  TDACVolForm* dacLeftForm = nullptr;
  TDACVolForm* dacRightForm = nullptr;
  TDRCForm* drcForm = nullptr;
  TBeepForm* beepForm = nullptr;
  TDConf* digitalSetupForm = nullptr;
  TAudioInputsForm* inputsForm = nullptr;
  TAudioOutputsForm* outputsForm = nullptr;
  TSARForm* sarForm = nullptr;
  TZT* filterTool = nullptr;
  QWidget* mbqPlaybackForm = nullptr;  // always empty
  QWidget* mbqRecordForm = nullptr;    // always empty
  char codecName[kCodecNameSize] = {};
  void* hostHandle = nullptr;

 private:
  // Whether the filter tool is shown (the biquad writer sends only then).
  bool FilterToolVisible() const;

  // The register windows of forms that are not built yet, so that the host
  // binds all 21 windows from the start.
  std::unique_ptr<TStandingWindows> standing;
};

// The library's table of instances (one per loaded module).
namespace CodecInstanceTable {
constexpr int kSlots = 16;
// _Init: a new instance in the first empty slot; null when all are taken.
TQMX7XXXForms* Init(void* hostHandle, TCodecCommandCallback command);
// _FreeCodecInstance: destroys only an instance found in the table.
void Free(TQMX7XXXForms* instance);
// Whether `instance` is in a slot (the exports act only on those).
bool Contains(const TQMX7XXXForms* instance);
// Library detach: destroys what is left while the application still exists.
void Detach();
int SlotCounter();
TQMX7XXXForms* Slot(int index);
TCodecCommandCallback CommandCallback();
// One line of the module's own log as a log-line command through any live
// instance's host (stderr while there is none). The module sets it as its
// log sink, since the module keeps a platform log of its own.
void ForwardLogLine(const std::string& line);
}  // namespace CodecInstanceTable
