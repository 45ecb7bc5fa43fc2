// The set-up dialogs' value texts on their own (no board): every text a
// track bar drives, over the bar's whole range and after a register
// refresh, and every numeric edit after Enter, typed with real keys.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "codec/advanced_clock.h"
#include "codec/agc_form.h"
#include "codec/dconf.h"
#include "codec/decimal_text.h"
#include "codec/io_forms.h"
#include "codec/small_forms.h"

namespace {

TEST(DecimalTextTest, AStepValueReadsAsAPersonWritesIt) {
  const struct {
    long long units;
    int decimals;
    const char* text;
  } cases[] = {{-3, 1, "-0.3"},  {0, 1, "0"},         {-0, 2, "0"},          {35, 2, "0.35"},
               {41, 2, "0.41"},  {50, 2, "0.5"},      {100, 2, "1"},         {-125, 1, "-12.5"},
               {116 * 5, 1, "58"}, {7, 0, "7"},       {-40, 1, "-4"},        {1, 3, "0.001"},
               {476837158203125LL, 21, "0.000000476837158203125"},
               {-9223372036854775807LL - 1, 0, "-9223372036854775808"}};
  for (const auto& c : cases) EXPECT_EQ(DecimalText(c.units, c.decimals), c.text) << c.units << "e-" << c.decimals;
}

// The fixed-point text of `value` with `decimals` digits, trailing zeros and
// a lone point dropped, "-0" read as "0": what the dialogs should show, made
// another way than theirs.
std::string Fixed(double value, int decimals) {
  std::string s = QString::number(value, 'f', decimals).toStdString();
  if (s.find('.') != std::string::npos) {
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

// The AGC window's time text of `samples` / 44100 s, in whole numbers.
std::string AGCTime(unsigned long long samples) {
  const unsigned long long rate = 44100;
  if (samples * 1000 < rate) return std::to_string(samples * 1000000000 / rate) + " ns";
  if (samples * 100 < rate) return std::to_string(samples * 1000000 / rate) + " us";
  if (samples < rate) return std::to_string(samples * 1000 / rate) + " ms";
  const unsigned long long tenths = samples * 10 / rate;
  return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " s";
}

std::string TextOf(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdString();
  if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text().toStdString();
  return "?";
}

void Scribble(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) label->setText("stale");
  if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText("stale");
}

// Every dialog with a track bar, unbound: each window works on its own bytes.
class DialogTextsTest : public ::testing::Test {
 protected:
  // A text that a track bar drives, and the register field that holds the
  // bar's position.
  struct SliderText {
    std::string name;
    QSlider* slider;
    QWidget* text;
    std::function<std::string(int)> expected;  // the text at a position
    TFormI2C* window;
    int reg;
    std::function<void(int)> store;  // a position into the window's bytes
    int other;                       // a position the refresh moves to
  };

  void SetUp() override {
    dacRight.SetRightChannel();
    drc.leftDac = &dacLeft;
    drc.rightDac = &dacRight;
    dacLeft.SetDRCForm(&drc);
    dacRight.SetDRCForm(&drc);
  }

  // `field` of the byte `reg` of `w` := `value`.
  static std::function<void(int)> Field(TFormI2C& w, int reg, int shift, int bits, std::function<int(int)> code) {
    return [&w, reg, shift, bits, code](int p) {
      const int mask = ((1 << bits) - 1) << shift;
      w.Reg(reg) = uint8_t((w.Reg(reg) & ~mask) | ((code(p) << shift) & mask));
    };
  }
  static std::function<void(int)> Field(TFormI2C& w, int reg, int shift, int bits) {
    return Field(w, reg, shift, bits, [](int p) { return p; });
  }
  static std::function<std::string(int)> Table(std::vector<std::string> texts) {
    return [texts](int p) { return p >= 0 && p < int(texts.size()) ? texts[size_t(p)] : "beyond the table"; };
  }

  std::vector<SliderText> Rows() {
    auto dacText = [](int p) { return p == 176 ? std::string("DAC mute") : Fixed((48 - p) * 0.5, 1) + " dB"; };
    auto rate = [](int halvings) { return Fixed(4 / std::ldexp(1.0, halvings), 30) + " dB/Frame"; };
    auto agcAttack = [](int a, int m) { return AGCTime((2ULL * a + 1) << m << 5); };
    auto agcDecay = [](int d, int m) { return AGCTime((2ULL * d + 1) << m << 9); };
    auto mult = [](int m) { return std::to_string(1u << m) + "x"; };
    auto beepStore = [this](int p) {
      const unsigned length = unsigned(p) * 441;
      beep.window.Reg(73) = uint8_t(length >> 16);
      beep.window.Reg(74) = uint8_t(length >> 8);
      beep.window.Reg(75) = uint8_t(length);
    };
    auto frequencyStore = [this](int hz) {
      int s = 0, c = 0;
      TBeepForm::Coefficients(hz, s, c);
      const uint8_t bytes[] = {uint8_t(s >> 8), uint8_t(s), uint8_t(c >> 8), uint8_t(c)};
      for (int i = 0; i < 4; ++i) beep.window.Reg(76 + i) = bytes[i];
    };
    TAGCForm& a = agc;
    return {
        {"DAC left volume", dacLeft.Volume, dacLeft.VolumeText, dacText, &dacLeft.volume, 65,
         [this](int p) { dacLeft.volume.Reg(65) = uint8_t(48 - p); }, 101},
        {"DAC right volume", dacRight.Volume, dacRight.VolumeText, dacText, &dacRight.volume, 66,
         [this](int p) { dacRight.volume.Reg(66) = uint8_t(48 - p); }, 176},
        {"DRC threshold", drc.Threshold, drc.ThresholdText, [](int p) { return std::to_string(-3 * p - 3) + " dB"; },
         &drc.window, 68, Field(drc.window, 68, 2, 3), 7},
        {"DRC hysteresis", drc.Hysteresis, drc.HysteresisText, [](int p) { return std::to_string(p) + " dB"; },
         &drc.window, 68, Field(drc.window, 68, 0, 2), 3},
        {"DRC hold", drc.Hold, drc.HoldText,
         [](int p) { return p == 0 ? std::string("DRC Hold disabled") : std::to_string(1u << (p + 4)) + "/Fs"; },
         &drc.window, 69, Field(drc.window, 69, 3, 4), 7},
        {"DRC attack", drc.Attack, drc.AttackText, [rate](int p) { return rate(p); }, &drc.window, 70,
         Field(drc.window, 70, 4, 4), 15},
        {"DRC decay", drc.Decay, drc.DecayText, [rate](int p) { return rate(p + 8); }, &drc.window, 70,
         Field(drc.window, 70, 0, 4), 15},
        {"beep duration", beep.Duration, beep.DurationText, [](int p) { return Fixed(p * 0.01, 2) + " s"; },
         &beep.window, 73, beepStore, 41},
        {"beep frequency", beep.Frequency, beep.FrequencyText, [](int p) { return std::to_string(p) + " Hz"; },
         &beep.window, 76, frequencyStore, 2000},
        {"MIC PGA", inputs.MICPGA, inputs.EditMICPGA, [](int p) { return Fixed((95 - p) * 0.5, 1); }, &inputs.micPGA,
         47, Field(inputs.micPGA, 47, 0, 7, [](int p) { return 95 - p; }), 0},
        {"ADC fine", inputs.Fine, inputs.EditFine, [](int p) { return Fixed(p * -0.1, 1); }, &inputs.adc, 82,
         Field(inputs.adc, 82, 4, 3), 3},
        {"ADC coarse", inputs.ADCGain, inputs.EditADC, [](int p) { return Fixed((16 - p) * 0.5, 1); }, &inputs.adc, 83,
         Field(inputs.adc, 83, 0, 7, [](int p) { return 16 - p; }), -24},
        {"driver power-on time", outputs.DriverPowerOnTime, outputs.DriverPowerOnTimeText,
         Table({"0 us", "18.4 us", "184 us", "1.84 ms", "18.4 ms", "91.9 ms", "184 ms", "367 ms", "735 ms", "1.47 s",
                "3.67 s", "7.35 s"}),
         &outputs.hpPop, 33, Field(outputs.hpPop, 33, 3, 4), 11},
        {"driver ramp-up time", outputs.DriverRampUpTime, outputs.DriverRampUpTimeText,
         Table({"0 ms", "1.18 ms", "2.35 ms", "4.7 ms"}), &outputs.hpPop, 33, Field(outputs.hpPop, 33, 1, 2), 3},
        {"speaker power-on time", outputs.SpeakerPowerOnTime, outputs.SpeakerPowerOnTimeText,
         Table({"0 ms", "1.09 ms", "2.27 ms", "4.35 ms", "5.44 ms", "7.07 ms", "8.7 ms", "10.9 ms"}), &outputs.pgaRamp,
         34, Field(outputs.pgaRamp, 34, 4, 3), 7},
        {"PGA ramp-down time", outputs.PGARampDownTime, outputs.PGARampDownTimeText,
         Table({"0.117 ms", "0.44 ms", "0.876 ms", "3.48 ms", "6.09 ms", "6.96 ms", "8.7 ms", "10.44 ms", "13.92 ms",
                "17.4 ms", "20.88 ms", "27.85 ms", "34.81 ms", "41.77 ms", "69.6 ms", "107.9 ms"}),
         &outputs.pgaRamp, 34, Field(outputs.pgaRamp, 34, 0, 4), 15},
        {"AGC maximum gain", a.MaxGain, a.MaxGainText, [](int p) { return Fixed((116 - p) * 0.5, 1) + " dB"; },
         &a.agc, 88, [&a](int p) { a.agc.Reg(88) = uint8_t(116 - p); }, 17},
        {"AGC attack", a.Attack, a.AttackText, [&a, agcAttack](int p) { return agcAttack(p, a.AttackMult->value()); },
         &a.agc, 89, Field(a.agc, 89, 3, 5), 31},
        {"AGC attack multiplier", a.AttackMult, a.AttackMultText, mult, &a.agc, 89, Field(a.agc, 89, 0, 3), 7},
        {"AGC attack by its multiplier", a.AttackMult, a.AttackText,
         [&a, agcAttack](int m) { return agcAttack(a.Attack->value(), m); }, &a.agc, 89, Field(a.agc, 89, 0, 3), 5},
        {"AGC decay", a.Decay, a.DecayText, [&a, agcDecay](int p) { return agcDecay(p, a.DecayMult->value()); },
         &a.agc, 90, Field(a.agc, 90, 3, 5), 31},
        {"AGC decay multiplier", a.DecayMult, a.DecayMultText, mult, &a.agc, 90, Field(a.agc, 90, 0, 3), 7},
        {"AGC decay by its multiplier", a.DecayMult, a.DecayText,
         [&a, agcDecay](int m) { return agcDecay(a.Decay->value(), m); }, &a.agc, 90, Field(a.agc, 90, 0, 3), 6},
        {"AGC signal debounce", a.Signal, a.SignalText, [](int p) { return AGCTime(1ULL << p); }, &a.agc, 92,
         Field(a.agc, 92, 0, 4), 15},
        {"AGC noise debounce", a.Noise, a.NoiseText, [](int p) { return AGCTime(1ULL << p); }, &a.agc, 91,
         Field(a.agc, 91, 0, 5), 31},
        {"AGC hysteresis", a.Hysteresis, a.HysteresisText,
         [](int p) { return p == 3 ? std::string("disabled") : std::to_string(1 << p) + " dB"; }, &a.agc, 87,
         Field(a.agc, 87, 6, 2), 3},
    };
  }

  // The host's notification of a register change to `w`.
  static void Refresh(TFormI2C* w, int reg) { w->OnRegisterChanged(0x30, w->GetPage(), unsigned(reg)); }

  TDACVolForm dacLeft, dacRight;
  TDRCForm drc;
  TBeepForm beep;
  TAudioInputsForm inputs;
  TAudioOutputsForm outputs;
  TAGCForm agc;
};

TEST_F(DialogTextsTest, EveryTrackBarTextIsItsPositionsDecimalTextOverTheWholeRange) {
  for (const SliderText& row : Rows()) {
    QSlider* s = row.slider;
    // The first position is reached by a change too.
    s->setValue(s->value() == s->minimum() ? s->maximum() : s->minimum());
    int wrong = 0;
    for (int p = s->minimum(); p <= s->maximum(); ++p) {
      s->setValue(p);
      const std::string expected = row.expected(p), shown = TextOf(row.text);
      if (shown != expected && ++wrong <= 3) ADD_FAILURE() << row.name << " at " << p << ": \"" << shown << "\", not \"" << expected << "\"";
    }
    EXPECT_EQ(wrong, 0) << row.name << ": positions with a wrong text";
  }
}

// The examples, as they were seen.
TEST_F(DialogTextsTest, NoStepValueShowsBinaryNoise) {
  inputs.Fine->setValue(3);
  EXPECT_EQ(inputs.EditFine->text().toStdString(), "-0.3");
  inputs.Fine->setValue(0);
  EXPECT_EQ(inputs.EditFine->text().toStdString(), "0");
  for (int p : {35, 41, 47}) {
    beep.Duration->setValue(p);
    EXPECT_EQ(beep.DurationText->text().toStdString(), "0." + std::to_string(p) + " s");
  }
}

TEST_F(DialogTextsTest, EveryTrackBarTextFollowsItsRegisterWhetherTheBarMovesOrNot) {
  // A register that holds what the form shows at first.
  agc.agc.Reg(88) = 116;
  Refresh(&agc.agc, 88);
  EXPECT_EQ(agc.MaxGain->value(), 0);
  EXPECT_EQ(agc.MaxGainText->text().toStdString(), "58 dB");

  for (const SliderText& row : Rows()) {
    SCOPED_TRACE(row.name);
    // The register holds the bar's own position: the bar stays where it is.
    const int here = row.slider->value();
    row.store(here);
    Refresh(row.window, row.reg);
    EXPECT_EQ(row.slider->value(), here);
    EXPECT_EQ(TextOf(row.text), row.expected(here)) << "the form's first text";
    Scribble(row.text);
    Refresh(row.window, row.reg);
    EXPECT_EQ(TextOf(row.text), row.expected(here)) << "a text out of step with its bar";
    // Another position: the bar moves, the text with it.
    row.store(row.other);
    Refresh(row.window, row.reg);
    EXPECT_EQ(row.slider->value(), row.other);
    EXPECT_EQ(TextOf(row.text), row.expected(row.other));
  }
}

// Typed with real keys: everything selected, the text, Enter.
void Type(QLineEdit* edit, const QString& text) {
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Return);
}

// A beep dialog that did not write them reads back every frequency of its
// range from the coefficients it writes, where the sine alone is too flat
// to tell neighbours apart; coefficients that are no frequency's of ours
// read as the sine's angle, and no sine at all as the bar's minimum.
TEST_F(DialogTextsTest, EveryBeepFrequencyReadsBackFromItsCoefficients) {
  auto store = [this](int sine, int cosine) {
    const uint8_t bytes[] = {uint8_t(sine >> 8), uint8_t(sine), uint8_t(cosine >> 8), uint8_t(cosine)};
    for (int i = 0; i < 4; ++i) beep.window.Reg(76 + i) = bytes[i];
    Refresh(&beep.window, 76);
  };
  int wrong = 0;
  for (int hz = 500; hz <= 10500; ++hz) {
    // Fresh: the dialog shows its first frequency, not the one written.
    beep.Frequency->setValue(500);
    int s = 0, c = 0;
    TBeepForm::Coefficients(hz, s, c);
    store(s, c);
    if (beep.Frequency->value() != hz && ++wrong <= 3)
      ADD_FAILURE() << hz << " Hz reads back as " << beep.FrequencyText->text().toStdString();
  }
  EXPECT_EQ(wrong, 0) << "frequencies read back wrong";
  const struct {
    int sine, cosine, hz;
  } others[] = {
      {0x7FFF, 0x0000, 10500},  // a quarter turn: beyond the bar's range
      {0x1000, 0x7000, 880},    // no frequency's pair: asin(4096 / 32767) x 44100 / 6.28318, rounded
      {0xFFFF, 0x0000, 500},    // not a sine: the bar's minimum
  };
  for (const auto& o : others) {
    beep.Frequency->setValue(2000);
    store(o.sine, o.cosine);
    EXPECT_EQ(beep.Frequency->value(), o.hz) << o.sine << ", " << o.cosine;
  }
}

TEST_F(DialogTextsTest, AfterEnterEveryEditShowsTheValueWritten) {
  TDConf dconf;
  dconf.LockDACFs->click();  // the DAC rate of its own
  TAdvancedClock* advanced = dconf.AdvancedClock();
  ASSERT_NE(advanced, nullptr);
  const struct {
    QLineEdit* edit;
    const char* typed;
    const char* shown;
    std::function<int()> value;  // what the dialog took
    int taken;
  } cases[] = {
      // The inputs' gains: the track bar's step, as written to the register.
      {inputs.EditADC, "10.3", "10", [this] { return inputs.adc.Reg(83); }, 20},
      {inputs.EditADC, "10.4", "10", [this] { return inputs.adc.Reg(83); }, 20},
      {inputs.EditADC, "-0.7", "-0.5", [this] { return inputs.adc.Reg(83); }, 0x7F},
      {inputs.EditADC, "30", "-0.5", [this] { return inputs.adc.Reg(83); }, 0x7F},
      {inputs.EditADC, "0x10", "-0.5", [this] { return inputs.adc.Reg(83); }, 0x7F},
      {inputs.EditADC, "+20", "20", [this] { return inputs.adc.Reg(83); }, 40},
      {inputs.EditMICPGA, "10.3", "10", [this] { return inputs.micPGA.Reg(47) & 0x7F; }, 20},
      {inputs.EditMICPGA, "47.9", "10", [this] { return inputs.micPGA.Reg(47) & 0x7F; }, 20},
      {inputs.EditMICPGA, "0.25", "0", [this] { return inputs.micPGA.Reg(47) & 0x7F; }, 0},
      {inputs.EditFine, "-0.25", "-0.2", [this] { return inputs.adc.Reg(82) >> 4 & 7; }, 2},
      {inputs.EditFine, "-0.3", "-0.3", [this] { return inputs.adc.Reg(82) >> 4 & 7; }, 3},
      {inputs.EditFine, "abc", "-0.3", [this] { return inputs.adc.Reg(82) >> 4 & 7; }, 3},
      // The clock edits: whole numbers, bounded where they have bounds.
      {dconf.InputFrequency, "+12288000", "12288000", [&] { return dconf.inputFrequency; }, 12288000},
      {dconf.InputFrequency, "12.5", "12288000", [&] { return dconf.inputFrequency; }, 12288000},
      {dconf.ADCSampleRate, " 048000", "48000", [&] { return dconf.adcRate; }, 48000},
      {dconf.DACSampleRate, "+32000", "32000", [&] { return dconf.dacRate; }, 32000},
      {dconf.ADC_DSP_OSR, "200", "128", [&] { return dconf.adcEngineOSR; }, 128},
      {dconf.DAC_DSP_OSR, "0", "1", [&] { return dconf.dacEngineOSR; }, 1},
      {dconf.ADCInstructions, "+0400", "384", [&] { return dconf.adcInstructions; }, 384},
      {dconf.DACInstructions, "12x", "128", [&] { return dconf.dacInstructions; }, 128},
      {dconf.Offset, "+7", "7", [&] { return dconf.offset; }, 7},
      {advanced->P, "9", "8", [&] { return advanced->p; }, 8},
      {advanced->R, "+2", "2", [&] { return advanced->r; }, 2},
      {advanced->J, "64", "63", [&] { return advanced->j; }, 63},
      {advanced->D, "10000", "9999", [&] { return advanced->d; }, 9999},
      {advanced->NADC, "0", "1", [&] { return advanced->nadc; }, 1},
      {advanced->MADC, "+3", "3", [&] { return advanced->madc; }, 3},
      {advanced->NDAC, "129", "128", [&] { return advanced->ndac; }, 128},
      {advanced->MDAC, "+4", "4", [&] { return advanced->mdac; }, 4},
      {advanced->AOSR, "2000", "1024", [&] { return advanced->aosr; }, 1024},
      {advanced->DOSR, "064", "64", [&] { return advanced->dosr; }, 64},
      {advanced->BCLKDivider, "0", "1", [&] { return advanced->bclkDivider; }, 1},
      {advanced->CLKOUTDivider, "+129", "128", [&] { return advanced->clkoutDivider; }, 128},
  };
  for (const auto& c : cases) {
    Type(c.edit, c.typed);
    EXPECT_EQ(c.edit->text().toStdString(), c.shown) << c.edit->objectName().toStdString() << " \"" << c.typed << "\"";
    EXPECT_EQ(c.value(), c.taken) << c.edit->objectName().toStdString() << " \"" << c.typed << "\"";
  }
}

}  // namespace
