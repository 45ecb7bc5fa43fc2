#include "codec/instance.h"

#include <QCoreApplication>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <strings.h>

#include "codec/agc_form.h"
#include "codec/dconf.h"
#include "codec/filter/zt.h"
#include "codec/io_forms.h"
#include "codec/small_forms.h"
#include "common/i2c_object.h"

// ---------------------------------------------------------------- form slots
//
// Each form slot has three adapters: its widget (to show it; null while the
// form is not built), its register window n, and its destruction. A form
// that joins the instance includes its header here and fills its adapters.

namespace {

QWidget* Widget(TAGCForm* form) { return form; }
QWidget* Widget(TDACVolForm* form) { return form; }
QWidget* Widget(TDRCForm* form) { return form; }
QWidget* Widget(TBeepForm* form) { return form; }
QWidget* Widget(TDConf* form) { return form; }
QWidget* Widget(TAudioInputsForm* form) { return form; }
QWidget* Widget(TAudioOutputsForm* form) { return form; }
QWidget* Widget(TSARForm* form) { return form; }
QWidget* Widget(TZT* form) { return form; }
QWidget* Widget(QWidget* form) { return form; }

TI2CObject* Window(TAGCForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TDACVolForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TDRCForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TBeepForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TDConf* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TAudioInputsForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TAudioOutputsForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }
TI2CObject* Window(TSARForm* form, int n) { return form ? form->GetI2CObject(n) : nullptr; }

template <class Form>
void Destroy(Form*& form) {
  if (QWidget* widget = Widget(form)) delete widget;
  form = nullptr;
}

void ShowForm(QWidget* form) {
  if (!form) return;
  form->show();
  form->raise();
  form->activateWindow();
}

// A register window whose form is not built yet: it is bound and notified
// like any other, and shows nothing.
class TStandingWindow : public TI2CObject {
 public:
  TStandingWindow(int page, int firstRegister, int count) : TI2CObject(0x30, page, firstRegister, count, nullptr) {}
  ~TStandingWindow() = default;
  void Refresh() override {}
};

struct WindowPlace {
  int page, firstRegister, count;
};

// Page, first register and count of the 21 windows, by index.
constexpr WindowPlace kWindowPlaces[TQMX7XXXForms::kWindowCount] = {
    {1, 32, 1},  {1, 31, 14}, {1, 33, 1},  {1, 34, 1}, {0, 64, 1},  {0, 65, 1},  {0, 64, 1},
    {0, 66, 1},  {0, 68, 3},  {0, 71, 9},  {0, 4, 24}, {0, 4, 24},  {0, 27, 3},  {0, 25, 31},
    {0, 116, 3}, {0, 119, 1}, {1, 48, 3},  {1, 47, 1}, {1, 46, 1},  {0, 81, 4},  {0, 86, 8},
};

const char* const kMenuCaptions[TQMX7XXXForms::kMenuCount] = {
    "Digital Setup...",          "Audio Outputs...",      "SAR ADC...",           "DAC Filter...",
    "Multi Biquads Playback...", "Multi Biquads Record...", "Zoom Noise Cancel...", "Loudness...",
};

}  // namespace

class TStandingWindows {
 public:
  TStandingWindows() {
    for (unsigned i = 0; i < TQMX7XXXForms::kWindowCount; ++i)
      windows[i] = std::make_unique<TStandingWindow>(kWindowPlaces[i].page, kWindowPlaces[i].firstRegister,
                                                     kWindowPlaces[i].count);
  }
  TI2CObject* Get(unsigned index) { return index < TQMX7XXXForms::kWindowCount ? windows[index].get() : nullptr; }

 private:
  std::unique_ptr<TStandingWindow> windows[TQMX7XXXForms::kWindowCount];
};

// ---------------------------------------------------------------- instance

TQMX7XXXForms::TQMX7XXXForms(void* host) : hostHandle(host), standing(std::make_unique<TStandingWindows>()) {
  // The forms join here in their order: agcForm, dacLeftForm and
  // dacRightForm (made the right channel, register 66), drcForm, beepForm,
  // digitalSetupForm, inputsForm, outputsForm, sarForm; then filterTool.
  agcForm = new TAGCForm;
  dacLeftForm = new TDACVolForm;
  dacRightForm = new TDACVolForm;
  dacRightForm->SetRightChannel();
  drcForm = new TDRCForm;
  beepForm = new TBeepForm;
  digitalSetupForm = new TDConf;
  inputsForm = new TAudioInputsForm;
  outputsForm = new TAudioOutputsForm;
  sarForm = new TSARForm;
  // The DRC dialog drives the DRC switches of both DAC dialogs.
  drcForm->leftDac = dacLeftForm;
  drcForm->rightDac = dacRightForm;
  filterTool = new TZT();
  filterTool->SetResolution(16);
  filterTool->SetSampleRate(44100.0);
  filterTool->SetWriteCallback(this, &TQMX7XXXForms::WriteBiquad);
  filterTool->setWindowTitle("Multi Biquad Playback Filter Tool");
  filterTool->SetAsyncWrite(false);
  filterTool->SetFilterCount(5);
}

TQMX7XXXForms::~TQMX7XXXForms() {
  Destroy(agcForm);
  Destroy(dacLeftForm);
  Destroy(dacRightForm);
  Destroy(drcForm);
  Destroy(beepForm);
  Destroy(digitalSetupForm);
  Destroy(inputsForm);
  Destroy(outputsForm);
  Destroy(sarForm);
  Destroy(mbqPlaybackForm);
  Destroy(mbqRecordForm);
  // Last: its destructor stops the writer thread that calls WriteBiquad.
  Destroy(filterTool);
}

TI2CObject* TQMX7XXXForms::GetI2CObject(unsigned index) {
  TI2CObject* window = nullptr;
  switch (index) {
    case 0: case 1: case 2: case 3: window = Window(outputsForm, int(index)); break;
    case 4: window = Window(dacLeftForm, 0); break;
    case 5: window = Window(dacLeftForm, 1); break;
    case 6: window = Window(dacRightForm, 0); break;
    case 7: window = Window(dacRightForm, 1); break;
    case 8: window = Window(drcForm, 0); break;
    case 9: window = Window(beepForm, 0); break;
    case 10: case 11: case 12: case 13: window = Window(digitalSetupForm, int(index) - 10); break;
    case 14: case 15: window = Window(sarForm, int(index) - 14); break;
    case 16: case 17: case 18: case 19: window = Window(inputsForm, int(index) - 16); break;
    case 20: window = Window(agcForm, 0); break;
    default: return nullptr;
  }
  return window ? window : standing->Get(index);
}

void TQMX7XXXForms::SetCodecName(const char* name) {
  if (!name) name = "";
  // At most 255 characters and the terminator.
  std::strncpy(codecName, name, kCodecNameSize - 1);
  codecName[kCodecNameSize - 1] = '\0';
  // The outputs form, then the digital setup dialog lay themselves out by name.
  if (outputsForm) outputsForm->SetCodecName(name);
  if (digitalSetupForm) digitalSetupForm->SetCodecName(name);
}

const char* TQMX7XXXForms::MenuCaption(unsigned index) { return index < kMenuOffered ? kMenuCaptions[index] : nullptr; }

void TQMX7XXXForms::SelectMenu(unsigned index) {
  switch (index) {
    case 0: ShowForm(Widget(digitalSetupForm)); break;
    case 1: ShowForm(Widget(outputsForm)); break;
    case 2: ShowForm(Widget(sarForm)); break;
    case 3: ShowForm(Widget(filterTool)); break;
    case 4: ShowForm(Widget(mbqPlaybackForm)); break;
    case 5: ShowForm(Widget(mbqRecordForm)); break;
    default: break;
  }
}

void TQMX7XXXForms::ShowDialog(const char* dialogName, int x, int y, TGUIObject* object) {
  if (!dialogName) return;
  auto is = [dialogName](const char* name) { return ::strcasecmp(dialogName, name) == 0; };
  (void)x, (void)y, (void)object;
  if (is("DePop") || is("vol_ramp") || is("pwr_down_spkr") || is("pwr_down_hp")) {
    if (outputsForm) outputsForm->SetHostObject(object);
    ShowForm(Widget(outputsForm));
  } else if (is("AGC")) {
    if (agcForm) agcForm->SetHostObject(object);
    ShowForm(Widget(agcForm));
  } else if (is("DAC_L") || is("DAC_R")) {
    TDACVolForm* dac = is("DAC_L") ? dacLeftForm : dacRightForm;
    if (!dac) return;
    dac->SetHostObject(object);
    dac->SetDRCForm(drcForm);
    dac->move(x, y);
    ShowForm(dac);
  } else if (is("beep")) {
    ShowForm(Widget(beepForm));
  } else if (is("CLK")) {
    if (digitalSetupForm) digitalSetupForm->SetHighlightObject(object);
    ShowForm(Widget(digitalSetupForm));
  } else if (is("DACMBQ")) {
    ShowForm(Widget(mbqPlaybackForm));
  } else if (is("ADCMBQ")) {
    ShowForm(Widget(mbqRecordForm));
  } else if (is("AudioInputs")) {
    ShowForm(Widget(inputsForm));
  } else if (is("SAR")) {
    ShowForm(Widget(sarForm));
  }
}

void TQMX7XXXForms::SetSampleRate(unsigned rateHz) {
  // The digital setup dialog's rates first, then the filter tool's filters.
  if (digitalSetupForm) digitalSetupForm->SetSampleRate(rateHz);
  if (filterTool) filterTool->SetSampleRate(double(rateHz));
}

bool TQMX7XXXForms::FilterToolVisible() const {
  // Asked on the writer thread: the tool keeps its visibility in an atomic flag.
  return filterTool && filterTool->Shown();
}

void TQMX7XXXForms::BiquadRegisterBlock(const int32_t* num3, const int32_t* den3, uint8_t block[10]) {
  const int32_t values[5] = {num3[0], num3[1], num3[2], den3[1], den3[2]};
  for (int i = 0; i < 5; ++i) {
    const uint32_t v = uint32_t(values[i]);
    block[2 * i] = uint8_t(v >> 8);
    block[2 * i + 1] = uint8_t(v);
  }
}

bool TQMX7XXXForms::SendBiquad(TCodecCommandCallback command, void* host, unsigned slot, const int32_t* num3,
                               const int32_t* den3) {
  if (!command || !num3 || !den3 || slot >= kBiquadSets) return false;
  uint8_t block[10];
  BiquadRegisterBlock(num3, den3, block);
  uint8_t update = 0x05;
  auto send = [&](int reg, uint8_t* data, int count) {
    TI2CBlockTransfer transfer{0x30, 0, kBiquadPage, reg, count, data, 0};
    TCodecCommand record{kCodecBlockTransfer, &transfer};
    command(host, &record);
  };
  send(kBiquadLeft[slot], block, 10);
  send(kBiquadRight[slot], block, 10);
  send(1, &update, 1);
  send(kBiquadLeft[slot], block, 10);
  send(kBiquadRight[slot], block, 10);
  return true;
}

void TQMX7XXXForms::WriteBiquad(void* context, unsigned slot, const int32_t* num3, const int32_t* den3) {
  auto* self = static_cast<TQMX7XXXForms*>(context);
  // Batch markers of the writer thread carry no arrays: nothing is sent.
  if (!self || !self->hostHandle || !num3 || !den3 || !self->FilterToolVisible()) return;
  SendBiquad(CodecInstanceTable::CommandCallback(), self->hostHandle, slot, num3, den3);
}

// ---------------------------------------------------------------- table

namespace CodecInstanceTable {
namespace {
TQMX7XXXForms* table[kSlots] = {};
int slotCounter = 0;
TCodecCommandCallback commandCallback = nullptr;
// The writer thread may log while the GUI thread fills or empties a slot.
std::mutex tableMutex;

}  // namespace

void ForwardLogLine(const std::string& line) {
  void* host = nullptr;
  TCodecCommandCallback command = nullptr;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (TQMX7XXXForms* slot : table)
      if (slot && slot->hostHandle) {
        host = slot->hostHandle;
        break;
      }
    command = commandCallback;
  }
  if (!host || !command) {
    fprintf(stderr, "%s\n", line.c_str());
    return;
  }
  TCodecLogLine payload{line.c_str()};
  TCodecCommand record{kCodecLogLine, &payload};
  command(host, &record);
}

TQMX7XXXForms* Init(void* hostHandle, TCodecCommandCallback command) {
  // The bound is tested before the slot is read.
  slotCounter = 0;
  while (slotCounter < kSlots && table[slotCounter]) ++slotCounter;
  if (slotCounter == kSlots) return nullptr;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    commandCallback = command;
  }
  auto* instance = new TQMX7XXXForms(hostHandle);
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    table[slotCounter] = instance;
  }
  // The DRC dialog's links to this instance's DAC dialogs join with those forms.
  ++slotCounter;
  return instance;
}

bool Contains(const TQMX7XXXForms* instance) {
  if (!instance) return false;
  for (TQMX7XXXForms* slot : table)
    if (slot == instance) return true;
  return false;
}

void Free(TQMX7XXXForms* instance) {
  // A pointer in no slot is not ours, or freed already: it is left alone.
  if (!Contains(instance)) return;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (TQMX7XXXForms*& slot : table)
      if (slot == instance) slot = nullptr;
  }
  delete instance;
}

void Detach() {
  // Widgets may be destroyed only while the application exists; the host
  // frees every instance before that, so normally nothing is left here.
  const bool application = QCoreApplication::instance() != nullptr;
  // The host may be past its own log by now: what is still said goes to
  // stderr. (The log sink itself is left alone: at exit it may already be
  // destroyed.)
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    commandCallback = nullptr;
  }
  for (TQMX7XXXForms*& slot : table) {
    TQMX7XXXForms* instance = slot;
    {
      std::lock_guard<std::mutex> lock(tableMutex);
      slot = nullptr;
    }
    if (instance && application) delete instance;
  }
}

int SlotCounter() { return slotCounter; }
TQMX7XXXForms* Slot(int index) { return index >= 0 && index < kSlots ? table[index] : nullptr; }
TCodecCommandCallback CommandCallback() { return commandCallback; }

}  // namespace CodecInstanceTable
