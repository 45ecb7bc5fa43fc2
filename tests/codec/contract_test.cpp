// The codec module's exports as the host reaches them: loaded by path with
// dlopen (not linked in), called through the eight exported names.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>
#include <cstring>
#include <set>
#include <string>

#include "codec/codec_command.h"
#include "codec/instance.h"
#include "common/i2c_object.h"
#include "platform/library.h"

namespace {

struct Module {
  TPluginInit init;
  TPluginSetCodecName setCodecName;
  TPluginGetI2CObject getI2CObject;
  TPluginGetMenuItem getMenuItem;
  TPluginSelectMenu selectMenu;
  TPluginShowDialog showDialog;
  TPluginSetSampleRate setSampleRate;
  TPluginFreeCodecInstance free;
};

int Stub() { return 0; }

int commands = 0;
int CountCommand(void*, TCodecCommand*) { return ++commands, 0; }

class ContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void* module = platform::LoadModule("Codecs\\QMX7XXX.dll");
    ASSERT_NE(module, nullptr);
    auto get = [module](const char* name) { return platform::ResolveSymbol(module, name); };
    m_.init = reinterpret_cast<TPluginInit>(get("_Init"));
    m_.setCodecName = reinterpret_cast<TPluginSetCodecName>(get("_SetCodecName"));
    m_.getI2CObject = reinterpret_cast<TPluginGetI2CObject>(get("_GetI2CObject"));
    m_.getMenuItem = reinterpret_cast<TPluginGetMenuItem>(get("_GetMenuItem"));
    m_.selectMenu = reinterpret_cast<TPluginSelectMenu>(get("_SelectMenu"));
    m_.showDialog = reinterpret_cast<TPluginShowDialog>(get("_ShowDialog"));
    m_.setSampleRate = reinterpret_cast<TPluginSetSampleRate>(get("_SetSampleRate"));
    m_.free = reinterpret_cast<TPluginFreeCodecInstance>(get("_FreeCodecInstance"));
    for (void* f : {(void*)m_.init, (void*)m_.setCodecName, (void*)m_.getI2CObject, (void*)m_.getMenuItem,
                    (void*)m_.selectMenu, (void*)m_.showDialog, (void*)m_.setSampleRate, (void*)m_.free})
      ASSERT_NE(f, nullptr);
    // Nothing else of the module is reachable by name.
    EXPECT_EQ(get("_ZN13TQMX7XXXForms11WriteBiquadEPvjPKiS2_"), nullptr);
  }
  void TearDown() override {
    for (void* instance : made_) m_.free(instance);
  }

  void* Init(void* host = nullptr) {
    void* instance = m_.init(host ? host : this, Stub, Stub, CountCommand, nullptr);
    if (instance) made_.push_back(instance);
    return instance;
  }
  void Free(void* instance) {
    m_.free(instance);
    std::erase(made_, instance);
  }
  // The visible top-level window with this caption, or null.
  static QWidget* Shown(const QString& caption) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowTitle() == caption) return w;
    return nullptr;
  }

  Module m_{};
  std::vector<void*> made_;
};

TEST_F(ContractTest, SixteenInstancesAtMostAndAFreedSlotIsReused) {
  std::set<void*> distinct;
  for (int i = 0; i < 16; ++i) distinct.insert(Init());
  EXPECT_EQ(distinct.size(), 16u);
  EXPECT_EQ(distinct.count(nullptr), 0u);
  EXPECT_EQ(Init(), nullptr);  // the 17th
  void* fourth = made_[3];
  Free(fourth);
  void* again = Init();
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(Init(), nullptr);
}

TEST_F(ContractTest, FreeActsOnlyOnInstancesOfTheTable) {
  void* instance = Init();
  m_.free(nullptr);
  int foreign = 0;
  m_.free(&foreign);  // not ours: left alone
  // Still alive and answering.
  EXPECT_NE(m_.getI2CObject(instance, 0), nullptr);
  Free(instance);
  m_.free(instance);  // freed already: nothing happens
  // The other exports ignore what the table does not hold.
  EXPECT_EQ(m_.getI2CObject(nullptr, 0), nullptr);
  EXPECT_EQ(m_.getI2CObject(instance, 0), nullptr);
  m_.setCodecName(nullptr, "x");
  m_.selectMenu(nullptr, 0);
  m_.setSampleRate(nullptr, 48000);
  EXPECT_EQ(m_.showDialog(nullptr, "CLK", 0, 0, nullptr), 0);
}

TEST_F(ContractTest, TwentyOneRegisterWindowsInTheirPlaces) {
  void* instance = Init();
  const struct {
    int page, first, count;
  } places[21] = {{1, 32, 1},  {1, 31, 14}, {1, 33, 1},  {1, 34, 1}, {0, 64, 1},  {0, 65, 1},  {0, 64, 1},
                  {0, 66, 1},  {0, 68, 3},  {0, 71, 9},  {0, 4, 24}, {0, 4, 24},  {0, 27, 3},  {0, 25, 31},
                  {0, 116, 3}, {0, 119, 1}, {1, 48, 3},  {1, 47, 1}, {1, 46, 1},  {0, 81, 4},  {0, 86, 8}};
  std::set<TI2CObject*> windows;
  for (unsigned i = 0; i < 21; ++i) {
    TI2CObject* w = m_.getI2CObject(instance, i);
    ASSERT_NE(w, nullptr) << i;
    windows.insert(w);
    EXPECT_EQ(w->GetDevice(), 0x30) << i;
    EXPECT_EQ(w->GetPage(), places[i].page) << i;
    EXPECT_EQ(w->GetFirstRegister(), places[i].first) << i;
    EXPECT_EQ(w->GetCount(), places[i].count) << i;
  }
  EXPECT_EQ(windows.size(), 21u);  // 10 and 11: two solvers over the same registers
  EXPECT_EQ(m_.getI2CObject(instance, 21), nullptr);
  EXPECT_EQ(m_.getI2CObject(instance, 1000), nullptr);
  // Each instance has windows of its own.
  void* other = Init();
  EXPECT_NE(m_.getI2CObject(other, 10), m_.getI2CObject(instance, 10));
}

TEST_F(ContractTest, FourOfTheEightMenuEntriesAreOffered) {
  const char* expected[] = {"Digital Setup...", "Audio Outputs...", "SAR ADC...", "DAC Filter..."};
  for (unsigned i = 0; i < 4; ++i) EXPECT_STREQ(m_.getMenuItem(i), expected[i]);
  EXPECT_EQ(m_.getMenuItem(4), nullptr);
  EXPECT_EQ(m_.getMenuItem(7), nullptr);
  EXPECT_EQ(m_.getMenuItem(100), nullptr);
}

TEST_F(ContractTest, TheCodecNameKeepsAtMost255CharactersAndItsTerminator) {
  auto* forms = static_cast<TQMX7XXXForms*>(Init());
  const std::string longName(300, 'Q');
  std::memset(forms->codecName, 'x', sizeof forms->codecName);
  m_.setCodecName(forms, longName.c_str());
  EXPECT_EQ(std::strlen(forms->codecName), 255u);
  m_.setCodecName(forms, nullptr);
  EXPECT_STREQ(forms->codecName, "");
  m_.setCodecName(forms, "QMX7XXXEVM");
  EXPECT_STREQ(forms->codecName, "QMX7XXXEVM");
}

TEST_F(ContractTest, EmptyFormSlotsAndUnknownNamesShowNothing) {
  void* instance = Init();
  const int before = int(QApplication::topLevelWidgets().size());
  for (const char* name : {"DACMBQ", "ADCMBQ", "nothing", "", "dac_x"})
    EXPECT_EQ(m_.showDialog(instance, name, 10, 20, nullptr), 0) << name;
  m_.selectMenu(instance, 4);
  m_.selectMenu(instance, 5);
  m_.selectMenu(instance, 6);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible()) << w->windowTitle().toStdString();
  EXPECT_EQ(int(QApplication::topLevelWidgets().size()), before);
  EXPECT_EQ(commands, 0);
}

TEST_F(ContractTest, TheClockDialogOpensByMenuOrByNameAndGoesWithItsInstance) {
  void* instance = Init();
  EXPECT_EQ(Shown("Digital Configuration"), nullptr);  // created hidden
  EXPECT_EQ(m_.showDialog(instance, "clk", 10, 20, nullptr), 0);
  QWidget* dialog = Shown("Digital Configuration");
  ASSERT_NE(dialog, nullptr);
  dialog->hide();
  m_.selectMenu(instance, 0);
  EXPECT_EQ(Shown("Digital Configuration"), dialog);
  // The board's rate reaches its rate edits.
  m_.setSampleRate(instance, 48000);
  auto* rate = dialog->findChild<QLineEdit*>("ADCSampleRate");
  ASSERT_NE(rate, nullptr);
  EXPECT_EQ(rate->text(), "48000");
  // Windows 10 to 13 are the dialog's: both solvers over 4..27.
  EXPECT_EQ(m_.getI2CObject(instance, 10)->GetCount(), 24);
  QPointer<QWidget> alive = dialog;
  Free(instance);
  EXPECT_TRUE(alive.isNull());
}

}  // namespace
