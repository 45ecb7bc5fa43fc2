// Register maps: bit fields and value names, comments and descriptions, the
// XML reader, the link's map slots, the text register list, and the board
// kit's own files.
#include <gtest/gtest.h>

#include "registers/register_description.h"
#include "registers/register_list_text.h"
#include "registers/register_map_xml.h"
#include "link/usbi2c.h"
#include "tests/support/test_support.h"

using Lines = std::vector<std::string>;

namespace {

struct FieldCase {
  const char* bitRange;
  int mask, width, low, slots;
};

class BitFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(BitFields, HaveTheirMaskWidthAndSlots) {
  const FieldCase& c = GetParam();
  TRegister reg(0, 1, "r");
  TPlDataInfo* f = reg.AddBitField(c.bitRange, "field");
  if (c.mask < 0) {
    EXPECT_EQ(f, nullptr) << c.bitRange;
    EXPECT_EQ(reg.FieldCount(), 0);
    return;
  }
  ASSERT_NE(f, nullptr) << c.bitRange;
  EXPECT_EQ(f->mask, c.mask);
  EXPECT_EQ(f->width, c.width);
  EXPECT_EQ(f->LowBit(), c.low);
  EXPECT_EQ(f->valueCount, c.slots);
  EXPECT_EQ(int(f->valueNames.size()), c.slots);
}

INSTANTIATE_TEST_SUITE_P(RegisterMap, BitFields,
                         ::testing::Values(FieldCase{"D7-D4", 0xF0, 4, 4, 16}, FieldCase{"D0", 0x01, 1, 0, 2},
                                           FieldCase{"D5", 0x20, 1, 5, 2}, FieldCase{"D7-D0", 0xFF, 8, 0, 256},
                                           FieldCase{"D3-D3", 0x08, 1, 3, 2},
                                           // Beyond D7: the bits past the byte fall away.
                                           FieldCase{"D8", 0x00, 0, 8, 1}, FieldCase{"D9-D8", 0x00, 0, 8, 1},
                                           FieldCase{"D8-D6", 0xC0, 2, 6, 4},
                                           // Not a field: low above high, other forms.
                                           FieldCase{"D4-D7", -1, 0, 0, 0},
                                           FieldCase{"X7", -1, 0, 0, 0}, FieldCase{"D7-D", -1, 0, 0, 0},
                                           FieldCase{"D7-4", -1, 0, 0, 0}, FieldCase{"D", -1, 0, 0, 0}));

TEST(RegisterMap, ValueNames) {
  TPlDataInfo f(0xF0, 4, "Gain");
  EXPECT_TRUE(f.AddValueName("b0011", "Mute"));
  EXPECT_EQ(f.GetValueName(0x3A), "Mute");
  EXPECT_EQ(f.GetValueName(0x4A), "reserved");
  // A "b" anywhere; a later name replaces the earlier.
  EXPECT_TRUE(f.AddValueName("xb1000", "Eight"));
  EXPECT_EQ(f.GetValueName(0x80), "Eight");
  EXPECT_TRUE(f.AddValueName("b0011", "Quiet"));
  EXPECT_EQ(f.GetValueName(0x30), "Quiet");
  // Leading zeros beyond the field's width are fine, however many.
  EXPECT_TRUE(f.AddValueName("b00001", "One"));
  EXPECT_TRUE(f.AddValueName("b" + std::string(40, '0') + "10", "Two"));
  EXPECT_EQ(f.GetValueName(0x10), "One");
  EXPECT_EQ(f.GetValueName(0x20), "Two");
  // Ignored, with the reason: no "b", no digits, other characters, a 1 beyond the field.
  const struct {
    const char* attribute;
    const char* why;
  } ignored[] = {{"v0001", "is not b and binary digits"}, {"b", "is not b and binary digits"},
                 {"b1020", "is not b and binary digits"}, {"bxx", "is not b and binary digits"},
                 {"b10000", "does not fit the field"},
                 {"b1111111111111111111111111111111111111111", "does not fit the field"}};
  for (const auto& c : ignored) {
    std::string why;
    EXPECT_FALSE(f.AddValueName(c.attribute, "x", &why)) << c.attribute;
    EXPECT_EQ(why, c.why) << c.attribute;
  }
  EXPECT_EQ(f.GetValueName(0x40), "reserved");

  TPlDataInfo one(0x01, 0, "Bit"), two(0x0C, 2, "Pair");
  EXPECT_TRUE(one.AddValueName("b00", "Off"));
  EXPECT_FALSE(one.AddValueName("b10", "x"));
  EXPECT_TRUE(two.AddValueName("b0001", "Low"));
  EXPECT_EQ(one.GetValueName(0xFE), "Off");
  EXPECT_EQ(two.GetValueName(0x04), "Low");
}

TEST(RegisterMap, NineFieldsKeepTheFirstEight) {
  TRegister reg(0, 1, "r");
  for (int i = 0; i < 8; ++i) ASSERT_NE(reg.AddBitField("D" + std::to_string(i), "f"), nullptr);
  EXPECT_EQ(reg.AddBitField("D7", "ninth"), nullptr);
  EXPECT_EQ(reg.FieldCount(), 8);
  EXPECT_EQ(reg.GetBitField(8), nullptr);
}

TRegisterDescription* ResetMap(TRegisterDescription& map) {
  TRegister* r = map.FindOrAddRegister(0, 1, "Reset");
  TPlDataInfo* f = r->AddBitField("D0", "Reset");
  f->AddValueName("b0", "Normal");
  f->AddValueName("b1", "Reset");
  return &map;
}

TEST(RegisterMap, Comments) {
  TRegisterDescription map;
  ResetMap(map);
  Lines lines;
  map.GetComments(lines, 0, 1, 0x05);
  EXPECT_EQ(lines, (Lines{"#%Page: 0, Register: 1:", "#%  Reset, Data = 0x05", "#%  Reset: Reset"}));
  lines.clear();
  map.GetComments(lines, 3, 9, 0xA0);
  EXPECT_EQ(lines, (Lines{"#%Page: 3, Register: 9:", "#%  reserved, Data = 0xA0"}));
}

TEST(RegisterMap, Descriptions) {
  TRegisterDescription map;
  ResetMap(map);
  Lines lines;
  map.GetDescription(lines, 0, 1, 0x05);
  EXPECT_EQ(lines, (Lines{"Page: 0, Register: 1, Reset:", "  Reset: D0-D0", "    b0: Normal", "   *b1: Reset"}));
  lines.clear();
  map.GetDescription(lines, 0, 2, 0);
  EXPECT_EQ(lines, Lines{"Page: 0, Register: 2, reserved:"});

  TRegisterDescription wide;
  wide.FindOrAddRegister(0, 4, "Volume")->AddBitField("D5-D4", "Gain")->AddValueName("b10", "High");
  lines.clear();
  wide.GetDescription(lines, 0, 4, 0x2F);
  EXPECT_EQ(lines, (Lines{"Page: 0, Register: 4, Volume:", "  Gain: D5-D4", "    b00: reserved", "    b01: reserved",
                          "   *b10: High", "    b11: reserved"}));
}

const char* const kMapXml = R"(<?xml version="1.0"?>
<!-- a comment -->
<m:Map xmlns:m="urn:palisar-test" xmlns:v="urn:values">
  <m:P0>
    <m:R1>Reset
      <m:D0 v:b0="Normal" v:b1="Reset">Reset</m:D0>
    </m:R1>
    <m:R5><m:D7-D4 b0011="Mute">Gain</m:D7-D4>Volume</m:R5>
    <m:R1>SoftwareReset<m:D7>Busy</m:D7></m:R1>
  </m:P0>
  <P12>
    <R127>Last</R127>
  </P12>
</m:Map>
)";

TEST(RegisterMap, XmlWithPrefixesAndARegisterListedTwice) {
  TRegisterDescription map;
  RegisterMapXmlReader::ReadText(kMapXml, "map.xml", map);
  ASSERT_TRUE(map.IsValid()) << map.Error();
  EXPECT_EQ(map.Warnings(),
            Lines{"map.xml: register 1 of page 0 is listed twice; its fields are merged and the later name kept"});
  ASSERT_EQ(map.RegisterCount(), 3);
  EXPECT_EQ(map.FindRegister(12, 127)->name, "Last");
  // First position, the later name, the fields of both.
  const TRegister* reset = map.First();
  EXPECT_EQ(reset->reg, 1);
  EXPECT_EQ(reset->name, "SoftwareReset");
  ASSERT_EQ(reset->FieldCount(), 2);
  EXPECT_EQ(reset->GetBitField(0)->GetValueName(1), "Reset");
  EXPECT_EQ(reset->GetBitField(1)->name, "Busy");
  // The name may follow the fields.
  const TRegister* volume = map.FindRegister(0, 5);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->name, "Volume");
  EXPECT_EQ(volume->GetBitField(0)->GetValueName(0x3A), "Mute");
}

struct BadMap {
  const char* name;
  const char* xml;
  const char* reason;
};

class BadMaps : public ::testing::TestWithParam<BadMap> {};

TEST_P(BadMaps, AreUnreadableAndKeepNoRegisters) {
  TRegisterDescription map;
  RegisterMapXmlReader::ReadText(GetParam().xml, "bad.xml", map);
  EXPECT_FALSE(map.IsValid());
  EXPECT_EQ(map.RegisterCount(), 0);
  EXPECT_EQ(map.First(), nullptr);
  EXPECT_NE(map.Error().find("bad.xml: "), std::string::npos);
  EXPECT_NE(map.Error().find(GetParam().reason), std::string::npos) << map.Error();
}

INSTANTIATE_TEST_SUITE_P(
    RegisterMap, BadMaps,
    ::testing::Values(BadMap{"NotXml", "<Map>\n  <P0 x=>", "at line 2, column 9"},
                      BadMap{"PageWithoutNumber", "<Map><P0><R1>a</R1></P0><Page><R1>x</R1></Page></Map>",
                             "page element 'Page' carries no page number"},
                      BadMap{"PageNameOnly", "<Map><P/></Map>", "page element 'P'"},
                      BadMap{"RegisterWithoutNumber", "<Map><P0><Rx>x</Rx></P0></Map>", "register element 'Rx'"},
                      BadMap{"LowBitAboveHighBit", "<Map><P0><R5>x<D2-D5>f</D2-D5></R5></P0></Map>",
                             "bit field 'D2-D5' of register 5 of page 0"}),
    [](const auto& info) { return info.param.name; });

TEST(RegisterMap, WarningsForWhatIsIgnored) {
  TRegisterDescription map;
  RegisterMapXmlReader::ReadText(
      "<Map><P0><R2><D0>a</D0></R2><R3>Name<D1 b000='x' bxx='z' c='y'>f</D1>"
      "<D0>0</D0><D1>1</D1><D2>2</D2><D3>3</D3><D4>4</D4><D5>5</D5><D6>6</D6><D7>7</D7></R3>"
      "<R300>Folds</R300><R128>High</R128><R4>Four<D9-D8 b1='on'>Beyond</D9-D8></R4><R2>Again</R2></P0>"
      "<P300><R1>Folds</R1></P300><P44><R4>Kept</R4></P44></Map>",
      "w.xml", map);
  ASSERT_TRUE(map.IsValid()) << map.Error();
  EXPECT_EQ(map.FindRegister(0, 2)->name, "Again");
  EXPECT_EQ(map.FindRegister(0, 3)->FieldCount(), 8);
  EXPECT_EQ(map.FindRegister(0, 3)->GetBitField(0)->GetValueName(0), "x");
  // Out of range: neither folded onto page or register 44 nor kept.
  EXPECT_EQ(map.FindRegister(0, 44), nullptr);
  EXPECT_EQ(map.FindRegister(44, 1), nullptr);
  EXPECT_EQ(map.FindRegister(0, 128), nullptr);
  EXPECT_EQ(map.FindRegister(44, 4)->name, "Kept");
  EXPECT_EQ(map.RegisterCount(), 4);
  // A field beyond D7 covers no bits and spoils nothing else.
  const TPlDataInfo* beyond = map.FindRegister(0, 4)->GetBitField(0);
  ASSERT_NE(beyond, nullptr);
  EXPECT_EQ(beyond->mask, 0);
  Lines lines;
  map.GetComments(lines, 0, 4, 0xFF);
  EXPECT_EQ(lines, (Lines{"#%Page: 0, Register: 4:", "#%  Four, Data = 0xFF", "#%  Beyond: reserved"}));
  const Lines expected{
      "w.xml: register 2 of page 0 has no name",
      "w.xml: value 'bxx' of bit field D1 of register 3 of page 0 is not b and binary digits; ignored",
      "w.xml: value 'c' of bit field D1 of register 3 of page 0 is not b and binary digits; ignored",
      "w.xml: register 3 of page 0 has more than 8 bit fields; 'D7' is ignored",
      "w.xml: register element 'R300' of page 0 is outside registers 0 to 127; ignored",
      "w.xml: register element 'R128' of page 0 is outside registers 0 to 127; ignored",
      "w.xml: bit field D9-D8 of register 4 of page 0 reaches beyond D7; those bits are left out",
      "w.xml: value 'b1' of bit field D9-D8 of register 4 of page 0 does not fit the field; ignored",
      "w.xml: register 2 of page 0 is listed twice; its fields are merged and the later name kept",
      "w.xml: page element 'P300' is outside pages 0 to 255; ignored"};
  EXPECT_EQ(map.Warnings(), expected);
}

class LinkMaps : public ::testing::Test {
 protected:
  void SetUp() override { link_.AddDevice(0x30, 0, 256); }
  testsupport::TempDir dir_;
  TUSBI2C link_{false};
};

TEST_F(LinkMaps, ABadFileLeavesNoStaleMap) {
  testsupport::LogCapture log;
  const std::string good = dir_.File("good.xml"), bad = dir_.File("bad.xml");
  testsupport::WriteFile(good, "<Map><P0><R1>Reset<D0 b1=\"Reset\">Reset</D0></R1></P0></Map>");
  testsupport::WriteFile(bad, "<Map><P0><R1>Reset<D0-D3>f</D0-D3></R1></P0></Map>");

  ASSERT_TRUE(link_.LoadRegisterMap(good, 0x30));
  Lines lines;
  link_.GetRegisterComments(lines, 0x30, 0, 1, 1);
  EXPECT_EQ(lines, (Lines{"#%Page: 0, Register: 1:", "#%  Reset, Data = 0x01", "#%  Reset: Reset"}));
  lines.clear();
  link_.GetRegisterDescription(lines, 0x30, 0, 1, 1);
  EXPECT_EQ(lines.size(), 4u);

  for (const std::string& file : {bad, dir_.File("missing.xml")}) {
    ASSERT_TRUE(link_.LoadRegisterMap(good, 0x30));
    EXPECT_FALSE(link_.LoadRegisterMap(file, 0x30));
    lines.clear();
    link_.GetRegisterComments(lines, 0x30, 0, 1, 1);
    EXPECT_TRUE(lines.empty()) << file;
    bool named = false;
    for (const std::string& line : log.Lines())
      named |= line.rfind("Cannot read the register map " + file + ": ", 0) == 0;
    EXPECT_TRUE(named) << file;
  }
}

TEST_F(LinkMaps, UndeclaredAddressesHaveNoSlot) {
  const std::string good = dir_.File("good.xml");
  testsupport::WriteFile(good, "<Map><P0><R1>Reset</R1></P0></Map>");
  EXPECT_FALSE(link_.LoadRegisterMap(good, 0x40));
  Lines lines;
  link_.GetRegisterDescription(lines, 0x40, 0, 1, 0);
  EXPECT_TRUE(lines.empty());
}

struct ListCase {
  const char* name;
  const char* text;
  const char* entries;  // "page/register/name" of each entry read, blank-separated
  const char* message;  // in the warnings
};

class RegisterLists : public ::testing::TestWithParam<ListCase> {};

TEST_P(RegisterLists, Read) {
  const ListCase& c = GetParam();
  std::vector<RegisterListEntry> entries;
  Lines warnings;
  RegisterListText::Parse(c.text, "list.txt", entries, warnings);
  std::string read;
  for (const RegisterListEntry& e : entries)
    read += (read.empty() ? "" : " ") + std::to_string(e.page) + "/" + std::to_string(e.reg) + "/" + e.name;
  EXPECT_EQ(read, c.entries);
  std::string all;
  for (const std::string& w : warnings) all += "\n" + w;
  if (*c.message) EXPECT_NE(all.find(c.message), std::string::npos) << all;
  else EXPECT_EQ(all, "");
}

INSTANTIATE_TEST_SUITE_P(
    RegisterMap, RegisterLists,
    ::testing::Values(ListCase{"Plain", "0 5 1f ff Volume\r\n0 6 0x0C 0x3F Gain\n", "0/5/Volume 0/6/Gain", ""},
                      ListCase{"TabsAndBlanks", "0\t5 \t1f  ff\tVolume\r\n\t 1 2 0 0 Other", "0/5/Volume 1/2/Other", ""},
                      ListCase{"TwoEntriesOnALine", "0 5 0 ff A 0 6 0 ff B\n", "0/5/A 0/6/B", ""},
                      ListCase{"OutOfRangeIsSkipped", "0 5 0 ff A\n0 200 0 ff B\n256 1 0 ff C\n", "0/5/A",
                               "list.txt:2: page 0, register 200 is outside the register image; skipped"},
                      // A bad entry is skipped; the reading goes on at the next line.
                      ListCase{"NotThePatternIsSkipped", "0 5 0 ff A\n0 x 0 ff B\n0 7 0 ff C\n", "0/5/A 0/7/C",
                               "list.txt:2: '0 x 0 ff' is not page, register, default and mask; skipped"},
                      ListCase{"ExtraWordsAreSkipped", "0 5 0 ff A\n0 6 0 ff B extra words\n0 7 0 ff C\n",
                               "0/5/A 0/6/B 0/7/C",
                               "list.txt:2: 'extra words' is not page, register, default and mask; skipped"},
                      ListCase{"ShortEntry", "0 5 0 ff A\n0 6 0\n", "0/5/A",
                               "list.txt:2: an entry needs page, register, default, mask and name; skipped"},
                      // An entry that runs short ends at its line: the next line is an entry of its own.
                      ListCase{"AShortEntryTakesNothingOfTheNextLine", "0 5 0 ff\n0 6 0 ff B\n0 7 0\n0 8 0 ff C",
                               "0/6/B 0/8/C",
                               "list.txt:1: an entry needs page, register, default, mask and name; skipped"},
                      ListCase{"ANameOnTheNextLineIsNoName", "0 5 0 ff\nVolume\n0 6 0 ff B\n", "0/6/B",
                               "list.txt:2: 'Volume' is not page, register, default and mask; skipped"},
                      ListCase{"WideDefault", "0 5 1ff ff A\n", "0/5/A",
                               "list.txt:1: the default 1ff is wider than 8 bits; only its low byte 0xFF is used"},
                      ListCase{"WideMask", "0 5 0 0x10f A\n", "0/5/A",
                               "list.txt:1: the mask 0x10f is wider than 8 bits; only its low byte 0x0F is used"}),
    [](const auto& info) { return info.param.name; });

TEST(RegisterMap, LongNamesAreCut) {
  std::vector<RegisterListEntry> entries;
  Lines warnings;
  RegisterListText::Parse("0 1 0 ff " + std::string(300, 'n'), "l", entries, warnings);
  EXPECT_EQ(entries.at(0).name.size(), 255u);
  EXPECT_EQ(warnings.size(), 1u);
}

// The board kit's own files load without a warning.
TEST(BoardKit, RegisterMapOfTheCodec) {
  TRegisterDescription map(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7XXX/QMX7XXX.xml");
  ASSERT_TRUE(map.IsValid()) << map.Error();
  EXPECT_EQ(map.Warnings(), Lines{});
  // Registers the plug-in's windows and the kit's diagrams work on.
  for (int reg : {1, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 18, 19, 20, 21, 22, 23, 25, 26, 27, 28, 29, 30, 60, 63,
                  64, 65, 66, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 81, 86, 87, 88, 89, 90, 91, 92, 93, 116,
                  118, 119})
    EXPECT_NE(map.FindRegister(0, reg), nullptr) << reg;
  for (int reg : {31, 35, 40, 41, 48, 51, 52, 53, 59, 60}) EXPECT_NE(map.FindRegister(1, reg), nullptr) << reg;
  EXPECT_NE(map.FindRegister(8, 1), nullptr);
  Lines lines;
  map.GetComments(lines, 0, 27, 0x90);
  EXPECT_EQ(lines, (Lines{"#%Page: 0, Register: 27:", "#%  AudioInterface1, Data = 0x90",
                          "#%  InterfaceFormat: Right justified", "#%  WordLength: 20 bits",
                          "#%  DoutTristate: Driven"}));
}

TEST(BoardKit, RegisterListOfTheSecondBoard) {
  std::vector<RegisterListEntry> entries;
  std::string error;
  Lines warnings;
  ASSERT_TRUE(RegisterListText::Read(std::string(PALISAR_SOURCE_DIR) + "/boards/QMX7200/Registers.txt", entries,
                                     error, warnings))
      << error;
  EXPECT_EQ(warnings, Lines{});
  ASSERT_EQ(entries.size(), 16u);
  EXPECT_EQ(entries[5].name, "LeftInputGain");
  EXPECT_EQ(entries[5].defaultValue, 0x0Cu);
  EXPECT_EQ(entries[5].mask, 0x3Fu);
}

}  // namespace
