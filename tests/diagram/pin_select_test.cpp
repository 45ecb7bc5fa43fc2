// The pin function selectors of a page: exclusive choices, the codes and
// mode registers they write, what they show on read-back, and the arrows.
#include "diagram/pin_select.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QSignalBlocker>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "page_fixture.h"

using diagramtest::PageFixture;

namespace {

struct Writes {
  std::vector<int> registers;
  static void Callback(void* user, int device, int page, int reg, int count) {
    EXPECT_EQ(device, 0);
    EXPECT_EQ(page, 31);
    EXPECT_EQ(count, 1);
    static_cast<Writes*>(user)->registers.push_back(reg);
  }
};

// Five pins linked to each other, the companion arrows of 5200 and 6200,
// the 7200 net (3004) and the 8200 lamp (8003); bound to one page image.
struct PinPage {
  PinPage() {
    page = fixture.Load(
        "<rect ID='5200' x='0' y='0' width='60' height='20' function='PinSelect' LinkTo='6200 7200 8200 9200 5000'/>"
        "<rect ID='6200' x='0' y='30' width='60' height='20' function='PinSelect' LinkTo='5200 7200 8200 9200 6000'/>"
        "<rect ID='7200' x='0' y='60' width='60' height='20' function='PinSelect' LinkTo='5200 6200 8200 9200 3004'/>"
        "<rect ID='8200' x='0' y='90' width='60' height='20' function='PinSelect' LinkTo='5200 6200 7200 9200 8003'/>"
        "<rect ID='9200' x='0' y='120' width='60' height='20' function='PinSelect' LinkTo='5200 6200 7200 8200'/>"
        "<rect ID='5000' x='70' y='0' width='20' height='20' function='IOArrow' Bit='0' I2CPage='128' "
        "I2CRegister='128' LinkTo='5200 5200'/>"
        "<rect ID='6000' x='70' y='30' width='20' height='20' function='IOArrow' Bit='0' I2CPage='128' "
        "I2CRegister='128' LinkTo='6200 6200'/>"
        "<polyline ID='3004' points='0,200 50,200' Net='77' ActiveColor='0x00FF00'/>"
        "<rect ID='8003' x='70' y='90' width='20' height='20'/>");
    for (unsigned i = 0; i < page->ObjectCount(); ++i) {
      if (auto* pin = dynamic_cast<TPinSelect*>(page->Object(i))) {
        pin->SetData(image.data() + TPinSelect::kFirstRegister);
        pin->SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
      }
    }
  }
  TPinSelect* Pin(int id) {
    for (unsigned i = 0; i < page->ObjectCount(); ++i)
      if (page->Object(i)->GetID() == id) return dynamic_cast<TPinSelect*>(page->Object(i));
    return nullptr;
  }
  TGUIObject* Object(int id) {
    for (unsigned i = 0; i < page->ObjectCount(); ++i)
      if (page->Object(i)->GetID() == id) return page->Object(i);
    return nullptr;
  }
  QStringList Items(int id) {
    QStringList items;
    for (int i = 0; i < Pin(id)->GetCombo()->count(); ++i) items << Pin(id)->GetCombo()->itemText(i);
    return items;
  }
  // The user steps onto a function with the arrow keys.
  static void Choose(QComboBox* combo, const char* function) {
    const int index = combo->findText(function);
    ASSERT_GE(index, 0) << function;
    {
      const QSignalBlocker quiet(combo);
      combo->setCurrentIndex(index == 0 ? 1 : index - 1);
    }
    QTest::keyClick(combo, index == 0 ? Qt::Key_Up : Qt::Key_Down);
    ASSERT_EQ(combo->currentIndex(), index);
  }
  void Choose(int id, const char* function) { Choose(Pin(id)->GetCombo(), function); }
  void RefreshAll() {
    for (int id = 5200; id <= 9200; id += 1000) Pin(id)->OnRegisterChanged(0, 31, 31);
  }

  PageFixture fixture;
  std::unique_ptr<TBlockDiagram> page;
  std::array<uint8_t, 128> image{};
  Writes writes;
};

}  // namespace

TEST(PinSelectTest, TheWindowCoversEveryRegisterItEditsAndWatches) {
  PinPage p;
  TPinSelect* pin = p.Pin(5200);
  EXPECT_EQ(pin->GetDevice(), 0);
  EXPECT_EQ(pin->GetPage(), 31);
  EXPECT_EQ(pin->GetFirstRegister(), 31);
  EXPECT_EQ(pin->GetCount(), 28);  // 31..58
  EXPECT_EQ(p.Items(7200), (QStringList{"GPIO1", "SCLK", "GPIO2", "GPI1"}));
  EXPECT_EQ(p.Items(8200), (QStringList{"GPIO1", "GPIO2", "MISO"}));
  // A change of the last mode register reaches it.
  p.image[58] = 0x20;
  p.image[31] = 7 << 5;  // GPI3
  pin->OnRegisterChanged(0, 31, 58);
  EXPECT_EQ(pin->GetSelection(), "GPI3");
}

TEST(PinSelectTest, AChoiceWritesTheCodeAndModeAndLeavesTheOtherLists) {
  PinPage p;
  p.image[56] = 0x01;
  p.Choose(5200, "SCLK");
  EXPECT_EQ(p.image[31], 1 << 5);
  EXPECT_EQ(p.image[56], 0x05);  // bit 2 set, the rest kept
  EXPECT_EQ(p.writes.registers, (std::vector<int>{31, 56}));
  EXPECT_EQ(p.Pin(5200)->GetCombo()->currentText(), "SCLK");
  EXPECT_FALSE(p.Items(6200).contains("SCLK"));
  EXPECT_FALSE(p.Items(9200).contains("SCLK"));
  EXPECT_TRUE(p.Items(5200).contains("SCLK"));
  // The companion arrow: inert, on (an input).
  auto* arrow = dynamic_cast<TIOArrow*>(p.Object(5000));
  EXPECT_EQ(arrow->GetMode(), 0);
  EXPECT_EQ(arrow->GetSwitchState(), 1);
}

TEST(PinSelectTest, ChoicesOfEveryPinAndTheirReadBack) {
  const struct {
    int id;
    const char* function;
    int codeRegister, codeValue;    // the code's byte after the choice
    int modeRegister, modeValue;    // the mode register's byte after the choice
    std::vector<int> writes;
  } cases[] = {
      {5200, "GPIO1", 31, 0 << 5, 51, 1 << 2, {31, 51}},  // direction from nothing: input
      {6200, "MISO", 31, 2 << 2, 55, 10 << 1, {31, 55}},
      {6200, "DOUT", 31, 3 << 2, 53, 7 << 1, {31, 53}},
      {7200, "GPIO2", 31, 2, 52, 1 << 2, {31, 52}},
      {8200, "MISO", 31, 0, 55, 8 << 1, {55}},
      {9200, "GPI2", 32, 6 << 5, 57, 0x02, {32, 57}},
      {9200, "GPIO2", 32, 4 << 5, 52, 1 << 2, {32, 52}},
  };
  for (const auto& c : cases) {
    PinPage p;
    p.Choose(c.id, c.function);
    EXPECT_EQ(p.image[size_t(c.codeRegister)], c.codeValue) << c.id << c.function;
    EXPECT_EQ(p.image[size_t(c.modeRegister)], c.modeValue) << c.id << c.function;
    EXPECT_EQ(p.writes.registers, c.writes) << c.id << c.function;
    // Read back from the registers, every pin shows what was chosen.
    p.RefreshAll();
    EXPECT_EQ(p.Pin(c.id)->GetSelection(), c.function) << c.id;
    EXPECT_EQ(p.Pin(c.id)->GetCombo()->currentText().toStdString(), c.function) << c.id;
    EXPECT_EQ(p.writes.registers, c.writes) << "a refresh writes nothing";
  }
}

TEST(PinSelectTest, ReadBackWithoutAValidModeShowsNA) {
  PinPage p;
  const struct {
    const char* what;
    std::array<std::pair<int, int>, 3> bytes;  // register, value
    int id;
    const char* shown;
  } cases[] = {
      {"5200 SCLK, no input mode", {{{31, 1 << 5}, {56, 0x04}, {0, 0}}}, 5200, "N/A"},
      {"5200 SCLK as input", {{{31, 1 << 5}, {56, 0x06}, {0, 0}}}, 5200, "SCLK"},
      {"9200 code 3", {{{32, 3 << 5}, {53, 6 << 1}, {0, 0}}}, 9200, "N/A"},
      {"8200 GPIO2 at 11", {{{52, 11 << 2}, {0, 0}, {0, 0}}}, 8200, "GPIO2"},
      {"8200 GPIO1 first", {{{51, 11 << 2}, {52, 11 << 2}, {0, 0}}}, 8200, "GPIO1"},
      {"8200 MISO at 8", {{{55, 8 << 1}, {0, 0}, {0, 0}}}, 8200, "MISO"},
      {"8200 nothing", {{{55, 9 << 1}, {0, 0}, {0, 0}}}, 8200, "N/A"},
      {"7200 GPI1 without mode", {{{31, 3}, {0, 0}, {0, 0}}}, 7200, "N/A"},
  };
  for (const auto& c : cases) {
    p.image.fill(0);
    for (const auto& [reg, value] : c.bytes)
      if (reg) p.image[size_t(reg)] = uint8_t(value);
    p.RefreshAll();
    EXPECT_EQ(p.Pin(c.id)->GetSelection(), c.shown) << c.what;
  }
  // The lamp of 8200 is off with "N/A", the 7200 net follows its pin.
  EXPECT_FALSE(p.Object(8003)->IsOn());
  p.image.fill(0);
  p.image[55] = 8 << 1;
  p.RefreshAll();
  EXPECT_TRUE(p.Object(8003)->IsOn());
  // A companion of a pin without a mode is disabled and off.
  p.image.fill(0);
  p.image[31] = 1 << 5;
  p.RefreshAll();
  EXPECT_FALSE(p.Object(5000)->IsEnabled());
}

TEST(PinSelectTest, ArrowsSetTheDirectionOfTheirPin) {
  PinPage p;
  p.Choose(5200, "GPIO1");
  ASSERT_EQ(p.image[51], 1 << 2);
  auto* arrow = dynamic_cast<TIOArrow*>(p.Object(5000));
  ASSERT_EQ(arrow->GetMode(), 1);  // GPIO: clickable
  arrow->Place(1.0f, 0, 0);
  p.writes.registers.clear();
  ASSERT_TRUE(arrow->Click(80, 10));  // now an output: the pin's GPIO output code
  EXPECT_EQ(p.image[51], 8 << 2);
  EXPECT_EQ(p.writes.registers, (std::vector<int>{51}));
  ASSERT_TRUE(arrow->Click(80, 10));
  EXPECT_EQ(p.image[51], 1 << 2);
}

TEST(PinSelectTest, APinWithoutItsCompanionStillWritesItsRegisters) {
  PageFixture f;
  auto page = f.Load("<rect ID='9200' x='0' y='0' width='60' height='20' function='PinSelect'/>");
  auto* pin = dynamic_cast<TPinSelect*>(page->Object(0));
  ASSERT_NE(pin, nullptr);
  std::array<uint8_t, 128> image{};
  Writes writes;
  pin->SetData(image.data() + 31);
  pin->SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
  PinPage::Choose(pin->GetCombo(), "GPI3");
  EXPECT_EQ(image[32], 7 << 5);
  EXPECT_EQ(image[58], 0x20);
  EXPECT_EQ(writes.registers, (std::vector<int>{32, 58}));
}

// Each pin writes its own output code into the mode field of the function
// chosen, and keeps the register's other bits: the GPIO output codes (a
// GPIO whose mode field already says output stays one), the MISO and DOUT
// codes; pin 7200 makes its GPIO an input whatever the field says.
TEST(PinSelectTest, EachPinWritesItsOwnModeCodes) {
  const struct {
    int id;
    const char* function;
    int reg, before, after;  // the mode register's byte before and after the choice
  } cases[] = {
      {5200, "GPIO1", 51, 0xC3 | 11 << 2, 0xC3 | 8 << 2},
      {6200, "GPIO1", 51, 0xC3 | 7 << 2, 0xC3 | 9 << 2},
      {6200, "GPIO2", 52, 0xC3 | 8 << 2, 0xC3 | 9 << 2},
      {9200, "GPIO1", 51, 0xC3 | 9 << 2, 0xC3 | 7 << 2},
      {9200, "GPIO2", 52, 0xC3 | 11 << 2, 0xC3 | 7 << 2},
      {8200, "GPIO1", 51, 0xC3, 0xC3 | 11 << 2},  // always an output
      {8200, "GPIO2", 52, 0xC3 | 1 << 2, 0xC3 | 11 << 2},
      {7200, "GPIO1", 51, 0xC3 | 8 << 2, 0xC3 | 1 << 2},  // always an input
      {7200, "GPIO2", 52, 0xC3 | 11 << 2, 0xC3 | 1 << 2},
      {5200, "MISO", 55, 0xE1, 0xE1 | 9 << 1},
      {6200, "MISO", 55, 0xE1, 0xE1 | 10 << 1},
      {8200, "MISO", 55, 0xE1, 0xE1 | 8 << 1},
      {9200, "MISO", 55, 0xE1, 0xE1 | 6 << 1},
      {5200, "DOUT", 53, 0xF1, 0xF1 | 6 << 1},
      {6200, "DOUT", 53, 0xF1, 0xF1 | 7 << 1},
  };
  for (const auto& c : cases) {
    PinPage p;
    p.image[size_t(c.reg)] = uint8_t(c.before);
    p.Choose(c.id, c.function);
    EXPECT_EQ(p.image[size_t(c.reg)], c.after) << c.id << " " << c.function;
    ASSERT_FALSE(p.writes.registers.empty());
    EXPECT_EQ(p.writes.registers.back(), c.reg) << c.id << " " << c.function;
  }
}

// An output chosen with a pin's arrow writes that pin's GPIO output code.
TEST(PinSelectTest, AnArrowMakesItsGPIOAnOutputWithItsPinsCode) {
  const struct {
    int id, arrowId;
    const char* function;
    int reg, code;
  } cases[] = {
      {5200, 5000, "GPIO1", 51, 8},
      {6200, 6000, "GPIO1", 51, 9},
      {6200, 6000, "GPIO2", 52, 9},
  };
  for (const auto& c : cases) {
    PinPage p;
    p.Choose(c.id, c.function);
    ASSERT_EQ(p.image[size_t(c.reg)], 1 << 2) << c.id << " " << c.function;
    auto* arrow = dynamic_cast<TIOArrow*>(p.Object(c.arrowId));
    arrow->Place(1.0f, 0, 0);
    ASSERT_TRUE(arrow->Click(80, c.arrowId == 5000 ? 10 : 40));
    EXPECT_EQ(p.image[size_t(c.reg)], c.code << 2) << c.id << " " << c.function;
  }
}

// On read-back every value of a GPIO mode field says input (1), output (7,
// 8, 9, 11) or nothing (N/A): the companion arrow is then inert, enabled
// and on, inert, enabled and off, or disabled and off; the 7200 net is lit
// unless its pin shows N/A. One page, the values in turn, so no state of an
// earlier read-back is left standing.
TEST(PinSelectTest, EveryGPIOModeReadsBackWithItsCompanionsState) {
  PinPage p;
  auto* arrow5 = dynamic_cast<TIOArrow*>(p.Object(5000));
  auto* arrow6 = dynamic_cast<TIOArrow*>(p.Object(6000));
  TGUIObject* net = p.Object(3004);
  for (int pass = 0; pass < 2; ++pass) {
    for (int v = 0; v < 16; ++v) {
      const int mode = pass == 0 ? v : 15 - v;
      const int direction = mode == 1 ? 1 : (mode == 7 || mode == 8 || mode == 9 || mode == 11) ? 2 : 0;
      // Pin 5200 on GPIO1, 6200 and 7200 on GPIO2; GPIO1's field holds the
      // value, GPIO2's the one after it.
      const int other = (mode + 1) % 16;
      const int otherDirection = other == 1 ? 1 : (other == 7 || other == 8 || other == 9 || other == 11) ? 2 : 0;
      // The arrows stand opposite to what the registers say: a refresh sets them.
      arrow5->SetMode(1, nullptr);
      arrow5->SetSwitch(direction == 1 ? 0 : 1);
      arrow6->SetMode(1, nullptr);
      arrow6->SetEnabled(otherDirection == 0);
      p.image.fill(0);
      p.image[31] = uint8_t(0 << 5 | 4 << 2 | 2);
      p.image[51] = uint8_t(0xC3 | mode << 2);
      p.image[52] = uint8_t(0xC3 | other << 2);
      p.RefreshAll();
      const std::string what = "GPIO1 mode " + std::to_string(mode) + ", GPIO2 mode " + std::to_string(other);
      EXPECT_EQ(p.Pin(5200)->GetSelection(), direction ? "GPIO1" : "N/A") << what;
      EXPECT_EQ(arrow5->GetMode(), 0) << what;
      EXPECT_EQ(arrow5->IsEnabled(), direction != 0) << what;
      EXPECT_EQ(arrow5->GetSwitchState(), direction == 1 ? 1 : 0) << what;
      EXPECT_EQ(p.Pin(6200)->GetSelection(), otherDirection ? "GPIO2" : "N/A") << what;
      EXPECT_EQ(arrow6->GetMode(), 0) << what;
      EXPECT_EQ(arrow6->IsEnabled(), otherDirection != 0) << what;
      EXPECT_EQ(arrow6->GetSwitchState(), otherDirection == 1 ? 1 : 0) << what;
      EXPECT_EQ(p.Pin(7200)->GetSelection(), otherDirection ? "GPIO2" : "N/A") << what;
      EXPECT_EQ(net->IsOn(), otherDirection != 0) << what;
      // 8200 shows a GPIO only at 11, the output it makes itself.
      EXPECT_EQ(p.Pin(8200)->GetSelection(), mode == 11 ? "GPIO1" : other == 11 ? "GPIO2" : "N/A") << what;
    }
  }
}
