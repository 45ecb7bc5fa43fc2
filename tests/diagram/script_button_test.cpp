// Script buttons (their scripts' transfers, radio groups, the state drawn)
// and the processing-block window on register 60.
#include "diagram/script_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "diagram/processing_blocks.h"
#include "platform/library.h"
#include "registers/i2c_command.h"
#include "page_fixture.h"
#include "probes.h"

using diagramtest::PageFixture;

namespace {

// The register writes of the scripts, as "reg=value".
struct Transfers {
  static std::vector<std::string>& List() {
    static std::vector<std::string> list;
    return list;
  }
  static int Callback(void*, int device, ScriptPlace&, int reg, uint8_t* data, int count, bool read, bool) {
    if (!read)
      for (int i = 0; i < count; ++i) List().push_back(std::to_string(device) + ":" + std::to_string(reg + i) + "=" +
                                                        std::to_string(data[i]));
    return 1;
  }
};

// A page with script files under Codecs/, loaded from the test directory.
struct ScriptPage {
  ScriptPage() : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(fixture.dir.path());
    std::filesystem::create_directories("Codecs");
    for (const char* name : {"a_on", "a_off", "b_on", "b_off", "c_on", "c_off", "d_on", "d_off"}) {
      const int value = (name[0] - 'a' + 1) * 0x10;
      char line[16];
      std::snprintf(line, sizeof line, "w 30 05 %02x\n", value + (std::string(name).find("on") != std::string::npos));
      testsupport::WriteFile(std::string("Codecs/") + name + ".txt", line);
    }
    fixture.context.scriptTransfer = Transfers::Callback;
    Transfers::List().clear();
  }
  ~ScriptPage() { std::filesystem::current_path(previous); }
  void Load(const std::string& body) {
    page = fixture.Load(body);
    for (unsigned i = 0; i < page->ObjectCount(); ++i) page->Object(i)->Place(1.0f, 0, 0);
  }
  TScriptButton* Button(unsigned i) { return dynamic_cast<TScriptButton*>(page->Object(i)); }

  PageFixture fixture;
  std::filesystem::path previous;
  std::unique_ptr<TBlockDiagram> page;
};

const char* kPair =
    "<rect ID='1' x='0' y='0' width='40' height='20' function='ScriptButton' ScriptOn='a_on.txt' ScriptOff='a_off.txt' "
    "type='radiobutton' default='1' LinkTo='2'/>"
    "<rect ID='2' x='50' y='0' width='40' height='20' function='ScriptButton' ScriptOn='b_on.txt' "
    "ScriptOff='b_off.txt' type='radiobutton' LinkTo='1'/>";

}  // namespace

TEST(ScriptButtonTest, LoadTimeScriptsWaitForTheBoardAndRunOnce) {
  ScriptPage p;
  p.Load(kPair);
  ASSERT_NE(p.Button(0), nullptr);
  EXPECT_TRUE(p.Button(0)->IsOn());
  EXPECT_FALSE(p.Button(1)->IsOn());
  // Nothing reached a board while the page loaded.
  EXPECT_TRUE(Transfers::List().empty());
  EXPECT_EQ(p.page->PendingLoadScripts(), 2u);
  p.page->RunLoadScripts(true);
  EXPECT_EQ(Transfers::List(), (std::vector<std::string>{"48:5=17", "48:5=32"}));
  p.page->RunLoadScripts(true);
  EXPECT_EQ(Transfers::List().size(), 2u);
}

TEST(ScriptButtonTest, WithoutABoardTheyAreLoggedAsNotSent) {
  ScriptPage p;
  p.Load(kPair);
  p.page->RunLoadScripts(false);
  EXPECT_TRUE(Transfers::List().empty());
  EXPECT_EQ(p.page->PendingLoadScripts(), 0u);
}

TEST(ScriptButtonTest, ARadioPairSwitchesOverRunningBothScripts) {
  ScriptPage p;
  p.Load(kPair);
  p.page->RunLoadScripts(true);
  Transfers::List().clear();
  diagramtest::Events events;
  p.Button(1)->SetCallback(&events, diagramtest::Events::Callback);
  // The off one: its partner's off-script, then its own on-script.
  ASSERT_TRUE(p.Button(1)->Click(70, 10));
  EXPECT_EQ(Transfers::List(), (std::vector<std::string>{"48:5=16", "48:5=33"}));
  EXPECT_FALSE(p.Button(0)->IsOn());
  EXPECT_TRUE(p.Button(1)->IsOn());
  EXPECT_EQ(events.Codes(), (std::vector<int>{kEventStateChanged}));
  // The one that is on: nothing.
  EXPECT_FALSE(p.Button(1)->Click(70, 10));
  EXPECT_EQ(Transfers::List().size(), 2u);
  // Outside the ellipse, or inert: nothing.
  EXPECT_FALSE(p.Button(0)->Click(200, 10));
  p.Button(0)->SetMode(0, nullptr);
  EXPECT_FALSE(p.Button(0)->Click(20, 10));
  EXPECT_EQ(Transfers::List().size(), 2u);
}

// In a radio group of three or four, a click on an off button runs the
// off-script of the partner that is on, and of no other, then its own
// on-script; a click on the one that is on runs nothing.
TEST(ScriptButtonTest, ARadioGroupSwitchesOffOnlyThePartnerThatIsOn) {
  // Button `name` at slot i, linked to the others of `group`.
  auto button = [](char name, int i, const std::string& group, bool on) {
    std::string links;
    for (char other : group)
      if (other != name) links += std::string(links.empty() ? "" : " ") + std::to_string(other - 'a' + 1);
    return "<rect ID='" + std::to_string(name - 'a' + 1) + "' x='" + std::to_string(50 * i) +
           "' y='0' width='40' height='20' function='ScriptButton' ScriptOn='" + name + "_on.txt' ScriptOff='" +
           name + "_off.txt' type='radiobutton' default='" + (on ? "1" : "0") + "' LinkTo='" + links + "'/>";
  };
  // The writes of a script: "on" or "off" of a button.
  auto script = [](char name, bool on) {
    return "48:5=" + std::to_string((name - 'a' + 1) * 0x10 + (on ? 1 : 0));
  };
  struct Click {
    char name;
    std::vector<std::string> transfers;
    const char* on;  // the buttons on afterwards
  };
  const struct {
    const char* group;
    char initiallyOn;  // 0: none
    std::vector<Click> clicks;
  } cases[] = {
      {"abc", 'a',
       {{'c', {script('a', false), script('c', true)}, "c"},
        {'b', {script('c', false), script('b', true)}, "b"},
        {'b', {}, "b"},
        {'a', {script('b', false), script('a', true)}, "a"}}},
      {"abc", 0, {{'b', {script('b', true)}, "b"}, {'c', {script('b', false), script('c', true)}, "c"}}},
      {"abcd", 'd',
       {{'a', {script('d', false), script('a', true)}, "a"},
        {'c', {script('a', false), script('c', true)}, "c"},
        {'d', {script('c', false), script('d', true)}, "d"}}},
  };
  for (const auto& c : cases) {
    ScriptPage p;
    const std::string group = c.group;
    std::string body;
    for (size_t i = 0; i < group.size(); ++i) body += button(group[i], int(i), group, group[i] == c.initiallyOn);
    p.Load(body);
    p.page->RunLoadScripts(true);
    for (const Click& click : c.clicks) {
      Transfers::List().clear();
      const size_t slot = group.find(click.name);
      p.Button(unsigned(slot))->Click(int(50 * slot) + 20, 10);
      const std::string what = std::string(c.group) + ", a click on " + click.name;
      EXPECT_EQ(Transfers::List(), click.transfers) << what;
      std::string on;
      for (size_t i = 0; i < group.size(); ++i)
        if (p.Button(unsigned(i))->IsOn()) on += group[i];
      EXPECT_EQ(on, click.on) << what;
    }
  }
}

TEST(ScriptButtonTest, APlainButtonTogglesAndAMissingScriptIsLogged) {
  ScriptPage p;
  p.Load("<rect x='0' y='0' width='40' height='20' function='ScriptButton' ScriptOn='a_on.txt' "
         "ScriptOff='missing.txt'/>");
  TScriptButton* button = p.Button(0);
  EXPECT_EQ(button->GetType(), "button");
  EXPECT_TRUE(button->GetOffWindow()->CommandLines().empty() ||
              button->GetOffWindow()->CommandLines() == std::vector<std::string>{""});
  ASSERT_TRUE(button->Click(20, 10));
  ASSERT_TRUE(button->Click(20, 10));
  ASSERT_TRUE(button->Click(20, 10));
  EXPECT_EQ(Transfers::List(), (std::vector<std::string>{"48:5=17", "48:5=17"}));
  EXPECT_TRUE(button->IsOn());
  EXPECT_EQ(button->GetOnWindow()->windowTitle(), "a_on.txt");
}

// A command window is a large form and a page holds many scripts that are
// never run or shown: each window is built at its first run or look, and
// holds the file as it was read (and its failure logged) at load.
TEST(ScriptButtonTest, ScriptWindowsAreBuiltAtTheirFirstUse) {
  auto windows = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) n += qobject_cast<TI2CCommand*>(w) != nullptr;
    return n;
  };
  const int before = windows();
  ScriptPage p;
  testsupport::LogCapture log;
  p.Load("<rect x='0' y='0' width='40' height='20' function='ScriptButton' ScriptOn='a_on.txt' "
         "ScriptOff='missing.txt'/>");
  EXPECT_TRUE(log.Contains("Script button: cannot read the script Codecs\\missing.txt"));
  EXPECT_EQ(windows(), before);
  testsupport::WriteFile("Codecs/a_on.txt", "w 30 05 77\n");  // read already
  TScriptButton* button = p.Button(0);
  ASSERT_TRUE(button->Click(20, 10));
  EXPECT_EQ(Transfers::List(), (std::vector<std::string>{"48:5=17"}));
  EXPECT_EQ(windows(), before + 1);
  TI2CCommand* on = button->GetOnWindow();
  EXPECT_EQ(on->windowTitle(), "a_on.txt");
  EXPECT_EQ(on->CommandLines(), (std::vector<std::string>{"w 30 05 11"}));
  EXPECT_EQ(on->Script().FileName(), platform::MapPath("Codecs\\a_on.txt"));
  EXPECT_FALSE(on->isVisible());
  TI2CCommand* off = button->GetOffWindow();
  EXPECT_EQ(windows(), before + 2);
  EXPECT_EQ(off->windowTitle(), "missing.txt");
  EXPECT_TRUE(off->CommandLines().empty() || off->CommandLines() == std::vector<std::string>{""});
  p.page.reset();
  EXPECT_EQ(windows(), before);
}

TEST(ScriptButtonTest, DrawnGreenWhenOn) {
  ScriptPage p;
  p.Load(kPair);
  diagramtest::WhiteCanvas canvas;
  p.Button(0)->Paint(&canvas);
  p.Button(1)->Paint(&canvas);
  EXPECT_EQ(canvas.PixelColour(20, 10), 0x40FF40u);  // on: light green
  EXPECT_EQ(canvas.PixelColour(70, 10), 0xF0F0F0u);  // off: the background colour
}

TEST(ProcessingBlocksTest, TheListFollowsRegister60AndWritesBits4To0) {
  TPBForm form(nullptr);
  ASSERT_EQ(form.PBListBox->count(), 25);
  EXPECT_EQ(form.windowTitle(), "Processing Blocks");
  EXPECT_EQ(form.PBListBox->item(24)->text().toStdString(),
            "25: Stereo-DAC with Interpolation-8x + 5 Programmable Biquads(adaptive) + 3D filter + DRC + Beep "
            "Generator");
  TPB& window = form.Window();
  EXPECT_EQ(window.GetDevice(), 0x30);
  EXPECT_EQ(window.GetPage(), 0);
  EXPECT_EQ(window.GetFirstRegister(), 60);
  EXPECT_EQ(window.GetCount(), 1);
  uint8_t byte = 0;
  window.SetData(&byte);
  const struct {
    uint8_t value;
    int row;
  } refreshes[] = {{0x99, 24}, {0x9A, -1}, {0xA0, -1}, {0x21, 0}};
  for (const auto& c : refreshes) {
    byte = c.value;
    window.OnRegisterChanged(0x30, 0, 60);
    EXPECT_EQ(form.PBListBox->currentRow(), c.row) << int(c.value);
  }
  struct Writes {
    std::vector<int> list;
    static void Callback(void* user, int device, int page, int reg, int count) {
      static_cast<Writes*>(user)->list.insert(static_cast<Writes*>(user)->list.end(), {device, page, reg, count});
    }
  } writes;
  window.SetCallbacks(&writes, Writes::Callback, nullptr, nullptr);
  form.resize(560, 400);
  form.show();
  byte = 0xE5;
  QListWidget* list = form.PBListBox;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
  EXPECT_EQ(byte, 0xE3);
  EXPECT_EQ(writes.list, (std::vector<int>{0x30, 0, 60, 1}));
}

// A row chosen with the keyboard writes as a click does; a key that moves
// nothing writes nothing.
TEST(ProcessingBlocksTest, ARowChosenWithTheKeyboardIsWritten) {
  TPBForm form(nullptr);
  TPB& window = form.Window();
  uint8_t byte = 0xE5;
  window.SetData(&byte);
  std::vector<int> writes;  // the registers written
  auto record = [](void* user, int, int, int reg, int) { static_cast<std::vector<int>*>(user)->push_back(reg); };
  window.SetCallbacks(&writes, record, nullptr, nullptr);
  window.OnRegisterChanged(0x30, 0, 60);
  ASSERT_EQ(form.PBListBox->currentRow(), 4);
  form.show();
  const struct {
    Qt::Key key;
    uint8_t byte;
    size_t writes;
  } cases[] = {{Qt::Key_Down, 0xE6, 1}, {Qt::Key_Down, 0xE7, 2}, {Qt::Key_Up, 0xE6, 3},
               {Qt::Key_End, 0xF9, 4},  {Qt::Key_End, 0xF9, 4},  {Qt::Key_Down, 0xF9, 4},
               {Qt::Key_Home, 0xE1, 5}, {Qt::Key_Up, 0xE1, 5}};
  for (const auto& c : cases) {
    QTest::keyClick(form.PBListBox, c.key);
    EXPECT_EQ(byte, c.byte) << c.key;
    EXPECT_EQ(writes, std::vector<int>(c.writes, 60)) << c.key;
  }
  // The register read back moves the row and writes nothing.
  byte = 0x0C;
  window.OnRegisterChanged(0x30, 0, 60);
  EXPECT_EQ(form.PBListBox->currentRow(), 11);
  EXPECT_EQ(writes.size(), 5u);
}

TEST(ProcessingBlocksTest, EntriesTheCodecDoesNotHaveAreReserved) {
  const struct {
    const char* codec;
    int row;
    const char* text;
  } cases[] = {{"QMX7530EVM", 0, "01: reserved"},
               {"QMX7530EVM", 3, "04: Mono-DAC with Interpolation-8x + 3 Programmable Biquads(adaptive)"},
               {"QMX7XXXEVM", 0, "01: Stereo-DAC with Interpolation-8x + 3 Programmable Biquads(adaptive)"}};
  for (const auto& c : cases) {
    TPBForm form(nullptr);
    form.ReserveForCodec(c.codec);
    EXPECT_EQ(form.PBListBox->item(c.row)->text().toStdString(), c.text) << c.codec;
  }
}
