// The codec module's set-up dialogs on the kit board: each control writes
// its register bytes to the emulated codec, and a register change made by
// another view moves the controls without writing anything back.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <fstream>
#include <pugixml.hpp>

#include "codec/instance.h"
#include "codec/agc_form.h"
#include "codec/io_forms.h"
#include "codec/small_forms.h"
#include "common/gui_object.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "quillbus/quillbus.h"
#include "registers/i2c_command.h"
#include "platform/library.h"
#include "tests/host/host_support.h"
#include "tests/support/slider_probe.h"

namespace {

using namespace hosttest;

typedef int (*TShowDialog)(void*, const char*, int, int, TGUIObject*);
typedef void (*TSelectMenu)(void*, unsigned);

class SetupDialogsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    StartSmallWindows();
    UseBoardKit();
    area_.resize(900, 700);
    area_.show();
    ASSERT_TRUE(list_.load_string(
        "<L><B Diagram-1='QMX7XXX\\Page1.svg' Diagram-2='QMX7XXX\\Page2.svg' Diagram-Clock='QMX7XXX\\Clock.svg'/></L>"));
    form_ = OpenBoardWindow(&area_, list_.document_element().child("B"), true);
    ASSERT_NE(form_, nullptr);
    forms_ = static_cast<TQMX7XXXForms*>(form_->GetPluginInstance());
    ASSERT_NE(forms_, nullptr);
    module_ = form_->Page(0)->GetModule();
  }

  void Show(const char* name, int x = 0, int y = 0, TGUIObject* object = nullptr) {
    reinterpret_cast<TShowDialog>(platform::ResolveSymbol(module_, "_ShowDialog"))(forms_, name, x, y, object);
    PumpEvents();
  }

  // Register writes to the board since the mark: "RR DD ..." (hex), page
  // selects included as "00 PP".
  std::vector<std::string> Writes() {
    std::vector<std::string> writes;
    for (const std::string& c : trace_.Commands())
      if (c.size() > 21 && c.compare(15, 2, "02") == 0) writes.push_back(c.substr(21));
    return writes;
  }
  std::string LastWrite() {
    auto w = Writes();
    return w.empty() ? "" : w.back();
  }
  uint8_t Image(int page, int reg) { return form_->GetLink()->GetRegisterImage(0x30, 0, page, reg)[0]; }
  // Another view writes `bytes` from `reg` of the current page.
  void BoardChange(int reg, std::vector<uint8_t> bytes) {
    TDiagramForm::BlockTransfer(form_, 0x30, reg, bytes.data(), int(bytes.size()), false, true);
    PumpEvents();
  }
  // Another view writes `bytes` from `reg` of `page` to the board.
  void PageChange(int page, int reg, std::vector<uint8_t> bytes) {
    ASSERT_TRUE(form_->GetLink()->WriteRegisters(bytes.data(), 0x30, 0, unsigned(page), unsigned(reg),
                                                 unsigned(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), form_->GetLink()->GetRegisterImage(0x30, 0, page, reg));
    form_->UpdateObjects(0x30, page, reg, false);
    PumpEvents();
  }
  // The byte of register `reg` in the last register write since the mark
  // that covers it; -1 when none does.
  int WrittenByte(int reg) {
    const auto w = RegisterWrites();
    for (auto it = w.rbegin(); it != w.rend(); ++it) {
      std::vector<int> bytes;
      for (size_t i = 0; i + 1 < it->size(); i += 3) bytes.push_back(std::stoi(it->substr(i, 2), nullptr, 16));
      if (!bytes.empty() && reg >= bytes[0] && reg < bytes[0] + int(bytes.size()) - 1) return bytes[1 + reg - bytes[0]];
    }
    return -1;
  }
  // Register writes other than page selects.
  std::vector<std::string> RegisterWrites() {
    std::vector<std::string> w;
    for (const std::string& c : Writes())
      if (c.compare(0, 3, "00 ") != 0) w.push_back(c);
    return w;
  }
  static std::string Hex(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += (s.empty() ? "" : " ") + QString::asprintf("%02X", b & 0xFF).toStdString();
    return s;
  }
  static void Screenshot(QWidget* w, const char* name) {
    EXPECT_TRUE(w->grab().save(QString(HOST_TEST_OUTPUT_DIR "/dialog-") + name + ".png")) << name;
  }

  pugi::xml_document list_;
  QMdiArea area_;
  TDiagramForm* form_ = nullptr;
  TQMX7XXXForms* forms_ = nullptr;
  void* module_ = nullptr;
  BoardTrace trace_{dir_.File("trace.txt")};
};

TEST_F(SetupDialogsTest, TheDACVolumeOfEachChannelWritesItsRegister) {
  for (bool right : {false, true}) {
    Show(right ? "dac_r" : "dac_l", 120 + right, 80);
    TDACVolForm* dac = right ? forms_->dacRightForm : forms_->dacLeftForm;
    ASSERT_TRUE(dac->isVisible());
    EXPECT_EQ(dac->pos(), QPoint(120 + right, 80));
    const int reg = right ? 0x42 : 0x41;
    const struct {
      int position, code;
      const char* text;
    } cases[] = {{0, 0x30, "24 dB"}, {176, 0x80, "DAC mute"}, {48, 0x00, "0 dB"}, {101, 0xCB, "-26.5 dB"}};
    for (const auto& c : cases) {
      trace_.Mark();
      dac->Volume->setValue(c.position);
      EXPECT_EQ(LastWrite(), Hex({reg, c.code})) << c.position;
      EXPECT_EQ(dac->VolumeText->text().toStdString(), c.text);
    }
    // The keyboard reaches the track bar as well: Home is +24 dB.
    trace_.Mark();
    QTest::keyClick(dac->Volume, Qt::Key_Home);
    EXPECT_EQ(LastWrite(), Hex({reg, 0x30}));
    // Mute: bit 3 of register 64 on the left, bit 2 on the right.
    const uint8_t before = Image(0, 64);
    const uint8_t bit = right ? 0x04 : 0x08;
    trace_.Mark();
    QTest::mouseClick(dac->Mute, Qt::LeftButton, {}, QPoint(6, dac->Mute->height() / 2));
    EXPECT_EQ(LastWrite(), Hex({0x40, uint8_t(before ^ bit)}));
  }
}

// Every vertical track bar of the set-up dialogs keeps its loudest end at
// the top; Up, Page Up and the wheel turned up move the handle up there and
// write the louder code, Down and the wheel turned down the other way.
TEST_F(SetupDialogsTest, UpAndTheWheelTurnedUpMoveEveryVerticalTrackBarUpAndLouder) {
  forms_->agcForm->makeCapture = [] { return std::unique_ptr<AudioCapture>(); };
  const struct {
    const char* name;
    const char* dialog;
    QSlider* bar;
    int page, reg, mask;
    int (*code)(int position);
  } bars[] = {
      {"DAC L", "DAC_L", forms_->dacLeftForm->Volume, 0, 65, 0xFF, [](int p) { return 48 - p; }},
      {"DAC R", "DAC_R", forms_->dacRightForm->Volume, 0, 66, 0xFF, [](int p) { return 48 - p; }},
      {"AGC maximum gain", "AGC", forms_->agcForm->MaxGain, 0, 88, 0xFF, [](int p) { return 116 - p; }},
      {"MIC PGA", "AudioInputs", forms_->inputsForm->MICPGA, 1, 47, 0x7F, [](int p) { return 95 - p; }},
      {"ADC coarse", "AudioInputs", forms_->inputsForm->ADCGain, 0, 83, 0x7F, [](int p) { return 16 - p; }},
      {"ADC fine", "AudioInputs", forms_->inputsForm->Fine, 0, 82, 0x70, [](int p) { return p << 4; }},
  };
  forms_->inputsForm->Sheets->setCurrentIndex(1);
  for (const auto& b : bars) {
    SCOPED_TRACE(b.name);
    Show(b.dialog);
    QSlider* bar = b.bar;
    ASSERT_TRUE(bar->isVisible());
    ASSERT_EQ(bar->orientation(), Qt::Vertical);
    // The minimum, the loudest, is drawn at the top.
    const int middle = (bar->minimum() + bar->maximum()) / 2;
    bar->setValue(bar->minimum());
    const int top = testsupport::SliderHandle(bar).top();
    bar->setValue(bar->maximum());
    ASSERT_LT(top, testsupport::SliderHandle(bar).top());
    const auto wheel = [bar](int notches) { testsupport::WheelNotch(bar, notches); };
    const struct {
      const char* what;
      std::function<void()> act;
      bool up;
    } moves[] = {
        {"Up", [bar] { QTest::keyClick(bar, Qt::Key_Up); }, true},
        {"Down", [bar] { QTest::keyClick(bar, Qt::Key_Down); }, false},
        {"Page Up", [bar] { QTest::keyClick(bar, Qt::Key_PageUp); }, true},
        {"Page Down", [bar] { QTest::keyClick(bar, Qt::Key_PageDown); }, false},
        {"wheel up", [&] { wheel(1); }, true},
        {"wheel down", [&] { wheel(-1); }, false},
    };
    for (const auto& m : moves) {
      bar->setValue(middle);
      PumpEvents();
      const int before = bar->value();
      const int handle = testsupport::SliderHandle(bar).top();
      trace_.Mark();
      m.act();
      PumpEvents();
      EXPECT_EQ(bar->value() < before, m.up) << m.what << ": position " << before << " to " << bar->value();
      EXPECT_EQ(testsupport::SliderHandle(bar).top() < handle, m.up) << m.what;
      // The byte the board was sent is the new position's code.
      EXPECT_EQ(WrittenByte(b.reg) & b.mask, b.code(bar->value()) & b.mask) << m.what;
      EXPECT_EQ(Image(b.page, b.reg) & b.mask, b.code(bar->value()) & b.mask) << m.what;
    }
    // Up at the loudest end stays there, however often it is pressed.
    if (bar == forms_->dacRightForm->Volume) {
      bar->setValue(0);
      for (int i = 0; i < 40; ++i) QTest::keyClick(bar, Qt::Key_Up);
      EXPECT_EQ(forms_->dacRightForm->VolumeText->text(), "24 dB");
      EXPECT_EQ(Image(0, 66), 0x30);
    }
    // Five notches up from 0 dB: 15 half-decibel steps louder.
    if (bar == forms_->dacLeftForm->Volume) {
      bar->setValue(48);
      for (int i = 0; i < 5; ++i) wheel(1);
      EXPECT_EQ(forms_->dacLeftForm->VolumeText->text(), "7.5 dB");
      EXPECT_EQ(Image(0, 65), 15);
    }
    bar->window()->hide();
  }
}

TEST_F(SetupDialogsTest, ARegisterChangedElsewhereMovesTheDACAndDRCControlsWithoutWriting) {
  Show("DAC_L");
  Show("DAC_R");
  trace_.Mark();
  BoardChange(65, {0xF0, 0x7F});  // -8 dB left; right above the range
  BoardChange(68, {0x40 | (5 << 2) | 2, 2 << 3, 0x31});
  EXPECT_EQ(Writes(), (std::vector<std::string>{"41 F0 7F", "44 56 10 31"})) << "the two changes only";
  EXPECT_EQ(forms_->dacLeftForm->Volume->value(), 64);
  EXPECT_EQ(forms_->dacLeftForm->VolumeText->text(), "-8 dB");
  EXPECT_EQ(forms_->dacRightForm->Volume->value(), 0);
  EXPECT_EQ(Image(0, 66), 0x7F) << "the image keeps what the board holds";
  EXPECT_TRUE(forms_->dacLeftForm->DRC->isChecked());
  EXPECT_FALSE(forms_->dacRightForm->DRC->isChecked());
  EXPECT_EQ(forms_->dacLeftForm->width(), 328);
  TDRCForm* drc = forms_->drcForm;
  EXPECT_EQ(drc->Threshold->value(), 5);
  EXPECT_EQ(drc->Hysteresis->value(), 2);
  EXPECT_EQ(drc->Hold->value(), 2);
  EXPECT_EQ(drc->Attack->value(), 3);
  EXPECT_EQ(drc->Decay->value(), 1);
  EXPECT_EQ(forms_->dacLeftForm->drcThreshold, -18);
}

TEST_F(SetupDialogsTest, TheDRCControlsWriteTheirFieldsAndTexts) {
  Show("DAC_L");
  Show("DAC_R");
  TDRCForm* drc = forms_->drcForm;
  BoardChange(68, {0x00, 0x00, 0x00});
  const struct {
    QSlider* slider;
    int position, reg, byte;
    QLabel* text;
    const char* shown;
  } cases[] = {
      {drc->Threshold, 7, 68, 0x1C, drc->ThresholdText, "-24 dB"},
      {drc->Hysteresis, 3, 68, 0x1F, drc->HysteresisText, "3 dB"},
      {drc->Hold, 2, 69, 0x10, drc->HoldText, "64/Fs"},
      {drc->Hold, 0, 69, 0x00, drc->HoldText, "DRC Hold disabled"},
      {drc->Attack, 1, 70, 0x10, drc->AttackText, "2 dB/Frame"},
      {drc->Decay, 2, 70, 0x12, drc->DecayText, "0.00390625 dB/Frame"},
  };
  for (const auto& c : cases) {
    trace_.Mark();
    c.slider->setValue(c.position);
    EXPECT_EQ(LastWrite(), Hex({c.reg, c.byte})) << c.shown;
    EXPECT_EQ(c.text->text().toStdString(), c.shown);
  }
  EXPECT_EQ(forms_->dacLeftForm->drcThreshold, -24);
  // Each DAC dialog's DRC box drives its own bit of register 68.
  for (TDACVolForm* dac : {forms_->dacLeftForm, forms_->dacRightForm}) {
    trace_.Mark();
    QTest::mouseClick(dac->DRC, Qt::LeftButton, {}, QPoint(6, dac->DRC->height() / 2));
    const int bit = dac == forms_->dacLeftForm ? 0x40 : 0x20;
    EXPECT_EQ(LastWrite(), Hex({68, Image(0, 68)}));
    EXPECT_TRUE(Image(0, 68) & bit);
    EXPECT_EQ(dac->width(), 328);
  }
  EXPECT_EQ(Image(0, 68), 0x7F);
  // The curve: the threshold line in its colour across the plot at -24 dB.
  QImage plot = forms_->dacLeftForm->DRCPaintBox->grab().toImage();
  const int y = int((plot.height() - 30) * (24.0 / 90) + 10);
  EXPECT_EQ(plot.pixelColor(plot.width() / 2, y), QColor(0xBB, 0x00, 0xBB));
  EXPECT_EQ(plot.pixelColor(plot.width() - 3, 3), QColor(Qt::black));
  Screenshot(forms_->dacLeftForm, "DAC_L");
  Screenshot(drc, "DRC");
}

TEST_F(SetupDialogsTest, ABeepWritesLengthAndCoefficientsAndDoesNotDrift) {
  Show("beep");
  TBeepForm* beep = forms_->beepForm;
  ASSERT_TRUE(beep->isVisible());
  BoardChange(60, {0x00});
  beep->Duration->setValue(10);
  beep->Frequency->setValue(1000);
  const double w = 1000 * 6.28318 / 44100;
  const int sine = int(std::sin(w) * 32767), cosine = int(std::cos(w) * 32767);
  const std::string regs = Hex({0x00, 0x11, 0x3A, sine >> 8, sine, cosine >> 8, cosine});
  for (int round = 0; round < 10; ++round) {
    trace_.Mark();
    QTest::mouseClick(beep->Beep, Qt::LeftButton);
    const auto writes = Writes();
    ASSERT_FALSE(writes.empty());
    // The start: 72 bit 7; register 60 := 25 once; 71 bit 7 only in the start write.
    EXPECT_EQ(writes.back(), "47 80 80 " + regs) << round;
    EXPECT_EQ(writes.size(), round == 0 ? 3u : 2u) << round;
    if (round == 0) {
      EXPECT_EQ(writes[writes.size() - 2], "3C 19");
    }
    EXPECT_EQ(beep->Frequency->value(), 1000) << round;
    EXPECT_EQ(beep->FrequencyText->text(), "1000 Hz");
    EXPECT_EQ(Image(0, 71) & 0x80, 0);
  }
  // Coefficients written elsewhere: read back as written; 0xFFFF is no sine at all.
  const int frequencies[] = {500, 999, 1000, 2000, 3000, 7962, 10499};
  for (int f : frequencies) {
    int s = 0, c = 0;
    TBeepForm::Coefficients(f, s, c);
    BoardChange(76, {uint8_t(s >> 8), uint8_t(s), uint8_t(c >> 8), uint8_t(c)});
    EXPECT_EQ(beep->Frequency->value(), f);
  }
  BoardChange(76, {0xFF, 0xFF});
  EXPECT_EQ(beep->Frequency->value(), 500);
  trace_.Mark();
  QTest::mouseClick(beep->AutoBeep, Qt::LeftButton, {}, QPoint(6, beep->AutoBeep->height() / 2));
  EXPECT_EQ(LastWrite().substr(0, 5), "47 40");
  Screenshot(beep, "beep");
}

TEST_F(SetupDialogsTest, TheSARControlsWriteTheirBitsAndTheReadoutFollowsTheBoard) {
  BoardChange(116, {0x00, 0x00, 0x00, 0x00});
  reinterpret_cast<TSelectMenu>(platform::ResolveSymbol(module_, "_SelectMenu"))(forms_, 2);
  PumpEvents();
  TSARForm* sar = forms_->sarForm;
  ASSERT_TRUE(sar->isVisible());
  auto click = [](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); };
  const struct {
    std::function<void()> act;
    int reg, byte;
  } cases[] = {
      {[&] { click(sar->CLKSource->button(1)); }, 116, 0x40},
      {[&] { sar->Throughput->setCurrentIndex(5), emit sar->Throughput->activated(5); }, 116, 0x45},
      {[&] { sar->Hysteresis->setCurrentIndex(2), emit sar->Hysteresis->activated(2); }, 116, 0x65},
      {[&] { click(sar->Mode->button(1)); }, 118, 0x80},
      {[&] { click(sar->Continuous); }, 118, 0xC0},
      {[&] { click(sar->StopOnRead); }, 118, 0xE0},
      {[&] { sar->SARDivider->setCurrentIndex(3), emit sar->SARDivider->activated(3); }, 118, 0xEC},
      {[&] { click(sar->RefSource->button(1)); }, 118, 0xEE},
  };
  for (const auto& c : cases) {
    trace_.Mark();
    c.act();
    EXPECT_EQ(LastWrite(), Hex({c.reg, c.byte}));
  }
  // Register 118 changed elsewhere moves the controls.
  trace_.Mark();
  BoardChange(118, {0x24});
  EXPECT_EQ(Writes().size(), 1u);
  EXPECT_EQ(sar->Mode->checkedId(), 0);
  EXPECT_FALSE(sar->Continuous->isChecked());
  EXPECT_TRUE(sar->StopOnRead->isChecked());
  EXPECT_EQ(sar->SARDivider->currentIndex(), 1);
  EXPECT_EQ(sar->RefSource->checkedId(), 0);
  // The readout reads register 119 from the board every 300 ms.
  BoardChange(119, {0x5A});
  form_->GetLink()->GetRegisterImage(0x30, 0, 0, 119)[0] = 0;
  EXPECT_TRUE(WaitFor([&] { return sar->Data->text() == "Data = 0x5A"; }, std::chrono::seconds(5)));
  Screenshot(sar, "SAR");
  sar->hide();
}

// What the codec saw since the mark: "page PP" for a page select, "read RR"
// and "write RR" for the other register commands (device selects left out).
std::vector<std::string> RegisterTraffic(const BoardTrace& trace) {
  std::vector<std::string> out;
  for (const std::string& c : trace.Commands()) {
    if (c.size() < 23 || c.compare(3, 5, "12 05") != 0) continue;
    const std::string op = c.substr(15, 2), reg = c.substr(21, 2);
    if (op == "02" && reg == "00" && c.size() >= 26) out.push_back("page " + c.substr(24, 2));
    else if (op == "02") out.push_back("write " + reg);
    else if (op == "03") out.push_back("read " + reg);
  }
  return out;
}

// The Inputs dialog leaves the codec on page 1; the SAR readout's register
// 119 is on page 0, and that is the one it shows.
TEST_F(SetupDialogsTest, TheSARReadoutSelectsItsPageAfterTheInputsDialogChangedIt) {
  Show("AudioInputs");
  TAudioInputsForm* in = forms_->inputsForm;
  QTest::mouseClick(in->MICPGAEnable, Qt::LeftButton, {}, QPoint(6, in->MICPGAEnable->height() / 2));
  ASSERT_EQ(QuillbusGetSelectedPage(0, 0x30), 1);
  ASSERT_EQ(QuillbusSetRegister(0, 0x30, 0, 0, 119, 0x5A), 0);
  ASSERT_EQ(QuillbusSetRegister(0, 0x30, 0, 1, 119, 0x11), 0);
  trace_.Mark();
  reinterpret_cast<TSelectMenu>(platform::ResolveSymbol(module_, "_SelectMenu"))(forms_, 2);
  TSARForm* sar = forms_->sarForm;
  ASSERT_TRUE(sar->isVisible());
  EXPECT_TRUE(WaitFor([&] { return sar->Data->text() != "Data = 0x00"; }, std::chrono::seconds(5)));
  sar->hide();
  EXPECT_EQ(sar->Data->text().toStdString(), "Data = 0x5A");
  // Each read selects page 0 and leaves the codec on page 1 again.
  const auto traffic = RegisterTraffic(trace_);
  ASSERT_GE(traffic.size(), 3u);
  for (size_t i = 0; i + 3 <= traffic.size(); i += 3)
    EXPECT_EQ(std::vector<std::string>(traffic.begin() + long(i), traffic.begin() + long(i + 3)),
              (std::vector<std::string>{"page 00", "read 77", "page 01"}))
        << i;
  EXPECT_EQ(QuillbusGetSelectedPage(0, 0x30), 1);
  EXPECT_EQ(form_->GetLink()->GetRegisterImage(0x30, 0, 0, 119)[0], 0x5A);
  EXPECT_EQ(form_->GetLink()->GetRegisterImage(0x30, 0, 1, 119)[0], 0);
}

// A script works on the page it selected: the SAR readout's read between
// two of its lines does not move it.
TEST_F(SetupDialogsTest, ASARReadBetweenTwoScriptLinesLeavesTheScriptsPage) {
  TI2CCommand* window = form_->CommandWindow();
  form_->I2CCommand1Click();
  ASSERT_EQ(QuillbusSetRegister(0, 0x30, 0, 0, 0x20, 0x00), 0);
  ASSERT_EQ(QuillbusSetRegister(0, 0x30, 0, 1, 0x20, 0x00), 0);
  ASSERT_TRUE(window->Script().ExecuteSingleLine("w 30 00 01"));
  forms_->sarForm->SARTimer();
  ASSERT_TRUE(window->Script().ExecuteSingleLine("w 30 20 80"));
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 1, 0x20), 0x80);
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 0x20), 0x00);
}

// Every window of the module reads and writes its own page, whatever page a
// window of the other page left the codec on.
TEST_F(SetupDialogsTest, EveryModuleWindowReadsAndWritesItsOwnPage) {
  typedef TI2CObject* (*TGetI2CObject)(void*, unsigned);
  auto get = reinterpret_cast<TGetI2CObject>(platform::ResolveSymbol(module_, "_GetI2CObject"));
  std::vector<TI2CObject*> windows;
  for (unsigned i = 0; TI2CObject* w = get(forms_, i); ++i) windows.push_back(w);
  ASSERT_EQ(windows.size(), 21u);
  TI2CObject* onPage[2] = {windows[4], windows[0]};  // DAC control (page 0), class-D drivers (page 1)
  ASSERT_EQ(onPage[0]->GetPage(), 0);
  ASSERT_EQ(onPage[1]->GetPage(), 1);
  for (size_t i = 0; i < windows.size(); ++i) {
    TI2CObject* w = windows[i];
    const int page = w->GetPage(), first = w->GetFirstRegister();
    ASSERT_TRUE(page == 0 || page == 1) << i;
    ASSERT_NE(w->GetBlock(), nullptr) << i;
    ASSERT_NE(w->GetWrite(), nullptr) << i;
    ASSERT_EQ(w->GetData(), form_->GetLink()->GetRegisterImage(0x30, 0, page, first)) << i;
    // The other page's window writes its register: the codec is on that page.
    TI2CObject* other = onPage[1 - page];
    other->GetWrite()(other->GetUser(), other->GetDevice(), other->GetPage(), other->GetFirstRegister(), 1);
    ASSERT_EQ(QuillbusGetSelectedPage(0, 0x30), 1 - page) << i;
    ASSERT_EQ(QuillbusSetRegister(0, 0x30, 0, page, first, 0xA5), 0);
    trace_.Mark();
    w->GetBlock()(w->GetUser(), w->GetDevice(), first, w->GetData(), 1, true, false);
    EXPECT_EQ(w->GetData()[0], 0xA5) << i;
    // The read leaves the codec where it found it.
    EXPECT_EQ(QuillbusGetSelectedPage(0, 0x30), 1 - page) << i;
    w->GetData()[0] = 0x3C;
    w->GetWrite()(w->GetUser(), w->GetDevice(), page, first, 1);
    EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, page, first), 0x3C) << i;
    const std::string reg = Hex({first}), mine = "page " + Hex({page}), back = "page " + Hex({1 - page});
    EXPECT_EQ(RegisterTraffic(trace_), (std::vector<std::string>{mine, "read " + reg, back, mine, "write " + reg}))
        << "window " << i;
  }
}

TEST_F(SetupDialogsTest, TheInputControlsWriteTheirFieldsAndFollowTheBoard) {
  Show("AudioInputs");
  TAudioInputsForm* in = forms_->inputsForm;
  ASSERT_TRUE(in->isVisible());
  PageChange(1, 46, {0, 0, 0, 0, 0});
  PageChange(0, 81, {0, 0, 0, 0});
  auto click = [](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); };
  auto pick = [](QComboBox* c, int i) {
    c->setCurrentIndex(i);
    emit c->activated(i);
  };
  auto enter = [](QLineEdit* e, const char* text) {
    e->setText(text);
    QTest::keyClick(e, Qt::Key_Return);
  };
  const struct {
    std::function<void()> act;
    std::string write;  // "" when nothing may be written
  } cases[] = {
      {[&] { in->MIC1_LP->setCurrentIndex(2); }, "30 80"},
      {[&] { in->MIC1_RP->setCurrentIndex(1); }, "30 90"},
      {[&] { in->MIC1_LM_P->setCurrentIndex(3); }, "30 9C"},
      {[&] { in->CM->setCurrentIndex(3); }, "31 C0"},
      {[&] { in->MIC1_LM_M->setCurrentIndex(1); }, "31 D0"},
      {[&] { click(in->MICPGAEnable); }, "2F 80"},
      {[&] { in->MICPGA->setValue(0); }, "2F DF"},
      {[&] { enter(in->EditMICPGA, "10"); }, "2F 94"},
      {[&] { click(in->MICBiasExtJackCtrlPower); }, "2E 80"},
      {[&] { pick(in->MICBiasExt, 2); }, "2E 82"},
      {[&] { click(in->MICBiasExtPower); }, "2E C2"},
      {[&] { click(in->ADCPower); }, "51 80"},
      {[&] { click(in->DigitalMICEnable); }, "51 88"},
      {[&] { pick(in->DigitalMICSource, 1); }, "51 A8"},
      {[&] { pick(in->SoftStepping, 2); }, "51 AA"},
      {[&] { click(in->ADCMute); }, "52 80"},
      {[&] { in->Fine->setValue(4); }, "52 C0"},
      {[&] { enter(in->EditFine, "-0.3"); }, "52 B0"},
      {[&] { in->ADCGain->setValue(-24); }, "53 28"},
      {[&] { enter(in->EditADC, "30"); }, ""},
      {[&] { enter(in->EditADC, "x"); }, ""},
      {[&] { enter(in->EditADC, "-12"); }, "53 68"},
  };
  int i = 0;
  for (const auto& c : cases) {
    trace_.Mark();
    c.act();
    const auto w = RegisterWrites();
    if (c.write.empty())
      EXPECT_TRUE(w.empty()) << i;
    else
      EXPECT_EQ(w, std::vector<std::string>{c.write}) << i;
    ++i;
  }
  EXPECT_EQ(in->EditADC->text(), "-12");
  EXPECT_EQ(in->EditFine->text(), "-0.3");
  EXPECT_EQ(in->EditMICPGA->text(), "10");
  // Changed elsewhere: the controls follow and nothing is written back.
  trace_.Mark();
  PageChange(0, 82, {0x70, 0x28});
  PageChange(1, 47, {0x85});
  EXPECT_TRUE(RegisterWrites().size() == 2) << RegisterWrites().size();
  EXPECT_EQ(in->ADCGain->value(), -24);
  EXPECT_EQ(in->EditADC->text(), "20");
  EXPECT_EQ(in->Fine->value(), 4);
  EXPECT_FALSE(in->ADCMute->isChecked());
  EXPECT_EQ(in->MICPGA->value(), 90);
  EXPECT_FALSE(in->MICPGAEnable->isChecked());
  in->Sheets->setCurrentIndex(1);
  Screenshot(in, "AudioInputs");
}

TEST_F(SetupDialogsTest, TheOutputControlsWriteTheirFieldsAndFollowTheBoard) {
  TGUIObject* object = form_->Page(0)->Object(0);
  ASSERT_NE(object, nullptr);
  Show("DePop", 0, 0, object);
  TAudioOutputsForm* out = forms_->outputsForm;
  ASSERT_TRUE(out->isVisible());
  out->FormActivate();
  EXPECT_EQ(object->GetMode(), 2);
  out->FormDeactivate();
  EXPECT_EQ(object->GetMode(), 1);
  PageChange(1, 31, std::vector<uint8_t>(14, 0));
  auto click = [](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); };
  const struct {
    std::function<void()> act;
    std::string write;
    QLabel* text;
    const char* shown;
  } cases[] = {
      {[&] { click(out->LeftChannel); }, "20 80", nullptr, ""},
      {[&] { click(out->RightChannel); }, "20 C0", nullptr, ""},
      {[&] { click(out->EnableOTP); }, "20 D0", nullptr, ""},
      {[&] { click(out->HPLeftChannel); }, "1F 80", nullptr, ""},
      {[&] { click(out->HPRightChannel); }, "1F C0", nullptr, ""},
      {[&] { click(out->CommonMode->button(3)); }, "1F D8", nullptr, ""},
      {[&] { click(out->ShortCircuit->button(1)); }, "1F D9", nullptr, ""},
      {[&] { click(out->Mode->button(1)); }, "2C 04", nullptr, ""},
      {[&] { out->DriverPowerOnTime->setValue(11); }, "21 58", out->DriverPowerOnTimeText, "7.35 s"},
      {[&] { out->DriverRampUpTime->setValue(3); }, "21 5E", out->DriverRampUpTimeText, "4.7 ms"},
      {[&] { click(out->CMMode->button(1)); }, "21 5F", nullptr, ""},
      {[&] { click(out->DisableInternalDischargePath); }, "22 80", nullptr, ""},
      {[&] { out->SpeakerPowerOnTime->setValue(7); }, "22 F0", out->SpeakerPowerOnTimeText, "10.9 ms"},
      {[&] { out->PGARampDownTime->setValue(1); }, "22 F1", out->PGARampDownTimeText, "0.44 ms"},
  };
  for (const auto& c : cases) {
    trace_.Mark();
    c.act();
    EXPECT_EQ(RegisterWrites(), std::vector<std::string>{c.write});
    if (c.text) {
      EXPECT_EQ(c.text->text().toStdString(), c.shown);
    }
  }
  Screenshot(out, "AudioOutputs");
  trace_.Mark();
  const uint8_t changes[][2] = {{31, 0x09}, {32, 0x00}, {33, 0x7F}, {34, 0x05}, {44, 0x00}};
  for (const auto& c : changes) PageChange(1, c[0], {c[1]});
  EXPECT_EQ(RegisterWrites().size(), 5u);
  EXPECT_EQ(out->CommonMode->checkedId(), 1);
  EXPECT_EQ(out->ShortCircuit->checkedId(), 1);
  EXPECT_EQ(out->Mode->checkedId(), 0);
  EXPECT_TRUE(out->EnableOTP->isChecked());
  EXPECT_EQ(out->DriverPowerOnTime->value(), 11);
  EXPECT_EQ(out->CMMode->checkedId(), 1);
  EXPECT_EQ(out->PGARampDownTime->value(), 5);
  EXPECT_EQ(out->SpeakerPowerOnTime->value(), 0);
  const struct {
    const char* name;
    bool right, hpRight;
  } names[] = {{"QMX7616 and QMX7310", false, false}, {"QMX7530", false, false}, {"QMX7310", false, true},
               {"QMX7XXX", true, true}};
  for (const auto& n : names) {
    reinterpret_cast<void (*)(void*, const char*)>(platform::ResolveSymbol(module_, "_SetCodecName"))(forms_, n.name);
    EXPECT_EQ(!out->RightChannel->isHidden(), n.right) << n.name;
    EXPECT_EQ(!out->HPRightChannel->isHidden(), n.hpRight) << n.name;
  }
}

TEST_F(SetupDialogsTest, TheAGCControlsWriteTheSevenRegistersAndFollowTheBoard) {
  TAGCForm* agc = forms_->agcForm;
  agc->makeCapture = [] { return std::unique_ptr<AudioCapture>(); };
  Show("AGC");
  ASSERT_TRUE(agc->isVisible());
  BoardChange(86, std::vector<uint8_t>(8, 0));
  auto click = [](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); };
  const struct {
    std::function<void()> act;
    const char* write;
    QLabel* text;
    const char* shown;
  } cases[] = {
      {[&] { click(agc->AGCEnabled); }, "56 80 02 00 00 00 00 00", nullptr, ""},
      {[&] { agc->MaxGain->setValue(0); }, "56 80 02 74 00 00 00 00", agc->MaxGainText, "58 dB"},
      {[&] { agc->Attack->setValue(31); }, "56 80 02 74 F8 00 00 00", agc->AttackText, "45 ms"},
      {[&] { agc->AttackMult->setValue(7); }, "56 80 02 74 FF 00 00 00", agc->AttackText, "5.8 s"},
      {[&] { agc->Decay->setValue(1); }, "56 80 02 74 FF 08 00 00", agc->DecayText, "34 ms"},
      {[&] { agc->DecayMult->setValue(2); }, "56 80 02 74 FF 0A 00 00", agc->DecayMultText, "4x"},
      {[&] { agc->Noise->setValue(31); }, "56 80 02 74 FF 0A 1F 00", agc->NoiseText, "48695.7 s"},
      {[&] { agc->Signal->setValue(15); }, "56 80 02 74 FF 0A 1F 0F", agc->SignalText, "743 ms"},
      {[&] { agc->Hysteresis->setValue(3); }, "56 80 C2 74 FF 0A 1F 0F", agc->HysteresisText, "disabled"},
      {[&] { agc->Hysteresis->setValue(0); }, "56 80 02 74 FF 0A 1F 0F", agc->HysteresisText, "1 dB"},
  };
  for (const auto& c : cases) {
    trace_.Mark();
    c.act();
    EXPECT_EQ(LastWrite(), c.write);
    if (c.text) {
      EXPECT_EQ(c.text->text().toStdString(), c.shown);
    }
  }
  // Dragging the target line to -9 dB snaps it to -8 dB (index 1).
  const int from = agc->LevelY(-5.5), to = agc->LevelY(-9);
  trace_.Mark();
  QTest::mousePress(agc->Plot, Qt::LeftButton, {}, QPoint(100, from));
  QTest::mouseMove(agc->Plot, QPoint(100, to));
  QTest::mouseRelease(agc->Plot, Qt::LeftButton, {}, QPoint(100, to));
  EXPECT_EQ(LastWrite(), "56 90 02 74 FF 0A 1F 0F");
  EXPECT_EQ(agc->TargetLevelText->text(), "-8 dB");
  EXPECT_EQ(int(agc->targetLine->GetPlacedPoint(0).y), agc->LevelY(-8));
  // Changed elsewhere: target index 3, noise code 1 with bit 0 set, gain 200.
  trace_.Mark();
  BoardChange(86, {0xB0, 0x03, 200, 0, 0, 0, 0, 0xF0});
  EXPECT_EQ(Writes().size(), 1u);
  EXPECT_EQ(agc->TargetLevelText->text(), "-12 dB");
  EXPECT_EQ(agc->NoiseThresholdText->text(), "-30 dB");
  EXPECT_EQ(agc->MaxGain->value(), 0);
  trace_.Mark();
  click(agc->AGCEnabled);
  EXPECT_EQ(LastWrite(), "56 30 02 74 00 00 00 00");
}

TEST_F(SetupDialogsTest, ADACDialogLightsItsObjectAndItsCurveOpensTheDRCDialog) {
  TGUIObject* object = form_->Page(0)->Object(0);
  TDACVolForm* dac = forms_->dacLeftForm;
  // Before _ShowDialog links it, the curve opens nothing.
  QTest::mouseClick(dac->DRCPaintBox, Qt::LeftButton);
  EXPECT_FALSE(forms_->drcForm->isVisible());
  Show("DAC_L", 10, 20, object);
  EXPECT_EQ(dac->HostObject(), object);
  dac->FormActivate();
  EXPECT_EQ(object->GetMode(), 2);
  dac->hide();
  EXPECT_EQ(object->GetMode(), 1);
  QTest::mouseClick(dac->DRCPaintBox, Qt::LeftButton);
  EXPECT_TRUE(forms_->drcForm->isVisible());
  forms_->drcForm->hide();
}

// The kit's first page carries an object for every dialog name.
TEST_F(SetupDialogsTest, EveryDialogNameOnTheKitPageOpensItsDialog) {
  forms_->agcForm->makeCapture = [] { return std::unique_ptr<AudioCapture>(); };
  const struct {
    const char* name;
    QWidget* dialog;
  } names[] = {{"DAC_L", forms_->dacLeftForm}, {"DAC_R", forms_->dacRightForm}, {"beep", forms_->beepForm},
               {"AGC", forms_->agcForm},        {"AudioInputs", forms_->inputsForm}, {"SAR", forms_->sarForm},
               {"DePop", forms_->outputsForm},  {"vol_ramp", forms_->outputsForm},
               {"pwr_down_spkr", forms_->outputsForm}, {"pwr_down_hp", forms_->outputsForm}};
  TBlockDiagram* page = form_->CurrentPage();
  ASSERT_EQ(page, form_->Page(0));
  for (const auto& n : names) {
    for (const auto& other : names) other.dialog->hide();
    TGUIObject* object = nullptr;
    for (unsigned i = 0; i < page->ObjectCount() && !object; ++i)
      if (page->Object(i)->GetFunctionName() == n.name) object = page->Object(i);
    ASSERT_NE(object, nullptr) << n.name;
    const TPointF a = object->GetPlacedPoint(0), b = object->GetPlacedPoint(1);
    QTest::mouseClick(form_->BlockDiagramPaintBox, Qt::LeftButton, {},
                      QPoint(int((a.x + b.x) / 2), int((a.y + b.y) / 2)));
    PumpEvents();
    EXPECT_TRUE(n.dialog->isVisible()) << n.name;
    if (n.dialog == forms_->outputsForm) {
      EXPECT_EQ(forms_->outputsForm->HostObject(), object) << n.name;
    }
  }
  for (const auto& n : names) n.dialog->hide();
}

class AGCCaptureTest : public SetupDialogsTest {
 protected:
  void SetUp() override {
    SetupDialogsTest::SetUp();
    // Half scale, twelve periods a buffer, so every buffer is the same;
    // 30 s, since the null device under the file paces nothing.
    for (int i = 0; i < 1323000; ++i) tone_.push_back(int16_t(std::lround(16384 * std::sin(2 * M_PI * 12 * i / 512.0))));
    std::ofstream(dir_.File("tone.raw"), std::ios::binary)
        .write(reinterpret_cast<const char*>(tone_.data()), std::streamsize(tone_.size() * 2));
    config_ = "pcm.tone { type file slave.pcm { type null } file \"/dev/null\" infile \"" + dir_.File("tone.raw") +
              "\" format \"raw\" }\n";
  }
  void UseDevice(const std::string& name) {
    const std::string config = config_;
    forms_->agcForm->makeCapture = [name, config] { return MakeAlsaCapture(name, config); };
  }
  std::vector<int16_t> tone_;
  std::string config_;
};

TEST_F(AGCCaptureTest, TheLevelPlotShowsTheCapturedTone) {
  TAGCForm* agc = forms_->agcForm;
  UseDevice("tone");
  Show("AGC");
  ASSERT_TRUE(WaitFor([&] { return agc->buffersShown >= 3; }, std::chrono::seconds(10)));
  EXPECT_TRUE(dialogs_.messages.empty());
  // The buffer shown is a run of the tone.
  auto fromTone = [&] {
    return agc->lastBuffer.size() == 512u && std::equal(agc->lastBuffer.begin(), agc->lastBuffer.end(), tone_.begin());
  };
  EXPECT_TRUE(fromTone());
  // Half scale peaks at -6 dB: the trace reaches that row and never above it.
  QImage plot = agc->Plot->grab().toImage();
  const QColor trace(0x80, 0x80, 0xFF);
  int top = plot.height();
  for (int y = 0; y < plot.height(); ++y)
    for (int x = 31; x < plot.width() - 10; ++x)
      if (plot.pixelColor(x, y) == trace) top = std::min(top, y);
  EXPECT_EQ(top, agc->LevelY(-6));
  QTest::mouseClick(agc->MoreLess, Qt::LeftButton);
  EXPECT_EQ(agc->width(), 575 + 265);
  Screenshot(agc, "AGC");
  // Hidden: the capture stops at once, and buffers still queued are dropped.
  agc->hide();
  const unsigned hidden = agc->buffersShown;
  PumpEvents();
  EXPECT_EQ(agc->buffersShown, hidden);
  // Shown and hidden again while buffers are in flight, then left shown:
  // only the last capture's buffers count, and the board window's end
  // stops it before the form goes.
  for (int i = 0; i < 5; ++i) {
    agc->show();
    agc->hide();
  }
  PumpEvents();
  EXPECT_EQ(agc->buffersShown, hidden);
  agc->show();
  EXPECT_TRUE(WaitFor([&] { return agc->buffersShown > hidden; }, std::chrono::seconds(10)));
  EXPECT_TRUE(fromTone());
}

TEST_F(AGCCaptureTest, NoCaptureDeviceIsAMessageAndTheRegistersStillWork) {
  TAGCForm* agc = forms_->agcForm;
  UseDevice("nowhere");
  Show("AGC");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0],
            "The audio input \"nowhere\" could not be opened: No such file or directory. "
            "The level plots stay empty; the AGC settings still work.");
  EXPECT_EQ(dialogs_.warnings, dialogs_.messages);
  PumpEvents();
  EXPECT_EQ(agc->buffersShown, 0u);
  EXPECT_TRUE(agc->lastBuffer.empty());
  trace_.Mark();
  QTest::mouseClick(agc->AGCEnabled, Qt::LeftButton, {}, QPoint(6, agc->AGCEnabled->height() / 2));
  ASSERT_FALSE(LastWrite().empty());
  EXPECT_EQ(LastWrite().substr(0, 2), "56");
  agc->hide();
}

// Before the host binds them, the windows keep to their own bytes.
TEST(SetupDialogsUnboundTest, ControlsOfUnboundWindowsTouchOnlyTheirOwnBytes) {
  TDACVolForm dac;
  TDRCForm drc;
  TBeepForm beep;
  TSARForm sar;
  drc.leftDac = &dac;
  dac.SetDRCForm(&drc);
  dac.SetRightChannel();
  dac.Volume->setValue(0);
  dac.Mute->click();
  dac.DRC->click();
  drc.Decay->setValue(15);
  drc.Hold->setValue(7);
  beep.Frequency->setValue(10500);
  beep.Duration->setValue(50);
  beep.Beep->click();
  sar.Throughput->setCurrentIndex(7);
  emit sar.Throughput->activated(7);
  sar.RefSource->button(1)->click();
  EXPECT_EQ(dac.volume.PrivateData()[0], 0x30);
  EXPECT_EQ(drc.window.PrivateData()[1], 7 << 3);
  EXPECT_EQ(drc.window.PrivateData()[2], 15);
  // 50 x 441 = 0x005622 samples; 72 bit 7 of the start, 71 bit 7 cleared after it.
  EXPECT_EQ(beep.window.PrivateData()[3], 0x56);
  EXPECT_EQ(beep.window.PrivateData()[4], 0x22);
  EXPECT_EQ(beep.window.PrivateData()[1], 0x80);
  EXPECT_EQ(beep.window.PrivateData()[0], 0x00);
  EXPECT_EQ(sar.control.PrivateData()[2], 0x02);
  EXPECT_EQ(sar.control.PrivateData()[0], 0x07);
}

}  // namespace
