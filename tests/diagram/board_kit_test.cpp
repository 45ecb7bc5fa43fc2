// The bundled board kit: every page the default board names loads without
// warnings, uses every element kind, and renders. The pictures are left in
// the build tree to be looked at; a few pixels are checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <pugixml.hpp>
#include <map>
#include <set>

#include "common/canvas.h"
#include "diagram/amplifier.h"
#include "diagram/bit_widgets.h"
#include "diagram/pin_select.h"
#include "diagram/routing.h"
#include "common/image_hint.h"
#include "common/jpeg.h"
#include "page_fixture.h"
#include "platform/library.h"

using diagramtest::PageFixture;

namespace {

const std::string kBoards = std::string(PALISAR_SOURCE_DIR) + "/boards";

// Runs with the board list's directory as the current one, as the program does.
class BoardKitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char buffer[4096];
    saved_ = getcwd(buffer, sizeof buffer) ? buffer : ".";
    ASSERT_EQ(chdir(kBoards.c_str()), 0);
  }
  void TearDown() override { (void)chdir(saved_.c_str()); }

  // Every page of every board kind of the list.
  static std::vector<std::string> AllPages() {
    pugi::xml_document list;
    EXPECT_TRUE(list.load_file("EVM.xml"));
    std::vector<std::string> pages;
    for (pugi::xml_node board : list.child("EVMList").children())
      for (pugi::xml_attribute attribute : board.attributes())
        if (std::string(attribute.name()).rfind("Diagram-", 0) == 0) pages.push_back(attribute.value());
    return pages;
  }

  // The pages of the default board, as its board-list entry names them.
  static std::vector<std::pair<std::string, std::string>> Pages() {
    pugi::xml_document list;
    EXPECT_TRUE(list.load_file("EVM.xml"));
    const pugi::xml_node board = list.child("EVMList").child("QMX7XXXEVM");
    std::vector<std::pair<std::string, std::string>> pages;
    for (const char* name : {"Diagram-1", "Diagram-2", "Diagram-Clock"})
      pages.emplace_back(name, board.attribute(name).value());
    return pages;
  }

  std::string saved_;
};

void CollectIds(TGUIObject* object, std::map<int, int>& ids) {
  ++ids[object->GetID()];
  if (auto* group = dynamic_cast<TGUIGroup*>(object))
    for (unsigned i = 0; i < group->GetChildCount(); ++i) CollectIds(group->GetChild(i), ids);
}

// What a link of an object of `function` must reach; empty when it is right.
std::string WrongTarget(const std::string& function, int index, TGUIObject* target) {
  if (dynamic_cast<TGUIGroup*>(target)) return "a group";
  const bool amplifier = dynamic_cast<TAmplifier*>(target) != nullptr;
  // The switch asks its amplifier to write its gain again; amplifiers gang.
  if ((function == "AmpSwitch" || function == "amplifier") && !amplifier) return "no amplifier";
  if (function == "toggle" && !dynamic_cast<TToggle*>(target)) return "no toggle";
  if (function == "IOArrow") {
    // The first target shows the opposite direction, the second re-encodes the pin.
    if (index == 1 && !dynamic_cast<TPinSelect*>(target)) return "no pin select";
    if (index == 0 && !dynamic_cast<TIOArrow*>(target) && !dynamic_cast<TPinSelect*>(target))
      return "no arrow or pin select";
  }
  return "";
}

void Collect(TGUIObject* object, std::set<std::string>& functions, std::set<std::string>& classes) {
  if (!object->GetFunctionName().empty()) functions.insert(object->GetFunctionName());
  classes.insert(typeid(*object).name());
  if (auto* group = dynamic_cast<TGUIGroup*>(object)) {
    for (unsigned i = 0; i < group->GetChildCount(); ++i) Collect(group->GetChild(i), functions, classes);
  }
}

}  // namespace

TEST_F(BoardKitTest, EveryPageLoadsAndTheKitUsesEveryElementKind) {
  std::set<std::string> functions, classes;
  for (const auto& [attribute, file] : Pages()) {
    ASSERT_FALSE(file.empty()) << attribute;
    PageFixture f;
    TBlockDiagram page(file, f.context);
    EXPECT_TRUE(page.Warnings().empty()) << file << ": " << (page.Warnings().empty() ? "" : page.Warnings()[0]);
    EXPECT_GT(page.ObjectCount(), 20u) << file;
    EXPECT_GT(page.RegisterWindowCount(), 2u) << file;
    EXPECT_EQ(page.GetI2CAddress(), 0x30);
    EXPECT_EQ(page.GetPages(), 255);
    if (!page.GetInitScriptFile().empty()) {
      EXPECT_EQ(access(platform::MapPath(page.GetInitScriptFile()).c_str(), R_OK), 0) << page.GetInitScriptFile();
    }
    for (unsigned i = 0; i < page.ObjectCount(); ++i) Collect(page.Object(i), functions, classes);
  }
  for (const char* function :
       {"touchscreen", "DSVoiceRecordData", "IN1IN2Data", "SARData", "toggle", "DIRSelect", "impedance_select",
        "switch", "AmpSwitch", "ScriptButton", "IOArrow", "PinSelect", "QMX7350Slider", "CheckBox", "amplifier",
        "mixer", "mutex_mixer", "QMX7460_RSEL", "ImageHint"})
    EXPECT_TRUE(functions.count(function)) << function;
  for (const std::type_info* type :
       {&typeid(TGUILine), &typeid(TGUIRectangle), &typeid(TGUIEllipse), &typeid(TGUIPolygon), &typeid(TGUIText),
        &typeid(TGUITextImageHint), &typeid(TSVGPath), &typeid(TGUIGroup)})
    EXPECT_TRUE(classes.count(type->name())) << type->name();
}

TEST_F(BoardKitTest, TheKitsOwnFilesExist) {
  EXPECT_FALSE(DecodeJpeg(platform::MapPath("QMX7XXX\\HeadphoneHint.jpg")).isNull());
  for (const char* file : {"QMX7XXX\\Init.cfg", "QMX7XXX\\Playback.cfg", "QMX7XXX\\SliderMute.cfg",
                           "QMX7XXX\\SliderUnmute.cfg", "QMX7XXX\\SliderPowerUp.cfg", "QMX7XXX\\SliderPowerDown.cfg"})
    EXPECT_EQ(access(platform::MapPath(file).c_str(), R_OK), 0) << file;
}

TEST_F(BoardKitTest, EveryPageRenders) {
  constexpr TColor kBackground = 0x00FFFFFF;
  for (const auto& [attribute, file] : Pages()) {
    PageFixture f;
    f.context.backgroundColour = kBackground;
    TBlockDiagram page(file, f.context);
    page.SetZoom(1.0, 0, 0);
    TCanvas canvas;
    canvas.SetSize(int(page.GetWidth() * 0.8) + 1, int(page.GetHeight() * 0.8) + 1, kBackground);
    // The window's order: inert objects first (its background), then the rest.
    for (int pass = 0; pass < 2; ++pass)
      for (unsigned i = 0; i < page.ObjectCount(); ++i)
        if ((page.Object(i)->GetMode() == 0) == (pass == 0)) page.Object(i)->Paint(&canvas);
    const std::string out = std::string(DIAGRAM_TEST_OUTPUT_DIR) + "/kit-" + attribute + ".png";
    EXPECT_TRUE(canvas.Image().save(QString::fromStdString(out))) << out;
    EXPECT_EQ(canvas.PixelColour(2, 2), kBackground) << file;  // outside the codec's frame
    // Inside the frame, away from the blocks: the frame's fill colour (0xRRGGBB in the style).
    const uint32_t fill = page.Object(0)->GetFillColour();
    const TColor expected = ((fill >> 16) & 0xFF) | (fill & 0xFF00) | ((fill & 0xFF) << 16);
    EXPECT_EQ(canvas.PixelColour(int(970 * 0.8), int(530 * 0.8)), expected) << file;
  }
}

TEST_F(BoardKitTest, EveryLinkReachesTheKindOfObjectItIsMeantForAndNoIdIsGivenTwice) {
  const std::vector<std::string> files = AllPages();
  EXPECT_GE(files.size(), 4u);
  for (const std::string& file : files) {
    PageFixture f;
    TBlockDiagram page(file, f.context);
    ASSERT_GT(page.ObjectCount(), 0u) << file;
    std::map<int, int> ids;
    for (unsigned i = 0; i < page.ObjectCount(); ++i) CollectIds(page.Object(i), ids);
    ids.erase(0);  // the segments of a polyline carry no id
    for (const auto& [id, count] : ids) EXPECT_EQ(count, 1) << file << ": id " << id;
    for (unsigned i = 0; i < page.ObjectCount(); ++i) {
      TGUIObject* object = page.Object(i);
      const std::string what = file + ": id " + std::to_string(object->GetID()) + " (" + object->GetFunctionName() + ")";
      int links = 0;
      for (int k = 0; k < object->GetLinkToCount(); ++k) {
        const int id = object->GetLinkToID(k);
        if (id == 0) continue;
        // Exactly one top-level object carries the id (inside a group it is never found).
        int found = 0;
        for (unsigned j = 0; j < page.ObjectCount(); ++j) found += page.Object(j)->GetID() == id;
        EXPECT_EQ(found, 1) << what << " links to " << id;
        ++links;
      }
      ASSERT_EQ(object->GetTargetCount(), unsigned(links)) << what;
      for (int k = 0; k < links; ++k) {
        TGUIObject* target = object->GetTarget(unsigned(k));
        EXPECT_EQ(WrongTarget(object->GetFunctionName(), k, target), "")
            << what << " links to " << target->GetID() << " (" << target->GetFunctionName() << ")";
      }
    }
  }
}

TEST_F(BoardKitTest, TheDacSwitchLightsItsPathFromTheAudioInterface) {
  PageFixture f;
  TBlockDiagram page("QMX7XXX\\Page1.svg", f.context);
  TSwitch* lever = nullptr;
  TGUIObject* dac = nullptr;
  for (unsigned i = 0; i < page.ObjectCount(); ++i) {
    TGUIObject* object = page.Object(i);
    auto* s = dynamic_cast<TSwitch*>(object);
    if (s && s->GetFirstRegister() == 63 && s->GetBit() == 7) lever = s;
    if (!object->GetFunctionName().empty() || dynamic_cast<TGUIGroup*>(object)) continue;
    if (object->GetNetCount() == 1 && object->GetNet(0)->number == 2 && dynamic_cast<TGUIRectangle*>(object))
      dac = object;
  }
  ASSERT_NE(lever, nullptr);
  ASSERT_NE(dac, nullptr);
  uint8_t byte = 0x00;
  lever->SetData(&byte);
  lever->Refresh();
  EXPECT_FALSE(dac->IsOn());
  byte = 0x80;  // the left DAC powered: the interface's signal reaches it
  lever->Refresh();
  EXPECT_TRUE(dac->IsOn());
  byte = 0x00;
  lever->Refresh();
  EXPECT_FALSE(dac->IsOn());
}

// A resistor select writes its choice only while its first source is on;
// without one it writes 0 whatever it shows. Every select of the kit has
// its switch, and on the playback page "40k" reaches the field.
TEST_F(BoardKitTest, EveryResistorSelectHasTheSwitchThatLetsItWrite) {
  int selects = 0;
  for (const std::string& file : AllPages()) {
    PageFixture f;
    TBlockDiagram page(file, f.context);
    for (unsigned i = 0; i < page.ObjectCount(); ++i) {
      auto* select = dynamic_cast<TQMX7460RSEL*>(page.Object(i));
      if (!select) continue;
      ++selects;
      const std::string what = file + ": resistor select " + std::to_string(select->GetID());
      ASSERT_GT(select->GetSourceCount(), 0u) << what << " has no source link";
      EXPECT_NE(dynamic_cast<TSwitch*>(select->GetSource(0)), nullptr) << what << ": its source is no switch";
    }
  }
  EXPECT_GE(selects, 1);

  PageFixture f;
  TBlockDiagram page("QMX7XXX\\Page1.svg", f.context);
  page.SetZoom(1.0, 0, 0);
  TQMX7460RSEL* select = nullptr;
  for (unsigned i = 0; i < page.ObjectCount() && !select; ++i) select = dynamic_cast<TQMX7460RSEL*>(page.Object(i));
  ASSERT_NE(select, nullptr);
  auto* lever = dynamic_cast<TSwitch*>(select->GetSource(0));
  ASSERT_NE(lever, nullptr);
  struct Writes {
    int count = 0;
    static void Callback(void* user, int, int, int, int) { ++static_cast<Writes*>(user)->count; }
  } writes;
  uint8_t byte = 0x00;
  select->SetData(&byte);
  select->SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
  select->GetList()->setCurrentRow(2);
  ASSERT_EQ(select->GetList()->currentItem()->text(), "40k");
  const TPointF a = lever->GetPlacedPoint(0), b = lever->GetPlacedPoint(1);
  const int x = int((a.x + b.x) / 2), y = int((a.y + b.y) / 2);
  ASSERT_TRUE(lever->Click(x, y));  // on: the chosen resistor is written
  EXPECT_EQ(byte, 0x0C);
  ASSERT_TRUE(lever->Click(x, y));  // off: none
  EXPECT_EQ(byte, 0x00);
  EXPECT_EQ(writes.count, 2);
  // The field read back turns the switch on again.
  byte = 0x08;
  select->Refresh();
  EXPECT_EQ(lever->GetSwitchState(), 1);
  EXPECT_EQ(select->GetList()->currentItem()->text(), "20k");
}
