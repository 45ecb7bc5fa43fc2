// The codec plug-in's clock dialogs in the kit's board window, through the
// real module: the clock page's "CLK" object opens "Digital Configuration",
// a double-clicked solution programs the emulated codec's clock registers,
// and the advanced dialog's hand edits are written at once.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <pugixml.hpp>

#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "quillbus/quillbus.h"
#include "tests/host/host_support.h"

namespace {

using namespace hosttest;

class CodecDialogsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    UseBoardKit();
    StartSmallWindows();
    area_.resize(1200, 900);
    area_.show();
    ASSERT_TRUE(list_.load_file(dir_.File("EVM.xml").c_str()));
    form_ = OpenBoardWindow(&area_, list_.document_element().child("QMX7XXXEVM"), true);
    ASSERT_NE(form_->GetPluginInstance(), nullptr);
  }

  // Clicks the current page's object of `function` where it is drawn.
  void ClickObject(const std::string& function) {
    TBlockDiagram* page = form_->CurrentPage();
    for (unsigned i = 0; i < page->ObjectCount(); ++i) {
      TGUIObject* object = page->Object(i);
      if (object->GetFunctionName() != function) continue;
      const TPointF a = object->GetPlacedPoint(0), b = object->GetPlacedPoint(1);
      QTest::mouseClick(form_->BlockDiagramPaintBox, Qt::LeftButton, {},
                        QPoint(int((a.x + b.x) / 2), int((a.y + b.y) / 2)));
      PumpEvents();
      return;
    }
    ADD_FAILURE() << "no " << function << " object";
  }

  static QWidget* Shown(const char* caption) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowTitle() == caption) return w;
    return nullptr;
  }
  QWidget* OpenDigitalSetup() {
    ClickObject("DConf");
    EXPECT_EQ(form_->CurrentPage(), form_->ClockPage());
    ClickObject("CLK");
    return Shown("Digital Configuration");
  }
  template <class W>
  static W* Find(QWidget* dialog, const char* name) {
    W* w = dialog ? dialog->findChild<W*>(name) : nullptr;
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
    PumpEvents();
  }
  static void DoubleClickRow(QTableWidget* grid, int row) {
    const QPoint at = grid->visualItemRect(grid->item(row, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    PumpEvents();
  }
  static int Reg(int reg) { return QuillbusGetRegister(0, 0x30, 0, 0, reg); }
  // Register writes since the mark as "first register: bytes".
  std::vector<std::string> Writes() {
    std::vector<std::string> out;
    for (const std::string& c : trace_.Commands())
      if (c.size() > 17 && c.compare(6, 2, "05") == 0 && c.compare(15, 2, "02") == 0) out.push_back(c.substr(21));
    return out;
  }

  pugi::xml_document list_;
  QMdiArea area_;
  TDiagramForm* form_ = nullptr;
  BoardTrace trace_{dir_.File("trace.txt")};
};

TEST_F(CodecDialogsTest, TheViewMenuOffersThePluginForms) {
  std::vector<std::string> captions;
  for (QAction* item : form_->PluginMenuItems()) captions.push_back(item->text().toStdString());
  EXPECT_EQ(captions, (std::vector<std::string>{"Digital Setup...", "Audio Outputs...", "SAR ADC...", "DAC Filter..."}));
  form_->PluginMenuItems()[0]->trigger();
  EXPECT_NE(Shown("Digital Configuration"), nullptr);
}

TEST_F(CodecDialogsTest, AChosenSolutionProgramsTheClockRegistersAndTheDividersOnce) {
  QWidget* dialog = OpenDigitalSetup();
  ASSERT_NE(dialog, nullptr);
  // The board reported 48000 Hz: the dialog asks for it.
  EXPECT_EQ(Find<QLineEdit>(dialog, "ADCSampleRate")->text(), "48000");
  EXPECT_EQ(Find<QLabel>(dialog, "ResultText")->text(), "Clock configuration:");
  auto* grid = Find<QTableWidget>(dialog, "ClockResults");
  ASSERT_EQ(grid->rowCount(), 9);
  EXPECT_EQ(grid->item(5, 3)->text(), "8");     // J
  EXPECT_EQ(grid->item(5, 4)->text(), "1920");  // D
  trace_.Mark();
  DoubleClickRow(grid, 5);  // P 1, R 1, J 8, D 1920, N 4, M 4, OSR 128
  EXPECT_TRUE(dialogs_.confirmations.empty());
  const std::vector<std::string> first = {
      "04 03 91 08 07 80",         // PLL: MCLK, on, P 1, R 1, J 8, D 1920
      "12 84", "13 84", "14 00 80", "16 20", "17 04",  // ADC: N, M, OSR, instructions, engine OSR
      "0B 84", "0C 84", "0D 00 80", "0F 20", "10 04",  // DAC
  };
  EXPECT_EQ(Writes(), first);
  EXPECT_EQ(Reg(6), 8);
  EXPECT_EQ(Reg(19), 0x84);
  // Again: the PLL is written again, the dividers are not.
  trace_.Mark();
  DoubleClickRow(grid, 5);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"04 03 91 08 07 80"}));
}

TEST_F(CodecDialogsTest, ARateOtherThanTheBoardsAsksFirstAndCancelWritesNothing) {
  QWidget* dialog = OpenDigitalSetup();
  ASSERT_NE(dialog, nullptr);
  Type(Find<QLineEdit>(dialog, "ADCSampleRate"), "44100");
  // Locked: the DAC rate follows.
  EXPECT_EQ(Find<QLineEdit>(dialog, "DACSampleRate")->text(), "44100");
  auto* grid = Find<QTableWidget>(dialog, "ClockResults");
  ASSERT_EQ(grid->rowCount(), 11);
  trace_.Mark();
  dialogs_.confirm = false;
  DoubleClickRow(grid, 0);
  ASSERT_EQ(dialogs_.confirmations.size(), 1u);
  EXPECT_EQ(dialogs_.confirmations[0],
            "Warning: Sample rate doesn't match USB sample rate.\nClick OK to program EVM with new sample rate.");
  EXPECT_TRUE(Writes().empty());
  dialogs_.confirm = true;
  DoubleClickRow(grid, 0);
  EXPECT_FALSE(Writes().empty());
  EXPECT_EQ(Reg(7), 560 >> 8);
  // Instructions that are no multiple of the engine OSR: nothing to offer.
  Type(Find<QLineEdit>(dialog, "ADCInstructions"), "130");
  EXPECT_EQ(Find<QLabel>(dialog, "ResultText")->text(),
            "This Sample Rate and Input Clock combination is not supported");
  EXPECT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->item(0, 0)->text(), "N/A");
}

TEST_F(CodecDialogsTest, AHandEditOfJInTheAdvancedDialogIsWrittenAtOnce) {
  QWidget* dialog = OpenDigitalSetup();
  ASSERT_NE(dialog, nullptr);
  QTest::mouseClick(Find<QPushButton>(dialog, "AdvancedClockButton"), Qt::LeftButton);
  PumpEvents();
  QWidget* advanced = Shown("Advanced Clock Settings");
  ASSERT_NE(advanced, nullptr);
  // The first pair fills it: J 7, D 6800, N 3, M 5 at 12 MHz.
  EXPECT_EQ(Find<QLineEdit>(advanced, "J")->text(), "7");
  EXPECT_EQ(Find<QLabel>(advanced, "CODEC_CLKIN")->text(), "92160000");
  EXPECT_EQ(Find<QLabel>(advanced, "ADCSampleRate")->text(), "48000");
  trace_.Mark();
  Type(Find<QLineEdit>(advanced, "J"), "64");  // bounded to 63
  EXPECT_EQ(Find<QLineEdit>(advanced, "J")->text(), "63");
  EXPECT_EQ(Reg(6), 63);
  const auto writes = Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0].substr(0, 11), "04 03 91 3F") << writes[0];
  // The grid now holds the one hand-made configuration.
  EXPECT_EQ(Find<QTableWidget>(dialog, "ClockResults")->rowCount(), 1);
  // Unchecking NADC's power shows no ADC rate and clears the power bit.
  QTest::mouseClick(Find<QCheckBox>(advanced, "NADCPower"), Qt::LeftButton);
  PumpEvents();
  EXPECT_EQ(Find<QLabel>(advanced, "ADCSampleRate")->text(), "N/A");
  EXPECT_EQ(Reg(18), 3);
}

TEST_F(CodecDialogsTest, BitClockAndClockOutputRegistersOfTheAdvancedDialog) {
  QWidget* dialog = OpenDigitalSetup();
  ASSERT_NE(dialog, nullptr);
  QTest::mouseClick(Find<QPushButton>(dialog, "AdvancedClockButton"), Qt::LeftButton);
  QWidget* advanced = Shown("Advanced Clock Settings");
  ASSERT_NE(advanced, nullptr);
  auto* divider = Find<QLineEdit>(advanced, "BCLKDivider");
  Type(divider, "128");
  EXPECT_EQ(Reg(30) & 0x7F, 0);
  Type(divider, "5");
  EXPECT_EQ(Reg(30) & 0x7F, 5);
  // A refresh of the page shows what the registers hold.
  QuillbusSetRegister(0, 0x30, 0, 0, 30, 0x80);
  form_->RefreshClick();
  EXPECT_EQ(divider->text(), "128");
  EXPECT_TRUE(Find<QCheckBox>(advanced, "BCLKDividerPower")->isChecked());
  // DOUT as clock output destination: register 53 bits 3:1 only.
  const int before51 = Reg(51), before52 = Reg(52), before55 = Reg(55);
  auto* destination = Find<QComboBox>(advanced, "CLKOUTDestination");
  destination->setCurrentIndex(2);
  emit destination->activated(2);
  EXPECT_EQ(Reg(53) & 0x0E, 0x06);
  EXPECT_EQ(Reg(51), before51);
  EXPECT_EQ(Reg(52), before52);
  EXPECT_EQ(Reg(55), before55);
}

TEST_F(CodecDialogsTest, TheAudioInterfaceTabWritesItsRegisters) {
  QWidget* dialog = OpenDigitalSetup();
  ASSERT_NE(dialog, nullptr);
  auto* format = Find<QComboBox>(dialog, "InterfaceFormat");
  format->setCurrentIndex(1);
  emit format->activated(1);
  EXPECT_EQ(Reg(27) >> 6, 1);
  Type(Find<QLineEdit>(dialog, "Offset"), "300");  // bounded to 255
  EXPECT_EQ(Reg(28), 255);
  QTest::mouseClick(Find<QCheckBox>(dialog, "DLoopback"), Qt::LeftButton);
  EXPECT_EQ(Reg(29) & 0x20, 0x20);
  // And a register read back moves the controls.
  QuillbusSetRegister(0, 0x30, 0, 0, 27, 0x30);
  form_->RefreshClick();
  EXPECT_EQ(Find<QComboBox>(dialog, "Wordlength")->currentText(), "32 bits");
  EXPECT_EQ(format->currentIndex(), 0);
}

}  // namespace
