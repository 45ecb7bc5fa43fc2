// The kit's widgets in a board window on the emulated board: gain boxes and
// slider windows, script buttons, the processing-block window, the routing
// crossbar and the pin selectors, seen in the emulator's packet trace and
// its registers, and a screenshot of every page with its controls.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <QSlider>
#include <QTest>
#include <algorithm>

#include "diagram/amplifier.h"
#include "diagram/pin_select.h"
#include "diagram/processing_blocks.h"
#include "diagram/routing.h"
#include "diagram/script_button.h"
#include "tests/host/diagram_pages_fixture.h"

using namespace hosttest;

namespace {

class DiagramWidgetsTest : public DiagramPagesTest {
 protected:
  // The widget of that kind and id on the current page (objects without an
  // id of their own are numbered from 1 and may share it).
  template <class Widget>
  static Widget* Find(TDiagramForm* form, int id) {
    TBlockDiagram* page = form->CurrentPage();
    for (unsigned i = 0; page && i < page->ObjectCount(); ++i) {
      auto* widget = dynamic_cast<Widget*>(page->Object(i));
      if (widget && page->Object(i)->GetID() == id) return widget;
    }
    return nullptr;
  }
  static int Register(int page, int reg) { return QuillbusGetRegister(0, 0x30, 0, page, reg); }
  // Whether the trace since Mark() holds a write of `value` to `reg`.
  bool Wrote(int reg, uint8_t value) {
    const auto writes = Writes();
    return std::find(writes.begin(), writes.end(), WriteHex(reg, value)) != writes.end();
  }
  // A page of one gain stage on register 65 whose law counts from 1, -10 to
  // 10 dB in steps of 1, with a Mute box.
  TAmplifier* OpenGainCountingFromOne(TDiagramForm*& form) {
    testsupport::WriteFile(dir_.File("gain.svg"),
                           "<svg width='400' height='300'><metadata><I2CAddress>0x30</I2CAddress></metadata>"
                           "<polygon ID='7001' points='100,100 100,160 160,130' function='amplifier' min='-10'"
                           " max='10' step='1' I2CPage='0' I2CRegister='65' Mask='0x1F' Shift='0'"
                           " CustomGain='32622' ShowMute='1' TextLocation='0,-24'/></svg>");
    form = Open("B", "<L><B Diagram-1='gain.svg'/></L>");
    return Find<TAmplifier>(form, 7001);
  }
  int WritesOf(int reg) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", reg);
    int n = 0;
    for (const std::string& w : Writes()) n += w.compare(21, 2, hex) == 0;
    return n;
  }
};

}  // namespace

TEST_F(DiagramWidgetsTest, TheGainBoxWritesItsAmplifiersRegister) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  auto* amp = Find<TAmplifier>(form, 1015);
  ASSERT_NE(amp, nullptr);
  QLineEdit* edit = amp->GetEdit();
  // On its page's control layer, which scrolls with the page.
  ASSERT_EQ(edit->parentWidget(), form->CurrentPage()->ControlLayer());
  ASSERT_EQ(edit->parentWidget()->parentWidget(), form->BlockDiagramPaintBox);
  ASSERT_TRUE(edit->isVisible());
  const struct {
    const char* text;
    uint8_t code;  // signed, step 0.5
  } cases[] = {{"-6", 0xF4}, {"3.7", 0x07}, {"abc", 0x07}, {"99", 0x07}};
  for (const auto& c : cases) {
    Mark();
    edit->selectAll();
    QTest::keyClicks(edit, c.text);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(Register(0, 65), c.code) << c.text;
    EXPECT_EQ(Writes().back(), WriteHex(65, c.code)) << c.text;
    EXPECT_EQ(WritesOf(65), 1) << c.text;
  }
  // The board's value read back moves the box and the slider.
  QuillbusSetRegister(0, 0x30, 0, 0, 65, 0xFC);
  form->RefreshClick();
  EXPECT_EQ(edit->text(), "-2");
  EXPECT_EQ(amp->GetSlider()->GetPosition(), int((-2 + 63.5) / 0.5));
}

TEST_F(DiagramWidgetsTest, TheSliderWindowGangsLockedAmplifiers) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  auto* left = Find<TAmplifier>(form, 1015);
  auto* right = Find<TAmplifier>(form, 1016);
  ASSERT_TRUE(left && right);
  // A click on the triangle opens its slider window, with the Lock box (it has links).
  const TPointF a = left->GetPlacedPoint(0), b = left->GetPlacedPoint(1), c = left->GetPlacedPoint(2);
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {},
                    QPoint(int((a.x + b.x + c.x) / 3), int((a.y + b.y + c.y) / 3)));
  TSliderForm* slider = left->GetSlider();
  ASSERT_TRUE(slider->isVisible());
  ASSERT_TRUE(slider->Lock->isVisible());
  EXPECT_EQ(slider->height(), TSliderForm::kLockedHeight);
  Mark();
  QTest::mouseClick(slider->Lock, Qt::LeftButton, {}, QPoint(5, 8));
  EXPECT_TRUE(left->GetLock());
  EXPECT_EQ(Register(0, 66), Register(0, 65));
  Mark();
  QTest::keyClick(slider->Volume, Qt::Key_PageDown);  // toward the top: louder
  EXPECT_EQ(WritesOf(65), 1);
  EXPECT_EQ(WritesOf(66), 1);
  EXPECT_EQ(Register(0, 66), Register(0, 65));
  EXPECT_FLOAT_EQ(right->GetGain(), left->GetGain());
}

TEST_F(DiagramWidgetsTest, MuteAndPowerBoxesBesideTheHeadphoneGain) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  auto* amp = Find<TAmplifier>(form, 1021);
  ASSERT_NE(amp, nullptr);
  QCheckBox* mute = amp->GetMuteBox();
  ASSERT_TRUE(mute->isVisible());
  ASSERT_TRUE(amp->GetPowerBox()->isVisible());
  EXPECT_GT(amp->GetPowerBox()->y(), mute->y());
  Mark();
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(7, 8));
  EXPECT_FALSE(amp->GetEdit()->isVisible());
  EXPECT_EQ(amp->GetMode(), 0);
  EXPECT_EQ(WritesOf(40), 1);  // the gain written again, on page 1
  // Another page hides the boxes; coming back shows them.
  form->DisplayPlaybackClick();
  EXPECT_FALSE(mute->isVisible());
  form->DisplayFullClick();
  EXPECT_TRUE(mute->isVisible());
}

// Muting the headphone gain hides its gain box and draws "Mute" and "Power"
// beside the boxes in its place, at once; unmuting takes them away again.
// Muted, the widget is inert, so the window draws it into the background:
// a later rebuild of the foreground keeps it and its captions.
TEST_F(DiagramWidgetsTest, TheMuteCaptionsComeAndGoWithTheMuteBox) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  auto* amp = Find<TAmplifier>(form, 1021);
  ASSERT_NE(amp, nullptr);
  QCheckBox* mute = amp->GetMuteBox();
  QCheckBox* power = amp->GetPowerBox();
  ASSERT_TRUE(mute->isVisible() && power->isVisible());
  ASSERT_EQ(mute->parentWidget()->pos(), QPoint(0, 0));  // the layer: paint box coordinates
  // Dark pixels of the page where a box's caption goes.
  auto ink = [&](QCheckBox* box) {
    const QImage& image = form->Foreground()->Image();
    int n = 0;
    for (int y = box->y(); y < box->y() + 14; ++y)
      for (int x = box->x() + box->width() + 3; x < box->x() + box->width() + 53; ++x)
        n += QColor(image.pixel(x, y)).lightness() < 100;
    return n;
  };
  // The triangle's left edge.
  auto outline = [&] {
    const QImage& image = form->Foreground()->Image();
    const TPointF a = amp->GetPlacedPoint(0), b = amp->GetPlacedPoint(1);
    int darkest = 255;
    for (int x = int(a.x) - 2; x <= int(a.x) + 2; ++x)
      darkest = std::min(darkest, QColor(image.pixel(x, int((a.y + b.y) / 2))).lightness());
    return darkest;
  };
  const int bareMute = ink(mute), barePower = ink(power);
  ASSERT_LT(outline(), 200);
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(7, 8));
  ASSERT_TRUE(mute->isChecked());
  EXPECT_GT(ink(mute), bareMute + 10);
  EXPECT_GT(ink(power), barePower + 10);
  TDiagramForm::ObjectEvent(form, nullptr, kEventHoverEnded);  // the foreground rebuilt
  EXPECT_GT(ink(mute), bareMute + 10);
  EXPECT_LT(outline(), 200);
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(7, 8));
  ASSERT_FALSE(mute->isChecked());
  EXPECT_EQ(ink(mute), bareMute);
  EXPECT_EQ(ink(power), barePower);
  TDiagramForm::ObjectEvent(form, nullptr, kEventHoverEnded);
  EXPECT_EQ(ink(mute), bareMute);
  EXPECT_LT(outline(), 200);
}

// A gain stage whose law counts from 1 reads code 0 as silence: muted, it
// takes no click. Once the board's register holds a gain again it shows it
// and answers a click on its triangle, and its slider writes.
TEST_F(DiagramWidgetsTest, AGainStageUnmutedByItsRegisterTakesClicksAgain) {
  TDiagramForm* form = nullptr;
  TAmplifier* amp = OpenGainCountingFromOne(form);
  ASSERT_NE(amp, nullptr);
  const TPointF a = amp->GetPlacedPoint(0), b = amp->GetPlacedPoint(1), c = amp->GetPlacedPoint(2);
  const QPoint inside(int((a.x + b.x + c.x) / 3), int((a.y + b.y + c.y) / 3));
  QWidget* box = form->BlockDiagramPaintBox;
  // Both bitmaps as a whole redraw draws them.
  auto drawnAsAWhole = [&] {
    const QImage front = form->Foreground()->Image().copy(), back = form->Background()->Image().copy();
    form->Redraw();
    return form->Foreground()->Image() == front && form->Background()->Image() == back;
  };

  QuillbusSetRegister(0, 0x30, 0, 0, 65, 0);
  form->RefreshClick();
  ASSERT_TRUE(amp->GetMuteBox()->isChecked());
  EXPECT_FALSE(amp->GetEdit()->isVisible());
  EXPECT_TRUE(drawnAsAWhole());
  Mark();
  QTest::mouseClick(box, Qt::LeftButton, {}, inside);
  EXPECT_FALSE(amp->HasSlider() && amp->GetSlider()->isVisible());
  EXPECT_TRUE(Writes().empty());

  QuillbusSetRegister(0, 0x30, 0, 0, 65, 6);  // -5 dB
  form->RefreshClick();
  ASSERT_FALSE(amp->GetMuteBox()->isChecked());
  EXPECT_TRUE(amp->GetEdit()->isVisible());
  EXPECT_EQ(amp->GetEdit()->text(), "-5");
  EXPECT_TRUE(drawnAsAWhole());
  QTest::mouseClick(box, Qt::LeftButton, {}, inside);
  ASSERT_TRUE(amp->HasSlider());
  TSliderForm* slider = amp->GetSlider();
  ASSERT_TRUE(slider->isVisible());
  EXPECT_EQ(slider->GetPosition(), 5);
  Mark();
  QTest::keyClick(slider->Volume, Qt::Key_PageUp);  // two steps louder
  EXPECT_FLOAT_EQ(amp->GetGain(), -3);
  EXPECT_EQ(Writes(), (std::vector<std::string>{WriteHex(65, 8)}));
  EXPECT_EQ(Register(0, 65), 8);
}

// A gain stage whose law counts from 1 converts every code it reads or
// writes with its Mute box unticked and its edit shown: ticking the box
// writes the gain's own code, and the register read back unticks it. The
// stage stays as it was: the gain shown, clickable, its slider writing.
TEST_F(DiagramWidgetsTest, AGainStageCountingFromOneTakesNoMuteTick) {
  TDiagramForm* form = nullptr;
  TAmplifier* amp = OpenGainCountingFromOne(form);
  ASSERT_NE(amp, nullptr);
  QuillbusSetRegister(0, 0x30, 0, 0, 65, 6);  // -5 dB
  form->RefreshClick();
  QCheckBox* mute = amp->GetMuteBox();
  ASSERT_TRUE(mute->isVisible());
  ASSERT_FALSE(mute->isChecked());
  Mark();
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(7, mute->height() / 2));
  EXPECT_FALSE(mute->isChecked());
  EXPECT_EQ(Writes(), (std::vector<std::string>{WriteHex(65, 6)}));
  EXPECT_EQ(Register(0, 65), 6);
  EXPECT_TRUE(amp->GetEdit()->isVisible());
  EXPECT_EQ(amp->GetEdit()->text(), "-5");
  EXPECT_EQ(amp->GetMode(), 1);
  const TPointF a = amp->GetPlacedPoint(0), b = amp->GetPlacedPoint(1), c = amp->GetPlacedPoint(2);
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {},
                    QPoint(int((a.x + b.x + c.x) / 3), int((a.y + b.y + c.y) / 3)));
  ASSERT_TRUE(amp->HasSlider());
  ASSERT_TRUE(amp->GetSlider()->isVisible());
  Mark();
  QTest::keyClick(amp->GetSlider()->Volume, Qt::Key_PageUp);
  EXPECT_EQ(Writes(), (std::vector<std::string>{WriteHex(65, 8)}));
}

TEST_F(DiagramWidgetsTest, TheRadioPairOfScriptButtonsRunsItsScriptsOnTheBoard) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  // The default button's script ran once the board was held: headphones on.
  EXPECT_EQ(Register(1, 31), 0x30);
  auto* headphone = Find<TScriptButton>(form, 1050);
  auto* lineOut = Find<TScriptButton>(form, 1051);
  ASSERT_TRUE(headphone && lineOut);
  EXPECT_TRUE(headphone->IsOn());
  const TPointF a = lineOut->GetPlacedPoint(0), b = lineOut->GetPlacedPoint(1);
  Mark();
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, QPoint(int(a.x + 10), int((a.y + b.y) / 2)));
  EXPECT_TRUE(lineOut->IsOn());
  EXPECT_FALSE(headphone->IsOn());
  EXPECT_EQ(Register(1, 31), 0x00);
  EXPECT_EQ(Register(1, 51), 0x03);
  // The partner's off-script first, then the own on-script.
  const auto writes = Writes();
  const auto off = std::find(writes.begin(), writes.end(), WriteHex(0x1F, 0x00));
  const auto on = std::find(writes.begin(), writes.end(), WriteHex(0x33, 0x03));
  ASSERT_NE(off, writes.end());
  ASSERT_NE(on, writes.end());
  EXPECT_LT(off - writes.begin(), on - writes.begin());
  // Clicking the button that is on sends nothing.
  Mark();
  QTest::mouseClick(form->BlockDiagramPaintBox, Qt::LeftButton, {}, QPoint(int(a.x + 10), int((a.y + b.y) / 2)));
  EXPECT_EQ(WritesOf(0x33), 0);
}

TEST_F(DiagramWidgetsTest, ASimulatedWindowLogsTheLoadTimeScriptsAsNotSent) {
  Open("QMX7XXXEVM", "", false);
  EXPECT_EQ(LogCount("QMX7XXX\\Page1.svg: script button script HeadphoneOn.cfg not sent: no board"), 1);
  EXPECT_EQ(LogCount("QMX7XXX\\Page1.svg: script button script LineOutOff.cfg not sent: no board"), 1);
}

TEST_F(DiagramWidgetsTest, ProcessingBlocksOpenFromViewAndFollowRegister60) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->ProcessingBlocks1->trigger();
  TPBForm* blocks = form->ProcessingBlocks();
  ASSERT_TRUE(blocks->isVisible());
  EXPECT_EQ(blocks->windowTitle(), "Processing Blocks");
  QuillbusSetRegister(0, 0x30, 0, 0, 60, 0x99);
  form->RefreshClick();
  EXPECT_EQ(blocks->PBListBox->currentRow(), 24);
  QuillbusSetRegister(0, 0x30, 0, 0, 60, 0xE5);
  form->RefreshClick();
  EXPECT_EQ(blocks->PBListBox->currentRow(), 4);
  Mark();
  QListWidget* list = blocks->PBListBox;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
  EXPECT_EQ(Writes(), (std::vector<std::string>{WriteHex(60, 0xE3)}));
  EXPECT_EQ(Register(0, 60), 0xE3);
  // A row chosen with the arrow keys is written too.
  Mark();
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(list->currentRow(), 3);
  EXPECT_EQ(Writes(), (std::vector<std::string>{WriteHex(60, 0xE4)}));
  EXPECT_EQ(Register(0, 60), 0xE4);
}

TEST_F(DiagramWidgetsTest, TheCrossbarConnectsWithTwoClicks) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->DisplayPlaybackClick();
  auto* crossbar = Find<TDIRSelect>(form, 2034);
  ASSERT_NE(crossbar, nullptr);
  const TPointF a = crossbar->GetPlacedPoint(0), b = crossbar->GetPlacedPoint(1);
  const float s = crossbar->GetScale();
  auto at = [&](bool left, float y) { return QPoint(int(left ? a.x + 4 : b.x - 4), int(a.y + y * s)); };
  QWidget* box = form->BlockDiagramPaintBox;
  QTest::mouseMove(box, QPoint(2, 2));
  QTest::mouseMove(box, at(true, 120));
  ASSERT_TRUE(WaitFor([&] { return crossbar->GetFadeState() == kFadeLit; }));
  QTest::mouseMove(box, at(true, 121));
  EXPECT_EQ(crossbar->GetHoverMode(), 2);
  QTest::mouseClick(box, Qt::LeftButton, {}, at(true, 121));
  EXPECT_EQ(crossbar->GetHoverMode(), 3);
  QTest::mouseMove(box, at(false, 146));
  Mark();
  QTest::mouseClick(box, Qt::LeftButton, {}, at(false, 146));
  EXPECT_EQ(crossbar->GetSelectedSource(1), 2u);
  EXPECT_EQ(Register(1, 55) & 0x0F, 2);
  EXPECT_FALSE(Writes().empty());
  // A register naming a fifth source of four shows the destination unconnected.
  QuillbusSetRegister(0, 0x30, 0, 1, 54, 0x07);
  form->RefreshClick();
  EXPECT_EQ(crossbar->GetSelectedSource(0), TDIRSelect::kUnconnected);
  EXPECT_EQ(crossbar->GetSelectedSource(1), 2u);
}

TEST_F(DiagramWidgetsTest, APinSelectorWritesItsCodeAndModeOverTheCodecsPage31) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  form->DisplayPlaybackClick();
  auto* pin = Find<TPinSelect>(form, 5200);
  auto* other = Find<TPinSelect>(form, 6200);
  ASSERT_TRUE(pin && other);
  QComboBox* combo = pin->GetCombo();
  ASSERT_TRUE(combo->isVisible());
  EXPECT_EQ(pin->GetSelection(), "N/A");  // nothing programmed yet
  const int sclk = combo->findText("SCLK");
  ASSERT_GT(sclk, 0);
  {
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(sclk - 1);
  }
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(Register(31, 31) & 0xE0, 1 << 5);
  EXPECT_EQ(Register(31, 56) & 0x04, 0x04);
  EXPECT_EQ(other->GetCombo()->findText("SCLK"), -1);
  // A change of a mode register in the image reaches the pins (they watch
  // 31..58): a code without a valid mode shows "N/A".
  uint8_t* mode = form->GetLink()->GetRegisterImage(0, 0, 31, 56);
  ASSERT_NE(mode, nullptr);
  *mode = 0x06;
  form->UpdateObjects(0, 31, 56, false);
  EXPECT_EQ(pin->GetSelection(), "SCLK");
  *mode = 0x00;
  form->UpdateObjects(0, 31, 56, false);
  EXPECT_EQ(pin->GetSelection(), "N/A");
}

TEST_F(DiagramWidgetsTest, EveryKitPageWithItsControls) {
  TDiagramForm* form = Open("QMX7XXXEVM");
  for (int i = 0; i < form->PageCount(); ++i) {
    form->SelectDiagram(i);
    PumpEvents();
    const QImage image = form->BlockDiagramPaintBox->grab().toImage();
    const std::string name = "page" + std::to_string(i + 1);
    EXPECT_TRUE(image.save(QString(HOST_TEST_OUTPUT_DIR "/QMX7XXXEVM-widgets-") + name.c_str() + ".png")) << name;
    if (i == 0) {
      // The gain box is drawn over the page, white inside; the "Headphone" button is on: green.
      QLineEdit* edit = Find<TAmplifier>(form, 1015)->GetEdit();
      EXPECT_EQ(image.pixelColor(edit->geometry().topLeft() + QPoint(3, 3)), QColor(Qt::white)) << name;
      auto* button = Find<TScriptButton>(form, 1050);
      const TPointF a = button->GetPlacedPoint(0), b = button->GetPlacedPoint(1);
      EXPECT_EQ(image.pixelColor(int(a.x + 8), int((a.y + b.y) / 2)), QColor(64, 255, 64)) << name;
    } else {
      // The pin selectors' boxes.
      QComboBox* combo = Find<TPinSelect>(form, 5200)->GetCombo();
      const QColor inside = image.pixelColor(combo->geometry().center() + QPoint(-20, 0));
      EXPECT_NE(inside, image.pixelColor(combo->geometry().topLeft() - QPoint(4, 4))) << name;
    }
  }
}

TEST_F(DiagramWidgetsTest, TheClockPagesControlsShowOnlyWithIt) {
  testsupport::WriteFile(dir_.File("clockbox.svg"),
                         "<svg width='400' height='300'><metadata><I2CAddress>0x30</I2CAddress></metadata>"
                         "<rect x='10' y='10' width='14' height='14' function='CheckBox' Bit='1' I2CPage='0'"
                         " I2CRegister='20' Caption='PLL'/></svg>");
  TDiagramForm* form = Open("B", "<L><B Diagram-1='QMX7XXX\\Page2.svg' Diagram-Clock='clockbox.svg'/></L>", false);
  auto* box = dynamic_cast<TPlCheckBox*>(form->ClockPage()->Object(0));
  ASSERT_NE(box, nullptr);
  EXPECT_FALSE(box->GetControl()->isVisible());
  const float corners[4] = {0, 0, 10, 10};
  TGUIRectangle dconf(corners, 1, 0);
  dconf.SetFunctionName("DConf");
  form->ObjectClicked(&dconf);
  EXPECT_TRUE(box->GetControl()->isVisible());
  EXPECT_FALSE(Find<TPinSelect>(form, 5200) || form->Page(0)->Object(0)->IsVisible());
}
