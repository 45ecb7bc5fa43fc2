// The element factory: element + `function` -> class, its settings, and
// how its register window is bound and registered.
#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

#include "common/image_hint.h"
#include "diagram/amplifier.h"
#include "diagram/bit_widgets.h"
#include "diagram/coefficient_slider.h"
#include "diagram/data_readouts.h"
#include "diagram/pin_select.h"
#include "diagram/routing.h"
#include "diagram/sar_data.h"
#include "diagram/script_button.h"
#include "diagram/streaming_widget.h"
#include "diagram/touch_screen.h"
#include "page_fixture.h"

using diagramtest::PageFixture;

namespace {

enum Binding { kNone, kWriteOnly, kWriteAndBlock };

struct FactoryCase {
  const char* element;
  const std::type_info& type;
  Binding binding;
  int mode;                      // after the common attributes
  int device, page, reg, count;  // of the register window, when bound
  bool refreshRequest;
};

const std::string kRect = "x=\"10\" y=\"20\" width=\"30\" height=\"40\" ";

}  // namespace

TEST(FactoryTest, ElementAndFunctionChooseTheClassAndItsBinding) {
  const std::string rect = kRect;
  const std::vector<std::pair<std::string, FactoryCase>> cases = {
      {"<rect " + rect + "/>", {"rect", typeid(TGUIRectangle), kNone, 0, 0, 0, 0, 0, false}},
      {"<rect " + rect + "function=\"unlisted\"/>", {"rect", typeid(TGUIRectangle), kNone, 1, 0, 0, 0, 0, false}},
      {"<rect " + rect + "function=\"touchscreen\"/>",
       {"touchscreen", typeid(TTouchScreen), kWriteOnly, 1, 0, 3, 0, 50, true}},
      {"<rect " + rect + "function=\"DSVoiceRecordData\"/>",
       {"DSVoice", typeid(TDSVoiceRecordData), kWriteOnly, 1, 0, 255, 6, 112, true}},
      {"<rect " + rect + "function=\"IN1IN2Data\"/>",
       {"IN1IN2", typeid(TIN1IN2Data), kWriteOnly, 1, 0, 103, 38, 1, true}},
      {"<rect " + rect + "function=\"SARData\"/>", {"SAR", typeid(TSARData), kWriteOnly, 1, 24, 3, 0, 70, true}},
      {"<rect " + rect + "function=\"toggle\" Mask=\"0x30\" Shift=\"4\" I2CPage=\"1\" I2CRegister=\"2\"/>",
       {"toggle", typeid(TToggle), kWriteOnly, 1, 0x18, 1, 2, 1, false}},
      {"<rect " + rect +
           "function=\"DIRSelect\" I2CPage=\"4\" I2CRegister=\"10\" SrcPositions=\"1 2 3\" DstPositions=\"5,6\"/>",
       {"DIRSelect", typeid(TDIRSelect), kWriteOnly, 1, 0x18, 4, 10, 2, false}},
      {"<rect " + rect + "function=\"impedance_select\" Mask=\"3\" Shift=\"0\" I2CPage=\"1\" I2CRegister=\"9\"/>",
       {"impedance", typeid(TImpedanceSelect), kWriteOnly, 1, 0x30, 1, 9, 1, false}},
      {"<rect " + rect + "function=\"switch\" Bit=\"3\" I2CPage=\"0\" I2CRegister=\"5\"/>",
       {"switch", typeid(TSwitch), kWriteOnly, 1, 0x18, 0, 5, 1, false}},
      {"<rect " + rect + "function=\"AmpSwitch\" Bit=\"3\" I2CAddress=\"0x40\" I2CPage=\"0\" I2CRegister=\"5\"/>",
       {"AmpSwitch", typeid(TAmpSwitch), kWriteOnly, 1, 0x40, 0, 5, 1, false}},
      {"<rect " + rect + "function=\"ScriptButton\"/>",
       {"ScriptButton", typeid(TScriptButton), kNone, 1, 0, 0, 0, 0, false}},
      {"<rect " + rect + "function=\"IOArrow\" Bit=\"1\" I2CPage=\"0\" I2CRegister=\"51\"/>",
       {"IOArrow", typeid(TIOArrow), kWriteOnly, 1, 0x30, 0, 51, 1, false}},
      {"<rect " + rect + "function=\"PinSelect\"/>",
       {"PinSelect", typeid(TPinSelect), kWriteOnly, 1, 0, 31, 31, 28, false}},
      {"<rect " + rect +
           "function=\"QMX7350Slider\" CoeffFile=\"c.txt\" MuteScript=\"m\" UnMuteScript=\"u\" PowerUpScript=\"p\" "
           "PowerDownScript=\"d\"/>",
       {"slider", typeid(TQMX7350Slider), kWriteOnly, 1, 0x30, 1, 0, 64, false}},
      {"<rect " + rect + "function=\"CheckBox\" Bit=\"2\" I2CPage=\"0\" I2CRegister=\"8\" Caption=\"On\"/>",
       {"CheckBox", typeid(TPlCheckBox), kWriteOnly, 1, 0x18, 0, 8, 1, false}},
      {"<polygon points=\"0,0 10,5 0,10\" function=\"amplifier\" min=\"-12\" max=\"20\" step=\"0.5\" I2CPage=\"0\" "
       "I2CRegister=\"65\" Mask=\"0x3F\" Shift=\"0\"/>",
       {"amplifier", typeid(TAmplifier), kWriteAndBlock, 1, 0x18, 0, 65, 1, false}},
      {"<polygon points=\"0,0 10,5 0,10 5,5\"/>", {"polygon", typeid(TGUIPolygon), kNone, 0, 0, 0, 0, 0, false}},
      {"<polyline points=\"0,0 10,5 0,10 5,5\"/>", {"polyline", typeid(TGUIGroup), kNone, 0, 0, 0, 0, 0, false}},
      {"<line x1=\"0\" y1=\"0\" x2=\"5\" y2=\"5\"/>", {"line", typeid(TGUILine), kNone, 0, 0, 0, 0, 0, false}},
      {"<ellipse cx=\"5\" cy=\"5\" rx=\"2\" ry=\"3\" function=\"mixer\"/>",
       {"mixer", typeid(TMixer), kNone, 1, 0, 0, 0, 0, false}},
      {"<ellipse cx=\"5\" cy=\"5\" rx=\"2\" ry=\"3\" function=\"other\"/>",
       {"ellipse", typeid(TGUIEllipse), kNone, 1, 0, 0, 0, 0, false}},
      {"<path d=\"M 0,0 L 5,5\"/>", {"path", typeid(TSVGPath), kNone, 0, 0, 0, 0, 0, false}},
      {"<path d=\"M 0,0 L 5,5\" function=\"QMX7460_RSEL\" I2CPage=\"1\" I2CRegister=\"52\" Mask=\"0x0C\" Shift=\"2\"/>",
       {"RSEL", typeid(TQMX7460RSEL), kWriteOnly, 1, 0x18, 1, 52, 1, false}},
      {"<text x=\"5\" y=\"5\"><tspan>t</tspan></text>", {"text", typeid(TGUIText), kNone, 0, 0, 0, 0, 0, false}},
      {"<text x=\"5\" y=\"5\" function=\"ImageHint\" file=\"a.jpg\" HintYOffset=\"3\"><tspan>t</tspan></text>",
       {"hint", typeid(TGUITextImageHint), kNone, 1, 0, 0, 0, 0, false}},
      {"<g><line x1=\"0\" y1=\"0\" x2=\"5\" y2=\"5\"/></g>", {"g", typeid(TGUIGroup), kNone, 0, 0, 0, 0, 0, false}},
  };
  for (const auto& [xml, c] : cases) {
    PageFixture f;
    auto page = f.Load("<metadata><I2CAddress>0x18</I2CAddress></metadata>" + xml);
    ASSERT_EQ(page->ObjectCount(), 1u) << c.element;
    TGUIObject* object = page->Object(0);
    EXPECT_EQ(typeid(*object), c.type) << c.element;
    EXPECT_EQ(object->GetMode(), c.mode) << c.element;
    auto* window = dynamic_cast<TI2CObject*>(object);
    if (c.binding == kNone) {
      EXPECT_EQ(page->RegisterWindowCount(), 0u) << c.element;
      continue;
    }
    ASSERT_NE(window, nullptr) << c.element;
    ASSERT_EQ(page->RegisterWindowCount(), 1u) << c.element;
    EXPECT_EQ(page->RegisterWindow(0), window) << c.element;
    EXPECT_EQ(window->GetUser(), &f.windowTag) << c.element;
    EXPECT_EQ(window->GetWrite(), &diagramtest::FakeWrite) << c.element;
    EXPECT_EQ(window->GetPoll(), nullptr) << c.element;
    EXPECT_EQ(window->GetBlock(), c.binding == kWriteAndBlock ? &diagramtest::FakeBlock : nullptr) << c.element;
    EXPECT_EQ(window->GetDevice(), c.device) << c.element;
    EXPECT_EQ(window->GetPage(), c.page) << c.element;
    EXPECT_EQ(window->GetFirstRegister(), c.reg) << c.element;
    EXPECT_EQ(window->GetCount(), c.count) << c.element;
    if (auto* streaming = dynamic_cast<TStreamingShape*>(object)) {
      EXPECT_EQ(streaming->GetRefreshRequest() != nullptr, c.refreshRequest) << c.element;
    }
    // Every widget with a function ends on the page's timer.
    EXPECT_EQ(object->GetProximityTimer(), page->GetProximityTimer()) << c.element;
  }
}

TEST(FactoryTest, WidgetSettingsAndDefaults) {
  PageFixture f;
  auto page = f.Load(
      "<rect " + kRect +
      "function=\"toggle\" Mask=\"0x30\" Shift=\"4\" I2CPage=\"1\" I2CRegister=\"2\"/>"
      "<rect " +
      kRect +
      "function=\"switch\" Bit=\"3\" I2CPage=\"0\" I2CRegister=\"5\"/>"
      "<rect " +
      kRect +
      "function=\"DSVoiceRecordData\"/>"
      "<rect " +
      kRect +
      "function=\"ScriptButton\"/>"
      "<rect " +
      kRect +
      "function=\"AmpSwitch\" Bit=\"3\" I2CAddress=\"5\" I2CPage=\"0\" I2CRegister=\"12\"/>"
      "<polygon points=\"0,0 10,5 0,10\" function=\"amplifier\" min=\"-12\" max=\"20\" step=\"0.5\" I2CPage=\"0\" "
      "I2CRegister=\"65\" Mask=\"0x13F\" Shift=\"0\" CustomGain=\"3\" ShowMute=\"1\" TextLocation=\"4,-6\" "
      "CustomGainValues=\"0 -6 -12\"/>"
      "<rect " +
      kRect +
      "function=\"DIRSelect\" I2CAddress=\"0x70\" I2CPage=\"0\" I2CRegister=\"10\" "
      "SrcPositions=\"1 2 3\" DstPositions=\"5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21\"/>"
      "<rect " +
      kRect + "/>");
  ASSERT_EQ(page->ObjectCount(), 8u);
  auto* toggle = dynamic_cast<TToggle*>(page->Object(0));
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(toggle->GetPositions(), 2);
  EXPECT_EQ(toggle->GetMask(), 0x30);
  EXPECT_EQ(toggle->GetHintText(), "Switch: I2C Address: 0x30, Page: 1, Register: 2, LSB: 4");
  auto* sw = dynamic_cast<TSwitch*>(page->Object(1));
  EXPECT_EQ(sw->GetDevice(), 0x30);  // the page's address
  EXPECT_EQ(sw->GetBit(), 3);
  EXPECT_EQ(sw->GetHintText(), "Switch: I2C Address: 0x30, Page: 0, Register: 5, Bit: 3");
  EXPECT_EQ(dynamic_cast<TDSVoiceRecordData*>(page->Object(2))->GetAddress(), 0);
  auto* button = dynamic_cast<TScriptButton*>(page->Object(3));
  EXPECT_EQ(button->GetOnScript(), "empty.txt");
  EXPECT_EQ(button->GetOffScript(), "empty.txt");
  EXPECT_EQ(button->GetType(), "button");
  EXPECT_FALSE(button->GetButtonState());
  EXPECT_EQ(button->GetTransfer(), &diagramtest::FakeTransfer);
  EXPECT_EQ(button->GetGPIO(), &diagramtest::FakeGPIO);
  EXPECT_EQ(page->Object(4)->GetHintText(), "Coax Amp: I2C Address: 0x 5, Register: 12, Bit: 3");
  auto* amp = dynamic_cast<TAmplifier*>(page->Object(5));
  EXPECT_EQ(amp->GetMask(), 0x3F);  // an 8-bit value
  EXPECT_EQ(amp->GetGainLaw(), 3);
  EXPECT_TRUE(amp->GetShowMute());
  EXPECT_FALSE(amp->GetShowPower());
  EXPECT_FLOAT_EQ(amp->GetTextLocation().y, -6);
  EXPECT_EQ(amp->GetGainTable(), (std::vector<float>{0, -6, -12}));
  EXPECT_EQ(amp->GetHintText(), "Amplifier: I2C Address: 0x30, Page: 0, Register: 65");
  auto* dir = dynamic_cast<TDIRSelect*>(page->Object(6));
  EXPECT_EQ(dir->GetSourceCount(), 3u);
  EXPECT_EQ(dir->GetDestinationCount(), 16u);
  EXPECT_EQ(dir->GetFirstRegister(), 0);  // device 0x70: registers 0..7
  EXPECT_EQ(dir->GetCount(), 8);
  // A plain rectangle: pen 2, default radii (1, 1); the common attributes recolour it.
  const TGUIObject* plain = page->Object(7);
  EXPECT_EQ(plain->GetNormalWidth(), 2);
  EXPECT_FLOAT_EQ(plain->GetSourcePoint(2).x, 1.0f);
  EXPECT_FLOAT_EQ(plain->GetSourcePoint(2).y, 1.0f);
  EXPECT_FLOAT_EQ(plain->GetSourcePoint(1).x, 40);
  EXPECT_EQ(page->RegisterWindowCount(), 6u);
}

TEST(FactoryTest, PolylinesAndPolygons) {
  PageFixture f;
  auto page = f.Load(
      "<polyline points=\"0,0 10,0 10,10 0,10\" ActiveColor=\"0x00FF00\"/>"
      "<polygon points=\"0,0 10,0 10,10 0,10\"/><polyline points=\"1,1\"/>");
  ASSERT_EQ(page->ObjectCount(), 2u);
  auto* group = dynamic_cast<TGUIGroup*>(page->Object(0));
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->GetChildCount(), 3u);
  TGUIObject* segment = group->GetChild(2);
  EXPECT_FLOAT_EQ(segment->GetSourcePoint(0).x, 10);
  EXPECT_FLOAT_EQ(segment->GetSourcePoint(1).y, 10);
  EXPECT_EQ(segment->GetOnColour(), 0x00FF00u);
  EXPECT_EQ(segment->GetBackgroundColour(), 0x00F0F0F0u);
  EXPECT_EQ(segment->GetNormalColour(), 0x555555u);
  EXPECT_EQ(page->Object(1)->GetPointCount(), 4u);
}

TEST(FactoryTest, TextLinesFromTspans) {
  PageFixture f;
  auto page = f.Load(
      "<text x=\"50\" y=\"40\"><tspan>first</tspan><tspan>second</tspan></text>"
      "<text x=\"50\" y=\"40\"><tspan font-size=\"13\">a</tspan><tspan dy=\"20.7\"><b/>x</tspan>"
      "<tspan dy=\"20.7\">b</tspan><tspan>c</tspan></text>"
      "<text x=\"5\" y=\"5\">no spans</text>");
  ASSERT_EQ(page->ObjectCount(), 2u);
  auto* text = dynamic_cast<TGUIText*>(page->Object(0));
  ASSERT_NE(text, nullptr);
  EXPECT_FLOAT_EQ(text->GetPosition().x, 47);
  EXPECT_FLOAT_EQ(text->GetPosition().y, 29);
  EXPECT_EQ(text->GetFontSize(), 10);
  ASSERT_EQ(text->GetLineCount(), 2);
  EXPECT_EQ(text->GetLine(1), "second");
  EXPECT_EQ(text->GetLineOffset(1), 15);
  auto* sized = dynamic_cast<TGUIText*>(page->Object(1));
  EXPECT_EQ(sized->GetFontSize(), 12);
  EXPECT_FLOAT_EQ(sized->GetPosition().y, 27);
  ASSERT_EQ(sized->GetLineCount(), 3);  // the span holding an element gives no line
  EXPECT_EQ(sized->GetLineOffset(1), 25);
  EXPECT_EQ(sized->GetLineOffset(2), 25);  // the offset carries over
}

TEST(FactoryTest, TextLinesLongerThanAnyDrawingShowsAreCutAtLoad) {
  const size_t kept = TGUIText::kMaxLineLength;
  const std::string huge(5 << 20, 'x');
  std::string accents;  // two bytes per character
  for (size_t i = 0; i < kept + 10; ++i) accents += "\xC3\xA9";
  const struct {
    const char* what;
    std::string first, second;        // the tspans' texts
    std::string keptFirst, keptSecond;
  } cases[] = {
      {"ordinary lines", "Gain", "-12 dB", "Gain", "-12 dB"},
      {"a 5 MB line", huge, "b", huge.substr(0, kept), "b"},
      {"a 5 MB second line", "a", huge, "a", huge.substr(0, kept)},
      {"a line of the kept length", std::string(kept, 'y'), "b", std::string(kept, 'y'), "b"},
      {"characters are cut whole", accents, "b", accents.substr(0, 2 * kept), "b"},
  };
  for (const auto& c : cases) {
    for (const char* function : {"", " function=\"ImageHint\" file=\"a.jpg\" HintYOffset=\"3\""}) {
      PageFixture f;
      auto page = f.Load("<text x=\"50\" y=\"40\"" + std::string(function) + "><tspan>" + c.first +
                         "</tspan><tspan>" + c.second + "</tspan></text>");
      ASSERT_EQ(page->ObjectCount(), 1u) << c.what;
      auto* text = dynamic_cast<TGUIText*>(page->Object(0));
      ASSERT_NE(text, nullptr) << c.what;
      ASSERT_EQ(text->GetLineCount(), 2) << c.what;
      EXPECT_EQ(text->GetLine(0).size(), c.keptFirst.size()) << c.what << function;
      EXPECT_TRUE(text->GetLine(0) == c.keptFirst) << c.what << function;
      EXPECT_TRUE(text->GetLine(1) == c.keptSecond) << c.what << function;
    }
  }
}
