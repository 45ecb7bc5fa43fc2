// The digital setup dialog on its own (no board): the grid, the clock
// input, the rate lock, the DAC-only layout and the advanced dialog's rates.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include "codec/advanced_clock.h"
#include "codec/dconf.h"
#include "common/shapes.h"

namespace {

void Type(QLineEdit* edit, const QString& text) {
  edit->setText(text);
  QTest::keyClick(edit, Qt::Key_Return);
}

TEST(DConfTest, TheGridIsFilledAtConstruction) {
  TDConf dialog;
  EXPECT_EQ(dialog.windowTitle(), "Digital Configuration");
  EXPECT_EQ(dialog.ADCInstructions->text(), "128");
  EXPECT_FALSE(dialog.DACSampleRate->isEnabled());
  EXPECT_TRUE(dialog.LockDACFs->isChecked());
  ASSERT_EQ(dialog.ClockResults->rowCount(), 11);
  EXPECT_EQ(dialog.ClockResults->item(0, 0)->text(), "On");
  EXPECT_EQ(dialog.ClockResults->item(0, 8)->text(), "44100");
  EXPECT_EQ(dialog.SelectedRow(), 1);
}

TEST(DConfTest, DinAsClockInputListsOnlyPllSolutions) {
  TDConf dialog;
  Type(dialog.InputFrequency, "12288000");
  dialog.SetSampleRate(48000);
  ASSERT_EQ(dialog.ClockResults->rowCount(), 2);
  EXPECT_EQ(dialog.ClockResults->item(0, 0)->text(), "Off");
  EXPECT_EQ(dialog.ClockResults->item(0, 1)->text(), "N/A");
  dialog.ClkInput->setCurrentText("DIN");
  emit dialog.ClkInput->activated(4);
  ASSERT_GT(dialog.ClockResults->rowCount(), 0);
  for (int row = 0; row < dialog.ClockResults->rowCount(); ++row)
    EXPECT_EQ(dialog.ClockResults->item(row, 0)->text(), "On") << row;
}

std::vector<std::pair<int, int>> dinWrites;  // (register, count)
void RecordDinWrite(void*, int, int, int reg, int count) { dinWrites.emplace_back(reg, count); }

TEST(DConfTest, DinAtTheDefaultsFeedsThePllFromInputSelect3) {
  TDConf dialog;
  Type(dialog.InputFrequency, "12288000");
  dialog.SetSampleRate(44100);  // the board's rate: programming asks nothing
  dialog.ClkInput->setCurrentText("DIN");
  emit dialog.ClkInput->activated(4);
  ASSERT_EQ(dialog.ClockResults->rowCount(), 11);
  const QStringList first = {"On", "1", "1", "6", "8906", "3", "5", "128"};
  for (int c = 0; c < first.size(); ++c) EXPECT_EQ(dialog.ClockResults->item(0, c)->text(), first[c]) << c;
  dinWrites.clear();
  dialog.GetI2CObject(0)->SetCallbacks(nullptr, RecordDinWrite, nullptr, nullptr);
  dialog.ClockResultsDblClick();
  const uint8_t* image = dialog.AdcClock().GetData();
  EXPECT_EQ(image[0], 3 << 2 | 3);  // DIN into the PLL, the PLL as codec clock
  EXPECT_EQ(image[2], 6);
  EXPECT_EQ(image[3], 8906 >> 8);
  EXPECT_EQ(image[4], 8906 & 0xFF);
  ASSERT_FALSE(dinWrites.empty());
  EXPECT_EQ(dinWrites.front(), std::make_pair(4, 5));
}

TEST(DConfTest, TheRateLockFollowsTheAdcRateAndUnlockingOnlyEnables) {
  TDConf dialog;
  Type(dialog.ADCSampleRate, "48000");
  EXPECT_EQ(dialog.DACSampleRate->text(), "48000");
  EXPECT_EQ(dialog.dacRate, 48000);
  EXPECT_EQ(dialog.ClockResults->rowCount(), 9);
  dialog.LockDACFs->click();
  EXPECT_TRUE(dialog.DACSampleRate->isEnabled());
  Type(dialog.ADCSampleRate, "44100");
  EXPECT_EQ(dialog.DACSampleRate->text(), "48000");
  // Text that does not convert keeps the rate.
  Type(dialog.ADCSampleRate, "fast");
  EXPECT_EQ(dialog.ADCSampleRate->text(), "44100");
}

TEST(DConfTest, LockedRatesNeverPairWithSolutionsPastTheDacSidesOwnList) {
  TDConf dialog;
  ASSERT_EQ(dialog.ClockResults->rowCount(), 11);
  // The DAC side now needs M x OSR >= 384: fewer solutions than the ADC side.
  Type(dialog.DACInstructions, "384");
  const int dacCount = dialog.DacClock().SolutionCount();
  ASSERT_LT(dacCount, dialog.AdcClock().SolutionCount());
  const int rows = dialog.ClockResults->rowCount();
  ASSERT_GT(rows, 0);
  for (int i = 0; i < rows && dialog.SelectedRow() != 0; ++i) EXPECT_LT(dialog.PairDac(i), dacCount) << i;
}

TEST(DConfTest, EngineOsrAndInstructionsAreClampedAndRecomputed) {
  TDConf dialog;
  Type(dialog.DAC_DSP_OSR, "500");
  EXPECT_EQ(dialog.DAC_DSP_OSR->text(), "128");
  EXPECT_EQ(dialog.dacEngineOSR, 128);
  Type(dialog.DAC_DSP_OSR, "3");  // 128 instructions are no multiple of 3: no DAC side
  EXPECT_EQ(dialog.ResultText->text(), TDConf::kNotSupported);
  Type(dialog.DAC_DSP_OSR, "4");
  EXPECT_EQ(dialog.ResultText->text(), "Clock configuration:");
  Type(dialog.ADCInstructions, "130");
  EXPECT_EQ(dialog.ResultText->text(), TDConf::kNotSupported);
  EXPECT_EQ(dialog.SelectedRow(), 0);
}

TEST(DConfTest, ADacOnlyCodecHidesTheAdcSide) {
  TDConf dialog;
  dialog.SetCodecName("QMX7DAC");
  EXPECT_TRUE(dialog.ADCGroup->isHidden());
  EXPECT_EQ(dialog.DACGroup->x(), dialog.ADCGroup->x());
  EXPECT_TRUE(dialog.DACSampleRate->isEnabled());
  for (QWidget* w : std::initializer_list<QWidget*>{dialog.LockDACFs, dialog.DOUTTristate, dialog.Offset,
                                                     dialog.LoopbackGroupBox})
    EXPECT_TRUE(w->isHidden());
  Type(dialog.DACSampleRate, "48000");
  EXPECT_EQ(dialog.adcRate, 48000);
  TAdvancedClock* advanced = dialog.AdvancedClock();
  EXPECT_TRUE(advanced->ADCGroup->isHidden());
  EXPECT_EQ(advanced->DACGroup->x(), 124);
  EXPECT_FALSE(advanced->DACPathImage->isHidden());
  EXPECT_TRUE(advanced->ADC_DACPathImage->isHidden());
  dialog.SetCodecName("QMX7XXXEVM");
  EXPECT_FALSE(dialog.ADCGroup->isHidden());
  EXPECT_EQ(advanced->DACGroup->x(), 220);
}

TEST(DConfTest, TheAdvancedRatesAreWholeHertzOfTheExactClock) {
  TDConf dialog;
  TAdvancedClock* advanced = dialog.AdvancedClock();
  advanced->InputFrequency->setText("12000000");
  advanced->PLLPower->setChecked(false);
  advanced->UpdateRates();
  EXPECT_EQ(advanced->CODEC_CLKIN->text(), "12000000");
  advanced->P->setText("1");
  advanced->R->setText("1");
  advanced->J->setText("7");
  advanced->D->setText("5264");
  advanced->PLLPower->setChecked(true);
  advanced->UpdateRates();
  EXPECT_EQ(advanced->CODEC_CLKIN->text(), "90316800");
  // A D that does not convert keeps the previous one.
  advanced->d = 5264;
  Type(advanced->D, "abc");
  EXPECT_EQ(advanced->D->text(), "5264");
}

TEST(DConfTest, TheObjectThatOpenedTheDialogIsLitWhileItIsActive) {
  TProximityTimer timer;
  const float corners[6] = {0, 0, 10, 10, 0, 0};
  TGUIRectangle object(corners, 1, 0);
  object.SetMode(1, &timer);
  TDConf dialog;
  dialog.SetHighlightObject(&object);
  dialog.FormActivate();
  EXPECT_EQ(object.GetMode(), 2);
  dialog.show();
  dialog.hide();
  EXPECT_EQ(object.GetMode(), 1);
}

}  // namespace
